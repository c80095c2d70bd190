// A synthetic N(h) table for the product tests: a Chapman E layer from 0.2 MHz to its peak, a
// three-part valley, and an F layer rising from foE at the valley top to its peak, at 1 km
// rows laid out as the table builder lays them out (the start row, then whole kilometres,
// each part ending with a row at its own top).
#pragma once

#include <cmath>

#include "pipeline/zelk.hpp"

namespace synth {

struct Layers {
    float foE = 3.0f, hmE = 110.0f, HE = 8.0f;
    float VW = 30.0f, FVratio = 0.8f;
    float foF2 = 8.0f, hmF2 = 300.0f, HF = 45.0f;
    float bump = 0.0f;      // relative amplitude of ripples added to the F layer's fN^2
    float bumpkm = 12.0f;   // their period (km)
};

inline double chapman(double z) { return std::exp(1.0 - z - std::exp(-z)); }

// fN (MHz) at height h of the model.
inline double fn(const Layers& L, double h) {
    const double X3 = L.hmE + L.VW;
    if (h <= L.hmE) return L.foE * std::sqrt(chapman((h - L.hmE) / L.HE));
    const double FV = L.FVratio * L.foE, W1 = L.VW / 3.0;
    if (h <= L.hmE + W1) {
        const double t = (h - L.hmE) / W1;
        return FV + (L.foE - FV) * 0.5 * (1.0 + std::cos(M_PI * t));
    }
    if (h <= L.hmE + 2 * W1) return FV;
    if (h <= X3) return FV + (L.foE - FV) * (h - L.hmE - 2 * W1) / W1;
    const double c0 = chapman((X3 - L.hmF2) / L.HF);
    double g = (chapman((h - L.hmF2) / L.HF) - c0) / (1.0 - c0);
    g += L.bump * g * (1.0 - g) * std::sin(2.0 * M_PI * (h - X3) / L.bumpkm);
    return std::sqrt(L.foE * L.foE + (L.foF2 * L.foF2 - L.foE * L.foE) * g);
}

inline void add(zelk::Zelk& z, double h, double f) {
    auto& p = z.prod;
    ++p.NPROW;
    p.PRFHT(p.NPROW) = static_cast<float>(h);
    p.PRFFN(p.NPROW) = static_cast<float>(f);
}

// Fills z.prod's table and the inversion values QPFIT reads (ZME, ZMF1, VW).
inline void table(zelk::Zelk& z, const Layers& L) {
    z.prod.NPROW = 0;
    // Start row at 0.2 MHz: the Chapman E layer below its peak.
    const double hstart = L.hmE + L.HE * std::log(  // solve chapman(z) = (0.2/foE)^2 for z < 0
        [&] {
            double lo = -10, hi = 0, q = std::pow(0.2 / L.foE, 2);
            for (int i = 0; i < 200; ++i) {
                const double m = 0.5 * (lo + hi);
                (chapman(m) < q ? lo : hi) = m;
            }
            return std::exp(0.5 * (lo + hi));
        }());
    add(z, hstart, 0.2);
    const double X1 = L.hmE + L.VW / 3, X2 = L.hmE + 2 * L.VW / 3, X3 = L.hmE + L.VW;
    const double tops[4] = {L.hmE, X1, X2, X3};
    double h = std::floor(hstart) + 1;
    for (double top : tops) {
        for (; h < top - 0.0005; h += 1) add(z, h, fn(L, h));
        add(z, std::round(top * 1000) / 1000, fn(L, top));
        h = std::floor(top) + 1;
    }
    for (; h < L.hmF2 - 0.0005; h += 1) add(z, h, fn(L, h));
    add(z, L.hmF2, L.foF2);
    z.inv.ZME = L.hmE;
    z.inv.VW = L.VW;
    z.inv.ZMF1 = L.hmE + L.VW;
}

}  // namespace synth

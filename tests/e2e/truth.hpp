// The truth of the synthetic accuracy ionograms (tests/data/accuracy/*.truth, written by
// tools/cases/accuracy_truth.py): peaks, valley, electron content and the synthesiser's
// analytic profile, with the true real height of a plasma frequency.
#pragma once

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace e2e {

// One piece of the analytic profile: fN^2 (MHz^2) on (lo, hi] km.
struct Piece {
    std::string kind;   // zero, const, chapman, parabola, valley
    double lo = 0, hi = 0, p1 = 0, p2 = 0, p3 = 0, p4 = 0;

    double fn2(double h) const {
        if (kind == "const") return p1;
        if (kind == "chapman") {
            const double z = (h - p2) / p3;
            return p1 * std::exp(0.5 * (1.0 - z - std::exp(-z)));
        }
        if (kind == "parabola") {
            const double x = (h - p2) / p3;
            return std::max(0.0, p1 * (1.0 - x * x));
        }
        if (kind == "valley") {
            const double s = std::sin(M_PI * (h - p3) / p4);
            return p1 * (1.0 - p2 * s * s);
        }
        return 0.0;
    }
    // fN^2 rises with height through the piece (reflection can happen inside it).
    bool rising() const {
        if (kind == "chapman" || kind == "parabola") return hi <= p2 + 1e-9;
        if (kind == "valley") return lo >= p3 + 0.5 * p4 - 1e-9;
        return false;
    }
};

struct Truth {
    std::string name;
    double step = 0, noise = 0;
    double foF2 = 0, hmF2 = 0, foF1 = 0, hmF1 = 0, foE = 0, hmE = 0;
    double VW = 0, VD = 0;                   // valley width (km) and depth (MHz)
    double btec = 0, ttec = 0, tec = 0;      // bottomside (to hmF2), topside, total (TECU)
    double lowest = 0;                       // lowest echo frequency (MHz)
    std::vector<Piece> pieces;

    // Plasma frequency (MHz) at height h (km).
    double fn(double h) const {
        for (const Piece& p : pieces)
            if (h <= p.hi) return std::sqrt(std::max(0.0, p.fn2(h)));
        return 0.0;
    }

    // First height (km) where the plasma frequency reaches fn (MHz), searching up from the
    // ground; NaN when the profile never reaches it. A frequency within 1e-6 of a layer's
    // peak (the single-precision table rounds the peak row) reflects at that peak. Bisection
    // to 1e-9 km, 200 steps at most.
    double height(double fn) const {
        const double f2 = fn * fn;
        for (const Piece& p : pieces) {
            if (p.fn2(p.lo) >= f2 && p.kind != "zero") return p.lo;
            if (!p.rising() || p.fn2(p.hi) < f2 * (1.0 - 2e-6)) continue;
            double lo = p.lo, hi = p.hi;
            for (int i = 0; i < 200 && hi - lo > 1e-9; ++i) {
                const double m = 0.5 * (lo + hi);
                (p.fn2(m) < f2 ? lo : hi) = m;
            }
            return 0.5 * (lo + hi);
        }
        return NAN;
    }
};

inline std::vector<Truth> read_truth(const std::string& path) {
    std::vector<Truth> out;
    std::ifstream in(path);
    std::string line, key;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        if (!(ls >> key) || key[0] == '#') continue;
        if (key == "RECORD") {
            out.emplace_back();
            ls >> out.back().name >> out.back().step >> out.back().noise;
            continue;
        }
        if (out.empty()) continue;
        Truth& t = out.back();
        if (key == "PEAKS") ls >> t.foF2 >> t.hmF2 >> t.foF1 >> t.hmF1 >> t.foE >> t.hmE;
        else if (key == "VALLEY") ls >> t.VW >> t.VD;
        else if (key == "TEC") ls >> t.btec >> t.ttec >> t.tec;
        else if (key == "LOWEST") ls >> t.lowest;
        else if (key == "PIECES") {
            int n = 0;
            ls >> n;
            for (int i = 0; i < n && std::getline(in, line); ++i) {
                std::istringstream ps(line);
                Piece p;
                ps >> p.kind >> p.lo >> p.hi >> p.p1 >> p.p2 >> p.p3 >> p.p4;
                t.pieces.push_back(p);
            }
        }
    }
    return out;
}

}  // namespace e2e

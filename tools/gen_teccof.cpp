// gen_teccof: writes the electron-content coefficient file TECCOF in both of its forms,
// TECCOF.BIN (rows of six 4-byte little-endian reals, no record markers) and TECCOF.ASC
// (one row per line laid out as F5.3, 5E14.6).
//
// Usage: gen_teccof [DIR]        writes DIR/TECCOF.BIN and DIR/TECCOF.ASC (DIR default ".")
//
// A layer runs from plasma frequency fs at its base to fe at its peak. With r = fs/fe and the
// profile variable u = ln(fN/fe)/ln(r), fN/fe = r^u, and the height is
// h = ZM + sum_k a(k) PHI_k(u), PHI_k(u) = sqrt(u) T*_{k-1}(u). The layer's integral of fN^2
// over height is therefore fe^2 sum_k a(k) c(k)/1000 with
//     c(k) = 1000 * integral_{u=1}^{0} r^{2u} PHI_k'(u) du
//          = 1000 * ( -r^2 + 2 ln(r) integral_0^1 PHI_k(u) r^{2u} du )     (by parts),
// which is the quantity tabulated. The last integral is evaluated in double precision with
// u = t^2 (removing the square root) and composite 20-point Gauss-Legendre quadrature on
// panels graded geometrically towards t = 0, where r^{2u} is steep for small r.
// Limits: c(k) = -1000 at r = 1 (a layer of no thickness in frequency) and c(k) -> 0 as r -> 0.
//
// Grid: r = 0.000, 0.001, ..., 1.000 (1001 rows), the finest grid the F5.3 field of the text
// form can carry. The program prints, for the linear interpolation the reader applies, the
// largest error at the midpoints between rows relative to max_k |c(k)|, and the smallest
// grid ratio from which on that error stays below 1e-4.
#include <cmath>
#include <cstdio>
#include <string>

#include "products/products.hpp"
#include "tools/gen_common.hpp"

namespace {

using zelk::tools::Gauss;

constexpr int NROW = 1001;        // rows of the table
constexpr double RSTEP = 0.001;   // grid step in r

// c(1..5) for ratio r (0 < r < 1).
void coefficients(const Gauss& g, double r, double c[5]) {
    const double lr = std::log(r);
    double sum[5] = {0, 0, 0, 0, 0};
    // Panels [0, 2^-30], [2^-30, 2^-29], ..., [1/2, 1] in t.
    zelk::tools::graded_quadrature(g, 30, [&](double t, double half, double w) {
        const double u = t * t;
        double tk[5];
        zelk::tools::tstar(u, tk);
        // PHI_k(u) r^{2u} du = t T*(u) e^{2u ln r} 2t dt
        const double f = 2.0 * t * t * std::exp(2.0 * u * lr) * half * w;
        for (int k = 0; k < 5; ++k) sum[k] += f * tk[k];
    });
    for (int k = 0; k < 5; ++k) c[k] = 1000.0 * (-r * r + 2.0 * lr * sum[k]);
}

void row(const Gauss& g, double r, double c[5]) {
    if (r <= 0.0) {
        for (int k = 0; k < 5; ++k) c[k] = 0.0;
    } else if (r >= 1.0) {
        for (int k = 0; k < 5; ++k) c[k] = -1000.0;
    } else {
        coefficients(g, r, c);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    const Gauss g;

    zelk::tools::TableFiles files(dir, "TECCOF", zelk::products::TECCOFFMT);
    if (!files.ok()) {
        std::fprintf(stderr, "gen_teccof: cannot write into %s\n", dir.c_str());
        return 1;
    }
    for (int i = 0; i < NROW; ++i) {
        double v[6] = {i * RSTEP};
        row(g, v[0], v + 1);
        files.row(v);
    }
    if (!files.close()) {
        std::fprintf(stderr, "gen_teccof: writing into %s failed\n", dir.c_str());
        return 1;
    }

    // Accuracy of linear interpolation between the rows, measured at the midpoints.
    double worst = 0.0, rgood = 1.0;
    bool broken = false;
    for (int i = NROW - 2; i >= 0; --i) {
        const double r0 = i * RSTEP, r1 = (i + 1) * RSTEP, rm = 0.5 * (r0 + r1);
        double c0[5], c1[5], cm[5];
        row(g, r0, c0);
        row(g, r1, c1);
        row(g, rm, cm);
        double scale = 0.0, err = 0.0;
        for (int k = 0; k < 5; ++k) scale = std::fmax(scale, std::fabs(cm[k]));
        for (int k = 0; k < 5; ++k) err = std::fmax(err, std::fabs(0.5 * (c0[k] + c1[k]) - cm[k]));
        const double rel = err / scale;
        if (rel < 1e-4 && !broken) rgood = r0;
        if (rel >= 1e-4) broken = true;
        if (r0 >= 0.01) worst = std::fmax(worst, rel);
    }
    std::printf("TECCOF: %d rows, r = 0.000 (0.001) 1.000\n", NROW);
    std::printf("largest relative interpolation error for r >= 0.01: %.3e\n", worst);
    std::printf("relative interpolation error below 1e-4 for r >= %.3f\n", rgood);
    return 0;
}

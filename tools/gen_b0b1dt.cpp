// gen_b0b1dt: writes the bottomside-shape table B0B1DT in both of its forms, B0B1DT.BIN
// (records of six 4-byte little-endian reals) and B0B1DT.ASC (text read list-directed, one
// record per line laid out as F5.2, 5(1X, ES16.8)).
//
// Usage: gen_b0b1dt [DIR]        writes DIR/B0B1DT.BIN and DIR/B0B1DT.ASC (DIR default ".")
//
// Each record is a shape B1 and the five profile coefficients R(1..5) of the F2 bottomside
//     fN(h) = foF2 sqrt(exp(-x^B1) / cosh(x)),   x = (hmF2 - h) / B0,   B0 = 1 km,
// on the plasma-frequency interval [X0 foF2, foF2]: with u = ln(fN/foF2)/ln(X0),
// h - hmF2 = -x(u) is approximated by sum_k R(k) sqrt(u) T*_{k-1}(u). The coefficients are
// the least-squares fit in the inner product <p, q> = integral_0^1 p(u) q(u) du, whose Gram
// matrix on this basis is integral_0^1 u T*_{j-1} T*_{k-1} du, the table the shape fit of the
// program uses to compare a computed bottomside with these records.
// x(u) solves x^B1 + ln cosh x = -2 u ln X0 (Newton's method safeguarded by bisection); the
// integrals use u = t^2 and composite 20-point Gauss-Legendre quadrature on panels graded
// geometrically towards t = 0, where x(u) behaves like u^(1/B1) for B1 < 2.
//
// Grid: B1 = 1.00 (0.01) 6.00, 501 records. The program prints the largest RMS and maximum
// height error of the fit over [0, 1] in u (km, for B0 = 1 km).
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "tools/gen_common.hpp"

namespace {

using zelk::tools::Gauss;

constexpr double X0 = 0.4882682;   // lowest fN/foF2 of the compared part of the layer
constexpr int NB1 = 501;           // records: B1 = 1.00 .. 6.00
constexpr double B1FIRST = 1.0, B1STEP = 0.01;
// Layout of a text record: the generator's choice, any the list-directed reader accepts.
constexpr char B0B1DTFMT[] = "(F5.2,5(1X,ES16.8))";

// x >= 0 with x^b1 + ln cosh x = v (v >= 0); the left side increases strictly with x.
double solve_x(double b1, double v) {
    if (v <= 0.0) return 0.0;
    auto F = [b1, v](double x) {
        return std::pow(x, b1) + (x + std::log1p(std::exp(-2.0 * x)) - std::log(2.0)) - v;
    };
    double lo = 0.0, hi = 1.0;
    while (F(hi) < 0.0 && hi < 1e6) hi *= 2.0;
    double x = 0.5 * (lo + hi);
    for (int it = 0; it < 200; ++it) {
        const double f = F(x);
        if (f > 0.0) hi = x; else lo = x;
        const double d = b1 * std::pow(x, b1 - 1.0) + std::tanh(x);
        double xn = (d > 0.0) ? x - f / d : 0.5 * (lo + hi);
        if (!(xn > lo && xn < hi)) xn = 0.5 * (lo + hi);
        if (std::fabs(xn - x) <= 1e-15 * (1.0 + x) || hi - lo < 1e-15) {
            x = xn;
            break;
        }
        x = xn;
    }
    return x;
}

// Gauss-Jordan solution of the 5 x 5 system M r = b with partial pivoting.
void solve5(double M[5][5], double b[5], double r[5]) {
    for (int c = 0; c < 5; ++c) {
        int p = c;
        for (int i = c + 1; i < 5; ++i)
            if (std::fabs(M[i][c]) > std::fabs(M[p][c])) p = i;
        for (int j = 0; j < 5; ++j) std::swap(M[c][j], M[p][j]);
        std::swap(b[c], b[p]);
        for (int i = 0; i < 5; ++i) {
            if (i == c) continue;
            const double f = M[i][c] / M[c][c];
            for (int j = 0; j < 5; ++j) M[i][j] -= f * M[c][j];
            b[i] -= f * b[c];
        }
    }
    for (int i = 0; i < 5; ++i) r[i] = b[i] / M[i][i];
}

// Calls f(u, phi[5], du-weight) at every quadrature node of [0, 1] in u (u = t^2, panels
// graded down to 2^-40 in t).
template <class Fn>
void quadrature(const Gauss& g, Fn&& f) {
    zelk::tools::graded_quadrature(g, 40, [&](double t, double half, double w) {
        const double u = t * t;
        double tk[5], phi[5];
        zelk::tools::tstar(u, tk);
        for (int k = 0; k < 5; ++k) phi[k] = t * tk[k];
        f(u, phi, 2.0 * t * half * w);
    });
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    const Gauss g;
    zelk::tools::TableFiles files(dir, "B0B1DT", B0B1DTFMT);
    if (!files.ok()) {
        std::fprintf(stderr, "gen_b0b1dt: cannot write into %s\n", dir.c_str());
        return 1;
    }
    const double v1 = -2.0 * std::log(X0);   // x^B1 + ln cosh x at u = 1
    double worst_rms = 0.0, worst_max = 0.0;
    for (int n = 0; n < NB1; ++n) {
        const double b1 = B1FIRST + n * B1STEP;
        double M[5][5] = {}, b[5] = {}, r[5];
        quadrature(g, [&](double u, const double* phi, double w) {
            const double hgt = -solve_x(b1, v1 * u);
            for (int j = 0; j < 5; ++j) {
                b[j] += w * hgt * phi[j];
                for (int k = 0; k < 5; ++k) M[j][k] += w * phi[j] * phi[k];
            }
        });
        solve5(M, b, r);
        double sq = 0.0, mx = 0.0;
        quadrature(g, [&](double u, const double* phi, double w) {
            double fit = 0.0;
            for (int k = 0; k < 5; ++k) fit += r[k] * phi[k];
            const double d = fit + solve_x(b1, v1 * u);
            sq += w * d * d;
            mx = std::fmax(mx, std::fabs(d));
        });
        worst_rms = std::fmax(worst_rms, std::sqrt(sq));
        worst_max = std::fmax(worst_max, mx);

        const double rec[6] = {b1, r[0], r[1], r[2], r[3], r[4]};
        files.row(rec);
    }
    if (!files.close()) {
        std::fprintf(stderr, "gen_b0b1dt: writing into %s failed\n", dir.c_str());
        return 1;
    }
    std::printf("B0B1DT: %d records, B1 = 1.00 (0.01) 6.00, B0 = 1 km, X0 = %.7f\n", NB1, X0);
    std::printf("largest fit error over the interval: RMS %.3e km, maximum %.3e km\n", worst_rms,
                worst_max);
    return 0;
}

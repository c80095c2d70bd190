// The fast fit of the bottomside shape parameters (--shape-fit fast): a Levenberg-Marquardt
// fit of B0, B1 and, with an F1 layer, D1 to the 1 km N(h) table, in place of the coordinate
// search. It minimises the same misfit, the sum over the compared rows of the squared
// difference between the row's height and the height where the model reaches the row's
// frequency, but solves every model height by a safeguarded Newton iteration in double and
// takes the derivatives of the heights with respect to the parameters analytically (forward
// derivatives carried through the model, and the implicit-function rule for every height the
// model defines by an equation: the row heights, hF1 and the foE height of the intermediate
// region).
//
// The model is used in its logarithmic form: L(h) = ln((fN(h)/foF2)^2) = -min(x^B1, 10) -
// ln cosh x, x = (hmF2 - h')/B0, where h' is h carried through the intermediate region and the
// F1 modification as XE carries it. L rises with h, so a row's height is the root of
// L(h) = 2 ln(f/foF2) between the valley top and hmF2.
#include <algorithm>
#include <cstdint>
#include <array>
#include <cmath>
#include <vector>

#include "core/rounding.hpp"
#include "models/b0b1d1.hpp"
#include "models/shape_lanes.hpp"

namespace zelk::models {

namespace {

constexpr double LN2 = 0.69314718055994530942;
constexpr double XBLIMIT1 = 80.0;   // limit of x^B1 where hF1 is found
// A height solution that has to halve its bracket ends when the bracket is narrower than this
// (Newton steps end it sooner: see shape_lanes::solve).
constexpr double HEPS = 1.0e-5;

// A value with its first derivatives with respect to N independent variables.
template <int N>
struct Dual {
    double v = 0.0;
    std::array<double, N> d{};
    Dual() = default;
    Dual(double x) : v(x) {}  // NOLINT: a constant converts implicitly
};

template <int N> Dual<N> operator+(Dual<N> a, const Dual<N>& b) {
    a.v += b.v;
    for (int k = 0; k < N; ++k) a.d[k] += b.d[k];
    return a;
}
template <int N> Dual<N> operator-(Dual<N> a, const Dual<N>& b) {
    a.v -= b.v;
    for (int k = 0; k < N; ++k) a.d[k] -= b.d[k];
    return a;
}
template <int N> Dual<N> operator-(Dual<N> a) {
    a.v = -a.v;
    for (int k = 0; k < N; ++k) a.d[k] = -a.d[k];
    return a;
}
template <int N> Dual<N> operator*(const Dual<N>& a, const Dual<N>& b) {
    Dual<N> r(a.v * b.v);
    for (int k = 0; k < N; ++k) r.d[k] = a.d[k] * b.v + a.v * b.d[k];
    return r;
}
template <int N> Dual<N> operator/(const Dual<N>& a, const Dual<N>& b) {
    Dual<N> r(a.v / b.v);
    for (int k = 0; k < N; ++k) r.d[k] = (a.d[k] - r.v * b.d[k]) / b.v;
    return r;
}
template <int N> Dual<N> operator+(Dual<N> a, double b) { a.v += b; return a; }
template <int N> Dual<N> operator-(Dual<N> a, double b) { a.v -= b; return a; }
template <int N> Dual<N> operator-(double a, const Dual<N>& b) { return -b + a; }
template <int N> Dual<N> operator*(Dual<N> a, double b) {
    a.v *= b;
    for (int k = 0; k < N; ++k) a.d[k] *= b;
    return a;
}
template <int N> Dual<N> operator*(double b, Dual<N> a) { return a * b; }
template <int N> Dual<N> operator/(double a, const Dual<N>& b) { return Dual<N>(a) / b; }

// f(a) with f'(a) given.
template <int N> Dual<N> chain(const Dual<N>& a, double f, double df) {
    Dual<N> r(f);
    for (int k = 0; k < N; ++k) r.d[k] = df * a.d[k];
    return r;
}
template <int N> Dual<N> dlog(const Dual<N>& a) { return chain(a, std::log(a.v), 1.0 / a.v); }
template <int N> Dual<N> dexp(const Dual<N>& a) {
    const double e = std::exp(a.v);
    return chain(a, e, e);
}
template <int N> Dual<N> dsqrt(const Dual<N>& a) {
    const double s = std::sqrt(a.v);
    return chain(a, s, s > 0.0 ? 0.5 / s : 0.0);
}
// a^b for a > 0.
template <int N> Dual<N> dpow(const Dual<N>& a, const Dual<N>& b) { return dexp(b * dlog(a)); }
// ln cosh a, without overflow.
template <int N> Dual<N> dlogcosh(const Dual<N>& a) {
    const double x = std::fabs(a.v), e = std::exp(-2.0 * x), t = (1.0 - e) / (1.0 + e);
    return chain(a, x + std::log1p(e) - LN2, a.v < 0.0 ? -t : t);
}

// The model with its parameters (as Dual<N>: derivatives with respect to B0, B1, D1 and the
// height, in that order, where N = 4).
template <int N>
struct Model {
    using D = Dual<N>;
    double HMF2 = 0, HVT = 0;
    D B0, B1, D1, HF1, HST, HZ, T;
    bool f1 = false;   // the F1 modification is active (0 < D1 < 90)
};

// x > 0 where min(x^B1, LIMIT) + ln cosh x = -C (C < 0), with its derivatives through B1.
template <int N>
Dual<N> xsolve(const Dual<N>& B1, double C, double LIMIT) {
    auto g = [&](double x, double& dg) {
        const double xb = std::pow(x, B1.v);
        double v = xb, dv = B1.v * xb / x;
        if (xb > LIMIT) { v = LIMIT; dv = 0.0; }
        dg = dv + std::tanh(x);
        const double ax = std::fabs(x);
        return v + ax + std::log1p(std::exp(-2.0 * ax)) - LN2 + C;
    };
    double lo = 0.0, hi = -C + LN2 + 1.0, x = std::min(1.0, 0.5 * hi);
    for (int it = 0; it < 200; ++it) {
        double dg = 0.0;
        const double v = g(x, dg);
        if (v > 0.0) hi = x; else lo = x;
        double xn = dg > 0.0 ? x - v / dg : 0.5 * (lo + hi);
        if (!(xn > lo && xn < hi)) xn = 0.5 * (lo + hi);
        const bool done = std::fabs(xn - x) < 1.0e-13 * (1.0 + x) || hi - lo < 1.0e-13;
        x = xn;
        if (done) break;
    }
    // One Newton step taken with derivatives: the value stays, the derivatives become those of
    // the root (-dg/dB1 / dg/dx).
    double dg = 0.0;
    g(x, dg);
    const Dual<N> X(x);
    Dual<N> xb = dpow(X, B1);
    if (xb.v > LIMIT) xb = Dual<N>(LIMIT);
    const Dual<N> gd = xb + dlogcosh(X) + C;
    Dual<N> r(x);
    if (dg > 0.0)
        for (int k = 0; k < N; ++k) r.d[k] = -gd.d[k] / dg;
    return r;
}

// The model for the parameters (B0, B1, D1) with its derived heights hF1, HST, HZ, T as
// CALHSTHZ defines them. False when the set gives no usable model (hF1 or HZ zero).
template <int N>
bool SETMODEL(const Bottomside& P, int MODE, double B0, double B1, double D1, Model<N>& M) {
    using D = Dual<N>;
    M.HMF2 = P.HMF2;
    M.HVT = P.HVT;
    M.B0 = D(B0);
    M.B1 = D(B1);
    M.D1 = D(D1);
    if (N >= 3) {
        M.B0.d[0] = 1.0;
        M.B1.d[1] = 1.0;
        M.D1.d[2] = 1.0;
    }
    // With an F1 layer the mapping is taken also at D1 = 0, where it is the identity (as XE
    // leaves it out), so that the derivative with respect to D1 is right there.
    M.f1 = MODE == 1 ? D1 >= 0.0 && D1 < 90.0 : D1 > 0.0 && D1 < 90.0;
    M.HF1 = D(0.0);
    if (!(P.FOE > 0.0f) || !(B0 > 0.0)) return false;
    if (MODE == 1) {
        if (!(P.FOF1 <= P.FOF2) || !(P.FOF1 > 0.0f)) return false;
        const double c1 = 2.0 * std::log(static_cast<double>(P.FOF1) / P.FOF2);
        M.HF1 = P.HMF2 - M.B0 * xsolve(M.B1, c1, XBLIMIT1);
        if (!(M.HF1.v > 0.0)) return false;
    }
    const double cE = 2.0 * std::log(static_cast<double>(P.FOE) / P.FOF2);
    const D hE = P.HMF2 - M.B0 * xsolve(M.B1, cE, HUGE_VAL);
    const D hs = MODE == 1 ? M.HF1 : D(P.HMF2);
    D hst = hE;
    if (MODE == 1 && hE.v < M.HF1.v) {
        // F1MAP(m) = hE: m = hF1 (1 - (1 - hE/hF1)^(1/(1 + D1))).
        hst = M.HF1 * (1.0 - dpow(1.0 - hE / M.HF1, 1.0 / (M.D1 + 1.0)));
    }
    if (hst.v < 0.0) hst = D(0.0);
    if (hst.v > hs.v) hst = hs;
    M.HST = hst;
    M.HZ = (hs + hst) * 0.5;
    M.T = hst.v == P.HVT ? D(0.0) : (M.HZ - hst) * (M.HZ - hst) / (hst - static_cast<double>(P.HVT));
    if (M.T.v < 0.0 && !(M.HZ.v > P.HVT)) return false;
    return true;
}

// The model with its derivatives, as the lanes take it.
shape_lanes::Model LANES(const Model<4>& M) {
    shape_lanes::Model V;
    V.HMF2 = M.HMF2;
    V.HVT = M.HVT;
    V.B0 = M.B0.v;
    V.B1 = M.B1.v;
    V.D1 = M.D1.v;
    V.HF1 = M.HF1.v;
    V.HST = M.HST.v;
    V.HZ = M.HZ.v;
    V.T = M.T.v;
    for (std::size_t k = 0; k < 3; ++k) {
        V.dHF1[k] = M.HF1.d[k];
        V.dHST[k] = M.HST.d[k];
        V.dHZ[k] = M.HZ.d[k];
        V.dT[k] = M.T.d[k];
    }
    V.f1 = M.f1;
    return V;
}

// The compared rows of the 1 km table: the top row down while fN >= foE.
struct Rows {
    int ilo = 0, ihi = 0;
    std::vector<double> c;   // 2 ln(f/foF2) of each row
    // The rows whose height is solved (below foF2) and their levels.
    std::vector<int> solved;
    std::vector<double> cs;
    // Room for the solved rows' heights, end marks and slopes.
    mutable std::vector<double> hs, js;
    mutable std::vector<uint8_t> es, jok;
};

Rows ROWS(const Bottomside& P) {
    Rows r;
    r.ihi = P.NPROW1;
    int ilo = P.NPROW1 + 1;
    while (ilo > 1 && P.PRFFN1(ilo - 1) >= P.FOE) --ilo;
    r.ilo = ilo;
    for (int i = ilo; i <= P.NPROW1; ++i) {
        r.c.push_back(2.0 * std::log(static_cast<double>(P.PRFFN1(i)) / P.FOF2));
        if (P.PRFFN1(i) < P.FOF2) {
            r.solved.push_back(i - ilo);
            r.cs.push_back(r.c.back());
        }
    }
    r.hs.resize(r.cs.size());
    r.es.resize(r.cs.size());
    r.js.resize(3 * r.cs.size());
    r.jok.resize(r.cs.size());
    return r;
}

// The height of each row for the model M (warm started from H), as CAL_IRI_FIT_ERROR defines
// it: frequencies above foF2 give 0, foF2 itself hmF2. Only the lowest SOLVE of the rows below
// foF2 are solved; the others keep H and END as they come.
void HEIGHTS(const Bottomside& P, const Rows& R, const shape_lanes::Model& M, std::vector<double>& H,
             std::vector<uint8_t>& END, std::size_t SOLVE) {
    const int n = static_cast<int>(R.c.size());
    for (int k = 0; k < n; ++k) {
        const auto K = static_cast<std::size_t>(k);
        const float f = P.PRFFN1(R.ilo + k);
        if (f > P.FOF2) H[K] = 0.0;
        else if (f == P.FOF2) H[K] = P.HMF2;
        if (f >= P.FOF2) END[K] = 1;
    }
    const std::size_t m = std::min(SOLVE, R.solved.size());
    for (std::size_t j = 0; j < m; ++j) R.hs[j] = H[static_cast<std::size_t>(R.solved[j])];
    shape_lanes::solve(M, R.cs.data(), static_cast<int>(m), HEPS, R.hs.data(), R.es.data());
    for (std::size_t j = 0; j < m; ++j) {
        H[static_cast<std::size_t>(R.solved[j])] = R.hs[j];
        END[static_cast<std::size_t>(R.solved[j])] = R.es[j];
    }
}

double MISFIT(const Bottomside& P, const Rows& R, const std::vector<double>& H) {
    double e = 0.0;
    for (std::size_t k = 0; k < H.size(); ++k) {
        const double d = P.PRFHT1(R.ilo + static_cast<int>(k)) - H[k];
        e += d * d;
    }
    return e;
}

// The misfit of the parameter set TH (B0, B1, D1) with the heights in H (warm start in, the
// solution out); false when the set gives no usable model.
// SOLVE and HF1 (the model's hF1, out) as for HEIGHTS.
bool EVAL(const Bottomside& P, int MODE, const Rows& R, const std::array<double, 3>& TH,
          std::vector<double>& H, std::vector<uint8_t>& END, double& E,
          std::size_t SOLVE = SIZE_MAX, double* HF1 = nullptr) {
    Model<4> M;
    if (!SETMODEL(P, MODE, TH[0], TH[1], TH[2], M)) return false;
    if (HF1 != nullptr) *HF1 = M.HF1.v;
    HEIGHTS(P, R, LANES(M), H, END, SOLVE);
    E = MISFIT(P, R, H);
    return std::isfinite(E);
}

// A parameter set the coordinate search could also try: B0 above 0, B1 above 1, D1 in [0, 90).
bool ADMISSIBLE(const std::array<double, 3>& TH, int MODE) {
    return TH[0] > 0.0 && TH[1] > 1.0 && (MODE != 1 || (TH[2] >= 0.0 && TH[2] < 90.0));
}

}  // namespace

// fastb0b1d1: the Levenberg-Marquardt fit of (B0, B1, D1 when MODE is 1) from the values in
// P, which must be the table match (D1 is chosen here). On success B0, B1, D1 are rounded to
// 0.01 (the rounding of each that gives the smaller misfit), ERR is the misfit the fit
// reached (with its own height solutions), HIRI holds the model height of every row and the
// model state (hF1, HST, HZ, T) is that of the rounded set; on failure P is left as it came.
// It fails when the table match gives no usable model, or the fit ends no lower than it.
bool fastb0b1d1(Bottomside& P, int MODE, float& ERR) {
    const Rows R = ROWS(P);
    const int n = static_cast<int>(R.c.size());
    if (n == 0) return false;
    const int np = MODE == 1 ? 3 : 2;
    std::vector<double> H(static_cast<std::size_t>(n)), Ht(H.size());
    std::vector<uint8_t> END(H.size()), ENDt(H.size()), ENDbest(H.size());
    for (int k = 0; k < n; ++k) H[static_cast<std::size_t>(k)] = P.PRFHT1(R.ilo + k);
    std::vector<double> Hbest = H;
    // The heights of the set TH + D predicted from FROM, those of TH, by the slopes of the
    // last normal equations (formed at TH): the start of the Newton solutions for that set.
    auto PREDICT = [&](const std::vector<double>& FROM, const std::array<double, 3>& D,
                       std::vector<double>& OUT) {
        OUT = FROM;
        for (std::size_t q = 0; q < R.solved.size(); ++q) {
            if (!R.jok[q]) continue;
            double dh = 0.0;
            for (std::size_t a = 0; a < 3; ++a) dh -= R.js[3 * q + a] * D[a];
            OUT[static_cast<std::size_t>(R.solved[q])] += dh;
        }
    };

    std::array<double, 3> th{P.B0, P.B1, MODE == 1 ? 0.0 : static_cast<double>(P.D1)};
    double e = HUGE_VAL;
    bool usable = false;
    if (MODE == 1) {
        // The starting D1: the best of a few over the range the scan of the search covers.
        // D1 moves neither hF1 nor the model above it: the rows solved above hF1 for the
        // first are those of the others, which solve only the rows below (a run from the
        // lowest, as the heights rise with the rows).
        std::vector<double> H0;
        std::vector<uint8_t> END0;
        std::size_t below = SIZE_MAX;
        for (double d1 : {0.0, 0.3, 1.0, 3.0}) {
            std::array<double, 3> t{th[0], th[1], d1};
            double et = 0.0;
            bool ok = false;
            if (H0.empty()) {
                Ht = H;
                double hf1 = 0.0;
                ok = EVAL(P, MODE, R, t, Ht, ENDt, et, SIZE_MAX, &hf1);
                if (ok) {
                    H0 = Ht;
                    END0 = ENDt;
                    below = 0;
                    while (below < R.solved.size() && !(Ht[static_cast<std::size_t>(R.solved[below])] > hf1)) ++below;
                    // The rows below restart from the table.
                    for (std::size_t q = 0; q < below; ++q) H0[static_cast<std::size_t>(R.solved[q])] = H[static_cast<std::size_t>(R.solved[q])];
                }
            } else {
                Ht = H0;
                ENDt = END0;
                ok = EVAL(P, MODE, R, t, Ht, ENDt, et, below);
            }
            if (ok && et < e) {
                e = et;
                th = t;
                usable = true;
                Hbest = Ht;
                ENDbest = ENDt;
            }
        }
        if (usable) {
            H.swap(Hbest);
            END.swap(ENDbest);
        }
    } else {
        usable = EVAL(P, MODE, R, th, H, END, e);
    }
    if (!usable) return false;
    const double e0 = e;

    // The normal equations of the residuals PRFHT1 - h at TH: A = J'J, G = J'r (and the slopes
    // J of the rows kept in R for PREDICT).
    auto NORMAL = [&](const std::array<double, 3>& TH, const std::vector<double>& HH,
                      const std::vector<uint8_t>& EE, double (&A)[3][3], double (&G)[3]) {
        for (int a = 0; a < 3; ++a) {
            G[a] = 0.0;
            for (int b = 0; b < 3; ++b) A[a][b] = 0.0;
        }
        Model<4> M;
        SETMODEL(P, MODE, TH[0], TH[1], TH[2], M);
        const std::size_t m = R.solved.size();
        for (std::size_t j = 0; j < m; ++j) R.hs[j] = HH[static_cast<std::size_t>(R.solved[j])];
        shape_lanes::slopes(LANES(M), R.hs.data(), static_cast<int>(m), R.js.data(), R.jok.data());
        for (std::size_t q = 0; q < m; ++q) {
            const int k = R.solved[q];
            const auto K = static_cast<std::size_t>(k);
            if (EE[K] || !R.jok[q]) continue;
            const double* j = &R.js[3 * q];   // -dh/dp
            const double r = P.PRFHT1(R.ilo + k) - HH[K];
            for (int a = 0; a < np; ++a) {
                G[a] += j[a] * r;
                for (int b = 0; b < np; ++b) A[a][b] += j[a] * j[b];
            }
        }
    };
    // The iteration ends with a step below STEP_END: the values are rounded to 0.01 and the
    // grid search below takes them from there.
    constexpr double STEP_END = 1.0e-2;
    double lambda = 1.0e-4;
    double prev_delta[3] = {0.0, 0.0, 0.0}, prev_step[3] = {0.0, 0.0, 0.0};
    bool have_prev = false;
    // The normal equations at TH, kept for the grid search when the iteration ends where they
    // were formed.
    double A[3][3] = {}, g[3] = {};
    bool formed = false;
    for (int iter = 0; iter < 60; ++iter) {
        NORMAL(th, H, END, A, g);
        formed = true;
        bool accepted = false;
        double step = 0.0;
        for (int tries = 0; tries < 12 && !accepted; ++tries) {
            // (A + lambda diag A) delta = -g by Gaussian elimination on np unknowns.
            double m[3][4];
            for (int a = 0; a < np; ++a) {
                for (int b = 0; b < np; ++b) m[a][b] = A[a][b];
                m[a][a] += lambda * (A[a][a] > 0.0 ? A[a][a] : 1.0);
                m[a][3] = -g[a];
            }
            bool singular = false;
            for (int c = 0; c < np && !singular; ++c) {
                int piv = c;
                for (int a = c + 1; a < np; ++a)
                    if (std::fabs(m[a][c]) > std::fabs(m[piv][c])) piv = a;
                if (!(std::fabs(m[piv][c]) > 0.0)) { singular = true; break; }
                for (int b = 0; b < 4; ++b) std::swap(m[c][b], m[piv][b]);
                for (int a = c + 1; a < np; ++a) {
                    const double f = m[a][c] / m[c][c];
                    for (int b = c; b < 4; ++b) m[a][b] -= f * m[c][b];
                }
            }
            if (singular) { lambda *= 10.0; continue; }
            double delta[3] = {0.0, 0.0, 0.0};
            for (int a = np - 1; a >= 0; --a) {
                double s = m[a][3];
                for (int b = a + 1; b < np; ++b) s -= m[a][b] * delta[b];
                delta[a] = s / m[a][a];
            }
            // Across a narrow valley the Gauss-Newton step can overshoot by nearly its own
            // length, and the iteration then zigzags slowly to the bottom. The overshoot shows
            // in how the step changed over the last step taken S: delta - PREV = -c S with c
            // about 1 + the overshoot ratio (1 where the quadratic model is exact). With c well
            // above 1 the first trial takes delta/c, which lands near the bottom.
            double raw[3] = {delta[0], delta[1], delta[2]};
            if (tries == 0 && have_prev) {
                double num = 0.0, den = 0.0;
                for (int a = 0; a < np; ++a)
                    for (int b = 0; b < np; ++b) {
                        num -= (delta[a] - prev_delta[a]) * A[a][b] * prev_step[b];
                        den += prev_step[a] * A[a][b] * prev_step[b];
                    }
                const double c = den > 0.0 ? num / den : 0.0;
                if (c > 1.2 && c < 4.0)
                    for (int a = 0; a < np; ++a) delta[a] /= c;
            }
            std::array<double, 3> t = th;
            for (int a = 0; a < np; ++a) t[static_cast<std::size_t>(a)] += delta[a];
            if (MODE == 1 && t[2] < 0.0) t[2] = 0.0;   // D1 stays in its range
            if (t[1] <= 1.0) t[1] = 1.0 + 1.0e-6;
            double et = 0.0;
            PREDICT(H, {t[0] - th[0], t[1] - th[1], t[2] - th[2]}, Ht);
            if (ADMISSIBLE(t, MODE) && EVAL(P, MODE, R, t, Ht, ENDt, et) && et <= e) {
                step = std::fabs(t[0] - th[0]) + std::fabs(t[1] - th[1]) + std::fabs(t[2] - th[2]);
                for (int a = 0; a < 3; ++a) {
                    prev_delta[a] = raw[a];
                    prev_step[a] = t[static_cast<std::size_t>(a)] - th[static_cast<std::size_t>(a)];
                }
                have_prev = true;
                formed = false;
                const double gain = e - et;
                th = t;
                H.swap(Ht);
                END.swap(ENDt);
                e = et;
                accepted = true;
                lambda = std::max(lambda * 0.1, 1.0e-12);
                if (gain <= 1.0e-12 * (1.0 + e)) step = 0.0;
            } else {
                lambda *= 10.0;
                // A step far below the output's resolution that does not lower the misfit:
                // the fit is at its optimum (the grid search below finishes it).
                if (std::fabs(t[0] - th[0]) + std::fabs(t[1] - th[1]) + std::fabs(t[2] - th[2]) < STEP_END)
                    break;
            }
        }
        if (!accepted || step < STEP_END) break;
    }

    // The output values are rounded to 0.01. The misfit near the optimum is predicted by the
    // quadratic model of the normal equations there; the grid points around it are tried in
    // the order of their prediction, and then a descent on the grid (every neighbour, in
    // the order of its prediction, the first that lowers the misfit taken): the misfit has
    // kinks (the limit of x^B1, the joins of the intermediate region) and narrow diagonal
    // valleys, where the continuous optimum can lie off the lowest grid point near it.
    if (!formed) NORMAL(th, H, END, A, g);
    auto predict = [&](const std::array<double, 3>& t) {
        double d[3];
        for (int a = 0; a < np; ++a) d[a] = t[static_cast<std::size_t>(a)] - th[static_cast<std::size_t>(a)];
        double v = e;
        for (int a = 0; a < np; ++a) {
            v += 2.0 * g[a] * d[a];
            for (int b = 0; b < np; ++b) v += d[a] * A[a][b] * d[b];
        }
        return v;
    };
    auto grid = [](double v) { return static_cast<double>(round2(static_cast<float>(v))); };
    struct Cand {
        double pred;
        std::array<double, 3> t;
    };
    std::vector<Cand> cand;
    for (int c = 0; c < (np == 3 ? 64 : 16); ++c) {
        std::array<double, 3> t = th;
        const int o[3] = {c % 4 - 1, c / 4 % 4 - 1, c / 16 - 1};
        for (int a = 0; a < np; ++a) {
            const auto A_ = static_cast<std::size_t>(a);
            t[A_] = grid(std::floor(th[A_] * 100.0) / 100.0 + 0.01 * o[a]);
        }
        if (ADMISSIBLE(t, MODE)) cand.push_back({predict(t), t});
    }
    std::sort(cand.begin(), cand.end(), [](const Cand& x, const Cand& y) { return x.pred < y.pred; });
    std::array<double, 3> best = th;
    double ebest = HUGE_VAL;
    Hbest = H;
    for (std::size_t c = 0; c < std::min<std::size_t>(cand.size(), 3); ++c) {
        double et = 0.0;
        const std::array<double, 3>& t = cand[c].t;
        PREDICT(H, {t[0] - th[0], t[1] - th[1], t[2] - th[2]}, Ht);
        if (EVAL(P, MODE, R, cand[c].t, Ht, ENDt, et) && et < ebest) {
            ebest = et;
            best = cand[c].t;
            Hbest = Ht;
        }
    }
    if (ebest < HUGE_VAL) {
        for (int rounds = 0; rounds < 200; ++rounds) {
            cand.clear();
            for (int c = 0; c < 27; ++c) {
                const int o[3] = {c % 3 - 1, c / 3 % 3 - 1, c / 9 - 1};
                if ((np == 2 && o[2] != 0) || (o[0] == 0 && o[1] == 0 && o[2] == 0)) continue;
                std::array<double, 3> t = best;
                for (int a = 0; a < np; ++a) {
                    const auto A_ = static_cast<std::size_t>(a);
                    t[A_] = grid(best[A_] + 0.01 * o[a]);
                }
                if (ADMISSIBLE(t, MODE)) cand.push_back({predict(t), t});
            }
            // Moves along a narrow diagonal valley, which no single grid step follows: with
            // the other coordinates one grid step or none away, one coordinate set to the
            // predicted best for them (the grid values on both sides of it).
            for (int a = 0; a < np; ++a) {
                const auto A_ = static_cast<std::size_t>(a);
                if (!(A[a][a] > 0.0)) continue;
                for (int c = 0; c < 9; ++c) {
                    const int o[2] = {c % 3 - 1, c / 3 - 1};
                    if (np == 2 && o[1] != 0) continue;
                    std::array<double, 3> t = best;
                    int m = 0;
                    for (int b = 0; b < np; ++b)
                        if (b != a) {
                            const auto B_ = static_cast<std::size_t>(b);
                            t[B_] = grid(best[B_] + 0.01 * o[m++]);
                        }
                    double s = g[a];
                    for (int b = 0; b < np; ++b)
                        if (b != a) s += A[a][b] * (t[static_cast<std::size_t>(b)] - th[static_cast<std::size_t>(b)]);
                    const double v = th[A_] - s / A[a][a];
                    if (!std::isfinite(v)) continue;
                    for (const double r : {std::floor(v * 100.0) / 100.0, std::ceil(v * 100.0) / 100.0}) {
                        t[A_] = grid(r);
                        if (std::fabs(t[A_] - best[A_]) > 0.015 && ADMISSIBLE(t, MODE))
                            cand.push_back({predict(t), t});
                    }
                }
            }
            std::sort(cand.begin(), cand.end(), [](const Cand& x, const Cand& y) { return x.pred < y.pred; });
            bool moved = false;
            // Neighbours predicted well above the present point are not tried.
            const double limit = predict(best) + 1.0e-4 * ebest + 1.0e-6;
            for (const Cand& c : cand) {
                if (c.pred > limit) break;
                double et = 0.0;
                PREDICT(Hbest, {c.t[0] - best[0], c.t[1] - best[1], c.t[2] - best[2]}, Ht);
                if (EVAL(P, MODE, R, c.t, Ht, ENDt, et) && et < ebest) {
                    ebest = et;
                    best = c.t;
                    Hbest.swap(Ht);
                    moved = true;
                    break;
                }
            }
            if (!moved) break;
        }
    }
    if (!(ebest < e0)) return false;
    P.B0 = static_cast<float>(best[0]);
    P.B1 = static_cast<float>(best[1]);
    if (MODE == 1) P.D1 = static_cast<float>(best[2]);
    Model<4> M;
    SETMODEL(P, MODE, best[0], best[1], best[2], M);
    P.HF1 = MODE == 1 ? static_cast<float>(M.HF1.v) : P.HF1;
    P.HST = static_cast<float>(M.HST.v);
    P.HZ = static_cast<float>(M.HZ.v);
    P.T = static_cast<float>(M.T.v);
    for (int k = 0; k < n; ++k) P.HIRI(R.ilo + k) = static_cast<float>(Hbest[static_cast<std::size_t>(k)]);
    ERR = static_cast<float>(ebest);
    return true;
}

// fast_misfit: the misfit of B0, B1, D1 as they stand in P with every row's height the root
// of the model equation (no bisection tolerance); 1e10 for an unusable set.
double fast_misfit(const Bottomside& P, int MODE) {
    const Rows R = ROWS(P);
    std::vector<double> H(R.c.size());
    std::vector<uint8_t> END(R.c.size());
    for (std::size_t k = 0; k < H.size(); ++k) H[k] = P.PRFHT1(R.ilo + static_cast<int>(k));
    double e = 0.0;
    const std::array<double, 3> th{P.B0, P.B1, MODE == 1 ? static_cast<double>(P.D1) : 9999.0};
    if (!EVAL(P, MODE, R, th, H, END, e)) return 1.0e10;
    return e;
}

}  // namespace zelk::models

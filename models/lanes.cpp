// SIMD lanes for the IRI bottomside: exp and log kernels on four doubles at a time, and the two
// batched model steps built on them (see lanes.hpp for the exactness test).
//
// The vectors are the compiler's generic vector types: the AVX2 build keeps four doubles in one
// register, the baseline build splits each operation into two SSE2 halves. Both perform the
// same correctly rounded IEEE operations in the same order, so the kernels give the same bits
// on either path.
#include "models/lanes.hpp"

#include <atomic>
#include <bit>
#include <cfloat>
#include <cmath>

// The vector helpers are always inlined into the two builds, so the ABI of passing AVX
// vectors between functions (which the compiler warns about) never arises.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace zelk::models::lanes {

namespace {

typedef double v4d __attribute__((vector_size(32)));
typedef int64_t v4l __attribute__((vector_size(32)));
typedef float v4f __attribute__((vector_size(16)));

#define ZELK_INLINE inline __attribute__((always_inline))

constexpr double SHIFTER = 0x1.8p52;                     // adding it rounds to an integer
constexpr double INVLN2 = 1.44269504088896338700e+00;    // 1/ln 2
constexpr double LN2HI = 6.93147180369123816490e-01;     // ln 2, high 32 bits (n LN2HI exact)
constexpr double LN2LO = 1.90821492927058770002e-10;     // ln 2 - LN2HI
constexpr double SQRT2 = 1.41421356237309514547e+00;
constexpr double ARGMAX = 700.0;   // exp kernel range |t| <= 700 (results stay normal)
constexpr double XMIN = 1.0e-300;  // log kernel domain: normal positive arguments above this
constexpr double GUARD = 1.0e-12;  // relative width of the interval that must round as one
constexpr double XBNEAR = 1.0e-11; // relative distance from the x^B1 limit left to the library

ZELK_INLINE v4d splat(double v) { return v4d{v, v, v, v}; }

// e^t for |t| <= ARGMAX: t = n ln2 + r with |r| <= ln2/2, e^r by its Taylor series to degree 12
// (truncation below 2e-16 relative), scaled by 2^n through the exponent bits. Error a few ulp.
ZELK_INLINE v4d vexp(v4d t) {
    const v4d kf = t * INVLN2 + SHIFTER;
    const v4d n = kf - SHIFTER;
    const v4d r = (t - n * LN2HI) - n * LN2LO;
    v4d p = splat(1.0 / 479001600.0);
    p = p * r + 1.0 / 39916800.0;
    p = p * r + 1.0 / 3628800.0;
    p = p * r + 1.0 / 362880.0;
    p = p * r + 1.0 / 40320.0;
    p = p * r + 1.0 / 5040.0;
    p = p * r + 1.0 / 720.0;
    p = p * r + 1.0 / 120.0;
    p = p * r + 1.0 / 24.0;
    p = p * r + 1.0 / 6.0;
    p = p * r + 0.5;
    p = p * r + 1.0;
    p = p * r + 1.0;
    const v4l ni = std::bit_cast<v4l>(kf) - std::bit_cast<int64_t>(SHIFTER);
    const v4l sb = (ni + 1023) << 52;
    return p * std::bit_cast<v4d>(sb);
}

// ln x for normal x > 0: x = m 2^e with m in [sqrt(1/2), sqrt(2)), ln m = 2 atanh(f) with
// f = (m - 1)/(m + 1), |f| <= 0.172, by its series to f^23 (truncation below 1e-17). Absolute
// error a few ulp of the result.
ZELK_INLINE v4d vlog(v4d x) {
    const v4l b = std::bit_cast<v4l>(x);
    v4l e = (b >> 52) - 1023;
    const v4l mb = (b & 0x000fffffffffffffLL) | 0x3ff0000000000000LL;
    v4d m = std::bit_cast<v4d>(mb);
    const v4l big = m > SQRT2;
    m = big ? m * 0.5 : m;
    e = e - big;
    const v4d f = (m - 1.0) / (m + 1.0);
    const v4d s = f * f;
    v4d q = splat(1.0 / 23.0);
    q = q * s + 1.0 / 21.0;
    q = q * s + 1.0 / 19.0;
    q = q * s + 1.0 / 17.0;
    q = q * s + 1.0 / 15.0;
    q = q * s + 1.0 / 13.0;
    q = q * s + 1.0 / 11.0;
    q = q * s + 1.0 / 9.0;
    q = q * s + 1.0 / 7.0;
    q = q * s + 1.0 / 5.0;
    q = q * s + 1.0 / 3.0;
    const v4d lnm = 2.0 * (f + f * (s * q));
    const v4l eb = e + std::bit_cast<int64_t>(SHIFTER);
    const v4d ed = std::bit_cast<v4d>(eb) - SHIFTER;
    return ed * LN2HI + (ed * LN2LO + lnm);
}

ZELK_INLINE v4d vsqrt(v4d v) {
    for (int j = 0; j < 4; ++j) v[j] = std::sqrt(v[j]);
    return v;
}

ZELK_INLINE v4d vabs(v4d v) {
    const v4l b = std::bit_cast<v4l>(v) & 0x7fffffffffffffffLL;
    return std::bit_cast<v4d>(b);
}

// True lanes where every double within GUARD relative of V (a normal float value) rounds to
// the same float; OUT gets the float of V.
ZELK_INLINE v4l settled(v4d v, v4d halfwidth, v4f& out) {
    out = __builtin_convertvector(v, v4f);
    const v4f lo = __builtin_convertvector(v - halfwidth, v4f);
    const v4f hi = __builtin_convertvector(v + halfwidth, v4f);
    const v4l same = __builtin_convertvector(lo == hi, v4l);
    return same & (vabs(v) >= static_cast<double>(FLT_MIN)) & (vabs(v) <= static_cast<double>(FLT_MAX));
}

ZELK_INLINE v4d load(const double* p, int k, int n, double pad) {
    v4d v;
    for (int j = 0; j < 4; ++j) v[j] = k + j < n ? p[k + j] : pad;
    return v;
}

ZELK_INLINE void store(float* out, uint8_t* ok, int k, int n, v4f v, v4l good) {
    for (int j = 0; j < 4 && k + j < n; ++j) {
        out[k + j] = v[j];
        ok[k + j] = good[j] != 0;
    }
}

ZELK_INLINE void f2bot_body(const double* X, int N, double B1, double XBM, double FOF2,
                            float* OUT, uint8_t* OK) {
    for (int k = 0; k < N; k += 4) {
        v4d x = load(X, k, N, 1.0);
        v4l good = (x >= XMIN) & (x <= ARGMAX);
        x = good ? x : 1.0;
        v4d t = B1 * vlog(x);
        good &= (t >= -ARGMAX) & (t <= ARGMAX);
        t = good ? t : 0.0;
        v4d xb = vexp(t);
        // At the limit the library's x^B1 may fall on the other side of it.
        good &= vabs(xb - XBM) > XBM * XBNEAR;
        xb = xb > XBM ? splat(XBM) : xb;
        const v4d ex = vexp(x);
        const v4d ch = 0.5 * (ex + 1.0 / ex);
        const v4d v = FOF2 * vsqrt(vexp(-xb) / ch);
        v4f out;
        good &= settled(v, GUARD * vabs(v), out);
        store(OUT, OK, k, N, out, good);
    }
}

ZELK_INLINE void f1map_body(const double* R, int N, double Y, double HF1, float* OUT,
                            uint8_t* OK) {
    for (int k = 0; k < N; k += 4) {
        v4d r = load(R, k, N, 1.0);
        v4l good = (r >= XMIN) & (r <= 1.0);
        r = good ? r : 1.0;
        v4d t = Y * vlog(r);
        good &= t >= -ARGMAX;
        t = good ? t : 0.0;
        const v4d p = vexp(t);
        const v4d w = HF1 * (1.0 - p);
        // The error of p is carried into w undiminished by the subtraction: bound it by p.
        v4f out;
        good &= settled(w, GUARD * (HF1 * p) + GUARD * vabs(w), out);
        store(OUT, OK, k, N, out, good);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define ZELK_LANES_AVX2 1
__attribute__((target("avx2"))) void f2bot_avx2(const double* X, int N, double B1, double XBM,
                                                double FOF2, float* OUT, uint8_t* OK) {
    f2bot_body(X, N, B1, XBM, FOF2, OUT, OK);
}
__attribute__((target("avx2"))) void f1map_avx2(const double* R, int N, double Y, double HF1,
                                                float* OUT, uint8_t* OK) {
    f1map_body(R, N, Y, HF1, OUT, OK);
}
#endif

void f2bot_base(const double* X, int N, double B1, double XBM, double FOF2, float* OUT,
                uint8_t* OK) {
    f2bot_body(X, N, B1, XBM, FOF2, OUT, OK);
}
void f1map_base(const double* R, int N, double Y, double HF1, float* OUT, uint8_t* OK) {
    f1map_body(R, N, Y, HF1, OUT, OK);
}

std::atomic<bool> baseline_forced{false};

bool has_avx2() {
#ifdef ZELK_LANES_AVX2
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
#else
    return false;
#endif
}

}  // namespace

int level() { return !baseline_forced.load(std::memory_order_relaxed) && has_avx2() ? 1 : 0; }

void force_baseline(bool ON) { baseline_forced.store(ON, std::memory_order_relaxed); }

void f2bot(const double* X, int N, double B1, double XBM, double FOF2, float* OUT, uint8_t* OK) {
#ifdef ZELK_LANES_AVX2
    if (level() == 1) return f2bot_avx2(X, N, B1, XBM, FOF2, OUT, OK);
#endif
    f2bot_base(X, N, B1, XBM, FOF2, OUT, OK);
}

void f1map(const double* R, int N, double Y, double HF1, float* OUT, uint8_t* OK) {
#ifdef ZELK_LANES_AVX2
    if (level() == 1) return f1map_avx2(R, N, Y, HF1, OUT, OK);
#endif
    f1map_base(R, N, Y, HF1, OUT, OK);
}

}  // namespace zelk::models::lanes

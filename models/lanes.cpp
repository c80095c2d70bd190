// SIMD lanes for the IRI bottomside: exp and log kernels on four or eight doubles at a time,
// and the two batched model steps built on them (see lanes.hpp for the exactness test).
//
// The vectors are the compiler's generic vector types: the AVX-512 build keeps eight doubles in
// one register, the AVX2 build four, the baseline build splits each operation of four into two
// SSE2 halves. All perform the same correctly rounded IEEE operations in the same order on each
// lane, so the kernels give the same bits on every path.
#include "models/lanes.hpp"

#include "core/simd.hpp"

#include <cfloat>
#include <cmath>
#include <cstring>
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#include <immintrin.h>
#endif

// The vector helpers are always inlined into the two builds, so the ABI of passing AVX
// vectors between functions (which the compiler warns about) never arises.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace zelk::models::lanes {

namespace {

#include "models/lanes_vector.inc"
typedef float v4f __attribute__((vector_size(4 * W)));
typedef int32_t v4i __attribute__((vector_size(4 * W)));
typedef uint8_t v4b __attribute__((vector_size(W)));

constexpr double ARGMAX = 700.0;   // exp kernel range |t| <= 700 (results stay normal)
constexpr double XMIN = 1.0e-300;  // log kernel domain: normal positive arguments above this
constexpr double GUARD = 1.0e-12;  // relative width of the interval that must round as one
constexpr double XBNEAR = 1.0e-11; // relative distance from the x^B1 limit left to the library

// The baseline build: SSE2 halves, square roots lane by lane.
namespace base {
#define ZELK_VSQRT vsqrt
#include "models/lanes_kernels.inc"
#undef ZELK_VSQRT
}  // namespace base

// g++ only: clang does not apply the target pragma to the included kernels, so its builds
// (the fuzz targets) take the baseline lanes, which give the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define ZELK_LANES_AVX2 1
// The AVX2 build: whole vectors, the vector square root.
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
static_assert(W == 4);
#define ZELK_VSQRT __builtin_ia32_sqrtpd256
#include "models/lanes_kernels.inc"
#undef ZELK_VSQRT
}  // namespace avx2
#pragma GCC pop_options

// The AVX-512 build: eight lanes in one register (the 32 vector registers hold the kernels
// without spills), the vector square root. The lane arithmetic is the same as above, so the
// bits are too.
#define ZELK_LANES_AVX512 1
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq")
namespace avx512 {
#include "models/lanes_avx512.inc"
#define ZELK_VSQRT vsqrt512
#include "models/lanes_kernels.inc"
#undef ZELK_VSQRT
}  // namespace avx512
#pragma GCC pop_options
#endif

}  // namespace

void xe(const float* H, int N, const XeModel& M, float* OUT, uint8_t* OK) {
#ifdef ZELK_LANES_AVX512
    if (simd::avx512()) return avx512::xe_lanes(H, N, M, OUT, OK);
#endif
#ifdef ZELK_LANES_AVX2
    if (simd::avx2()) return avx2::xe_lanes(H, N, M, OUT, OK);
#endif
    base::xe_lanes(H, N, M, OUT, OK);
}

void halve(int N, const float* F, const float* FM, const float* MID, const float* H, float* LO,
           float* HI, double* LB, const uint8_t* FIRST, uint8_t* DONE, float FTOL, float HTOL,
           double& DS, double& DS1) {
#ifdef ZELK_LANES_AVX512
    if (simd::avx512())
        return avx512::halve_lanes(N, F, FM, MID, H, LO, HI, LB, FIRST, DONE, FTOL, HTOL, DS, DS1);
#endif
#ifdef ZELK_LANES_AVX2
    if (simd::avx2())
        return avx2::halve_lanes(N, F, FM, MID, H, LO, HI, LB, FIRST, DONE, FTOL, HTOL, DS, DS1);
#endif
    base::halve_lanes(N, F, FM, MID, H, LO, HI, LB, FIRST, DONE, FTOL, HTOL, DS, DS1);
}

void f2bot(const float* H, int N, double HMF2, double B0, double B1, double XBM, double FOF2,
           float* OUT, uint8_t* OK) {
#ifdef ZELK_LANES_AVX512
    if (simd::avx512()) return avx512::f2bot_lanes(H, N, HMF2, B0, B1, XBM, FOF2, OUT, OK);
#endif
#ifdef ZELK_LANES_AVX2
    if (simd::avx2()) return avx2::f2bot_lanes(H, N, HMF2, B0, B1, XBM, FOF2, OUT, OK);
#endif
    base::f2bot_lanes(H, N, HMF2, B0, B1, XBM, FOF2, OUT, OK);
}

void f1map(const float* H, int N, double HF1, double Y, float* OUT, uint8_t* OK) {
#ifdef ZELK_LANES_AVX512
    if (simd::avx512()) return avx512::f1map_lanes(H, N, HF1, Y, OUT, OK);
#endif
#ifdef ZELK_LANES_AVX2
    if (simd::avx2()) return avx2::f1map_lanes(H, N, HF1, Y, OUT, OK);
#endif
    base::f1map_lanes(H, N, HF1, Y, OUT, OK);
}

}  // namespace zelk::models::lanes

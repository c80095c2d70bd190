// SIMD lanes for the IRI bottomside: exp and log kernels on four or eight doubles at a time,
// and the two batched model steps built on them (see lanes.hpp for the exactness test).
//
// The vectors are the compiler's generic vector types: the AVX-512 build keeps eight doubles in
// one register, the AVX2 build four, the baseline build splits each operation of four into two
// SSE2 halves. All perform the same correctly rounded IEEE operations in the same order on each
// lane, except the fused multiply-adds of the exp and log kernels (see lanes.hpp); the halving
// steps give the same bits on every path.
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

constexpr double ARGMAX = 700.0;   // exp kernel range |t| <= 700 (results stay normal)
constexpr double XMIN = 1.0e-300;  // log kernel domain: normal positive arguments above this
constexpr double GUARD = 1.0e-12;  // relative width of the interval that must round as one
constexpr double XBNEAR = 1.0e-11; // relative distance from the x^B1 limit left to the library
constexpr double XBACC = 80.0;     // largest unlimited x^B1 the lanes take (see f2bot_vecs)

#define ZELK_LANES_BODY "models/lanes_kernels.inc"
#include "models/lanes_builds.inc"
#undef ZELK_LANES_BODY

}  // namespace

void xe(const float* H, int N, const XeModel& M, float* OUT, uint8_t* OK) {
    ZELK_LANES_CALL(xe_lanes, H, N, M, OUT, OK);
}

int halve(int N, const float* F, const float* FM, const float* MID, const float* H, float* LO,
           float* HI, double* LB, const uint8_t* FIRST, uint8_t* DONE, float FTOL, float HTOL,
           double& DS, double& DS1) {
    ZELK_LANES_CALL(halve_lanes, N, F, FM, MID, H, LO, HI, LB, FIRST, DONE, FTOL, HTOL, DS, DS1);
}

void f2bot(const float* H, int N, double HMF2, double B0, double B1, double XBM, double FOF2,
           float* OUT, uint8_t* OK) {
    ZELK_LANES_CALL(f2bot_lanes, H, N, HMF2, B0, B1, XBM, FOF2, OUT, OK);
}

void f1map(const float* H, int N, double HF1, double Y, float* OUT, uint8_t* OK) {
    ZELK_LANES_CALL(f1map_lanes, H, N, HF1, Y, OUT, OK);
}

}  // namespace zelk::models::lanes

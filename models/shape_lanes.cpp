// The fast fit's model on SIMD lanes (see shape_lanes.hpp), built for AVX-512, for AVX2 and for
// the baseline instruction set; which runs is decided at run time, with the same bits each way.
#include "models/shape_lanes.hpp"

#include "core/simd.hpp"

#include <cmath>
#include <cstring>
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#include <immintrin.h>
#endif

#pragma GCC diagnostic ignored "-Wpsabi"

namespace zelk::models::shape_lanes {

namespace {

#include "models/lanes_vector.inc"

namespace base {
#define ZELK_VSQRT vsqrt
#include "models/lanes_math.inc"
#include "models/shape_lanes.inc"
#undef ZELK_VSQRT
}  // namespace base

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define ZELK_SHAPE_AVX2 1
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
#define ZELK_VSQRT __builtin_ia32_sqrtpd256
#include "models/lanes_math.inc"
#include "models/shape_lanes.inc"
#undef ZELK_VSQRT
}  // namespace avx2
#pragma GCC pop_options

// Eight lanes per register; each lane's iteration stops with its own row (the lanes of a
// group that are done are frozen), so the grouping does not change a result.
#define ZELK_SHAPE_AVX512 1
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq")
namespace avx512 {
#include "models/lanes_avx512.inc"
#define ZELK_VSQRT vsqrt512
#include "models/lanes_math.inc"
#include "models/shape_lanes.inc"
#undef ZELK_VSQRT
}  // namespace avx512
#pragma GCC pop_options
#endif

}  // namespace

void solve(const Model& M, const double* C, int N, double HEPS, double* H, uint8_t* END) {
#ifdef ZELK_SHAPE_AVX512
    if (simd::avx512()) return avx512::solve_lanes(M, C, N, HEPS, H, END);
#endif
#ifdef ZELK_SHAPE_AVX2
    if (simd::avx2()) return avx2::solve_lanes(M, C, N, HEPS, H, END);
#endif
    base::solve_lanes(M, C, N, HEPS, H, END);
}

void slopes(const Model& M, const double* H, int N, double* J, uint8_t* OK) {
#ifdef ZELK_SHAPE_AVX512
    if (simd::avx512()) return avx512::slopes_lanes(M, H, N, J, OK);
#endif
#ifdef ZELK_SHAPE_AVX2
    if (simd::avx2()) return avx2::slopes_lanes(M, H, N, J, OK);
#endif
    base::slopes_lanes(M, H, N, J, OK);
}

}  // namespace zelk::models::shape_lanes

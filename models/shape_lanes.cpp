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

// Each lane's iteration stops with its own row (the lanes of a group that are done are
// frozen), so the grouping does not change a result.
#define ZELK_LANES_BODY "models/shape_lanes.inc"
#include "models/lanes_builds.inc"
#undef ZELK_LANES_BODY

}  // namespace

void solve(const Model& M, const double* C, int N, double HEPS, double* H, uint8_t* END) {
    ZELK_LANES_CALL(solve_lanes, M, C, N, HEPS, H, END);
}

void slopes(const Model& M, const double* H, int N, double* J, uint8_t* OK) {
    ZELK_LANES_CALL(slopes_lanes, M, H, N, J, OK);
}

}  // namespace zelk::models::shape_lanes

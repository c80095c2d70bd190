// Batched evaluation of the two transcendental steps of the IRI bottomside, several values at a
// time on SIMD lanes, with results equal to those of the library functions.
//
// Each lane computes its value in double with exp and log kernels accurate to a few units in
// the last place, and the value is accepted only when every double within 1e-12 relative of it
// rounds to the same float: the library's double result lies well inside that interval, so the
// float it gives is the accepted one. A lane that fails this test (or whose arguments leave the
// kernels' range, or sit at the x^B1 limit) is marked, and the caller recomputes it with the
// library functions. The kernels are built once for AVX2 and once for the baseline instruction
// set; the processor's support is checked once at run time. Both do the same IEEE operations in
// the same order (no contraction into FMA), so they give the same bits.
#pragma once

#include <cstdint>

namespace zelk::models::lanes {

// Largest number of values per call.
inline constexpr int MAXLANES = 1536;

// foF2 sqrt(exp(-x^B1)/cosh(x)) as float for each X[k] > 0, x^B1 limited to XBM > 0.
// OK[k] = 1 where OUT[k] is the library's float, 0 where the caller must compute it.
void f2bot(const double* X, int N, double B1, double XBM, double FOF2, float* OUT, uint8_t* OK);

// HF1 (1 - R^Y) as float for each R[k] in (0, 1]; OK as for f2bot.
void f1map(const double* R, int N, double Y, double HF1, float* OUT, uint8_t* OK);

// The instruction set in use: 1 for AVX2, 0 for the baseline. force_baseline(true) selects the
// baseline kernels even on an AVX2 processor (used to check that both give the same bits).
int level();
void force_baseline(bool ON);

}  // namespace zelk::models::lanes

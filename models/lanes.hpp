// Batched evaluation of the two transcendental steps of the IRI bottomside, several values at a
// time on SIMD lanes, with results equal to those of the library functions.
//
// Each lane computes its value in double with exp and log kernels accurate to about 1e-14
// relative (4e-16 absolute for the log), and the value is accepted only when every double
// within 1e-12 relative of it rounds to the same float: the library's double result lies well
// inside that interval, so the float it gives is the accepted one. A lane that fails this test
// (or whose arguments leave the kernels' range, or sit at the x^B1 limit) is marked, and the
// caller recomputes it with the library functions. The kernels are built for AVX-512 (eight
// lanes), for AVX2 with FMA (four) and for the baseline instruction set; which is used is
// decided at run time (core/simd.hpp). The AVX builds fuse the multiply-adds of the exp and log
// polynomials, the baseline rounds them twice: the kernel values differ between builds by
// rounding, which can only move a value a hair from the edge of the accepted interval in or out
// of it. Accepted values are the library's floats on every build, so results are the same.
#pragma once

#include <cstdint>

namespace zelk::models::lanes {

// Largest number of values per call.
inline constexpr int MAXLANES = 1536;

// The F2 bottomside at the heights H(0..N-1) (km): with x = (HMF2 - H)/B0, foF2 where x is not
// positive, else foF2 sqrt(exp(-x^B1)/cosh(x)) as float, x^B1 limited to XBM (no limit when
// XBM <= 0).
// OK[k] = 1 where OUT[k] is the library's float, 0 where the caller must compute it.
void f2bot(const float* H, int N, double HMF2, double B0, double B1, double XBM, double FOF2,
           float* OUT, uint8_t* OK);

// The F1 mapping of the heights H(0..N-1) (km), 0 < H < HF1: HF1 (1 - R^Y) as float with
// R = (HF1 - H)/HF1. OK as for f2bot.
void f1map(const float* H, int N, double HF1, double Y, float* OUT, uint8_t* OK);

// The IRI bottomside as XE evaluates it: F2 peak, F1 height, the intermediate region (HZ,
// HST, valley top HVT, T), foE; shape B0, B1, the x^B1 limit XBM, foF2, Y = 1 + D1, and
// whether the F1 modification is active.
struct XeModel {
    float HMF2, HF1, HZ, HST, HVT, T, FOE;
    double B0, B1, XBM, FOF2, Y;
    bool F1;
};

// XE of the model M at the heights H(0..N-1) (km), every branch taken per value. OK as for
// f2bot: where it is 0 the caller computes XE itself.
void xe(const float* H, int N, const XeModel& M, float* OUT, uint8_t* OK);

// One halving of N packed height searches of the shape misfit, each as XH makes it: with the
// model value FM at the midpoint MID of the bracket [LO, HI] of frequency F, HI becomes MID
// where FM > F, else LO does; DONE marks the searches that end (|FM - F| < FTOL or
// HI - LO < HTOL). LB gets each row's smallest square (table height H less MID when done, else
// less the nearer end of the bracket when outside it) in double; DS and DS1 the sums of the
// changes of LB over all rows and over those with FIRST set. Returns the number of searches
// that ended. The brackets and ends are exact on every build; the order of the two sums is
// not, which only a bound may depend on.
int halve(int N, const float* F, const float* FM, const float* MID, const float* H, float* LO,
           float* HI, double* LB, const uint8_t* FIRST, uint8_t* DONE, float FTOL, float HTOL,
           double& DS, double& DS1);

}  // namespace zelk::models::lanes

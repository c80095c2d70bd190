// The model of the fast shape fit on SIMD lanes: the heights where the IRI bottomside reaches
// given levels, and the slopes of those heights with respect to B0, B1 and D1, four rows at a
// time. The exp and log kernels are those of the lanes of the search (accurate to a few units in
// the last place); the AVX2 and the baseline builds do the same IEEE operations in the same
// order, so the results do not depend on the processor.
#pragma once

#include <cstdint>

namespace zelk::models::shape_lanes {

// The model of one parameter set (B0, B1, D1) with its derived heights, and the derivatives
// of those with respect to B0, B1 and D1.
struct Model {
    double HMF2 = 0, HVT = 0;
    double B0 = 0, B1 = 0, D1 = 0, HF1 = 0, HST = 0, HZ = 0, T = 0;
    double dHF1[3] = {}, dHST[3] = {}, dHZ[3] = {}, dT[3] = {};
    bool f1 = false;   // the F1 modification is active
};

// The height H[k] in [HVT, HMF2] where ln((fN/foF2)^2) of the model reaches C[k], k < N: a
// Newton iteration from H[k] inside a shrinking bracket (a step that leaves it halves the
// bracket instead), ended by a Newton step below 1e-3 km or a bracket narrower than HEPS km.
// END[k] = 1 where the solution is an end of the bracket.
void solve(const Model& M, const double* C, int N, double HEPS, double* H, uint8_t* END);

// At the heights H[k], k < N: J[3k + a] = (dL/dp_a)/(dL/dh) = -dh/dp_a for p = (B0, B1, D1),
// with L = ln((fN/foF2)^2); OK[k] = 0 where dL/dh is not positive (no slope).
void slopes(const Model& M, const double* H, int N, double* J, uint8_t* OK);

}  // namespace zelk::models::shape_lanes

// Bottomside shape parameters B0, B1, D1 of the solved profile, and the IRI bottomside model
// they parametrise. The model state (hmF2, foF2, foE, valley top, F1 height, intermediate
// region) lives in the Products area beside B0, B1 and D1.
#pragma once

#include "products/products.hpp"

namespace zelk {
struct Zelk;
}

namespace zelk::models {

// B0, B1 (and D1 with an F1 layer) of the computed bottomside.
void CALB0B1D1(Zelk& z);

// Fills TIJ (the inner products of the profile basis) and X0.
void CALTIJ(products::Products& P);
// Plasma frequency (MHz) at height H (km) of the region (FS, FE, peak HM, A(1..5)).
float PROFILE_H_F(float FS, float FE, float HM, const float* A, float H);
// Scale S and misfit E of the shape R against the curve C, in the TIJ inner product.
void CALB0B1(const products::Products& P, const float* C, const float* R, float& S, float& E);
// Squared height misfits of the IRI model against the 1 km table: E1 the F1 part, E2 the rest.
void CAL_IRI_FIT_ERROR(products::Products& P, float& E1, float& E2);
// Intermediate-region parameters HST, HZ, T (MODE 1 with an F1 layer, 2 without).
void CALHSTHZ(products::Products& P, int MODE);
// D1 minimising the F1-part misfit; returns that misfit in E1.
void CALD1(products::Products& P, float& D1, float& E1);
// Coordinate search of B0, B1 (and D1 in MODE 1) from the misfit ERR (in/out).
void ADUJST_B0B1D1(products::Products& P, int MODE, float& ERR);
// F2 bottomside plasma frequency (MHz) at height H, x^B1 limited to 80.
float IRI_F2_BASIC1(const products::Products& P, float H);
// Height (km) of plasma frequency F on the F2 bottomside; 0 outside [fN(0), foF2].
float IRI_F2_BASIC2(const products::Products& P, float F);
// Full IRI bottomside plasma frequency (MHz) at height H (km).
float XE(const products::Products& P, float H);
// Its inverse between the valley top and hmF2; 0 outside [foE, foF2].
float XH(const products::Products& P, float F);
// Plasma frequency (MHz) of the intermediate region at height H (km).
float XE4(const products::Products& P, float H);

}  // namespace zelk::models

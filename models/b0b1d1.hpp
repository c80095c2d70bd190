// Bottomside shape parameters B0, B1, D1 of the solved profile, and the IRI bottomside model
// they parametrise. The results and the model state (hmF2, foF2, foE, valley top, F1 height,
// intermediate region) live in the Bottomside area.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/markers.hpp"
#include "core/diag.hpp"
#include "core/farray.hpp"
#include "models/lanes.hpp"
#include "platform/datafile.hpp"
#include "profile/profile.hpp"

namespace zelk::models {

static constexpr int MAXB0REC = 2001;   // capacity for records of the B0B1DT file

// The bottomside model of the current record: the shape parameters and the state of their
// fit. Written by CALB0B1D1 once per record with an accepted F2 layer; read by the record
// update, the summaries and the display.
struct Bottomside {
    float B0 = NO_VALUE, B1 = NO_VALUE, D1 = NO_VALUE;  // 9999.0 when not determined

    // The 1 km N(h) table the model is compared with (the products' first pass, copied in).
    int16_t NPROW1 = 0;
    F1<float, profile::MAXROW> PRFHT1, PRFFN1;

    // Model state of the fit.
    float HMF2 = 0.0f, FOF2 = 0.0f, FOE = 0.0f;  // F2 peak height (km) and frequency, foE (MHz)
    float HVT = 0.0f;                        // valley top height (km)
    float FOF1 = 0.0f, HF1 = 0.0f;           // F1 critical frequency and its IRI height
    float HST = 0.0f, HZ = 0.0f, T = 0.0f;   // intermediate region; HZ = 0: unusable
    float X0 = 0.4882682f;                   // lowest fN/foF2 compared with the table
    F2<float, 5, 5> TIJ;                     // inner products of the profile basis
    F1<float, profile::MAXROW> HIRI;         // IRI height of each 1 km table row (0: none)
    platform::DataFileStamp B0FILE;          // the parsed B0B1DT
    uint64_t FILESEQ = 0;                    // input file being processed, as the run loop
                                             // numbers them (see load_data_file); 0: none
    bool FAST = false;                       // fit by fastb0b1d1 (--shape-fit fast)
    bool FASTDONE = false;                   // this record's values came from fastb0b1d1
    int16_t NB0REC = 0;                      // records parsed
    F2<float, MAXB0REC, 6> B0REC;            // B1, R1..R5 per record
};

// Makes the parsed table of the coefficient file B0B1DT current in P; false, with the
// message " CANNOT FIND THE FILE "B0B1DT.ASC"!", when it cannot be found or parsed.
bool B0B1DT_current(Bottomside& P, const std::vector<std::string>& DIRS, const Log& log);

// B0, B1 (and D1 with an F1 layer) of the solved profile S, compared with the 1 km table
// already in P (NPROW1/PRFHT1/PRFFN1). DIRS: data directories (standard lookup when empty).
void CALB0B1D1(Bottomside& P, const profile::SolvedProfile& S, const std::vector<std::string>& DIRS,
               const Log& log);

// The fast fit of B0, B1 (and D1 in MODE 1) from the table match in P: Levenberg-Marquardt
// with analytic derivatives and Newton height solutions. False (P unchanged) when it could not
// improve on the table match; else the values rounded to 0.01 and ERR its misfit.
bool fastb0b1d1(Bottomside& P, int MODE, float& ERR);
// The misfit e1 + e2 of CAL_IRI_FIT_ERROR for B0, B1, D1 as they stand in P, with hF1 and the
// intermediate region set for them (MODE as in ADUJST_B0B1D1); 1e10 for an unusable set.
float shape_misfit(Bottomside& P, int MODE);
// The same misfit with every row's model height solved exactly (in double, to 1e-7 km) rather
// than to the tolerances of the search's bisection: the quantity the fast fit minimises.
double fast_misfit(const Bottomside& P, int MODE);
// Fills TIJ (the inner products of the profile basis) and X0.
void CALTIJ(Bottomside& P);
// Plasma frequency (MHz) at height H (km) of the region (FS, FE, peak HM, A(1..5)).
float PROFILE_H_F(float FS, float FE, float HM, const float* A, float H);
// Scale S and misfit E of the shape R against the curve C, in the TIJ inner product.
void CALB0B1(const Bottomside& P, const float* C, const float* R, float& S, float& E);
// Squared height misfits of the IRI model against the 1 km table: E1 the F1 part, E2 the rest.
void CAL_IRI_FIT_ERROR(Bottomside& P, float& E1, float& E2);
// Intermediate-region parameters HST, HZ, T (MODE 1 with an F1 layer, 2 without).
void CALHSTHZ(Bottomside& P, int MODE);
// D1 minimising the F1-part misfit; returns that misfit in E1.
void CALD1(Bottomside& P, float& D1, float& E1);
// Coordinate search of B0, B1 (and D1 in MODE 1) from the misfit ERR (in/out).
void ADUJST_B0B1D1(Bottomside& P, int MODE, float& ERR);
// F2 bottomside plasma frequency (MHz) at height H, x^B1 limited to 80.
float IRI_F2_BASIC1(const Bottomside& P, float H);
// Height (km) of plasma frequency F on the F2 bottomside; 0 outside [fN(0), foF2].
float IRI_F2_BASIC2(const Bottomside& P, float F);
// Full IRI bottomside plasma frequency (MHz) at height H (km).
float XE(const Bottomside& P, float H);
// The bottomside of P as XE evaluates it, for XE on SIMD lanes (lanes::xe).
lanes::XeModel xe_model(const Bottomside& P);
// Its inverse between the valley top and hmF2; 0 outside [foE, foF2].
float XH(const Bottomside& P, float F);
// Plasma frequency (MHz) of the intermediate region at height H (km).
float XE4(const Bottomside& P, float H);

}  // namespace zelk::models

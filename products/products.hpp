// Profile products: the N(h) table, the electron content, the quasi-parabolic segments, the
// bottomside shape parameters and the arrangement of the results for output.
#pragma once

#include <cstdint>

#include "core/farray.hpp"

namespace zelk {
struct Zelk;
}

namespace zelk::products {

static constexpr int MAXROW = 999;   // rows of the N(h) tables
static constexpr int MAXSEG = 20;    // quasi-parabolic segments

struct Products {
    // ---- N(h) table ----------------------------------------------------------------------
    int16_t NPROW = 0;                       // rows of the table (0..999)
    F1<float, MAXROW> PRFHT, PRFFN;          // heights (km), plasma frequencies (MHz)
    int16_t NPROW1 = 0;                      // the 1 km table of the first pass
    F1<float, MAXROW> PRFHT1, PRFFN1;

    // ---- Electron content ------------------------------------------------------------------
    float ITEC = 9999.0f;                    // total content (TEC units), 9999.0 when not computed
    float BTEC = 0.0f, TTEC = 0.0f;          // bottomside and topside parts
    float H = 9999.0f;                       // scale height at the F2 peak (km)
    int16_t ITECST = 0;                      // 0 good, 1 invalid profile, 2 coefficient file missing

    // ---- Bottomside shape parameters -----------------------------------------------------------
    float B0 = 9999.0f, B1 = 9999.0f, D1 = 9999.0f;

    // ---- Quasi-parabolic segments --------------------------------------------------------------
    int16_t NSEG = 0;                        // 0 = no fit
    double R0 = 0.0;                         // radius of the profile base (km)
};

// Puts the results of the inversion into the form in which the record keeps them for output.
void TOTOLMIR(Zelk& z);

// N(h) table: MODE 0 the first pass at 1 km, MODE 1 the final pass at HSTEP with the topside.
void NHTABLE(Zelk& z, int MODE);
// Appends the rows of one layer (start fs, peak fe, peak height ZM, coefficients A(1..5)).
void TABLYR(float HSTEP, float FS, float FE, float ZM, const float* A, int16_t& NPROW,
            F1<float, MAXROW>& PRFFN, F1<float, MAXROW>& PRFHT);
// Appends the valley (width VW, depth VD) above an E-type layer (fs, fe, ZM, A(1..3)).
void TABVAL(float HSTEP, float VW, float VD, float FS, float FE, float ZM, const float* A,
            int16_t& NPROW, F1<float, MAXROW>& PRFFN, F1<float, MAXROW>& PRFHT);
// Electron content of the solved profile.
void CALTEC(Zelk& z);
// Quasi-parabolic fit of the N(h) table.
void QPFIT(Zelk& z);

}  // namespace zelk::products

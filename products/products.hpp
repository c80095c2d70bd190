// Profile products: the N(h) table, the electron content, the quasi-parabolic segments and
// the tabulation of the auroral-E layer, computed from the solved profile of the inversion.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/markers.hpp"
#include "core/farray.hpp"
#include "core/rounding.hpp"

#include "core/diag.hpp"
#include "inversion/inversion.hpp"
#include "platform/datafile.hpp"
#include "profile/profile.hpp"

namespace zelk::products {

using profile::MAXROW;               // rows of the N(h) tables
static constexpr int MAXSEG = 20;    // quasi-parabolic segments
static constexpr int MAXQP = 500;    // rows of a table that is still fitted
static constexpr int MAXTECROW = 4001;  // capacity for rows of the TECCOF file
// Layout of a line of TECCOF.ASC (r, c1..c5), shared by its reader and its generator.
static constexpr char TECCOFFMT[] = "(F5.3,5E14.6)";

using platform::DataFileStamp;

struct Products {
    // The input file being processed, as the run loop numbers them (0: not numbered). A parsed
    // coefficient file found current once for an input file is used for all its records
    // without looking at the disk again; with 0 every use looks.
    uint64_t FILESEQ = 0;
    // ---- N(h) table ----------------------------------------------------------------------
    int16_t NPROW = 0;                       // rows of the table (0..999)
    F1<float, MAXROW> PRFHT, PRFFN;          // heights (km), plasma frequencies (MHz)
    int16_t NPROW1 = 0;                      // the 1 km table of the first pass
    F1<float, MAXROW> PRFHT1, PRFFN1;

    // ---- Electron content ------------------------------------------------------------------
    float ITEC = NO_VALUE;                    // total content (TEC units), 9999.0 when not computed
    float BTEC = 0.0f, TTEC = 0.0f;          // bottomside and topside parts
    float H = NO_VALUE;                       // scale height at the F2 peak (km)
    int16_t ITECST = 0;                      // 0 good, 1 invalid profile, 2 coefficient file missing

    // ---- Quasi-parabolic segments --------------------------------------------------------------
    int16_t NSEG = 0;                        // 0 = no fit
    double R0 = 0.0;                         // radius of the profile base (km)

    // ---- Electron content: the parsed TECCOF table ----------------------------------------------
    DataFileStamp TECFILE;
    int16_t NTECROW = 0;                     // rows parsed
    F2<float, MAXTECROW, 6> TECROW;          // r, c1..c5 per row

    // ---- Quasi-parabolic segments: results and fitting arrays ----------------------------------
    F1<int16_t, MAXSEG> KJT;                 // fitting-array index of each segment's upper end
    F1<double, MAXSEG> RTOP;                 // radius of each segment's upper end (km)
    F1<double, MAXSEG> QA, QB, QC;           // fN^2 = QA/r^2 + QB/r + QC (MHz^2, r in km)
    F1<float, MAXSEG> QERR;                  // largest relative error of fN^2 in the segment
    int16_t NQP = 0;                         // fitting points
    F1<double, MAXQP> RQ, XQ, YQ, WQ;        // radius (km), 1/radius, fN^2 (MHz^2), 1/fN^4
    F2<double, 3, MAXQP> WA, WB, WC;         // look-ahead levels: coefficients per reach
    F2<int8_t, 3, MAXQP> WOK;                // 1 where that reach is a valid segment end

};

// Rounds X in place to NDIG (1..12) significant digits, halves away from zero.
void TRNKV(int NDIG, double& X);

// N(h) table: MODE 0 the first pass at 1 km, MODE 1 the final pass at HSTEP with the topside.
void NHTABLE(Products& P, const profile::SolvedProfile& S, float HSTEP, int MODE);
// Appends the rows of one layer (start fs, peak fe, peak height ZM, coefficients A(1..5)).
void TABLYR(float HSTEP, float FS, float FE, float ZM, const float* A, int16_t& NPROW,
            F1<float, MAXROW>& PRFFN, F1<float, MAXROW>& PRFHT);
// Appends the valley (width VW, depth VD) above an E-type layer (fs, fe, ZM, A(1..3)).
void TABVAL(float HSTEP, float VW, float VD, float FS, float FE, float ZM, const float* A,
            int16_t& NPROW, F1<float, MAXROW>& PRFFN, F1<float, MAXROW>& PRFHT);
// Appends the topside above the F2 peak (critical frequency FC, peak HM, scale height H).
void TABTOP(float HSTEP, float FC, float HM, float H, int16_t& NPROW, F1<float, MAXROW>& PRFFN,
            F1<float, MAXROW>& PRFHT);
// Electron content of the solved profile.
void CALTEC(Products& P, const profile::SolvedProfile& S, const std::vector<std::string>& DIRS,
            const Log& log);
// Content of one layer (start FS, end FE, A(1..5)); ITECST 0 good, 1 wrong profile, 2 no file.
void TECLAYER(Products& P, const std::vector<std::string>& DIRS, const Log& log, float FS, float FE, const float* A, float& CONTENT, int16_t& ITECST);
// Content of the valley above an E-type layer (FS, FE, A(1..3)) of width VW and depth VD.
void TECVALLEY(Products& P, const std::vector<std::string>& DIRS, const Log& log, float FS, float FE, const float* A, float VW, float VD, float& CONTENT,
               int16_t& ITECST);
// Scale height H at the F2 peak from the 1 km N(h) table (K = 2).
void CALSHFPEAK(Products& P, const profile::SolvedProfile& S, int16_t K);
// Quasi-parabolic fit of the N(h) table.
void QPFIT(Products& P, const profile::SolvedProfile& S, float QPACC);
// Builds the segments over the fitting arrays RQ/XQ/YQ(1..NP) of P; IE, I1, I2 are the E peak
// and the valley's first and second third points (0 when absent). ACC is doubled in place on
// each retry; P.NSEG = 0 when no fit is found.
void DOFITTING(Products& P, int16_t IE, int16_t I1, int16_t I2, int16_t NP, float& ACC);

// Tabulates the auroral-E layer that EAPROF fitted (EAFIT) at the step HSTEP into AUXFN/AUXHT
// (the record's groups 59/58), followed by the valley up to the main profile when the main
// table has rows (NPROW > 0); sets NEAROW and EAFIT(8..9). Nothing when HSTEP is not
// positive or no layer was fitted.
void ea_table(inversion::Inversion& inv, float HSTEP, int16_t NPROW, F1<float, MAXROW>& AUXFN,
             F1<float, MAXROW>& AUXHT);

}  // namespace zelk::products

// Profile products: the N(h) table, the electron content, the quasi-parabolic segments, the
// bottomside shape parameters and the arrangement of the results for output.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/farray.hpp"
#include "core/rounding.hpp"

namespace zelk {
struct Zelk;
}

namespace zelk::products {

static constexpr int MAXROW = 999;   // rows of the N(h) tables
static constexpr int MAXSEG = 20;    // quasi-parabolic segments
static constexpr int MAXQP = 500;    // rows of a table that is still fitted
static constexpr int MAXTECROW = 4001;  // capacity for rows of the TECCOF file
static constexpr int MAXB0REC = 2001;   // capacity for records of the B0B1DT file
// Layout of a line of TECCOF.ASC (r, c1..c5), shared by its reader and its generator.
static constexpr char TECCOFFMT[] = "(F5.3,5E14.6)";

// A parsed coefficient file and what identifies the copy on disk it was parsed from, so that
// the file is read again only when it is replaced or changed.
struct DataFileStamp {
    std::string PATH;                        // path that was parsed; empty: nothing parsed
    std::uintmax_t SIZE = 0;                 // its size (bytes)
    long long MTIME = 0;                     // its modification time (file clock ticks)
    bool OK = false;                         // the parse gave a usable table
    uint64_t CHECKED = 0;                    // input file (Products::FILESEQ) it was last found
                                             // current for; 0: none
};

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
    float ITEC = 9999.0f;                    // total content (TEC units), 9999.0 when not computed
    float BTEC = 0.0f, TTEC = 0.0f;          // bottomside and topside parts
    float H = 9999.0f;                       // scale height at the F2 peak (km)
    int16_t ITECST = 0;                      // 0 good, 1 invalid profile, 2 coefficient file missing

    // ---- Bottomside shape parameters -----------------------------------------------------------
    float B0 = 9999.0f, B1 = 9999.0f, D1 = 9999.0f;

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

    // ---- Bottomside shape parameters: model state of the fit -------------------------------------
    float HMF2 = 0.0f, FOF2 = 0.0f, FOE = 0.0f;  // F2 peak height (km) and frequency, foE (MHz)
    float HVT = 0.0f;                        // valley top height (km)
    float FOF1 = 0.0f, HF1 = 0.0f;           // F1 critical frequency and its IRI height
    float HST = 0.0f, HZ = 0.0f, T = 0.0f;   // intermediate region; HZ = 0: unusable
    float X0 = 0.4882682f;                   // lowest fN/foF2 compared with the table
    F2<float, 5, 5> TIJ;                     // inner products of the profile basis
    F1<float, MAXROW> HIRI;                  // IRI height of each 1 km table row (0: none)
    // The first levels of the height search of CAL_IRI_FIT_ERROR start from the same bracket
    // for every row: their model values, node n with children 2n and 2n + 1, are kept here
    // for the rows of one call (XEMEMOK(n) = 1 when node n holds a value).
    static constexpr int MAXXEMEMO = 511;
    F1<float, MAXXEMEMO> XEMEMO;
    F1<int8_t, MAXXEMEMO> XEMEMOK;
    DataFileStamp B0FILE;
    int16_t NB0REC = 0;                      // records parsed
    F2<float, MAXB0REC, 6> B0REC;            // B1, R1..R5 per record
};

// Makes the parsed copy of the coefficient file STEM (STEM.BIN, else STEM.ASC) current and
// returns whether it is usable; PARSE(P, PATH, BINARY) is called only when the file changed.
bool LOADDATAFILE(Products& P, DataFileStamp& STAMP, const std::vector<std::string>& DIRS,
                  const std::string& STEM, bool (*PARSE)(Products&, const std::string&, bool));

// Rounds X in place to NDIG (1..12) significant digits, halves away from zero.
void TRNKV(int NDIG, double& X);

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
// Appends the topside above the F2 peak (critical frequency FC, peak HM, scale height H).
void TABTOP(float HSTEP, float FC, float HM, float H, int16_t& NPROW, F1<float, MAXROW>& PRFFN,
            F1<float, MAXROW>& PRFHT);
// Electron content of the solved profile.
void CALTEC(Zelk& z);
// Content of one layer (start FS, end FE, A(1..5)); ITECST 0 good, 1 wrong profile, 2 no file.
void TECLAYER(Zelk& z, float FS, float FE, const float* A, float& CONTENT, int16_t& ITECST);
// Content of the valley above an E-type layer (FS, FE, A(1..3)) of width VW and depth VD.
void TECVALLEY(Zelk& z, float FS, float FE, const float* A, float VW, float VD, float& CONTENT,
               int16_t& ITECST);
// Scale height H at the F2 peak from the 1 km N(h) table (K = 2).
void CALSHFPEAK(Zelk& z, int16_t K);
// Quasi-parabolic fit of the N(h) table.
void QPFIT(Zelk& z);
// Builds the segments over the fitting arrays RQ/XQ/YQ(1..NP) of P; IE, I1, I2 are the E peak
// and the valley's first and second third points (0 when absent). ACC is doubled in place on
// each retry; P.NSEG = 0 when no fit is found.
void DOFITTING(Products& P, int16_t IE, int16_t I1, int16_t I2, int16_t NP, float& ACC);

}  // namespace zelk::products

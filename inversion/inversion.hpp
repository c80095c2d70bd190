// The true-height inversion: its shared working data (the Inversion area) and the
// routines that work on it.
//
// Conventions used by every routine of the inversion:
//  * Frequencies in MHz, heights in km, the dip in radians.
//  * Arrays are 1-based (core/farray.hpp). A routine that takes a coefficient vector as a raw
//    pointer is given F1::data(), i.e. a pointer to element 0, and reads elements 1..NN.
//  * Values persist from record to record; PROFIL1 clears the per-record results.
//  * 9999.0 marks a real result that was not determined.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "core/farray.hpp"

namespace zelk {
struct Zelk;
}

namespace zelk::inversion {

static constexpr int MAXTRC = 1024;   // capacity of the trace list and of the fit arrays
static constexpr int MAXLIN = 2048;   // number of frequency lines of the trace tables
static constexpr int MAXNN = 8;       // capacity of the coefficient vectors of the kernels

// The parts of the refined mode (zelk-batch --refine). Each is a small step beside the
// standard stages and is off in the standard mode, whose results it never changes.
struct RefineOptions {
    bool valley = false;     // valley width and depth fitted to the O trace at the F foot
    bool xstart = false;     // ... and to the X trace of the record, when it has one
    bool scaled_fc = false;  // F1 and F2 peaks placed at the scaled critical frequencies
    bool f1_roots = false;   // an F1 layer rejected for its roots retried as part of F2
    bool any() const { return valley || xstart || scaled_fc || f1_roots; }
};

// Which method made a record's profile.
enum class MadeBy : int16_t {
    STANDARD = 0,            // the standard method (no refined part asked for)
    REFINED = 1,             // the refined mode
    REFINED_F1_MERGED = 2,   // the refined mode, F1 and F2 traces solved as one layer
    FALLBACK = 3,            // the standard method, after the refined mode failed
};

struct Inversion {
    // ---- Inputs, filled by the record preparation before PROFIL1 --------------------------
    int16_t IYR = 0, IDAY = 0, IHR = 0, MINU = 0, ISEC = 0;  // time of the record (UT)
    F1<float, 2> LOCATION;           // station latitude, longitude (degrees)
    float FH2 = 0.0f;                // half the electron gyrofrequency, FH/2 (MHz)
    float DIP = 0.0f;                // magnetic dip (radians)
    float FQINCR = 0.0f;             // frequency step of the ionogram lines (MHz)
    float HGRID = 0.0f;              // height step of the range bins (km)
    float BASEHT = -999.0f;          // range start minus HGRID (km)
    float HMISS = 9999.0f;           // virtual height that marks a missing point
    float FOE = 9999.0f;   int16_t IFOE = 9999;    // scaled foE and its line
    float FMINE = 9999.0f; int16_t MINFE = 9999;   // lowest E frequency and its line
    float FOF1 = 9999.0f;  int16_t IFOF1 = 9999;   // scaled foF1 and its line
    float FOF2 = 9999.0f;  int16_t IFOM = 9999;    // scaled foF2 and its line
    float FMINF = 9999.0f; int16_t MINFF = 9999;   // lowest F frequency and its line
    F2<float, MAXLIN, 3> TRACEL;     // virtual height at frequency line K: J = 2 F, J = 3 E
    F2<int16_t, MAXLIN, 3> ITRCF;    // range-bin index of that height
    float FOF2P = 0.0f;              // foF2 carried with the profile, kept between records
    // The sunspot number ISSN, the date IYEAR, IMON, IDOM and LASTMON are shared with the
    // model predictions and live in the Models area (z.mod.ISSN, z.mod.IYEAR, ...).
    int16_t IEFLAG = 0;              // E-layer flag: 1 trace, 2 model foE, 3 scaled foE
    float HPF = 9999.0f, HPF2 = 9999.0f, HPE = 9999.0f, HPES = 9999.0f;  // h'F, h'F2, h'E, h'Es
    // Characteristics 1..43 of the record, as read; entries without a name of their own
    // (3, 6, 10, 17, 18, 21, 25, 36) are carried through to the output from here.
    F1<float, 43> CHARIN;
    F1<int16_t, 20> IQUALE;          // record quality flags (the record's 20 analysis flags);
                                     // ISTAT is IQUALE(2), LF1 IQUALE(4)
    F1<int16_t, 2> MINHF;            // lines of the lowest F1 / F2 virtual heights
    int16_t NE = 0, NF = 0;          // E and F2 trace counts of the record
    F1<float, 44> REALIN;            // 1 latitude, 2 longitude, 43/44 characteristics 28/31
    int16_t LAYOUT = 0;              // time-stamp layout 1, 2 or 3; 0 = not recognised
    int16_t IOFF = 0;                // character offset of that layout in TSTAMP
    char STNAME[21] = "NO NAME             ";  // station name from the system description
    int16_t ISTNCODE = 0;            // 3-digit station code of the time stamp
    F1<float, 2> VHMIN;              // running minima of the F virtual heights behind MINHF
    RefineOptions refine;            // refined-mode parts in use (all off: standard mode)
    MadeBy made_by = MadeBy::STANDARD;  // which method made the record's profile

    // ---- Entry and trace set-up ------------------------------------------------------------
    float FH = 0.0f;                 // electron gyrofrequency (MHz)
    float DIPK = 0.0f;               // dip used by the kernels (radians)
    int16_t NGAUSS = 16;             // quadrature points of the virtual-height integrals
    F1<float, MAXTRC> TRF, TRH;      // trace list: frequency, virtual height (E, F1, F2)
    int16_t NFQE = 0, NFQF1 = 0, NFQF = 0;
    F1<float, MAXTRC> FQ, HV;        // fit data of the region being solved
    int16_t NFQ = 0;
    int16_t NN = 0;                  // coefficients of the region being solved
    float FSTART = 0.0f, FEND = 0.0f;
    int16_t IRGN = 0;                // 1 E, 2 F1, 3 F2
    int16_t& ISTAT() { return IQUALE(2); }
    int16_t& LF1() { return IQUALE(4); }
    F2<float, 8, 8> CV;              // derivative table of the profile basis (SETCV)
    float SSNIN = 0.0f;              // ISSN as it stood on entry to PROFIL1
    char VERSION[9] = "VS.04.31";    // version identifier stored with the record

    // ---- Kernels ----------------------------------------------------------------------------
    float GC1 = 1.0f, GC2 = 0.0f, GC3 = 0.0f, GC4 = 0.0f;  // dip constants, ordinary ray
    float GX1 = 0.0f, GX2 = 0.0f;    // dip constants, extraordinary ray
    float GOGXDIP = std::numeric_limits<float>::quiet_NaN();  // dip the constants were formed from
    F1<float, MAXTRC> F2K, DF2K;     // FQ(K)^2 and FQ(K)^2 - FSTART^2 (or 0)
    F2<float, MAXNN, MAXTRC> G;      // kernels G(i,K)
    F2<float, 5, MAXTRC> GP;         // partial kernels from SIKP
    F1<float, MAXNN> A;              // working coefficient vector
    F1<float, 3> A_E;                // saved E coefficients
    F1<float, 7> A_F1, A_F2;         // saved F1, F2 coefficients
    F1<float, 3> HBASE;              // real heights at the start of E, F1, F2
    F1<float, MAXTRC> DHE, DHV, DHF1;  // group paths of the E layer, valley, F1 layer at FQ(K)

    // ---- Layer solver ------------------------------------------------------------------------
    F1<float, MAXTRC> YK;            // data explained by the region
    F2<float, 8, 9> NEQ;             // augmented normal equations
    F1<float, 8> XS;                 // their solution
    F1<int16_t, 9> IR, IC;           // row and column permutations of EQUTN
    float FLO = 0.0f, FHI = 0.0f;    // bracket of the end-frequency search
    float FBEST = 0.0f, BEST = 0.0f;
    F1<float, 8> ABEST;
    int16_t ICHK = 0, ISTATE = 0, IROOT = 0;
    F2<float, 8, 8> STURM;           // Sturm sequence, one polynomial per column

    // ---- Region results ----------------------------------------------------------------------
    F1<float, 3> ER;                 // mean absolute residuals of E, F1, F2 (km)
    F1<float, 4> FC;                 // E start, foE, foF1, foF2 as used by the solutions
    float ZME = 0.0f, ZMF1 = 0.0f, ZMF2 = 0.0f;  // peak heights
    float YE = 9999.0f;              // semi-thickness of the E parabola
    int16_t IROOTE = 0, IROOTF1 = 0, IROOTF2 = 0;
    int32_t KF1MODE = 0, KF1MODEP = 0;
    float DFMIN = 99.0f;
    float HHALF = 9999.0f;           // real height at foF2/sqrt(2)
    F1<float, 9> EAFIT;              // auroral-E fit: 3 coefficients, base, peak, residual,
                                     // critical frequency, valley width, valley depth
    int16_t NEAROW = 0;              // rows of the tabulated auroral-E layer (groups 58/59)

    // ---- Valley ------------------------------------------------------------------------------
    float VW = 0.0f, VD = 0.0f, FV = 0.0f;
    float VW1 = 0.0f, VW2 = 0.0f, VW3 = 0.0f;
    F1<float, 3> VSLOPE;
    float ZENANG = 0.0f;             // solar zenith angle (degrees), negative before noon
    float YF1 = 9999.0f, YF2 = 9999.0f;  // parabolic semi-thickness of the F1 and F2 tops
    int16_t NXTRA = 0;               // extra low-frequency points for DATAUSED
    F1<float, 100> XF, XH;

    // ---- Result arrangement for output -------------------------------------------------------
    float FMAX = 0.0f;
    float VWOUT = 0.0f, VDOUT = 0.0f;  // output valley pair (width, depth)
    int16_t NCOEF = 0;               // the record's coefficient count
};

// A region of the solved profile, for direct evaluation of height against plasma frequency:
// h(f) = ZM + sqrt(u) * sum_k A(k) T*_{k-1}(u), u = ln(f/FE) / ln(FS/FE).
struct RegionProfile {
    float FS = 0.0f, FE = 0.0f, ZM = 0.0f;  // start and end plasma frequency, peak height
    F1<float, 5> A;
    int NN = 5;
};

// The region from plasma frequency FS to FE (MHz) with peak height ZM (km) and the NN (1..5)
// coefficients A[1..NN] (A points at element 0; the coefficients beyond NN are 0).
inline RegionProfile MAKEREGION(float FS, float FE, float ZM, const float* A, int NN = 5) {
    RegionProfile r;
    r.FS = FS;
    r.FE = FE;
    r.ZM = ZM;
    r.NN = NN;
    for (int k = 1; k <= NN; ++k) r.A(k) = A[k];
    return r;
}

// ---- Entry and trace set-up -----------------------------------------------------------------
void PROFIL1(Zelk& z);
void SETCV(Inversion& inv);
void SETRCE(Zelk& z, int16_t& IOK);
// Calendar date of day of year IDAY in year IYR (2 or 4 digits): 4-digit year, month, day.
void MONTHDAY(int16_t IYR, int16_t IDAY, int16_t& IYEAR, int16_t& IMON, int16_t& IDOM);

// ---- Kernels and virtual height -------------------------------------------------------------
float GOSUB(const Inversion& inv, float W, float F, float FN2, float FH);
void CDO(Inversion& inv);
void SIK(Inversion& inv);
void SIKP(Inversion& inv, float FP);
float DTST(const Inversion& inv, float U, int I);
void CHNGSIKP(Inversion& inv, float FP);
float VIRTUAL(const Inversion& inv, int K);
float RECVIRT(Inversion& inv, float F, int MODE);

// ---- Extraordinary-wave virtual heights ------------------------------------------------------
// Kernels of one sounding frequency for the X wave (scratch of CDX, SXIK, SXIKP).
struct XKernels {
    float F2X = 0.0f;                // F (F - FH): plasma frequency squared at X reflection
    float DF2X = 0.0f;               // F2X - FSTART^2, or 0 when the wave does not enter
    F1<float, MAXNN> GX;             // kernels over [FSTART, X reflection]
    F1<float, 5> GPX;                // kernels over [FSTART, FP]
};
float GXSUB(const Inversion& inv, float W, float F, float FN2, float FH);
void CDX(float FSTART, float FH, float F, XKernels& x);
void SXIK(const Inversion& inv, float FSTART, float FEND, int NN, float F, XKernels& x);
void SXIKP(const Inversion& inv, float FSTART, float FEND, int NN, float FP, float F,
           XKernels& x);
float RECVIRTX(const Inversion& inv, float F, int MODE);

// ---- Profile representation -------------------------------------------------------------------
// P and S are 5 x 5 work matrices; A and AP point at element 0 of 1-based vectors.
void SETLAMPT(int NN, float LAMBDA, F2<float, 5, 5>& P);
void SETS(int NN, const F2<float, 5, 5>& P, F2<float, 5, 5>& S);
void ATOAP(int NN, const F2<float, 5, 5>& S, const float* A, float* AP);
void CONTPRFL(int NN, float FOLD, float FTOP, const float* A, float FNEW, float* AP);
RegionProfile REGION(const Inversion& inv, int region);  // 1 E, 2 F1, 3 F2
float PROFILE_HEIGHT(const RegionProfile& r, float fN);   // real height at plasma frequency
float PROFILE_FN(const RegionProfile& r, float h);        // plasma frequency at real height
float PROFILE_FN(const RegionProfile& r, float h, float FLOW);  // same, searched in [FLOW, FE]

// ---- Data selection ---------------------------------------------------------------------------
void DATAEFFE(Zelk& z);
void DATAUSED(Zelk& z);
void THSMOOTH(Zelk& z, int K, float& H, float& DHDF);

// ---- Layer solver -----------------------------------------------------------------------------
void SETUP(Zelk& z);
void DENSTY(Zelk& z, float& ERR);
void ESTAB(Inversion& inv);
void EQUTN(Zelk& z, F2<float, 8, 9>& NEQ, int N, F1<float, 8>& XS);
void CHECKH(Inversion& inv, int16_t& ICHK);

// ---- Region sequencing ------------------------------------------------------------------------
void DECIDE(Zelk& z, int16_t& IOK);
void GOGXCOM(Inversion& inv, float& DIPK);
void HEIGHTCHK(Zelk& z);

// ---- E region ---------------------------------------------------------------------------------
void EPROF(Zelk& z, float& ER1);
void ECHAPMAN(Zelk& z, float& ERR);
void ZEROPROF(Inversion& inv, int K);
void FEWTERM(Zelk& z, float& ERR);
void EAPROF(Zelk& z, float& ERR);

// ---- Valley -----------------------------------------------------------------------------------
void MAHAGULY(Zelk& z);
void FNDDHV(Inversion& inv);
void PARAFITF(Inversion& inv);

// ---- Refined mode -----------------------------------------------------------------------------
// The X-wave trace of the F layer as the record holds it (MHz, km; missing heights kept).
struct XTrace {
    std::vector<float> f, h;
};
void SET_VALLEY(Inversion& inv, float VW, float rho);
void FIT_VALLEY(Zelk& z, const XTrace& x);
bool MERGE_F1(Inversion& inv);
void MERGED_F1_HEIGHT(Inversion& inv);
// The record's X trace of the F layer (groups 22-25 and 26-29).
XTrace X_TRACE(const Zelk& z);
// PROFIL1 in the mode the run asks for: the refined mode, falling back on the standard
// result when the refined mode does not invert the record.
void INVERT_RECORD(Zelk& z);

// ---- F1 and F2 regions ------------------------------------------------------------------------
void F1PROF(Zelk& z, float& ER2);
void FPROF(Zelk& z, float& ER3);
void FNDDHE(Zelk& z);
void FNDDHF1(Zelk& z);

}  // namespace zelk::inversion

// The true-height inversion: its shared working data (the Inversion area) and the
// routines that work on it.
//
// Conventions used by every routine of the inversion:
//  * Frequencies in MHz, heights in km, the dip in radians.
//  * Arrays are 1-based (core/farray.hpp). A routine that takes a coefficient vector as a raw
//    pointer is given F1::data(), i.e. a pointer to element 0, and reads elements 1..NN.
//  * Values persist from record to record; PROFIL1 clears the per-record results.
//  * 9999.0 marks a real result that was not determined.
//
// Glossary of the inherited short names of the area (kept because the diagnostics and the
// record layout use them):
//   IQUALE  record quality flags; IQUALE(2) = ISTAT the inversion status, IQUALE(4) = LF1
//           (1 when an F1 layer is scaled), IQUALE(1) the E-layer source (1 trace, 2 model
//           foE, 3 scaled foE)
//   CHARIN  the record's scaled characteristics 1..43 as read;  REALIN  real inputs (1, 2
//           latitude and longitude; 43, 44 characteristics 28 and 31)
//   FC      region boundaries: E start, foE, foF1, foF2 (MHz);  ER  mean residuals (km)
//   ZME, ZMF1, ZMF2  peak heights;  HBASE  start heights of the regions (km)
//   A, A_E, A_F1, A_F2  working and saved coefficients;  NN  their number;  IRGN  1 E, 2 F1, 3 F2
//   KF1MODE  0 normal, 1 gap mode (data begin well above the region start), 2 F1 layer
//           scaled without trace points, solved within the F trace;  IROOT  turning points of
//           the last solution (IROOTE, IROOTF1, IROOTF2 per region)
//   VW, VD  valley width (km) and depth (MHz);  VW1..VW3  its three parts;  FV  valley frequency
//   TRF/TRH  trace list;  FQ/HV  fit data;  YK  data explained by the region;  G, GP  kernels
//   EAFIT  auroral-E fit;  HMISS  missing-height marker;  FQINCR  frequency step (MHz)
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "core/markers.hpp"
#include "core/diag.hpp"
#include "core/farray.hpp"
#include "profile/profile.hpp"

namespace zelk::models {
struct Models;
}

namespace zelk::inversion {

// The profile representation the inversion solves for (profile/profile.hpp).
using profile::ATOAP;
using profile::CONTPRFL;
using profile::make_region;
using profile::profile_fn;
using profile::profile_height;
using profile::RegionProfile;
using profile::SETLAMPT;
using profile::SETS;

static constexpr int MAXTRC = 1024;   // capacity of the trace list and of the fit arrays
static constexpr int MAXLIN = 2048;   // number of frequency lines of the trace tables
static constexpr int MAXNN = 8;       // capacity of the coefficient vectors of the kernels
// Start plasma frequency of the E region and of the auroral-E layer (MHz).
static constexpr float FSTART_E = 0.2f;
// Width law of the valley: W0 = VLAW0 - VLAWSCALE ln(...) of the zenith angle (km), and the
// depth law rho = (FV/foE)^2 = 0.49 + 0.46 tanh((VLAW0 - W)/(2 VLAWSCALE)), at most 1.
static constexpr float VLAW0 = 59.45f;
static constexpr float VLAWSCALE = 14.63f;

// KF1MODE: how the F layers are solved (normal, order by order from a gap, F1 in the F trace).
static constexpr int32_t MODE_NORMAL = 0;
static constexpr int32_t MODE_GAP = 1;
static constexpr int32_t MODE_MERGED = 2;
// The parts of a virtual height recomputed through the profile (RECVIRT, RECVIRTX MODE).
static constexpr int RECVIRT_CURRENT = 1, RECVIRT_E = 2, RECVIRT_VALLEY = 3, RECVIRT_F1 = 4,
                     RECVIRT_ALL = 5;

// The parts of the refined mode (zelk-batch --refine). Each is a small step beside the
// standard stages and is off in the standard mode, whose results it never changes.
struct RefineOptions {
    bool valley = false;     // valley width and depth fitted to the O trace at the F foot
    bool xstart = false;     // ... and to the X trace of the record, when it has one
    bool scaled_fc = false;  // F1 and F2 peaks placed at the scaled critical frequencies
    bool f1_roots = false;   // an F1 layer rejected for its roots retried as part of F2
    bool gap = false;        // gap mode: an order rejected for a turning point at the foot
                             // of the layer retried with the slope there held
    bool any() const { return valley || xstart || scaled_fc || f1_roots || gap; }
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
    float HMISS = NO_VALUE;           // virtual height that marks a missing point
    float FOE = NO_VALUE;   int16_t IFOE = NO_LINE;    // scaled foE and its line
    float FMINE = NO_VALUE; int16_t MINFE = NO_LINE;   // lowest E frequency and its line
    float FOF1 = NO_VALUE;  int16_t IFOF1 = NO_LINE;   // scaled foF1 and its line
    float FOF2 = NO_VALUE;  int16_t IFOM = NO_LINE;    // scaled foF2 and its line
    float FMINF = NO_VALUE; int16_t MINFF = NO_LINE;   // lowest F frequency and its line
    F2<float, MAXLIN, 3> TRACEL;     // virtual height at frequency line K: J = 2 F, J = 3 E
    F2<int16_t, MAXLIN, 3> ITRCF;    // range-bin index of that height
    float FOF2P = 0.0f;              // foF2 carried with the profile, kept between records
    // The sunspot number ISSN, the date IYEAR, IMON, IDOM and LASTMON are shared with the
    // model predictions and live in the Models area (z.mod.ISSN, z.mod.IYEAR, ...).
    int16_t IEFLAG = 0;              // E-layer flag: 1 trace, 2 model foE, 3 scaled foE
    float HPF = NO_VALUE, HPF2 = NO_VALUE, HPE = NO_VALUE, HPES = NO_VALUE;  // h'F, h'F2, h'E, h'Es
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
    float FOEFIT = 0.0f;             // refined mode: the peak (MHz) of an unseen E layer
                                     // chosen by fit_e_peak; 0: the standard choice

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
    int16_t ISTAT() const { return IQUALE(2); }
    int16_t LF1() const { return IQUALE(4); }
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
    // Refined gap mode: DENSTY fits the coefficients with the slope dh/dfN of the profile at
    // the region's start held at foot_slope (km/MHz) while foot_held is set.
    bool foot_held = false;
    float foot_slope = 0.0f;
    // Refined mode (xstart): the record's X trace (MHz, km), whose points that reflect low in
    // an F region join that region's least squares beside the O points (add_x_rows).
    int16_t NXTR = 0;
    F1<float, MAXTRC> XTRF, XTRH;

    // ---- Region results ----------------------------------------------------------------------
    F1<float, 3> ER;                 // mean absolute residuals of E, F1, F2 (km)
    F1<float, 4> FC;                 // E start, foE, foF1, foF2 as used by the solutions
    float ZME = 0.0f, ZMF1 = 0.0f, ZMF2 = 0.0f;  // peak heights
    float YE = NO_VALUE;              // semi-thickness of the E parabola
    int16_t IROOTE = 0, IROOTF1 = 0, IROOTF2 = 0;
    int32_t KF1MODE = 0, KF1MODEP = 0;
    float DFMIN = 99.0f;
    float HHALF = NO_VALUE;           // real height at foF2/sqrt(2)
    F1<float, 9> EAFIT;              // auroral-E fit: 3 coefficients, base, peak, residual,
                                     // critical frequency, valley width, valley depth
    int16_t NEAROW = 0;              // rows of the tabulated auroral-E layer (groups 58/59)

    // ---- Valley ------------------------------------------------------------------------------
    float VW = 0.0f, VD = 0.0f, FV = 0.0f;
    float VW1 = 0.0f, VW2 = 0.0f, VW3 = 0.0f;
    F1<float, 3> VSLOPE;
    float ZENANG = 0.0f;             // solar zenith angle (degrees), negative before noon
    float YF1 = NO_VALUE, YF2 = NO_VALUE;  // parabolic semi-thickness of the F1 and F2 tops
    int16_t NXTRA = 0;               // extra low-frequency points for DATAUSED
    F1<float, 100> XF, XH;

    // ---- Result arrangement for output -------------------------------------------------------
    float FMAX = 0.0f;
    float VWOUT = 0.0f, VDOUT = 0.0f;  // output valley pair (width, depth)
    int16_t NCOEF = 0;               // the record's coefficient count
};

// ---- Inversion status -------------------------------------------------------------------------
// The values of ISTAT (IQUALE(2)): 2 the profile was inverted, every other value says why not.
// These are the only spellings of the codes (pipeline::Status gives them words).
static constexpr int16_t ISTAT_NO_TRACE = 0;     // no usable trace points (or not yet inverted)
static constexpr int16_t ISTAT_OK = 2;           // profile inverted
static constexpr int16_t ISTAT_E_RANGE = 4;      // E region frequency range error
static constexpr int16_t ISTAT_F2_RANGE = 5;     // F2 end frequency not above its start
static constexpr int16_t ISTAT_F1_RANGE = 6;     // F1 end frequency not above its start
static constexpr int16_t ISTAT_E_BAD = 7;        // E trace physically unreasonable
static constexpr int16_t ISTAT_F2_BAD = 8;       // F2 data or peak unreasonable
static constexpr int16_t ISTAT_F1_BAD = 9;       // F1 data unreasonable
static constexpr int16_t ISTAT_F1_THICK = 10;    // F1 peak out of bounds
static constexpr int16_t ISTAT_F1_OSC = 11;      // F1 solution oscillates
static constexpr int16_t ISTAT_F2_FEW = 12;      // fewer than 3 F2 points
static constexpr int16_t ISTAT_F2_OSC = 18;      // F2 oscillates or fits badly
static constexpr int16_t ISTAT_F1_ROOTS = 25;    // F1 roots too severe to correct
static constexpr int16_t ISTAT_F2_ROOTS = 26;    // F2 roots too severe to correct

// ---- Display stages -----------------------------------------------------------------------------
// The points of the inversion at which a display may draw. The inversion only announces
// them, with a read-only view of its area; what is drawn is the display's business
// (pipeline/plot_hooks.hpp names and documents each stage for the implementers).
enum class Stage : int8_t {
    TRACE_LIST = 0,   // SETRCE built a good trace list (TRF/TRH, NFQE, NFQF1, NFQF)
    E = 1,            // the E region was solved (FC(1..2), ZME, A_E, YE)
    VALLEY = 2,       // the valley was modelled (FV, VSLOPE, VW, VW1..VW3, VD)
    F1 = 3,           // the F1 region was solved (FC(2..3), ZMF1, A_F1)
    F2 = 4,           // the F2 region was solved (FC(3..4), ZMF2, A_F2)
    LAYER = 5,        // after each solved layer; draws nothing today
    DATA = 10,        // a region stage selected its data (FQ/HV, NFQ, IRGN)
};

// Receiver of the display stages; the default receives nothing.
class StageSink {
public:
    virtual ~StageSink() = default;
    virtual void stage(Stage, const Inversion&) {}
};

// What an inversion routine is given besides its data areas: the diagnostic log and the
// receiver of the display stages.
struct Context {
    const Log& log;
    StageSink& plot;
};

// ---- Entry and trace set-up -----------------------------------------------------------------
// Fills the derivative table CV of the profile basis (rows of DTST_1..DTST_8).
void SETCV(Inversion& inv);
// Builds the trace list TRF/TRH (E, F1, F2 points) from the trace tables; FOEPRE (MHz) bounds
// the F trace when foE is not scaled. IOK = 1 for a usable list, else 0 with ISTAT = 0.
void SETRCE(Inversion& inv, const Context& cx, float FOEPRE, int16_t& IOK);
// Calendar date of day of year IDAY in year IYR (2 or 4 digits): 4-digit year, month, day.
void month_day(int16_t IYR, int16_t IDAY, int16_t& IYEAR, int16_t& IMON, int16_t& IDOM);

// ---- Kernels and virtual height -------------------------------------------------------------
// W times the group refractive index of the ordinary wave at frequency F, plasma frequency
// squared FN2 and gyrofrequency FH (MHz).
float GOSUB(const Inversion& inv, float W, float F, float FN2, float FH);
// Squared fit frequencies F2K and their excess DF2K over FSTART^2.
void CDO(Inversion& inv);
// Kernels G(i,K) of the region being solved over [FSTART, FQ(K)].
void SIK(Inversion& inv);
// Partial kernels GP(i,K) over [FSTART, FP] (FP in MHz).
void SIKP(Inversion& inv, float FP);
// Derivative DTST_I(U) of the I-th basis function (from CV); 0 for I outside 1..8.
float DTST(const Inversion& inv, float U, int I);
// The derivative polynomial of the coefficients A(1..NN) (A points at element 0) at the
// region's start: sum A(i) DTST_i(1), twice dh/du there.
float start_derivative(const Inversion& inv, const float* A, int NN);
// Adds the partial kernels GP, re-expressed for the start frequency FP, to G.
void CHNGSIKP(Inversion& inv, float FP);
// Model virtual height (km) at FQ(K) of the current coefficients and the layers below.
float VIRTUAL(const Inversion& inv, int K);
// Virtual height (km) at sounding frequency F through the solved profile up to IRGN; MODE
// selects the part (1 current region, 2 E, 3 valley, 4 F1, 5 all). Leaves the solver's state
// as it found it.
float RECVIRT(Inversion& inv, float F, int MODE);
// RECVIRT at the N frequencies F(0..N-1) into H(0..N-1), the same floats, the kernels of each
// part built once for all of them. F may lie in the solver's arrays (FQ, for one): each batch
// is copied before FQ serves as scratch.
void RECVIRT_MANY(Inversion& inv, const float* F, int N, int MODE, float* H);

// ---- Extraordinary-wave virtual heights ------------------------------------------------------
// Kernels of one sounding frequency for the X wave (scratch of CDX, SXIK, SXIKP).
struct XKernels {
    float F2X = 0.0f;                // F (F - FH): plasma frequency squared at X reflection
    float DF2X = 0.0f;               // F2X - FSTART^2, or 0 when the wave does not enter
    F1<float, MAXNN> GX;             // kernels over [FSTART, X reflection]
    F1<float, 5> GPX;                // kernels over [FSTART, FP]
};
// W times the group refractive index of the extraordinary wave at frequency F, plasma
// frequency squared FN2 and gyrofrequency FH (MHz).
float GXSUB(const Inversion& inv, float W, float F, float FN2, float FH);
// Squared plasma frequency of X reflection at F and its excess over FSTART^2.
void CDX(float FSTART, float FH, float F, XKernels& x);
// X-wave kernels GX over [FSTART, FEND] of an NN-term region at sounding frequency F.
void SXIK(const Inversion& inv, float FSTART, float FEND, int NN, float F, XKernels& x);
// Partial X-wave kernels GPX over [FSTART, FP].
void SXIKP(const Inversion& inv, float FSTART, float FEND, int NN, float FP, float F,
           XKernels& x);
// SXIKP at the N frequencies F(0..N-1), the kernels of frequency k in GPX[k][1..NN] (the same
// floats as one at a time; the nodes set up once).
void SXIKP_MANY(const Inversion& inv, float FSTART, float FEND, int NN, float FP, const float* F,
                int N, float (*GPX)[6]);
// X-wave virtual height (km) at sounding frequency F through the solved profile (MODE as for
// RECVIRT); reads the Inversion area only.
float RECVIRTX(const Inversion& inv, float F, int MODE);
// RECVIRTX at the N frequencies F(0..N-1) into H(0..N-1), the same floats as one at a time.
void RECVIRTX_MANY(const Inversion& inv, const float* F, int N, int MODE, float* H);

// ---- Profile representation (profile/profile.hpp) -------------------------------------------
// The solved profile of one region (1 E, 2 F1, 3 F2) from FC, ZME/ZMF1/ZMF2 and A_E/A_F1/A_F2.
RegionProfile REGION(const Inversion& inv, int region);

// ---- Data selection ---------------------------------------------------------------------------
// Removes the fit points of region IRGN that cannot be its echoes (below its floor, missing).
void DATAEFFE(Inversion& inv, const Context& cx);
// The data set the solver fits for an F1 or F2 region (with extra low-frequency points).
void DATAUSED(Inversion& inv, const Context& cx);
// Smoothed virtual height H (km) and slope DHDF (km/MHz) at the fit point FQ(K).
void THSMOOTH(Inversion& inv, int K, float& H, float& DHDF);

// ---- Layer solver -----------------------------------------------------------------------------
// Prepares region IRGN for the solver: FSTART, FEND, NN and the fit data FQ/HV. For the E
// region it refreshes the model foE (mod.FOEPRE) when the sunspot number changed.
void SETUP(Inversion& inv, models::Models& mod, const Context& cx);
// Solves the prepared region: searches FEND and the coefficients A; ERR the mean residual (km).
void DENSTY(Inversion& inv, const Context& cx, float& ERR);
// The normal equations NEQ of the least-squares fit of YK.
void ESTAB(Inversion& inv);
// Solves the N x N system NEQ (right-hand side in column N+1) into XS.
void EQUTN(Inversion& inv, const Context& cx, F2<float, 8, 9>& NEQ, int N, F1<float, 8>& XS);
// ICHK: number of turning points of the real height inside the region for A(1..NN).
void CHECKH(Inversion& inv, int16_t& ICHK);

// ---- Region sequencing ------------------------------------------------------------------------
// Dip constants GC1..GC4, GX1, GX2 of the group refractive index for the dip DIPK (rad).
void GOGXCOM(Inversion& inv, float& DIPK);
// Rejects region IRGN (ISTAT 9 for F1, 8 otherwise) when its true heights reach the
// virtual heights over 5 % or more of its frequency range.
void HEIGHTCHK(Inversion& inv, const Context& cx);

// ---- E region ---------------------------------------------------------------------------------
// The E stage: data, parabolic fit and checks; ER1 the mean residual (km); ISTAT 4 or 7.
void EPROF(Inversion& inv, models::Models& mod, const Context& cx, float& ER1);
// Fits the parabolic E layer to FQ/HV; ERR the mean absolute residual (km).
void ECHAPMAN(Inversion& inv, float& ERR);
// Coefficients of the parabolic layer of unit semi-thickness into A(1..NN).
void ZEROPROF(Inversion& inv, int K);
// Retries region IRGN (2 F1, 3 F2) with fewer terms after a failed full solution.
void FEWTERM(Inversion& inv, const Context& cx, float& ERR);
// The auroral-E fit of the trace AUXFN/AUXHT (frequencies MHz, heights km; ends at the first 0).
void EAPROF(Inversion& inv, const F1<float, 999>& AUXFN, const F1<float, 999>& AUXHT, float& ERR);

// ---- Valley -----------------------------------------------------------------------------------
// Lowest plasma frequency of the valley bottom (MHz), for the modelled and the fitted valley.
static constexpr float FVMIN = 0.2f;
// The E-F valley after the E layer: width VW (VW1..VW3), depth VD, falling side VSLOPE.
void MAHAGULY(Inversion& inv, models::Models& mod, const Context& cx);
// Group path of the valley DHV(K) at each fit frequency.
void FNDDHV(Inversion& inv);
// Semi-thickness (YF1 or YF2) of the parabola matching the top of the layer just solved.
void PARAFITF(Inversion& inv);

// ---- Refined mode -----------------------------------------------------------------------------
// The X-wave trace of the F layer as the record holds it (MHz, km; missing heights kept).
struct XTrace {
    std::vector<float> f, h;
};
// The valley of width VW (km) and depth rho = (FV/foE)^2 (rho <= 0: the depth law of the
// width), modelled as MAHAGULY models its own.
void set_valley(Inversion& inv, float VW, float rho);
// The depth rho = (FV/foE)^2 that MAHAGULY's depth law gives a valley of width VW (km).
float law_depth(float VW);
// FV, VD, VW1..VW3 and VSLOPE of a valley of width VW > 0 (already set) and depth rho <= 1.
void valley_sides(Inversion& inv, float rho);
// The group path of a valley part, never less than the part's width W > 0: the float
// std::fmax(PATH, W) gives (a NaN path gives W), without its library call.
inline float at_least_width(float PATH, float W) { return PATH > W ? PATH : W; }
// The valley, after MAHAGULY, that best explains the O trace at the foot of the F layer and
// the X trace X (refine.valley, refine.xstart).
// Returns the misfit (km) of the valley kept.
float fit_valley(Inversion& inv, models::Models& mod, const Context& cx, const XTrace& x);
// After EPROF, when the E layer is unseen and the standard method ended it just below the
// first F echo: the E peak below that which, with its fitted valley, best explains the
// traces (refine.valley, refine.xstart). True when it replaced the E layer and the valley
// (MAHAGULY and fit_valley are then done); false, changing nothing, otherwise.
bool fit_e_peak(Inversion& inv, models::Models& mod, const Context& cx, const XTrace& x);
// An F1 layer rejected for its roots given to FPROF as a merged F1 layer (refine.f1_roots);
// false, changing nothing, when it does not apply.
bool merge_f1(Inversion& inv);

// Refined mode (xstart): adds to the normal equations NEQ of the current F region (solved
// in the variable that starts at FSD for a profile that starts at FS0, end FEND) the rows of
// the X points XTRF/XTRH that reflect inside the region, low on the F layer: the lowest
// below the first O echo, where in gap mode the O trace is missing.
void add_x_rows(Inversion& inv, float FS0, float FSD);
// The record's X trace X kept in XTRF/XTRH (NXTR points) for add_x_rows when xstart is among
// the refined parts; NXTR = 0 otherwise.
void keep_x_trace(Inversion& inv, const XTrace& x);
// Slope dh/dfN (km/MHz) at the start FS of a region that ends at FE, of the coefficients
// A(1..NN) (A points at element 0).
float slope_at_start(const Inversion& inv, const float* A, int NN, float FS, float FE);
// True when the coefficients A(1..NN) of the current region, rejected by DENSTY, turn at the
// foot of the layer: the height falls towards the start frequency instead of rising.
bool turns_at_foot(const Inversion& inv);
// Gap mode, refined (refine.gap): the order NN just rejected for a turning point at the
// foot retried with the slope at the region's start held at SLOPE (km/MHz). Accepted when
// the solver accepts it and its mean virtual-height error over the N0 observed points is no
// larger than LOWER (the order below's); ERR its residual. On refusal IROOT stays above 0.
bool hold_foot(Inversion& inv, const Context& cx, int N0, float FCEND, float SLOPE,
               float LOWER, float& ERR);
// Mean |virtual height recomputed through the solved profile - observed| (km) over the fit
// points 1..N0 of the current region, with its coefficients A(1..NN) and end frequency FE
// in place of the saved ones (which are left as they were).
float observed_misfit(Inversion& inv, const float* A, int NN, float FE, int N0);

// ---- F1 and F2 regions ------------------------------------------------------------------------
// The F1 stage (or the choice to leave a trace-less F1 layer to FPROF, KF1MODE 2); ER2 the
// mean residual (km).
void F1PROF(Inversion& inv, models::Models& mod, const Context& cx, float& ER2);
// Returns true when the F2 layer was accepted: the profile is complete and the products of
// the bottomside (1 km table, shape parameters, electron content) are due.
bool FPROF(Inversion& inv, models::Models& mod, const Context& cx, float& ER3);
// Group path of the E layer DHE(K) at each fit frequency.
void FNDDHE(Inversion& inv, const Context& cx);
// Group path of the F1 layer DHF1(K) at each fit frequency of the F2 region.
void FNDDHF1(Inversion& inv, const Context& cx);

}  // namespace zelk::inversion

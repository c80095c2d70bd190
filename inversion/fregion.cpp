// The F1 and F2 stages of the region sequencing.
//
// Each stage prepares its region's data (SETUP, DATAEFFE, DATAUSED), removes from the
// observed virtual heights the group delay of everything below the region (FNDDHE for the
// E layer, FNDDHV for the valley, FNDDHF1 for the F1 layer), solves the region with DENSTY
// (FEWTERM when the full solution fails) and accepts or rejects the solution with bounds on
// its peak height and coefficients.
//
// Two special modes:
//  * gap mode (KF1MODE 1): the region's data begin more than four frequency steps above
//    its lower boundary. The solution is built order by order; after each accepted order
//    the gap is filled with synthetic points whose virtual heights are recomputed from the
//    profile solved so far, and the next order is fitted to observed and synthetic points.
//  * merged F1 (KF1MODE 2): an F1 layer is scaled but has no trace points. FPROF first
//    solves the whole F trace in gap mode, takes the points up to foF1 as the F1 layer
//    (three coefficients), then solves the F2 layer above it.
//
// After an accepted F2 solution FPROF computes HHALF and returns true: the pipeline then runs
// the products (the 1 km N(h) table, the shape parameters B0/B1/D1, the electron content).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>

#include "core/rounding.hpp"
#include "inversion/inversion.hpp"
#include "core/fortran_io.hpp"
#include "models/models.hpp"

namespace zelk::inversion {

namespace {


// foF1 below this (MHz) counts as a scaled F1 layer for the merged mode.
static constexpr float FOF1_SCALED = 50.0f;
// Data beginning more than this many frequency steps above the region's lower boundary
// are solved in gap mode.
static constexpr int GAP_STEPS = 4;
// Highest order of the gap mode and of the F regions.
static constexpr int16_t NN_MAX = 5;
// Order of the merged F1 solution.
static constexpr int16_t NN_MERGED_F1 = 3;
// Margin above foE of the lowest synthetic F2 point (MHz).
static constexpr float GAP_F2_MARGIN = 0.0001f;
// Acceptance bounds: largest coefficient (km), highest F1 and F2 peaks (km), largest mean
// residual of an F2 solution (km).
static constexpr float COEF_MAX = 999.0f;
static constexpr float ZMF1_MAX = 300.0f;
static constexpr float ZMF2_MAX = 800.0f;
static constexpr float ER_F2_MAX = 99.999f;
// Smallest data-frequency spacing before the gap test has seen any pair (MHz).
static constexpr float DFMIN_START = 99.0f;
// Critical frequency over the plasma frequency of half the peak density: sqrt(2).
static constexpr float SQRT2 = 1.4142135f;

// Nearest integer, halves away from zero; values beyond the int range are clamped.
int nint(float x) {
    if (!(x < 2.0e9f)) return x > 0.0f ? 2000000000 : 0;
    if (!(x > -2.0e9f)) return -2000000000;
    return static_cast<int>(std::lround(x));
}

// A value of a message line under Fw.d (F10.3 unless given).
std::ostream& num(std::ostream& os, float x, int w = 10, int d = 3) {
    const fio::EditField fd{'F', 0, static_cast<int16_t>(w), static_cast<int16_t>(d), 0};
    char buf[32];
    fio::edit_real(buf, fd, x);
    return os.write(buf, w);
}

bool debug(const Context& cx, int level) { return cx.log.IDEBUG >= level; }

// Largest |A(j)|, j = 1..n, of a 1-based coefficient vector.
// A NaN coefficient counts as infinitely large, so that it fails every bound.
template <int N>
float largest(const F1<float, N>& a, int n) {
    float m = 0.0f;
    for (int j = 1; j <= n; ++j) {
        if (std::isnan(a(j))) return HUGE_VALF;
        m = std::max(m, std::fabs(a(j)));
    }
    return m;
}

// Sum A(j), j = 1..n.
template <int N>
float sum(const F1<float, N>& a, int n) {
    float s = 0.0f;
    for (int j = 1; j <= n; ++j) s += a(j);
    return s;
}

// Gap test. DFMIN = the smallest spacing of consecutive fit frequencies; the data begin
// nint((FQ(1) - FLOWER) / DFMIN) spacings above the region's lower boundary FLOWER. More
// than four sets KF1MODE = 1. Frequencies that do not rise (DFMIN <= 0, possible when
// extra low-frequency points were appended behind the data) give no gap mode.
void gap_test(Inversion& inv, float FLOWER) {
    inv.DFMIN = DFMIN_START;
    for (int K = 1; K <= inv.NFQ - 1; ++K)
        inv.DFMIN = std::min(inv.DFMIN, inv.FQ(K + 1) - inv.FQ(K));
    if (inv.NFQ < 1 || !(inv.DFMIN > 0.0f)) return;
    if (nint((inv.FQ(1) - FLOWER) / inv.DFMIN) > GAP_STEPS) inv.KF1MODE = MODE_GAP;
}

// Solves the current region with DENSTY, falling back on FEWTERM (4, 3 and, for F2, 2
// coefficients) when the full solution is rejected; FEWONLY goes to FEWTERM at once. ERR
// receives the mean absolute residual (km). Returns how many entries of A belong to the
// solution: FEWTERM clears A before each order, so after it every entry up to the largest
// order it tries is meaningful (zero beyond the order found), whatever NN it restores.
int solve(Inversion& inv, const Context& cx, float& ERR, bool FEWONLY) {
    if (!FEWONLY) {
        DENSTY(inv, cx, ERR);
        if (inv.IROOT == 0) return inv.NN;
    }
    FEWTERM(inv, cx, ERR);
    return std::max<int>(inv.NN, 4);
}

// Group paths of the layers below the current region at the fit frequencies: E layer and
// valley, and for the F2 region the F1 layer (nothing when there is none). The F1 path is
// needed in gap mode as in the normal solution: without it an F2 layer above a solved F1
// layer would have to explain the F1 layer's thickness itself, while the synthetic points
// (RECVIRT) include it.
void lower_paths(Inversion& inv, const Context& cx) {
    FNDDHE(inv, cx);
    FNDDHV(inv);
    if (inv.IRGN == 3) FNDDHF1(inv, cx);
}

// Gap mode: solves the current region (IRGN 2 or 3) order by order. Order 1 is fitted to the
// observed points; after each accepted order the gap between the region's lower limit and
// the first observed frequency FQ(1) is filled with synthetic points one frequency step
// apart, appended behind the N0 observed points, whose virtual heights come from the
// profile solved so far (RECVIRT through all solved regions); the next order is fitted to
// observed and synthetic points. The end-frequency cell of the region (FC(3) or FC(4)) is
// reset to its value on entry before every order, so each order searches the same bracket.
//
// Stops after order 5 or at the first order the solver rejects (IROOT > 0): the last
// accepted order then stands, with its coefficients, its end frequency and IROOT = 0. In the
// refined mode (refine.gap) an order rejected because it turns at the foot of the layer is
// first retried with its slope at the region's start held (hold_foot, refine.cpp).
// Writes A, NN, FEND, FC(IRGN+1), FQ/HV/NFQ (synthetic points included) and the region's
// saved coefficients (A_F1 or A_F2). ERR = the residual of the accepted order (km). The
// region's error ER is not set in this mode.
void gap_mode(Inversion& inv, const Context& cx, float& ERR) {
    const bool f1 = inv.IRGN == 2;
    const int iend = inv.IRGN + 1;
    const float fcend = inv.FC(iend);
    const float flimit = f1 ? inv.FC(2) : inv.FC(2) + GAP_F2_MARGIN;
    const int16_t n0 = inv.NFQ;
    F1<float, NN_MAX> akeep;
    int16_t nnkeep = 0;
    float fckeep = fcend, fendkeep = inv.FEND, errkeep = 0.0f;
    float err = 0.0f;
    // Refined: the smallest slope dh/dfN at the region's start among the accepted orders.
    float slope = HUGE_VALF;

    inv.NN = 1;
    lower_paths(inv, cx);
    inv.FC(iend) = fcend;
    DENSTY(inv, cx, err);
    while (inv.IROOT == 0) {
        nnkeep = inv.NN;
        for (int j = 1; j <= nnkeep; ++j) {
            akeep(j) = inv.A(j);
            (f1 ? inv.A_F1(j) : inv.A_F2(j)) = inv.A(j);
        }
        fckeep = inv.FC(iend);
        fendkeep = inv.FEND;
        errkeep = err;
        if (inv.refine.gap) {
            const float s = slope_at_start(inv, akeep.data(), nnkeep, inv.FSTART, fckeep);
            if (s > 0.0f) slope = std::min(slope, s);
        }

        int added = 0;
        for (int k = 1; n0 + k <= MAXTRC; ++k) {
            const float f = round3(inv.FQ(1) - static_cast<float>(k) * inv.FQINCR);
            if (!(f > flimit)) break;
            inv.FQ(n0 + k) = f;
            added = k;
        }
        // Their virtual heights in one batch (the same floats as one at a time).
        RECVIRT_MANY(inv, inv.FQ.data() + n0 + 1, added, RECVIRT_ALL, inv.HV.data() + n0 + 1);
        inv.NFQ = static_cast<int16_t>(n0 + added);
        if (inv.NN >= NN_MAX) break;

        inv.NN = static_cast<int16_t>(inv.NN + 1);
        lower_paths(inv, cx);
        inv.FC(iend) = fcend;
        DENSTY(inv, cx, err);
        // Refined: an order that turns at the foot of the layer, in the gap below the
        // observed points where only the lower orders' synthetic points hold it, is tried
        // again with its slope there held, no steeper than the lower orders' (hold_foot); it
        // stands only when it fits the observed points at least as well as the order below.
        // Without synthetic points (a merged F1 layer whose trace has no gap) the foot is
        // observed and the rejection stands.
        if (inv.refine.gap && inv.IROOT > 0 && inv.NFQ > n0 && turns_at_foot(inv) &&
            slope < HUGE_VALF) {
            const float lower = observed_misfit(inv, akeep.data(), nnkeep, fckeep, n0);
            hold_foot(inv, cx, n0, fcend, slope, lower, err);
        }
    }
    if (inv.IROOT > 0 && nnkeep > 0) {
        inv.IROOT = 0;
        inv.A.fill(0.0f);
        for (int j = 1; j <= nnkeep; ++j) inv.A(j) = akeep(j);
        inv.NN = nnkeep;
        inv.FC(iend) = fckeep;
        inv.FEND = fendkeep;
    }
    ERR = nnkeep > 0 ? errkeep : err;
    if (inv.refine.gap && debug(cx, 2))
        cx.log.os() << "  GAP MODE " << (f1 ? "F1" : "F2") << ": ORDER " << nnkeep << " KEPT\n";
}

// Writes the message of a rejected F1 root check and sets ISTAT; true when IROOT is 0.
bool f1_roots_ok(Inversion& inv, const Context& cx) {
    if (inv.IROOT == 0) return true;
    if (inv.IROOT == 1) {
        inv.ISTAT() = ISTAT_F1_ROOTS;
        if (debug(cx, 2)) cx.log.os() << "   F1 LAYER ROOTS TOO SEVERE TO CORRECT!\n";
    } else {
        inv.ISTAT() = ISTAT_F1_OSC;
        if (debug(cx, 2)) cx.log.os() << "   OSCILLATING F1 LAYER SOLUTION!\n";
    }
    return false;
}

// F1 peak ZMF1 = HBASE(2) - sum of A_F1 and its bounds: every coefficient within 999 km,
// ZME < ZMF1 <= 300 km. Sets ISTAT 10 and returns false when a bound is broken.
bool f1_peak_ok(Inversion& inv, const Context& cx) {
    inv.ZMF1 = inv.HBASE(2) - sum(inv.A_F1, NN_MAX);
    const bool ok = largest(inv.A_F1, NN_MAX) <= COEF_MAX && inv.ZMF1 <= ZMF1_MAX &&
                    inv.ZMF1 > inv.ZME;
    if (ok) return true;
    if (debug(cx, 2)) {
        cx.log.os() << " ZMF1=";
        num(cx.log.os(), inv.ZMF1) << " : F1 LAYER SOLUTION TOO THICK!\n";
    }
    inv.ISTAT() = ISTAT_F1_THICK;
    return false;
}

// Copies the first N entries of A into a saved coefficient vector, clearing the rest.
void keep_coefficients(const Inversion& inv, int N, F1<float, 7>& SAVED) {
    SAVED.fill(0.0f);
    for (int j = 1; j <= std::min<int>(N, NN_MAX); ++j) SAVED(j) = inv.A(j);
}

void range_error(Inversion& inv, const Context& cx, const char* layer, const char* region) {
    std::ostream& os = cx.log.os();
    os << ' ' << layer << " LAYER: FSTART,FEND=";
    num(os, inv.FSTART);
    num(os, inv.FEND) << '\n';
    os << " DATA ERROR: " << region << "-REGION FREQUENCY RANGE ERROR!\n";
}

// Merged F1 (KF1MODE 2), after the whole F trace was solved in gap mode: the observed and
// synthetic points with FC(2) < f <= foF1, taken from the last to the first, become the F1
// data; the F1 layer (3 coefficients) is solved with its top at foF1. On acceptance the F2
// region is set to start at the F1 peak (HBASE(3) = ZMF1, FSTART = FC(3)) and KF1MODE is
// reset. Returns false with ISTAT set when the F1 layer is rejected.
bool merged_f1(Inversion& inv, const Context& cx) {
    F1<float, MAXTRC> fq, hv;
    int n = 0;
    for (int K = inv.NFQ; K >= 1; --K) {
        if (inv.FC(2) < inv.FQ(K) && inv.FQ(K) <= inv.FOF1) {
            ++n;
            fq(n) = inv.FQ(K);
            hv(n) = inv.HV(K);
        }
    }
    inv.FQ = fq;
    inv.HV = hv;
    inv.NFQ = static_cast<int16_t>(n);
    if (n == 0) {
        // No point of the F trace lies between foE and foF1: nothing to solve the F1 from.
        if (debug(cx, 2)) cx.log.os() << "  F1 TRACE UNREASONABLE!\n";
        inv.ISTAT() = ISTAT_F1_BAD;
        return false;
    }

    inv.FC(3) = inv.FOF1;
    inv.IRGN = 2;
    inv.FSTART = inv.FC(2);
    inv.NN = NN_MERGED_F1;
    FNDDHE(inv, cx);
    FNDDHV(inv);
    float err = 0.0f;
    const int ncoef = solve(inv, cx, err, false);
    keep_coefficients(inv, ncoef, inv.A_F1);
    inv.IROOTF1 = inv.IROOT;
    inv.ER(2) = err;
    if (!f1_roots_ok(inv, cx)) return false;
    if (!f1_peak_ok(inv, cx)) return false;

    PARAFITF(inv);
    cx.plot.stage(Stage::F1, inv);
    cx.plot.stage(Stage::LAYER, inv);
    inv.HBASE(3) = inv.ZMF1;
    inv.KF1MODEP = MODE_MERGED;
    inv.KF1MODE = MODE_NORMAL;
    inv.FSTART = inv.FC(3);
    return true;
}

// HHALF: real height at plasma frequency foF2/sqrt(2), from the F2 region when that
// frequency lies at or above FC(3), else from the F1 region when at or above FC(2), else
// from the E region. The region's coefficients are left in A(1..5).
void half_density_height(Inversion& inv) {
    const float f = inv.FC(4) / SQRT2;
    const int region = f >= inv.FC(3) ? 3 : (f >= inv.FC(2) ? 2 : 1);
    const RegionProfile p = REGION(inv, region);
    for (int j = 1; j <= NN_MAX; ++j) inv.A(j) = p.A(j);
    inv.HHALF = profile_height(p, f);
}

}  // namespace

// FNDDHE: group path of the E layer at each fit frequency.
//
// Given the solved E layer (FC(1), FC(2), HBASE(1), A_E, ZME) and the fit frequencies
// FQ(1..NFQ). DHE(K) = HBASE(1) + sum of GP(j,K) A_E(j), j = 1..3, with the partial kernels
// of SIKP over the whole E region, raised to ZME when smaller. NN, FSTART and FEND are
// saved and restored; GP is overwritten.
void FNDDHE(Inversion& inv, const Context& cx) {
    const int16_t nn = inv.NN;
    const float fs = inv.FSTART, fe = inv.FEND;
    inv.NN = 3;
    inv.FSTART = inv.FC(1);
    inv.FEND = inv.FC(2);
    SIKP(inv, inv.FC(2));
    const bool list = cx.log.IDEBUG > 5;
    if (list) cx.log.os() << "      K    FF0    DHE     ATE\n";
    for (int K = 1; K <= inv.NFQ; ++K) {
        float h = inv.HBASE(1);
        for (int j = 1; j <= 3; ++j) h += inv.GP(j, K) * inv.A_E(j);
        inv.DHE(K) = std::max(h, inv.ZME);
        if (list) {
            cx.log.os() << fio::edit_value("(I7)", K);
            num(cx.log.os(), inv.FQ(K), 8);
            num(cx.log.os(), inv.DHE(K), 9);
            num(cx.log.os(), inv.ZME, 9) << '\n';
        }
    }
    inv.NN = nn;
    inv.FSTART = fs;
    inv.FEND = fe;
}

// FNDDHF1: group path of the F1 layer at each fit frequency of the F2 region.
//
// DHF1 is cleared (all entries). When an F1 layer exists (FC(3) differs from FC(2)):
// DHF1(K) = sum of GP(j,K) A_F1(j), j = 1..5, with the partial kernels of SIKP over the F1
// region from FC(2) to FC(3), raised to the F1 thickness ZMF1 - HBASE(2) when smaller. All
// five F1 coefficients are used (those beyond the order of the F1 solution are 0). NN,
// FSTART and FEND are saved and restored; GP is overwritten.
void FNDDHF1(Inversion& inv, const Context& cx) {
    inv.DHF1.fill(0.0f);
    if (inv.FC(3) == inv.FC(2)) return;
    const int16_t nn = inv.NN;
    const float fs = inv.FSTART, fe = inv.FEND;
    inv.NN = NN_MAX;
    inv.FSTART = inv.FC(2);
    inv.FEND = inv.FC(3);
    SIKP(inv, inv.FC(3));
    const float thick = inv.ZMF1 - inv.HBASE(2);
    for (int K = 1; K <= inv.NFQ; ++K) {
        float h = 0.0f;
        for (int j = 1; j <= NN_MAX; ++j) h += inv.GP(j, K) * inv.A_F1(j);
        inv.DHF1(K) = std::max(h, thick);
    }
    if (cx.log.IDEBUG > 5) {
        std::ostream& os = cx.log.os();
        os << " OUTPUT IN 72X.FOR DHF1:\n FS=";
        num(os, inv.FSTART) << " FM=";
        num(os, inv.FEND) << "\n ZS=";
        num(os, inv.ZME + inv.VW) << " ZM=";
        num(os, inv.ZMF1) << "\n A=";
        for (int j = 1; j <= NN_MAX; ++j) num(os, inv.A_F1(j));
        os << '\n';
    }
    inv.NN = nn;
    inv.FSTART = fs;
    inv.FEND = fe;
}

// F1PROF: the F1 stage.
//
// Given the solved E region and valley (FC(1), FC(2), A_E, ZME, HBASE(2), VW), the trace
// list and the scaled foF1. ER2 (out): mean absolute residual of the F1 solution (km); 0 in
// gap mode and when the F1 layer is left to FPROF.
//
// An F1 layer that is scaled (foF1 < 50 MHz) but has no trace points is left to FPROF
// (FC(3) = FC(2), KF1MODE = 2). Otherwise the F1 data are selected, the E and valley group
// paths removed and the layer solved (in gap mode when the data begin more than 4 steps
// above foE). An accepted solution sets A_F1, ZMF1, HBASE(3) = ZMF1 and resets KF1MODE
// (KF1MODEP keeps the mode used).
//
// ISTAT: 6 range error (message always written), 9 more than 1024 or no usable F1 points,
// 25 roots too severe, 11 oscillating, 10 peak out of bounds (largest coefficient above
// 999 km, ZMF1 above 300 km or not above ZME). IROOTF1 = the solver's check code.
void F1PROF(Inversion& inv, models::Models& mod, const Context& cx, float& ER2) {
    inv.A_F1.fill(0.0f);
    inv.ZMF1 = inv.ZME + inv.VW;
    ER2 = 0.0f;
    inv.IROOTF1 = 0;
    if (inv.FOF1 < FOF1_SCALED && inv.NFQF1 == 0) {
        inv.FC(3) = inv.FC(2);
        inv.KF1MODE = MODE_MERGED;
        return;
    }

    inv.IRGN = 2;
    SETUP(inv, mod, cx);
    if (inv.NFQ > 0 && inv.FEND <= inv.FSTART) {
        inv.ISTAT() = ISTAT_F1_RANGE;
        range_error(inv, cx, "F1", "F1");
        return;
    }
    DATAEFFE(inv, cx);
    DATAUSED(inv, cx);
    // No usable point (foF1 of exactly 50 MHz has none, or every point lay below the
    // region floor): the layer cannot be solved, and the solver must not run on no data.
    if (inv.NFQ > MAXTRC || inv.NFQ < 1) {
        if (debug(cx, 2)) cx.log.os() << "  F1 TRACE UNREASONABLE!\n";
        inv.ISTAT() = ISTAT_F1_BAD;
        return;
    }
    cx.plot.stage(Stage::DATA, inv);

    gap_test(inv, inv.FC(2));
    float err = 0.0f;
    int ncoef = 0;
    if (inv.KF1MODE == MODE_GAP) {
        gap_mode(inv, cx, err);
        ncoef = inv.NN;
    } else {
        FNDDHE(inv, cx);
        FNDDHV(inv);
        ncoef = solve(inv, cx, err, false);
        ER2 = err;
    }
    inv.DFMIN = err;

    inv.IROOTF1 = inv.IROOT;
    if (!f1_roots_ok(inv, cx)) return;

    inv.KF1MODEP = inv.KF1MODE;
    inv.KF1MODE = MODE_NORMAL;
    keep_coefficients(inv, ncoef, inv.A_F1);
    if (f1_peak_ok(inv, cx)) inv.HBASE(3) = inv.ZMF1;
}

// FPROF: the F2 stage, preceded by the merged F1 layer when KF1MODE is 2.
//
// Given the solved regions below (E, valley, F1 when one was accepted), the trace list and
// the scaled foF2. ER3 (out): mean absolute residual of the F2 solution (km); 0 in gap
// mode. The merged F1 residual goes to ER(2).
//
// The F2 data are selected and, unless the F1 layer is to be merged, tested for a gap.
// In gap mode (and always when merging) the F trace is solved order by order; a merged F1
// layer is then solved from the points up to foF1 and the F2 stage starts again above it.
// Otherwise the E, valley and F1 group paths are removed and the layer solved (FEWTERM at
// once for 5 points or fewer). An accepted solution sets A_F2 and ZMF2; if HEIGHTCHK leaves
// ISTAT at 2, HHALF is computed and the 1 km N(h) table, B0/B1/D1 and the electron content
// follow.
//
// ISTAT: 5 range error (message always written), 8 more than 1024 points, 12 fewer than 3
// points, 26 roots too severe, 18 oscillating or residual above 99.999 km, 8 peak out of
// bounds (largest coefficient above 999 km, ZMF2 above 800 km or not above ZMF1), 8 from
// HEIGHTCHK; for the merged F1 the F1 codes of F1PROF. IROOTF2 (IROOTF1) = the check code.
bool FPROF(Inversion& inv, models::Models& mod, const Context& cx, float& ER3) {
    // Two passes at most: the merged F1 layer resets KF1MODE to 0 before the second.
    for (int pass = 1; pass <= 2; ++pass) {
        inv.A_F2.fill(0.0f);
        inv.IRGN = 3;
        SETUP(inv, mod, cx);
        if (inv.NFQ > 0 && inv.FEND <= inv.FSTART) {
            inv.ISTAT() = ISTAT_F2_RANGE;
            range_error(inv, cx, "F2", "F2");
            return false;
        }
        DATAEFFE(inv, cx);
        DATAUSED(inv, cx);
        if (inv.NFQ > MAXTRC) {
            if (debug(cx, 2)) cx.log.os() << "  F2 TRACE UNREASONABLE!\n";
            inv.ISTAT() = ISTAT_F2_BAD;
            return false;
        }
        cx.plot.stage(Stage::DATA, inv);
        if (inv.NFQ < 3) {
            if (debug(cx, 2)) cx.log.os() << " NFQ=" << inv.NFQ << " : TOO FEW F2 DATA POINTS!\n";
            inv.ISTAT() = ISTAT_F2_FEW;
            return false;
        }

        if (inv.KF1MODE == MODE_NORMAL) gap_test(inv, inv.FC(3));
        float err = 0.0f;
        int ncoef = 0;
        if (inv.KF1MODE != MODE_NORMAL) {
            gap_mode(inv, cx, err);
            ncoef = inv.NN;
            if (inv.KF1MODE == MODE_MERGED) {
                if (pass == 2 || !merged_f1(inv, cx)) return false;
                continue;
            }
        } else {
            FNDDHE(inv, cx);
            FNDDHV(inv);
            FNDDHF1(inv, cx);
            ncoef = solve(inv, cx, err, inv.NFQ <= 5);
            ER3 = err;
        }
        inv.DFMIN = err;

        inv.IROOTF2 = inv.IROOT;
        if (inv.IROOT == 1) {
            inv.ISTAT() = ISTAT_F2_ROOTS;
            if (debug(cx, 2)) cx.log.os() << "   F2 LAYER ROOTS TOO SEVERE TO CORRECT!\n";
            return false;
        }
        if (inv.IROOT >= 2 || !(err <= ER_F2_MAX)) {
            inv.ISTAT() = ISTAT_F2_OSC;
            if (debug(cx, 2)) cx.log.os() << "   OSCILLATING F2 LAYER SOLUTION!\n";
            return false;
        }
        keep_coefficients(inv, ncoef, inv.A_F2);
        inv.ZMF2 = inv.HBASE(3) - sum(inv.A_F2, NN_MAX);
        if (!(largest(inv.A_F2, NN_MAX) <= COEF_MAX && inv.ZMF2 <= ZMF2_MAX &&
              inv.ZMF2 > inv.ZMF1)) {
            if (debug(cx, 2)) {
                cx.log.os() << " ZMF2=";
                num(cx.log.os(), inv.ZMF2) << " : F2 TRACE PHYSICALLY UNREASONABLE!\n";
            }
            inv.ISTAT() = ISTAT_F2_BAD;
            return false;
        }

        HEIGHTCHK(inv, cx);
        if (inv.ISTAT() != ISTAT_OK) return false;
        half_density_height(inv);
        return true;
    }
    return false;
}

}  // namespace zelk::inversion

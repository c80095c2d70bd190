// Region sequencing: DECIDE inverts one record region by region from the bottom up (E,
// valley, F1, F2, then the products of the whole bottomside and the auroral-E fit), and
// stops climbing at the first region that fails. GOGXCOM sets the dip constants of the
// group refractive index for the dip of the record; HEIGHTCHK rejects a region whose true
// heights reach the observed virtual heights over too wide a frequency range.
#include <cmath>
#include <ostream>
#include <string>

#include "core/zelk.hpp"
#include "inversion/inversion.hpp"
#include "iondata/fortran_io.hpp"
#include "products/products.hpp"

namespace zelk::inversion {

namespace {

// Smallest gyrofrequency handed to the kernels (MHz): keeps Y = FH/f finite and non-zero.
static constexpr float FH_MIN = 1.0e-7f;
// Largest dip magnitude (radians), just below 90 degrees, where tan I is still finite.
static constexpr float DIP_MAX = 1.569051f;
// HEIGHTCHK: share of the region's frequency range (per cent) over which true heights at
// or above the virtual heights make the solution unreasonable.
static constexpr float BAD_PERCENT = 5.0f;

// The region summary line of an F layer: " F1:FS" or " F2:FS" with start, end, peak height,
// residual and the five coefficients, laid out as (A,F5.3,A,F6.3,A,F7.3,A,F6.3,A,3F8.3,2F7.3).
void write_f_line(std::ostream& os, const char* label, float fs, float fm, float zm, float er,
                  const F1<float, 7>& a) {
    using iondata::edit_value;
    os << label << edit_value("(F5.3)", fs) << " FM" << edit_value("(F6.3)", fm) << " ZM"
       << edit_value("(F7.3)", zm) << " ER" << edit_value("(F6.3)", er) << " A="
       << iondata::edit_line(iondata::FortranFormat("(3F8.3,2F7.3)"), a.data() + 1, 5) << '\n';
}

}  // namespace

// DECIDE: inverts the record whose trace list SETRCE has built (IOK = 1 when it accepted
// points). In this fixed order: the gyrofrequency is kept above 1e-7 MHz and a dip beyond
// 1.569051 rad is replaced by +1.569051; the dip constants are set on the first call of
// the run (GOGXCOM); DHE, DHV, DHF1 are cleared and NGAUSS = 16. With IOK = 0 only the
// auroral-E fit runs and ISTAT stays as it is; otherwise ISTAT = 2 and the stages follow:
// E (EPROF), valley (MAHAGULY), F1 (F1PROF, only when FOF1 <= 50 MHz, then HEIGHTCHK and
// PARAFITF unless the F1 layer is left to FPROF), F2 (FPROF); after an accepted F2 layer
// PARAFITF, QPFIT and the final N(h) table (NHTABLE mode 1). The first stage that leaves
// ISTAT different from 2 ends the climb; the auroral-E fit (EAPROF) always runs last.
// Writes the region summary lines at IDEBUG >= 2 and the display codes 1..5.
void DECIDE(Zelk& z, int16_t& IOK) {
    Inversion& inv = z.inv;
    std::ostream& os = z.log.os();
    const bool verbose = z.log.IDEBUG >= 2;

    if (inv.FH < FH_MIN) inv.FH = FH_MIN;
    if (!(std::fabs(inv.DIPK) <= DIP_MAX)) inv.DIPK = DIP_MAX;
    // The constants are formed again whenever the dip differs from the one they were formed
    // from: a run over files of several stations must give each station's records the same
    // profiles as a run over that station alone.
    if (!(inv.DIPK == inv.GOGXDIP)) {
        GOGXCOM(inv, inv.DIPK);
        inv.GOGXDIP = inv.DIPK;
    }
    inv.DHE.fill(0.0f);
    inv.DHV.fill(0.0f);
    inv.DHF1.fill(0.0f);
    inv.NGAUSS = 16;

    // The stages run in a one-pass block; leaving it early is the "go to the auroral-E
    // fit" of a failed stage.
    do {
        if (IOK == 0) break;
        inv.ISTAT() = 2;

        EPROF(z, inv.ER(1));
        if (inv.ISTAT() != 2) break;
        if (verbose) {
            using iondata::edit_value;
            os << "  E:FS" << edit_value("(F5.3)", inv.FC(1)) << " FM"
               << edit_value("(F6.3)", inv.FC(2)) << " ZM" << edit_value("(F7.3)", inv.ZME)
               << " ER" << edit_value("(F6.3)", inv.ER(1)) << " A="
               << iondata::edit_line(iondata::FortranFormat("(3F8.3)"), inv.A_E.data() + 1, 3)
               << "    YE=" << edit_value("(F7.3)", inv.YE) << '\n';
        }
        z.plot->EVFPLOT(z, 1);
        z.plot->EVFPLOT(z, 5);

        MAHAGULY(z);
        if (inv.ISTAT() != 2) break;
        if (inv.refine.valley || inv.refine.xstart) FIT_VALLEY(z, X_TRACE(z));
        if (verbose) {
            using iondata::edit_value;
            os << "  V:W" << edit_value("(F7.3)", inv.VW) << "(" << edit_value("(F7.3)", inv.VW1)
               << "+" << edit_value("(F7.3)", inv.VW2) << "+" << edit_value("(F7.3)", inv.VW3)
               << ") D" << edit_value("(F9.4)", inv.VD) << '\n';
        }
        z.plot->EVFPLOT(z, 2);

        if (inv.FOF1 <= 50.0f) {
            F1PROF(z, inv.ER(2));
            if (inv.KF1MODE != 2 && (inv.ISTAT() == 2 || !MERGE_F1(inv))) {
                if (inv.ISTAT() != 2) break;
                inv.IRGN = 2;
                HEIGHTCHK(z);
                if (inv.ISTAT() > 2) break;
                if (verbose) write_f_line(os, " F1:FS", inv.FC(2), inv.FC(3), inv.ZMF1, inv.ER(2), inv.A_F1);
                PARAFITF(inv);
                z.plot->EVFPLOT(z, 3);
                z.plot->EVFPLOT(z, 5);
            }
        }

        FPROF(z, inv.ER(3));
        if (inv.IROOT > 0 || inv.ISTAT() != 2) break;
        MERGED_F1_HEIGHT(inv);
        if (verbose) write_f_line(os, " F2:FS", inv.FC(3), inv.FC(4), inv.ZMF2, inv.ER(3), inv.A_F2);
        inv.IRGN = 3;
        PARAFITF(inv);
        z.plot->EVFPLOT(z, 4);
        z.plot->EVFPLOT(z, 5);
        products::QPFIT(z);
        products::NHTABLE(z, 1);
    } while (false);

    EAPROF(z, inv.EAFIT(6));
}

// GOGXCOM: the dip constants of the group refractive index for the dip DIPK (radians):
// ordinary ray GC1 = cos^2 I, GC2 = 4 tan^2 I, GC3 = 2 tan^2 I, GC4 = tan^2 I; extraordinary
// ray GX1 = 4 sin^2 I / (1 + sin^2 I)^2, GX2 = 2 sin^2 I / (1 + sin^2 I). A dip whose sine
// and cosine cannot be formed (not finite) is taken as 0 (sin I = 0, cos I = 1).
// DECIDE calls it whenever the record's dip differs from the one the constants hold.
void GOGXCOM(Inversion& inv, float& DIPK) {
    float s = 0.0f, c = 1.0f;
    if (std::isfinite(DIPK)) {
        s = std::sin(DIPK);
        c = std::cos(DIPK);
    }
    const float t2 = (s / c) * (s / c);
    const float s2 = s * s;
    inv.GC1 = c * c;
    inv.GC2 = 4.0f * t2;
    inv.GC3 = 2.0f * t2;
    inv.GC4 = t2;
    inv.GX1 = 4.0f * s2 / ((1.0f + s2) * (1.0f + s2));
    inv.GX2 = 2.0f * s2 / (1.0f + s2);
}

// HEIGHTCHK: checks the region IRGN just solved against its data. Walking the fit points
// while their frequencies increase, a point is bad when the real height of the solution at
// plasma frequency FQ(K) (peak ZME, ZMF1 or ZMF2 with A, NN, FSTART, FEND) is at or above
// the observed virtual height HV(K). A bad run counts from the last good frequency before
// it to the good point that ends it; a run still open at the last point is not counted.
// When the bad extent reaches 5 % of FEND - FQ(1): ISTAT = 9 for F1, 8 otherwise, with a
// message at IDEBUG >= 2.
void HEIGHTCHK(Zelk& z) {
    Inversion& inv = z.inv;
    if (inv.NFQ < 1) return;
    const RegionProfile r =
        MAKEREGION(inv.FSTART, inv.FEND,
                   inv.IRGN == 1 ? inv.ZME : inv.IRGN == 2 ? inv.ZMF1 : inv.ZMF2, inv.A.data(),
                   inv.NN < 5 ? inv.NN : 5);

    float extent = 0.0f;
    float F0 = inv.FQ(1);
    float fprev = 0.0f;
    bool inbad = false;
    for (int K = 1; K <= inv.NFQ && inv.FQ(K) > fprev; ++K) {
        fprev = inv.FQ(K);
        const bool bad = PROFILE_HEIGHT(r, inv.FQ(K)) >= inv.HV(K);
        if (bad) {
            inbad = true;
        } else {
            if (inbad) extent += inv.FQ(K) - F0;
            inbad = false;
            F0 = inv.FQ(K);
        }
    }
    const float range = inv.FEND - inv.FQ(1);
    if (!(extent > 0.0f) || (range > 0.0f && 100.0f * extent / range < BAD_PERCENT)) return;
    if (inv.IRGN == 2) {
        inv.ISTAT() = 9;
        if (z.log.IDEBUG >= 2) z.log.os() << "   PHYSICALLY UNREASONABLE F1 TRACE!\n";
    } else {
        inv.ISTAT() = 8;
        if (z.log.IDEBUG >= 2) z.log.os() << "   PHYSICALLY UNREASONABLE F2 TRACE!\n";
    }
}

}  // namespace zelk::inversion

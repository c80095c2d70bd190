// Region sequencing: DECIDE inverts one record region by region from the bottom up (E,
// valley, F1, F2, then the products of the whole bottomside and the auroral-E fit), and
// stops climbing at the first region that fails. GOGXCOM sets the dip constants of the
// group refractive index for the dip of the record; HEIGHTCHK rejects a region whose true
// heights reach the observed virtual heights over too wide a frequency range.
#include <cmath>
#include <ostream>
#include <string>

#include "inversion/inversion.hpp"
#include "core/fortran_io.hpp"

namespace zelk::inversion {

namespace {

// HEIGHTCHK: share of the region's frequency range (per cent) over which true heights at
// or above the virtual heights make the solution unreasonable.
static constexpr float BAD_PERCENT = 5.0f;

}  // namespace

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
void HEIGHTCHK(Inversion& inv, const Context& cx) {
    if (inv.NFQ < 1) return;
    const RegionProfile r =
        make_region(inv.FSTART, inv.FEND,
                   inv.IRGN == 1 ? inv.ZME : inv.IRGN == 2 ? inv.ZMF1 : inv.ZMF2, inv.A.data(),
                   inv.NN < 5 ? inv.NN : 5);

    float extent = 0.0f;
    float F0 = inv.FQ(1);
    float fprev = 0.0f;
    bool inbad = false;
    for (int K = 1; K <= inv.NFQ && inv.FQ(K) > fprev; ++K) {
        fprev = inv.FQ(K);
        const bool bad = profile_height(r, inv.FQ(K)) >= inv.HV(K);
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
        inv.ISTAT() = ISTAT_F1_BAD;
        if (cx.log.IDEBUG >= 2) cx.log.os() << "   PHYSICALLY UNREASONABLE F1 TRACE!\n";
    } else {
        inv.ISTAT() = ISTAT_F2_BAD;
        if (cx.log.IDEBUG >= 2) cx.log.os() << "   PHYSICALLY UNREASONABLE F2 TRACE!\n";
    }
}

}  // namespace zelk::inversion

// The refined mode: small steps beside the standard stages that take from the traces what
// the standard method assumes.
//  * fit_valley: the E-F valley (width and depth) chosen so that the virtual heights
//    recomputed through the whole solved profile match the observed O trace at the foot of
//    the F layer, and the observed X trace where the record has one. Without an E trace the
//    "valley" is the unseen ionisation between the model E layer and the first F echo.
//  * fit_e_peak: the peak of an unseen E layer, which the standard method puts just below
//    the first F echo, chosen below that in the same way, with its valley.
//  * merge_f1: an F1 layer rejected for its roots is solved as part of the F2 layer.
//  * hold_foot: in gap mode, an order rejected because its profile turns at the foot of the
//    layer (below the observed points) is solved again with its slope there held.
// The scaled critical frequency of the refined mode is a first trial of DENSTY (solver.cpp).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <ostream>
#include <streambuf>
#include <type_traits>
#include <vector>

#include "core/rounding.hpp"
#include "inversion/inversion.hpp"
#include "models/models.hpp"

namespace zelk::inversion {

namespace {

// The valley may fill at most this share of the distance from the E peak to the lowest F
// virtual height (the true height of the first F echo lies below its virtual height).
static constexpr float VW_SHARE = 0.95f;
// A fitted width below this share of the largest width lies at the lower end of the range
// searched.
static constexpr float VW_FLOOR = 0.15f;
// O-trace points used in the fit: those within this much (MHz) of the first F echo, where
// the virtual heights depend most on what lies below the first echo.
static constexpr float FOOT_SPAN = 1.5f;
// X-trace points used: those whose X reflection plasma frequency sqrt(f (f - FH)) lies
// above foE by more than this (MHz) and at most X_SPAN above the first O echo.
static constexpr float X_ABOVE_FOE = 0.05f;
static constexpr float X_SPAN = 1.0f;
// X points are used only at frequencies of at least this many gyrofrequencies (Y = FH/f at
// most 0.6). Close above the gyrofrequency the X wave is slowed strongly even by weak
// ionisation, and steeply more so as Y nears 1: at night, when its echoes come from there,
// much of its group delay is gathered in the weak ionisation under the F layer, whose shape
// the valley model only approximates, and it depends on the field's strength there, which
// falls by a tenth from 100 to 350 km while the model holds FH fixed. Such points pull the
// fitted valley away from what the O trace says (a night layer lifted to 450-600 km: largest
// error 12.4 km with them, 5.5 km without).
static constexpr float X_ABOVE_FH = 1.0f / 0.6f;
// Weight of an X point in the F layer's least squares (add_x_rows) against an O point: the
// few X points below the first O echo stand against the many synthetic points that the
// lower orders of gap mode put there.
static constexpr float X_WEIGHT = 2.0f;
// Fewest points of a trace part that make a fit criterion.
static constexpr int MIN_POINTS = 3;
// The depths whose best fits score within this share of the best one fit the trace equally
// well: the O trace at the foot of the F layer fixes a combination of the valley's width and
// depth, not both, and which end of that ridge scores lowest is decided by the 5 km steps of
// the virtual heights and by noise, not by the valley.
static constexpr float EQUAL_FIT = 0.10f;
// Depths tried, as rho = (FV/foE)^2; rho < 0 stands for the depth law of the width.
static constexpr float RHOS[] = {-1.0f, 0.25f, 0.45f, 0.65f, 0.8f, 0.9f, 0.97f};
// Widths tried on the coarse grid (intervals from 0 to the largest width), then golden-
// section steps around the best of them.
static constexpr int NGRID = 12;
static constexpr int NGOLDEN = 8;
// The coarse valley search that scores a trial E peak: four depths, six widths, no golden
// section.
static constexpr float RHOS_COARSE[] = {-1.0f, 0.25f, 0.65f, 0.9f};
static constexpr int NGRID_COARSE = 6;
static constexpr int NGOLDEN_COARSE = 0;
// Peaks of an unseen E layer tried, as shares of the standard one: EPEAK_LOW to 1 in steps
// of EPEAK_STEP, then refined around the best.
static constexpr float EPEAK_LOW = 0.4f;
static constexpr float EPEAK_STEP = 0.05f;
static constexpr float GOLDEN = 0.381966f;   // (3 - sqrt 5)/2
// A trial that fails scores this (km).
static constexpr float NO_FIT = std::numeric_limits<float>::infinity();

// A stream that drops everything: the trials of the search write no diagnostics.
class NullBuf : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

// The trace tables TRACEL and ITRCF, 48 of the areas' 159 KiB, side by side: only the
// making of the trace list (SETRCE), before any stage, reads them, and no stage writes them.
constexpr std::size_t TABLES_BEGIN = offsetof(Inversion, TRACEL);
constexpr std::size_t TABLES_END = offsetof(Inversion, ITRCF) + sizeof(Inversion::ITRCF);
static_assert(std::is_trivially_copyable_v<Inversion> && std::is_standard_layout_v<Inversion>);
static_assert(offsetof(Inversion, ITRCF) == TABLES_BEGIN + sizeof(Inversion::TRACEL),
              "a member between the trace tables would not be copied for the trials");

// A copy of the run's areas to solve trials on, and a context that writes and draws nothing.
struct Trials {
    explicit Trials(const models::Models& mod) : wmod(std::make_unique<models::Models>(mod)) {
        quiet.IDEBUG = 0;
        quiet.out = &nowhere;
    }
    // The work copy set to the areas INV for a trial. The trials change everything but the
    // trace tables, which are copied only when the areas copied from are new: the same as
    // copying the whole, for about 30 % less copying per trial.
    Inversion& load(const Inversion& inv) {
        if (from != &inv) {
            *work = inv;
            from = &inv;
            return *work;
        }
        auto* const d = reinterpret_cast<unsigned char*>(work.get());
        const auto* const s = reinterpret_cast<const unsigned char*>(&inv);
        std::memcpy(d, s, TABLES_BEGIN);
        std::memcpy(d + TABLES_END, s + TABLES_END, sizeof(Inversion) - TABLES_END);
        return *work;
    }
    std::unique_ptr<Inversion> work = std::make_unique<Inversion>();
    const Inversion* from = nullptr;
    std::unique_ptr<models::Models> wmod;
    NullBuf nullbuf;
    std::ostream nowhere{&nullbuf};
    Log quiet;
    StageSink nothing;
    const Context cx{quiet, nothing};
};

// The observed points a trial is scored on: O points at the foot of the F layer and X points.
struct Points {
    std::vector<float> fo, ho, fx, hx;
};

bool seen(float h) { return h > 0.0f && h < 9998.0f; }

// Calls FN(f, h) for every point of the F trace list (F1 then F2, rising frequency) that has a
// height.
template <class Fn>
void each_f_echo(const Inversion& inv, Fn fn) {
    const int first = inv.NFQE + 1, last = inv.NFQE + inv.NFQF1 + inv.NFQF;
    for (int K = first; K <= last && K <= MAXTRC; ++K)
        if (seen(inv.TRH(K)) && inv.TRH(K) != inv.HMISS) fn(inv.TRF(K), inv.TRH(K));
}

// An X point the fits can use: a height, and a frequency above the gyrofrequency (no X wave
// below it) by a factor of at least X_ABOVE_FH (see there).
bool x_usable(const Inversion& inv, float f, float h) {
    return seen(h) && f > inv.FH && f >= X_ABOVE_FH * inv.FH;
}

// The F points of the trace list (F1 then F2, rising frequency) with a height within SPAN
// (MHz) of the first F echo, the lowest F virtual height, and the X points of the record
// that the fit can use.
Points gather(const Inversion& inv, const XTrace& x, bool use_x, float& hmin,
              float span = FOOT_SPAN) {
    Points p;
    hmin = std::numeric_limits<float>::infinity();
    std::vector<float> f, h;
    each_f_echo(inv, [&](float fk, float hk) {
        f.push_back(fk);
        h.push_back(hk);
        hmin = std::min(hmin, hk);
    });
    if (f.empty()) return p;
    const float ffirst = *std::min_element(f.begin(), f.end());
    for (std::size_t i = 0; i < f.size(); ++i)
        if (f[i] <= ffirst + span) {
            p.fo.push_back(f[i]);
            p.ho.push_back(h[i]);
        }
    if (!use_x) return p;
    for (std::size_t i = 0; i < x.f.size(); ++i) {
        const float fx = x.f[i];
        if (!x_usable(inv, fx, x.h[i])) continue;
        const float fn = std::sqrt(fx * (fx - inv.FH));
        if (fn > inv.FC(2) + X_ABOVE_FOE && fn <= ffirst + X_SPAN) {
            p.fx.push_back(fx);
            p.hx.push_back(x.h[i]);
        }
    }
    if (static_cast<int>(p.fx.size()) < MIN_POINTS) {
        p.fx.clear();
        p.hx.clear();
    }
    return p;
}

// Runs the F stages of the region sequencing (F1 when scaled, with its height check, then
// F2) as DECIDE does; true when the F2 layer was accepted.
bool solve_f(Inversion& inv, models::Models& mod, const Context& cx) {
    if (inv.FOF1 <= 50.0f) {
        F1PROF(inv, mod, cx, inv.ER(2));
        if (inv.KF1MODE != MODE_MERGED) {
            if (inv.ISTAT() != ISTAT_OK) {
                if (!merge_f1(inv)) return false;
            } else {
                inv.IRGN = 2;
                HEIGHTCHK(inv, cx);
                if (inv.ISTAT() != ISTAT_OK) return false;
            }
        }
    }
    return FPROF(inv, mod, cx, inv.ER(3)) && inv.IROOT == 0 && inv.ISTAT() == ISTAT_OK;
}

// The region in which a wave reflects at plasma frequency fn: F2 above FC(3), F1 between
// FC(2) and FC(3) when there is an F1 layer; 0 for the E layer and below.
int region_of(const Inversion& inv, float fn) {
    if (fn > inv.FC(3)) return 3;
    if (fn > inv.FC(2) && inv.FC(3) != inv.FC(2)) return 2;
    return 0;
}

// The mean SUM / N (km) of N absolute differences; NO_FIT without any, or when not finite.
float mean_misfit(double sum, std::size_t n) {
    if (n == 0) return NO_FIT;
    const auto m = static_cast<float>(sum / static_cast<double>(n));
    return std::isfinite(m) ? m : NO_FIT;
}

// The virtual heights H(i) of the frequencies F(i) through the profile, each through the
// regions up to REGION(i), the one it reflects in (0: not computed): one batch per region
// (MANY is RECVIRT_MANY or RECVIRTX_MANY, the same floats as one frequency at a time).
template <class Many>
void heights_by_region(Inversion& inv, const std::vector<float>& F, const std::vector<int>& region,
                       std::vector<float>& H, Many many) {
    thread_local std::vector<float> f, h;
    H.resize(F.size());
    for (int r = 1; r <= 3; ++r) {
        f.clear();
        for (std::size_t i = 0; i < F.size(); ++i)
            if (region[i] == r) f.push_back(F[i]);
        if (f.empty()) continue;
        h.resize(f.size());
        inv.IRGN = static_cast<int16_t>(r);
        many(inv, f.data(), static_cast<int>(f.size()), RECVIRT_ALL, h.data());
        for (std::size_t i = 0, j = 0; i < F.size(); ++i)
            if (region[i] == r) H[i] = h[j++];
    }
}

// Mean absolute difference (km) between the virtual heights recomputed through the solved
// profile (O and X, each through the regions up to the one it reflects in) and the
// observed ones, over the points of P, summed in the points' order.
float misfit(Inversion& inv, const Points& p) {
    thread_local std::vector<int> ro, rx;
    thread_local std::vector<float> ho, hx;
    ro.resize(p.fo.size());
    for (std::size_t i = 0; i < p.fo.size(); ++i) ro[i] = region_of(inv, p.fo[i]);
    rx.resize(p.fx.size());
    for (std::size_t i = 0; i < p.fx.size(); ++i)
        rx[i] = region_of(inv, std::sqrt(p.fx[i] * (p.fx[i] - inv.FH)));
    heights_by_region(inv, p.fo, ro, ho, RECVIRT_MANY);
    heights_by_region(inv, p.fx, rx, hx, RECVIRTX_MANY);
    double sum = 0.0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < p.fo.size(); ++i) {
        if (ro[i] == 0) continue;
        sum += std::fabs(ho[i] - p.ho[i]);
        ++n;
    }
    for (std::size_t i = 0; i < p.fx.size(); ++i) {
        if (rx[i] == 0) continue;
        sum += std::fabs(hx[i] - p.hx[i]);
        ++n;
    }
    inv.IRGN = 3;
    return mean_misfit(sum, n);
}

}  // namespace

// fit_valley: after MAHAGULY, the valley whose profile best explains the traces. Each trial
// valley (width from 0 to 0.95 of the distance between the E peak and the lowest F virtual
// height; depth from the depth law or one of six fixed depths) is put in a copy of the run's
// areas, the F layers are solved on it as DECIDE solves them, and the trial is scored by
// the mean absolute difference between the virtual heights recomputed through the whole
// profile and the observed ones: the O trace within 1.5 MHz of the first F echo, and with
// X (refine.xstart, three or more usable points) the X trace of the F layer at the low
// frequencies. Widths are searched on a grid of 12 intervals, then by golden section around
// the best, for each depth. When some depth scores better than MAHAGULY's valley, the depths
// whose best fits score within 10 % of the lowest misfit are taken as equally good and the
// one of median depth (the depth law counted at its own depth) replaces MAHAGULY's valley,
// provided the whole F trace (not only its foot) also fits it better; nothing else of the
// areas changes. Without three F points, or without room for a valley, MAHAGULY's valley
// stands.
namespace {

// How thoroughly search_valley searches: the depths tried, the grid of widths and the
// golden-section steps after it.
struct Plan {
    const float* rhos;
    int nrho, ngrid, ngolden;
};
constexpr Plan FULL{RHOS, static_cast<int>(std::size(RHOS)), NGRID, NGOLDEN};
constexpr Plan COARSE{RHOS_COARSE, static_cast<int>(std::size(RHOS_COARSE)), NGRID_COARSE, NGOLDEN_COARSE};

// The valley search of fit_valley after PLAN. APPLY: the valley chosen replaces MAHAGULY's
// and its misfit is returned (with the diagnostic line); else nothing changes and the lowest
// misfit found (MAHAGULY's valley included) is returned, a score of how well the areas as
// they stand can explain the traces.
float search_valley(Inversion& inv, models::Models& mod, const Context& cx, const XTrace& x,
                    const Plan& plan, bool apply) {
    float hmin = 0.0f;
    const Points p = gather(inv, x, inv.refine.xstart, hmin);
    if (static_cast<int>(p.fo.size()) < MIN_POINTS) return NO_FIT;
    const float vmax = VW_SHARE * (hmin - inv.ZME);
    if (!(vmax > 0.0f)) return NO_FIT;

    // The trials run on copies of the areas, silent and without display stages.
    Trials t(mod);
    Inversion* const work = t.work.get();
    models::Models* const wmod = t.wmod.get();
    const Context& qcx = t.cx;
    const auto score = [&](float VW, float rho, const Points* pp = nullptr) {
        t.load(inv);
        set_valley(*work, VW, rho);
        // Every trial places the peak at the scaled critical frequency: one end-frequency
        // trial instead of a search, and the same peak for all trials.
        work->refine.scaled_fc = true;
        // The trials solve gap mode as the standard method does: the held foot of the
        // refined gap mode would fit the same points at the foot of the F layer that the
        // valley is fitted to, and the two together follow the noise of those points. It
        // acts on the solution with the valley chosen.
        work->refine.gap = false;
        if (!solve_f(*work, *wmod, qcx)) return NO_FIT;
        return misfit(*work, pp ? *pp : p);
    };

    // The best width of each depth (the depth law first, then the fixed depths).
    struct Fit {
        float vw, rho, misfit;
    };
    std::vector<Fit> fits;
    const float initial = score(inv.VW, -1.0f);
    // No valley at all is the same trial whatever the depth: scored once.
    const float none = score(0.0f, -1.0f);
    for (int r = 0; r < plan.nrho; ++r) {
        const float rho = plan.rhos[r];
        // Coarse grid of widths.
        float lb = 0.0f, ls = NO_FIT;
        for (int i = 0; i <= plan.ngrid; ++i) {
            const float vw = vmax * static_cast<float>(i) / static_cast<float>(plan.ngrid);
            const float s = i == 0 ? none : score(vw, rho);
            if (s < ls) {
                ls = s;
                lb = vw;
            }
        }
        if (!(ls < NO_FIT)) continue;
        if (plan.ngolden == 0) {
            fits.push_back({lb, rho, ls});
            continue;
        }
        // Golden section inside the grid intervals next to the best width.
        const float cell = vmax / static_cast<float>(plan.ngrid);
        float lo = std::max(0.0f, lb - cell), hi = std::min(vmax, lb + cell);
        float a = lo + GOLDEN * (hi - lo), b = hi - GOLDEN * (hi - lo);
        float sa = score(a, rho), sb = score(b, rho);
        for (int it = 0; it < plan.ngolden; ++it) {
            if (sa < ls) {
                ls = sa;
                lb = a;
            }
            if (sb < ls) {
                ls = sb;
                lb = b;
            }
            // The point a further step would add is never compared.
            if (it + 1 == plan.ngolden) break;
            if (sa < sb) {
                hi = b;
                b = a;
                sb = sa;
                a = lo + GOLDEN * (hi - lo);
                sa = score(a, rho);
            } else {
                lo = a;
                a = b;
                sa = sb;
                b = hi - GOLDEN * (hi - lo);
                sb = score(b, rho);
            }
        }
        fits.push_back({lb, rho, ls});
    }
    // The lowest misfit, and the fit of median depth among those within EQUAL_FIT of it: the
    // trace leaves the depth open between them, and the middle of that range is the choice
    // least likely to be far off (the lowest misfit sits at either end of the ridge by turns).
    float best = initial, best_vw = inv.VW, best_rho = -1.0f;
    float lowest = NO_FIT, lowest_vw = inv.VW;
    for (const Fit& f : fits)
        if (f.misfit < lowest) {
            lowest = f.misfit;
            lowest_vw = f.vw;
        }
    if (!apply) return std::min(lowest, initial);
    if (lowest < initial) {
        std::vector<std::pair<float, Fit>> equal;
        for (const Fit& f : fits)
            if (f.misfit <= lowest * (1.0f + EQUAL_FIT))
                equal.push_back({f.rho > 0.0f ? f.rho : law_depth(f.vw), f});
        std::sort(equal.begin(), equal.end(),
                  [](const auto& l, const auto& r) { return l.first < r.first; });
        const Fit& pick = equal[equal.size() / 2].second;
        best = pick.misfit;
        best_vw = pick.vw;
        best_rho = pick.rho;
    }
    // A lowest misfit at the lower end of the widths says that what lies below the F layer is
    // no valley of the kind modelled (at night, ionisation reaching down below the E peak):
    // the fit then has nothing to offer and MAHAGULY's valley stands.
    // The foot of the trace leaves the valley open along a ridge of widths and depths; the
    // rest of the trace, whose virtual heights all carry the valley's group delay, must not
    // speak against the choice: the fitted valley is kept only when the whole trace (O, and
    // X where used) fits it better than MAHAGULY's valley.
    const bool floor = lowest_vw < VW_FLOOR * vmax;
    const bool changed = best_vw != inv.VW || best_rho > 0.0f;
    bool whole = true;
    if (!floor && changed) {
        float hall = 0.0f;
        const Points all = gather(inv, x, inv.refine.xstart, hall, HUGE_VALF);
        const float fitted = score(best_vw, best_rho, &all), standard = score(inv.VW, -1.0f, &all);
        whole = fitted < standard;
        if (cx.log.IDEBUG >= 2)
            cx.log.os() << "  REFINED VALLEY, WHOLE TRACE: MISFIT " << fitted << " KM, MODEL " << standard
                        << " KM\n";
    }
    if (floor || !whole) {
        best = initial;
    } else if (changed) {
        set_valley(inv, best_vw, best_rho);
    }
    if (cx.log.IDEBUG >= 2)
        cx.log.os() << "  REFINED VALLEY: W" << round3(inv.VW) << " D" << inv.VD << " MISFIT "
                   << best << " KM, MODEL " << initial << " KM (" << p.fo.size() << " O, " << p.fx.size() << " X POINTS)\n";
    return best;
}

}  // namespace

float fit_valley(Inversion& inv, models::Models& mod, const Context& cx, const XTrace& x) {
    return search_valley(inv, mod, cx, x, FULL, true);
}

// fit_e_peak: see inversion.hpp. The standard method puts the peak of an unseen E layer just
// below the first F echo, the highest it can be; the truth often lies well below (at night
// and when the lowest sounding frequency is high), and the extra ionisation under the F
// layer puts the F heights too low. The E peak is tried at a share of the standard one: on a
// grid of EPEAK_STEP from EPEAK_LOW up to 1, then at half and a quarter of the step either
// side of the best share. Each trial solves the E layer and MAHAGULY's valley on a copy of
// the areas, silently, and is scored by a coarse valley search (four depths, six widths).
// The standard peak stands unless another scores lower; then the chosen peak gets the full
// valley fit, and the E layer and the valley of that trial replace the standard ones.
bool fit_e_peak(Inversion& inv, models::Models& mod, const Context& cx, const XTrace& x) {
    if (inv.NFQE != 0 || inv.IEFLAG != 2 || !(inv.FC(2) < mod.FOEPRE) || !(inv.FC(2) > 0.0f))
        return false;
    Trials t(mod);
    Inversion* const work = t.work.get();
    models::Models* const wmod = t.wmod.get();
    const Context& qcx = t.cx;
    const float standard = inv.FC(2);
    // The areas with the E peak at SHARE of the standard one, E layer and valley solved;
    // false when a stage fails.
    const auto solve_e = [&](float share) {
        t.load(inv);
        work->FOEFIT = share < 1.0f ? share * standard : 0.0f;
        EPROF(*work, *wmod, qcx, work->ER(1));
        if (work->ISTAT() != ISTAT_OK) return false;
        MAHAGULY(*work, *wmod, qcx);
        return work->ISTAT() == ISTAT_OK;
    };
    const auto score = [&](float share) {
        if (!(share >= EPEAK_LOW && share <= 1.0f) || !solve_e(share)) return NO_FIT;
        return search_valley(*work, *wmod, qcx, x, COARSE, false);
    };
    float best_share = 1.0f;
    const float standard_fit = score(1.0f);
    float lowest = standard_fit;
    const auto consider = [&](float share) {
        const float m = score(share);
        if (m < lowest) {
            lowest = m;
            best_share = share;
        }
    };
    const int nshare = static_cast<int>(std::lround((1.0f - EPEAK_LOW) / EPEAK_STEP));
    for (int k = 0; k < nshare; ++k) consider(EPEAK_LOW + EPEAK_STEP * static_cast<float>(k));
    for (const float step : {0.5f * EPEAK_STEP, 0.25f * EPEAK_STEP}) {
        const float around = best_share;
        consider(around - step);
        consider(around + step);
    }
    if (cx.log.IDEBUG >= 2)
        cx.log.os() << "  REFINED E: FOE " << best_share * standard << " MISFIT " << lowest
                    << " KM, STANDARD " << standard << " MISFIT " << standard_fit << " KM\n";
    if (!(best_share < 1.0f) || !solve_e(best_share)) return false;
    fit_valley(*work, *wmod, cx, x);
    inv = *work;
    return true;
}

// merge_f1: an F1 layer that F1PROF rejected for its roots (ISTAT 25) or because its
// solution oscillates (ISTAT 11) is handed to FPROF as a merged F1 layer (KF1MODE 2), as one
// without F1 points would be: its trace points join the F2 trace, FPROF solves the whole F
// trace order by order from the valley top, takes the points up to foF1 as an F1 layer of
// three coefficients and solves the F2 layer above it. Returns false, changing nothing, for
// any other status or when the refined mode does not retry F1 layers. Sets ISTAT = 2 and
// made_by.
bool merge_f1(Inversion& inv) {
    const int16_t istat = inv.ISTAT();
    if (!inv.refine.f1_roots || (istat != ISTAT_F1_ROOTS && istat != ISTAT_F1_OSC)) return false;
    inv.ISTAT() = ISTAT_OK;
    inv.IROOT = 0;
    inv.NFQF = static_cast<int16_t>(inv.NFQF + inv.NFQF1);
    inv.NFQF1 = 0;
    inv.KF1MODE = MODE_MERGED;
    inv.KF1MODEP = 0;
    inv.FC(3) = inv.FC(2);
    inv.A_F1.fill(0.0f);
    inv.ZMF1 = inv.ZME + inv.VW;
    inv.HBASE(3) = inv.HBASE(2);
    inv.made_by = MadeBy::REFINED_F1_MERGED;
    return true;
}

// keep_x_trace: the X points add_x_rows may use; none without xstart.
void keep_x_trace(Inversion& inv, const XTrace& x) {
    inv.NXTR = 0;
    if (!inv.refine.xstart) return;
    for (std::size_t k = 0; k < x.f.size() && inv.NXTR < MAXTRC; ++k)
        if (x_usable(inv, x.f[k], x.h[k])) {
            ++inv.NXTR;
            inv.XTRF(inv.NXTR) = x.f[k];
            inv.XTRH(inv.NXTR) = x.h[k];
        }
}

// add_x_rows: the X wave of frequency f reflects where fN^2 = f (f - FH), below the O wave
// of the same frequency, so the X trace reaches down into the part of the F layer that the
// O trace misses when its first echoes are lost. In gap mode that part is otherwise filled
// with points made by the lower orders alone. Each X point reflecting inside the region
// (above FS0 and foE, below FEND) and below the first O echo gives one row: its X kernels
// over [FS0, FEND] (SXIK), carried into the basis of the fit variable that starts at FSD by
// the linear change CONTPRFL, against its virtual height less the X group paths of the E
// layer, the valley and the F1 layer below (RECVIRTX). Those paths must be known: with a
// model E layer (no E trace, no scaled foE) the X trace is left to fit_e_peak and fit_valley,
// which choose the unseen E layer and valley from it. The mean error that ranks the
// solver's trials stays that of the O points.
void add_x_rows(Inversion& inv, float FS0, float FSD) {
    if ((inv.IRGN != 2 && inv.IRGN != 3) || inv.KF1MODE != MODE_GAP || inv.IEFLAG == 2) return;
    const int N = std::min<int>(inv.NN, MAXNN);
    float ffirst = std::numeric_limits<float>::infinity();
    each_f_echo(inv, [&ffirst](float f, float) { ffirst = std::min(ffirst, f); });
    const float flow = std::max(FS0, inv.FC(2) + X_ABOVE_FOE);
    const float fhigh = std::min(ffirst, inv.FEND);
    XKernels x;
    // The X points that give rows, and their group paths below the region (one batch per
    // part, the same floats as one point at a time).
    thread_local std::vector<int> use;
    thread_local std::vector<float> fuse, below_e, below_v, below_f1;
    use.clear();
    fuse.clear();
    for (int k = 1; k <= inv.NXTR; ++k) {
        const float f = inv.XTRF(k);
        const float fn2 = f * (f - inv.FH);
        if (!(fn2 > flow * flow) || !(fn2 < fhigh * fhigh)) continue;
        CDX(FS0, inv.FH, f, x);
        if (x.DF2X == 0.0f) continue;
        use.push_back(k);
        fuse.push_back(f);
    }
    const int nuse = static_cast<int>(use.size());
    if (nuse == 0) return;
    // The change of basis: column j holds the FS0 coefficients of the FSD unit vector j.
    float C[MAXNN + 1][MAXNN + 1] = {};
    for (int j = 1; j <= N; ++j) {
        float e[MAXNN + 1] = {}, a[MAXNN + 1] = {};
        e[j] = 1.0f;
        CONTPRFL(N, FSD, inv.FEND, e, FS0, a);
        for (int i = 1; i <= N; ++i) C[i][j] = a[i];
    }
    below_e.resize(use.size());
    below_v.resize(use.size());
    below_f1.resize(use.size());
    RECVIRTX_MANY(inv, fuse.data(), nuse, RECVIRT_E, below_e.data());
    RECVIRTX_MANY(inv, fuse.data(), nuse, RECVIRT_VALLEY, below_v.data());
    if (inv.IRGN == 3) RECVIRTX_MANY(inv, fuse.data(), nuse, RECVIRT_F1, below_f1.data());
    for (int u = 0; u < nuse; ++u) {
        const auto su = static_cast<std::size_t>(u);
        const int k = use[su];
        const float f = fuse[su];
        CDX(FS0, inv.FH, f, x);
        SXIK(inv, FS0, inv.FEND, N, f, x);
        float below = below_e[su] + below_v[su];
        if (inv.IRGN == 3) below += below_f1[su];
        const float y = std::fmax(0.0f, inv.XTRH(k) - below);
        float g[MAXNN + 1] = {};
        for (int j = 1; j <= N; ++j)
            for (int i = 1; i <= N; ++i) g[j] += x.GX(i) * C[i][j];
        for (int i = 1; i <= N; ++i) {
            for (int j = 1; j <= N; ++j) inv.NEQ(i, j) += X_WEIGHT * g[i] * g[j];
            inv.NEQ(i, N + 1) += X_WEIGHT * y * g[i];
        }
    }
}

// slope_at_start: dh/dfN at FS of h = ZM + sqrt(u) sum A(k) T*_{k-1}(u), u = ln(fN/FE) /
// ln(FS/FE). The derivative polynomial D(u) = sum A(i) DTST_i(u) is 2 sqrt(u) dh/du, and
// du/dfN = 1/(fN ln(FS/FE)), so at u = 1 the slope is D(1) / (2 FS ln(FS/FE)).
float slope_at_start(const Inversion& inv, const float* A, int NN, float FS, float FE) {
    return start_derivative(inv, A, NN) / (2.0f * FS * std::log(FS / FE));
}

// turns_at_foot: a profile that rises monotonically has D(u) <= 0 on (0, 1) (its height
// falls from the peak, u = 0, to the start, u = 1). D(1) > 0 says that near the start the
// height rises again as the plasma frequency falls: the turning point the solver found lies
// at the foot of the layer, whatever happens near the peak.
bool turns_at_foot(const Inversion& inv) {
    return start_derivative(inv, inv.A.data(), std::min<int>(inv.NN, MAXNN)) > 0.0f;
}

// observed_misfit: the region's saved coefficients (A_F1 or A_F2) and its end frequency
// FC(IRGN+1) are replaced for the evaluation and put back after it.
float observed_misfit(Inversion& inv, const float* A, int NN, float FE, int N0) {
    if (inv.IRGN != 2 && inv.IRGN != 3) return NO_FIT;
    F1<float, 7>& saved = inv.IRGN == 2 ? inv.A_F1 : inv.A_F2;
    const F1<float, 7> keep = saved;
    const int iend = inv.IRGN + 1;
    const float fckeep = inv.FC(iend);
    saved.fill(0.0f);
    for (int j = 1; j <= std::min(NN, 5); ++j) saved(j) = A[j];
    inv.FC(iend) = FE;
    const int n0 = std::max(0, std::min<int>(N0, inv.NFQ));
    std::vector<float> h(static_cast<std::size_t>(n0));
    RECVIRT_MANY(inv, inv.FQ.data() + 1, n0, RECVIRT_ALL, h.data());
    double sum = 0.0;
    std::size_t n = 0;
    for (int K = 1; K <= n0; ++K) {
        sum += std::fabs(h[static_cast<std::size_t>(K - 1)] - inv.HV(K));
        ++n;
    }
    saved = keep;
    inv.FC(iend) = fckeep;
    return mean_misfit(sum, n);
}

// hold_foot: DENSTY again over the same end-frequency bracket (FC(IRGN+1) reset to FCEND
// before each trial), the fit held to a slope at the region's start (solver.cpp,
// hold_slope). The slopes tried lie between the smallest the lower orders gave (SLOPE) and
// nearly zero: SLOPE, SLOPE/2, ... SLOPE/32. The lower orders rise monotonically from the
// start, and the new order may rise no more steeply there than the gentlest of them; below
// that the observed points decide: of the trials the solver accepts, the one whose virtual
// heights recomputed through the profile fit the N0 observed points best is kept. (The
// fitted points include the gap's synthetic points, made from the lower orders, so the
// least-squares error of the trial itself is no guide to which slope suits the data; and a
// slope of exactly zero would put the turning point at the start itself, where the root
// count and the rounding of the coefficients decide by chance whether it counts.)
bool hold_foot(Inversion& inv, const Context& cx, int N0, float FCEND, float SLOPE, float LOWER,
               float& ERR) {
    static constexpr int NSLOPES = 6;
    const int16_t iroot = inv.IROOT;
    const int iend = inv.IRGN + 1;
    float best = NO_FIT, best_err = ERR, best_fend = FCEND, best_slope = 0.0f;
    F1<float, MAXNN> best_a;
    float held = SLOPE;
    inv.foot_held = true;
    for (int t = 0; t < NSLOPES; ++t, held *= 0.5f) {
        inv.foot_slope = held;
        inv.FC(iend) = FCEND;
        float err = ERR;
        DENSTY(inv, cx, err);
        if (inv.IROOT != 0) continue;
        const float m = observed_misfit(inv, inv.A.data(), inv.NN, inv.FC(iend), N0);
        if (m < best) {
            best = m;
            best_err = err;
            best_fend = inv.FC(iend);
            best_slope = held;
            best_a = inv.A;
        }
    }
    inv.foot_held = false;
    const bool ok = best <= LOWER;
    if (cx.log.IDEBUG >= 2) {
        cx.log.os() << "  GAP MODE ORDER " << inv.NN << " TURNS AT THE FOOT; SLOPE HELD: ";
        if (!(best < NO_FIT))
            cx.log.os() << "ROOTS REMAIN\n";
        else
            cx.log.os() << (ok ? "ACCEPTED" : "REFUSED") << " AT " << round3(best_slope)
                        << " KM/MHZ, OBSERVED MISFIT " << round3(best) << " KM, ORDER "
                        << inv.NN - 1 << " " << round3(LOWER) << " KM\n";
    }
    if (!ok) {
        inv.IROOT = iroot > 0 ? iroot : static_cast<int16_t>(1);
        inv.FC(iend) = FCEND;
        return false;
    }
    inv.A = best_a;
    inv.FEND = best_fend;
    inv.FC(iend) = best_fend;
    inv.IROOT = 0;
    inv.ICHK = 0;
    ERR = best_err;
    return true;
}

}  // namespace zelk::inversion

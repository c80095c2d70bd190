// The plots of a record's inversion, drawn into the frame: the scaled trace, the header,
// each solved region's profile, the valley model, the topside, the recomputed ordinary and
// extraordinary virtual heights and (in the diagnostic mode) the fitted data.
#include <algorithm>
#include <cmath>
#include <memory>

#include "display/display.hpp"
#include "inversion/inversion.hpp"
#include "core/fortran_io.hpp"

namespace zelk::display {

namespace {

using inversion::Inversion;
using fio::edit_value;

// Frequency steps (MHz) of the curves, per FSTEP: profiles 0.1 FSTEP, virtual heights
// 0.05 FSTEP.
constexpr float PROFILE_STEP = 0.1f;
constexpr float VIRTUAL_STEP = 0.05f;
// Most points of one curve: far more than a frame's width needs; a curve whose range
// would need more (a corrupt frequency) is cut there.
constexpr int MAXPTS = 4000;
// Heights (km): the top of the frame, where curves are clipped and points left out; a
// recomputed height above SKIPH in the lower 80 % of a region is a spike near a lower
// critical frequency and is left out.
constexpr float TOPH = 700.0f;
constexpr float SKIPH = 600.0f;
// Radius (pixels) of the point circles.
constexpr int RADIUS = 2;

void circle(Surface& s, bool filled, int x, int y) {
    s.ellipse(filled, x - RADIUS, y - RADIUS, x + RADIUS, y + RADIUS);
}

// The profile representation: h = HTOP + sqrt(u) sum A(k) T(k), T1 = 1, T2 = 2u - 1,
// T(k+1) = 2 (2u - 1) T(k) - T(k-1).
float chebyshev_height(float HTOP, float u, int NN, const float* A) {
    const float x = 2.0f * u - 1.0f;
    float tkm1 = 1.0f, tk = x, sum = 0.0f;
    for (int k = 1; k <= NN; ++k) {
        if (k == 1) {
            sum += A[1];
            continue;
        }
        sum += A[k] * tk;
        const float next = 2.0f * x * tk - tkm1;
        tkm1 = tk;
        tk = next;
    }
    return HTOP + std::sqrt(u) * sum;
}

// Two digits with a leading zero below 10.
std::string two(int32_t v) { return v < 10 ? "0" + edit_value("(I1)", v) : edit_value("(I2)", v); }

void open_recal(Display& d, PlotFile& f, const char* name, int irgn) {
    if (!d.WRITE_DATA) return;
    // Each record starts the file anew at its E region; later regions add to it.
    if (irgn == 1 || !f.is_open()) f.open(d.DATA_PREFIX + name);
}

void close_recal(Display& d, PlotFile& f, int irgn) {
    if (irgn != 3) return;
    std::string error;
    if (!f.close(error) && d.DATA_ERROR.empty()) d.DATA_ERROR = error;
}

// Draws one recomputed virtual-height curve from fa to fb in steps of VIRTUAL_STEP FSTEP:
// heights below 0 (no reflection) are left out, as are heights above SKIPH below fskip;
// heights are clipped at TOPH, and the curve ends at the first clipped point or at fb.
// Every computed point goes to the file when one is given.
template <class Height>
void virtual_curve(Display& d, Surface& s, float fa, float fb, float fskip, PlotFile* file,
                   Height height) {
    const float step = VIRTUAL_STEP * static_cast<float>(d.FSTEP);
    bool first = true;
    for (int j = 0; j < MAXPTS; ++j) {
        const float f = std::fmin(fa + static_cast<float>(j) * step, fb);
        float h = height(f);
        if (file) file->point(f, h);
        bool stop = !(f < fb);
        if (h >= 0.0f && !(h > SKIPH && f < fskip)) {
            h = std::fmin(h, TOPH);
            const int x = pixel_x(d, f), y = pixel_y(h);
            if (first) s.move_to(x, y);
            else s.line_to(x, y);
            first = false;
            if (h >= TOPH) stop = true;
        }
        if (stop) break;
    }
}

// A scratch copy of the inversion area for RECVIRT, which works on the solver's arrays
// (and restores them): the plots read the area, they never write it.
Inversion& scratch_copy(const Inversion& inv) {
    thread_local std::unique_ptr<Inversion> scratch;
    if (!scratch) scratch = std::make_unique<Inversion>();
    *scratch = inv;
    return *scratch;
}

}  // namespace

// EVFPLOT: what the inversion draws at each stage (CODE 0 the trace list, 1 the E region,
// 2 the valley, 3 the F1 region, 4 the F2 region, 5 nothing, others the fitted data).
// Nothing at IDEBUG 4 and above, or before GRAPHMODE.
void EVFPLOT(Display& d, Surface& s, const PlotInputs& in, int CODE) {
    if (in.IDEBUG >= 4 || !d.GRAPHON || in.inv == nullptr) return;
    const Inversion& inv = *in.inv;
    const bool diag = in.IDEBUG == 3;
    switch (CODE) {
    case 0:
        PLOTRACE(d, s, in);
        break;
    case 1:
        PLOTSSN(d, s, in.header);
        PLOTPROF(d, s, RED, inv.IRGN, inv.FC(1), inv.FC(2), inv.ZME, 3, inv.A_E.data());
        PLOTRECV(d, s, inv, 5);
        PLOTRECX(d, s, inv, 5);
        break;
    case 2:
        PLOTPOLV(d, s, inv.FV, inv.FC(2), inv.ZME, inv.VSLOPE.data(), inv.VW2, inv.VW3);
        break;
    case 3:
        PLOTPROF(d, s, RED, inv.IRGN, inv.FC(2), inv.FC(3), inv.ZMF1, 5, inv.A_F1.data());
        PLOTRECV(d, s, inv, 5);
        PLOTRECX(d, s, inv, 5);
        if (diag) {
            PLOTDATA(d, s, inv, 2);
            for (int k = 1; k <= 3; ++k) PLOTRECV(d, s, inv, k);
        }
        break;
    case 4:
        PLOTPROF(d, s, RED, inv.IRGN, inv.FC(3), inv.FC(4), inv.ZMF2, 5, inv.A_F2.data());
        PLOTTOP(d, s, RED, 2, inv.ZMF2, inv.FC(4), in.H);
        PLOTRECV(d, s, inv, 5);
        PLOTRECX(d, s, inv, 5);
        if (diag) {
            PLOTDATA(d, s, inv, 2);
            for (int k = 1; k <= 3; ++k) PLOTRECV(d, s, inv, k);
            if (inv.NFQF1 > 0) PLOTRECV(d, s, inv, 4);
        }
        break;
    case 5:
        break;
    default:
        PLOTDATA(d, s, inv, 1);
        break;
    }
}

// PLOTRACE: the trace list as red circles, up to the first usable point of frequency 0
// (which ends the plot), then the record's extra E-type trace the same way. Points at
// heights of 0 or less, or above 700 km, are left out. The trace list's points go to
// TRACE.DAT, which stays open for the run.
void PLOTRACE(Display& d, Surface& s, const PlotInputs& in) {
    if (!d.GRAPHON || in.inv == nullptr) return;
    const Inversion& inv = *in.inv;
    if (d.WRITE_DATA && !d.TRACE.is_open()) d.TRACE.open(d.DATA_PREFIX + "TRACE.DAT");
    s.set_colour(RED);
    for (int i = 1; i <= inversion::MAXTRC; ++i) {
        const float h = inv.TRH(i);
        if (!(h > 0.0f) || h > TOPH) continue;
        if (inv.TRF(i) == 0.0f) return;
        circle(s, false, pixel_x(d, inv.TRF(i)), pixel_y(h));
        if (d.WRITE_DATA) d.TRACE.point(inv.TRF(i), h);
    }
    const int n = std::min(in.NEXTRA, 150);
    for (int i = 0; i < n && in.EXTRAF && in.EXTRAH; ++i) {
        const float h = in.EXTRAH[i];
        if (!(h > 0.0f) || h > TOPH) continue;
        if (in.EXTRAF[i] == 0.0f) break;
        circle(s, false, pixel_x(d, in.EXTRAF[i]), pixel_y(h));
    }
}

// PLOTSSN: the time and sunspot header, two lines of 47 characters.
void PLOTSSN(Display& d, Surface& s, const Header& h) {
    if (!d.GRAPHON) return;
    std::string l1 = " TIME : " + edit_value("(I4)", h.IYEAR) + "/" + edit_value("(I3)", h.IDAY) +
                     "(MONTH:" + edit_value("(I2)", h.IMON) + " DATE:" + edit_value("(I2)", h.IDOM) +
                     ")/" + two(h.IHR) + ":" + two(h.MINU) + ":" + two(h.ISEC) + "(UT)";
    const int32_t ssn = static_cast<int32_t>(std::fmax(-1.0e6f, std::fmin(1.0e6f, h.SSNIN)));
    std::string l2 = " SUNSPOT : " + edit_value("(I3)", ssn);
    const std::string dev = "+/-" + edit_value("(F5.1)", h.SSNDEVOUT);
    if (ssn == h.ISSN) {
        l2 += h.SSNDEVOUT == 0.0f ? "(OBSERVED)" : dev + "(PREDICTED)";
    } else {
        l2 += "(OLD)," + edit_value("(I3)", h.ISSN);
        l2 += h.SSNDEVOUT == 0.0f ? "(NEW, OBSERVED) " : dev + "(NEW, PREDICTED)";
    }
    l1.resize(47, ' ');
    l2.resize(47, ' ');
    s.set_colour(BLACK);
    s.move_to(Display::PX0, Display::PY0 - 38);
    s.text(l1);
    s.move_to(Display::PX0, Display::PY0 - 20);
    s.text(l2);
}

// PLOTPROF: one region's profile from FSTART to FEND (MHz), peak height HTOP (km) at FEND,
// NN coefficients A[1..NN], in COLOR, after a yellow marker at FEND whose length tells the
// region (IRGN 1 E, 2 F1, otherwise F2, longer above 6 FSTEP MHz). Nothing unless
// 0 < FSTART < FEND.
void PLOTPROF(Display& d, Surface& s, Rgb COLOR, int IRGN, float FSTART, float FEND, float HTOP,
              int NN, const float* A) {
    if (!d.GRAPHON || !(FSTART > 0.0f && FEND > FSTART)) return;
    const int nn = std::clamp(NN, 0, inversion::MAXNN);
    constexpr int PY1 = Display::PY1;
    const int top = IRGN == 1 ? PY1 - 200
                  : IRGN == 2 ? PY1 - 250
                  : FEND < 6.0f * static_cast<float>(d.FSTEP) ? PY1 - 300
                                                              : PY1 - 350;
    s.set_colour(YELLOW);
    s.move_to(pixel_x(d, FEND), PY1);
    s.line_to(pixel_x(d, FEND), top);

    s.set_colour(COLOR);
    float sum = 0.0f;
    for (int k = 1; k <= nn; ++k) sum += A[k];
    s.move_to(pixel_x(d, FSTART), pixel_y(HTOP + sum));
    const float step = PROFILE_STEP * static_cast<float>(d.FSTEP);
    const float L = std::log(FSTART / FEND);
    // Steps counted from FSTART (not summed), so that a range of whole steps ends with a
    // whole step rather than a sliver left by rounding.
    float f = FSTART;
    for (int j = 1; j <= MAXPTS && f < FEND; ++j) {
        f = j == MAXPTS ? FEND : std::fmin(FSTART + static_cast<float>(j) * step, FEND);
        const float u = std::log(f / FEND) / L;
        s.line_to(pixel_x(d, f), pixel_y(chebyshev_height(HTOP, u, nn, A)));
    }
}

// PLOTPOLV: the valley model in red: from the E peak (FE, ZE) the falling side down to the
// valley frequency FV (the E layer's top scaled by VSLOPE[1..3]), the flat bottom W2 km
// straight up, and the rising side back to FE over W3 km.
void PLOTPOLV(Display& d, Surface& s, float FV, float FE, float ZE, const float* VSLOPE, float W2,
              float W3) {
    if (!d.GRAPHON) return;
    s.set_colour(RED);
    s.move_to(pixel_x(d, FE), pixel_y(ZE));
    float f = FE, h = ZE;
    if (FV < FE && FV > 0.0f) {
        const float step = PROFILE_STEP * static_cast<float>(d.FSTEP);
        const float L = std::log(FV / FE);
        for (int j = 1; j <= MAXPTS && f > FV; ++j) {
            f = j == MAXPTS ? FV : std::fmax(FE - static_cast<float>(j) * step, FV);
            const float u = std::log(f / FE) / L;
            const float x = 2.0f * u - 1.0f;
            const float t3 = 2.0f * x * x - 1.0f;
            h = ZE - std::sqrt(u) * (VSLOPE[1] + VSLOPE[2] * x + VSLOPE[3] * t3);
            s.line_to(pixel_x(d, f), pixel_y(h));
        }
    }
    s.line_to(pixel_x(d, f), pixel_y(h + W2));
    if (W3 > 0.0f) s.line_to(pixel_x(d, FE), pixel_y(h + W2 + W3));
}

// PLOTDATA: the fit data as filled circles: K = 1 the observed heights HV in dark green,
// K = 2 the heights YK the region has to explain in teal. Heights above 700 km and below 0
// are left out.
void PLOTDATA(Display& d, Surface& s, const Inversion& inv, int K) {
    if (!d.GRAPHON || inv.NFQ == 0) return;
    s.set_colour(K == 1 ? DARK_GREEN : TEAL);
    const int n = std::clamp<int>(inv.NFQ, 0, inversion::MAXTRC);
    for (int i = 1; i <= n; ++i) {
        const float h = K == 1 ? inv.HV(i) : inv.YK(i);
        if (h <= TOPH && h >= 0.0f) circle(s, true, pixel_x(d, inv.FQ(i)), pixel_y(h));
    }
}

// PLOTRECV: the ordinary-wave virtual heights the solved profile implies over region IRGN,
// part K as the MODE of RECVIRT (1 current region magenta, 2 E part grey, 3 valley cyan,
// 4 F1 part grey, 5 complete dark green, which also goes to RECAL_OTRACE.DAT).
void PLOTRECV(Display& d, Surface& s, const Inversion& inv, int K) {
    if (!d.GRAPHON) return;
    const int irgn = inv.IRGN;
    if (irgn < 1 || irgn > 3) return;
    if (K == 5) open_recal(d, d.RECALO, "RECAL_OTRACE.DAT", irgn);
    const Rgb colour = K == 1 ? MAGENTA : K == 2 ? GREY : K == 3 ? CYAN : K == 4 ? GREY : DARK_GREEN;
    if (((K == 2 || K == 3) && irgn == 1) || (K == 4 && irgn < 3)) return;
    s.set_colour(colour);
    const float FSTART = inv.FC(irgn), FEND = inv.FC(irgn + 1);
    const float fa = K == 1 ? FSTART : FSTART + 0.005f;
    const float fb = K == 1 || K == 5 ? FEND - 0.005f : FEND;
    const float f80 = FSTART + 0.8f * (FEND - FSTART);
    Inversion& work = scratch_copy(inv);
    virtual_curve(d, s, fa, fb, f80, K == 5 && d.RECALO.is_open() ? &d.RECALO : nullptr,
                  [&](float f) { return inversion::RECVIRT(work, f, K); });
    if (K == 5) close_recal(d, d.RECALO, irgn);
}

// PLOTRECX: the extraordinary-wave virtual heights of region IRGN in blue, over the X
// frequencies of the region's plasma frequencies, fx(fN) = (FH + sqrt(FH^2 + 4 fN^2))/2;
// part K as for PLOTRECV (K = 5 to RECAL_XTRACE.DAT). No curve for a region that ends at or
// below the gyrofrequency.
void PLOTRECX(Display& d, Surface& s, const Inversion& inv, int K) {
    if (!d.GRAPHON) return;
    const int irgn = inv.IRGN;
    if (irgn < 1 || irgn > 3) return;
    if (K == 5) open_recal(d, d.RECALX, "RECAL_XTRACE.DAT", irgn);
    const float FSTART = inv.FC(irgn), FEND = inv.FC(irgn + 1), FH = inv.FH;
    const bool skip = ((K == 2 || K == 3) && irgn == 1) || (K == 4 && irgn < 3) || !(FEND > FH);
    if (!skip) {
        s.set_colour(BLUE);
        const auto fx = [FH](float fn) { return (FH + std::sqrt(FH * FH + 4.0f * fn * fn)) / 2.0f; };
        const float fa = fx(FSTART) + (irgn == 1 || K != 1 ? 0.05f : 0.0f);
        const float fb = fx(FEND) - (K == 1 || K == 5 ? 0.005f : 0.0f);
        virtual_curve(d, s, fa, fb, 0.5f * (fa + fb),
                      K == 5 && d.RECALX.is_open() ? &d.RECALX : nullptr,
                      [&](float f) { return inversion::RECVIRTX(inv, f, K); });
    }
    if (K == 5) close_recal(d, d.RECALX, irgn);
}

// PLOTTOP: the topside above the F2 peak (ZMF2 km, FC4 MHz) with scale height H (km) in
// dashes (every other step of 5 km drawn): MODE 1 an alpha-Chapman layer with 0.25, MODE 2
// with 0.5 in the exponent, other modes a vertical line at FC4. It goes up while the
// frequency is above 0.6 MHz and the height below 700 km (600 km where a high foF2's topside
// crosses the left half of the frame).
void PLOTTOP(Display& d, Surface& s, Rgb COLOR, int MODE, float ZMF2, float FC4, float H) {
    if (!d.GRAPHON) return;
    s.set_colour(COLOR);
    const float c = MODE == 1 ? 0.25f : MODE == 2 ? 0.5f : 0.0f;
    for (int k = 0; k < MAXPTS; ++k) {
        const float h = ZMF2 + 5.0f * static_cast<float>(k);
        const float z = (h - ZMF2) / H;
        const float f = c == 0.0f ? FC4 : FC4 * std::exp(c * (1.0f - z - std::exp(-z)));
        const float limit = FC4 > 7.0f && f / static_cast<float>(d.FSTEP) < 7.0f ? SKIPH : TOPH;
        if (!(f > 0.6f && h < limit)) break;
        if (k % 2 == 0) s.move_to(pixel_x(d, f), pixel_y(h));
        else s.line_to(pixel_x(d, f), pixel_y(h));
    }
}

// PLOT_IRI_F_LAYER: the IRI bottomside fitted to the profile, in black, from the F2 peak row
// of the 1 km table downwards to the valley top.
void PLOT_IRI_F_LAYER(Display& d, Surface& s, int NPROW1, const float* PRFFN1, const float* HIRI,
                      float valley_top) {
    if (!d.GRAPHON) return;
    int i = NPROW1;
    while (i >= 1 && !(PRFFN1[i] > 0.0f)) --i;
    if (i < 1) return;
    s.set_colour(BLACK);
    s.move_to(pixel_x(d, PRFFN1[i]), pixel_y(HIRI[i]));
    for (--i; i >= 1; --i) {
        if (!(PRFFN1[i] > 0.0f) || HIRI[i] < valley_top) break;
        s.line_to(pixel_x(d, PRFFN1[i]), pixel_y(HIRI[i]));
    }
}

}  // namespace zelk::display

#include "display/hooks.hpp"

#include <algorithm>

#include "core/zelk.hpp"

namespace zelk::display {

namespace {

PlotInputs inputs_of(const Zelk& z) {
    PlotInputs in;
    in.inv = &z.inv;
    in.header.IYEAR = z.mod.IYEAR;
    in.header.IDAY = z.inv.IDAY;
    in.header.IMON = z.mod.IMON;
    in.header.IDOM = z.mod.IDOM;
    in.header.IHR = z.inv.IHR;
    in.header.MINU = z.inv.MINU;
    in.header.ISEC = z.inv.ISEC;
    in.header.SSNIN = z.inv.SSNIN;
    in.header.ISSN = z.mod.ISSN;
    in.header.SSNDEVOUT = z.mod.SSNDEVOUT;
    // The extra E-type trace: frequencies of group 59, heights of group 58.
    in.EXTRAF = z.rec.AUXFN.data() + 1;
    in.EXTRAH = z.rec.AUXHT.data() + 1;
    in.NEXTRA = 150;
    in.H = z.prod.H;
    in.IDEBUG = z.log.IDEBUG;
    return in;
}

}  // namespace

void SurfacePlotter::EVFPLOT(Zelk& z, int code) { display::EVFPLOT(d_, s_, inputs_of(z), code); }

void SurfacePlotter::SETCOORD(Zelk& z) {
    if (!d_.GRAPHON) return;
    s_.clear(WHITE);
    FrameInputs in;
    in.FOF2 = z.inv.FOF2;
    in.LAT = z.inv.LOCATION(1);
    in.LON = z.inv.LOCATION(2);
    in.STNAME = z.inv.STNAME;
    display::SETCOORD(d_, s_, in);
}

void SurfacePlotter::PLOTPROF(Zelk& z) {
    if (z.log.IDEBUG >= 4) return;
    const int irgn = z.inv.IRGN;
    const auto& p = irgn == 1 ? z.rec.PCOEFE : irgn == 2 ? z.rec.PCOEF1 : z.rec.PCOEF2;
    if (irgn < 1 || irgn > 3) return;
    // Entries 1 to 3 of a description: start frequency, end frequency, peak height.
    display::PLOTPROF(d_, s_, RED, irgn, p(1), p(2), p(3), irgn == 1 ? 3 : 5, z.inv.A.data());
}

void SurfacePlotter::PLOT_IRI_F_LAYER(Zelk& z) {
    // Nothing is drawn at the levels that draw no frame.
    if (z.log.IDEBUG >= 4) return;
    const int n = std::clamp<int>(z.prod.NPROW1, 0, products::MAXROW);
    display::PLOT_IRI_F_LAYER(d_, s_, n, z.prod.PRFFN1.data(), z.prod.HIRI.data(),
                              z.inv.ZME + z.inv.VW);
}

void SurfacePlotter::TIMDELAY(float seconds) {
    if (pause_) display::TIMDELAY(static_cast<int>(seconds));
}

bool SurfacePlotter::finish_files(std::string& error) {
    bool ok = true;
    std::string e;
    for (PlotFile* f : {&d_.TRACE, &d_.RECALO, &d_.RECALX}) {
        if (!f->CLOSE(e)) {
            ok = false;
            if (error.empty()) error = e;
        }
    }
    if (!d_.DATA_ERROR.empty()) {
        if (error.empty()) error = d_.DATA_ERROR;
        ok = false;
    }
    return ok;
}

}  // namespace zelk::display

#include "display/hooks.hpp"

#include <algorithm>

namespace zelk::display {

namespace {

PlotInputs inputs_of(const RecordView& v, const inversion::Inversion& inv) {
    PlotInputs in;
    in.inv = &inv;
    in.header.IYEAR = v.mod.IYEAR;
    in.header.IDAY = inv.IDAY;
    in.header.IMON = v.mod.IMON;
    in.header.IDOM = v.mod.IDOM;
    in.header.IHR = inv.IHR;
    in.header.MINU = inv.MINU;
    in.header.ISEC = inv.ISEC;
    in.header.SSNIN = inv.SSNIN;
    in.header.ISSN = v.mod.ISSN;
    in.header.SSNDEVOUT = v.mod.SSNDEVOUT;
    // The extra E-type trace: frequencies of group 59, heights of group 58.
    in.EXTRAF = v.rec.AUXFN.data() + 1;
    in.EXTRAH = v.rec.AUXHT.data() + 1;
    in.NEXTRA = 150;
    in.H = v.prod.H;
    in.IDEBUG = v.IDEBUG;
    return in;
}

}  // namespace

void SurfacePlotter::plot(const inversion::Inversion& inv, int code) {
    if (!view_) return;
    display::EVFPLOT(d_, s_, inputs_of(*view_, inv), code);
}

void SurfacePlotter::frame(const RecordView& view) {
    view_.emplace(view);
    if (!d_.GRAPHON) return;
    s_.clear(WHITE);
    FrameInputs in;
    in.FOF2 = view.inv.FOF2;
    in.LAT = view.inv.LOCATION(1);
    in.LON = view.inv.LOCATION(2);
    in.STNAME = view.inv.STNAME;
    display::SETCOORD(d_, s_, in);
}

void SurfacePlotter::existing_profile(int region, const profile::RegionProfile& r) {
    if (!view_ || view_->IDEBUG >= 4) return;
    display::PLOTPROF(d_, s_, RED, region, r.FS, r.FE, r.ZM, r.NN, r.A.data());
}

void SurfacePlotter::model_bottomside(const models::Bottomside& bot) {
    // Nothing is drawn at the levels that draw no frame.
    if (!view_ || view_->IDEBUG >= 4) return;
    const int n = std::clamp<int>(bot.NPROW1, 0, profile::MAXROW);
    display::PLOT_IRI_F_LAYER(d_, s_, n, bot.PRFFN1.data(), bot.HIRI.data(), bot.HVT);
}

void SurfacePlotter::pause(float seconds) {
    if (pause_) display::TIMDELAY(static_cast<int>(seconds));
}

bool SurfacePlotter::finish_files(std::string& error) {
    bool ok = true;
    std::string e;
    for (PlotFile* f : {&d_.TRACE, &d_.RECALO, &d_.RECALX}) {
        if (!f->close(e)) {
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

// The display behind the run's plot hooks: takes the plain inputs of each plot from the
// views the stages hand over and draws them on a surface. The interactive window and the
// batch program's pictures both draw through it.
#pragma once

#include <optional>
#include <string>

#include "display/display.hpp"
#include "pipeline/plot_hooks.hpp"

namespace zelk::display {

class SurfacePlotter final : public PlotHooks {
public:
    explicit SurfacePlotter(Surface& surface) : s_(surface) {}

    Display& display() { return d_; }
    Surface& surface() { return s_; }

    // Opens the canvas (GRAPHMODE); until then nothing is drawn.
    void open() { GRAPHMODE(d_, s_); }

    // Clears the canvas and draws the record's frame; keeps the view for the stages of the
    // record (header values, the auroral-E trace, the topside scale height).
    void frame(const RecordView& view) override;
    // A profile the input record carries, in red.
    void existing_profile(int region, const profile::RegionProfile& r) override;
    void model_bottomside(const models::Bottomside& bot) override;
    // The pause after a record at debug levels 2 and 3, for a user looking at a window;
    // pictures drawn for files are not looked at while they are drawn (set_pause(false)).
    void pause(float seconds) override;
    void set_pause(bool on) { pause_ = on; }

    void trace_list(const inversion::Inversion& inv) override { plot(inv, 0); }
    void data(const inversion::Inversion& inv) override { plot(inv, 10); }
    void e_region(const inversion::Inversion& inv) override { plot(inv, 1); }
    void valley(const inversion::Inversion& inv) override { plot(inv, 2); }
    void f1_region(const inversion::Inversion& inv) override { plot(inv, 3); }
    void f2_region(const inversion::Inversion& inv) override { plot(inv, 4); }

    // Writes the plot data files still open (TRACE.DAT); false with a message on failure.
    bool finish_files(std::string& error);

private:
    // The plots of an inversion stage (EVFPLOT code); nothing before a frame was drawn.
    void plot(const inversion::Inversion& inv, int code);

    Surface& s_;
    Display d_;
    std::optional<RecordView> view_;   // the record being drawn (views into the run's areas)
    bool pause_ = true;
};

}  // namespace zelk::display

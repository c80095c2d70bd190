// The display behind the run's plot hooks: takes the plain inputs of each plot from the run
// context and draws them on a surface. The interactive window and the batch program's
// pictures both draw through it.
#pragma once

#include "core/plotter.hpp"
#include "display/display.hpp"

namespace zelk::display {

class SurfacePlotter final : public Plotter {
public:
    explicit SurfacePlotter(Surface& surface) : s_(surface) {}

    Display& display() { return d_; }
    Surface& surface() { return s_; }

    // Opens the canvas (GRAPHMODE); until then nothing is drawn.
    void open() { GRAPHMODE(d_, s_); }

    void EVFPLOT(Zelk& z, int code) override;
    // Clears the canvas and draws the record's frame.
    void SETCOORD(Zelk& z) override;
    // A profile the input record carries: region IRGN of the run context, the working
    // coefficients A, and the start and end frequencies and peak height of the record's
    // description of that region.
    void PLOTPROF(Zelk& z) override;
    void PLOT_IRI_F_LAYER(Zelk& z) override;
    // The pause after a record at debug levels 2 and 3, for a user looking at a window;
    // pictures drawn for files are not looked at while they are drawn (set_pause(false)).
    void TIMDELAY(float seconds) override;
    void set_pause(bool on) { pause_ = on; }

    // Writes the plot data files still open (TRACE.DAT); false with a message on failure.
    bool finish_files(std::string& error);

private:
    Surface& s_;
    Display d_;
    bool pause_ = true;
};

}  // namespace zelk::display

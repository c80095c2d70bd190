// The display hooks that the run loop and the inversion call. The numerical core sees only
// this interface; the headless default draws nothing, the Qt canvas of display/ overrides it.
#pragma once

namespace zelk {

struct Zelk;

class Plotter {
public:
    virtual ~Plotter() = default;
    // Plot dispatcher of the inversion: code 0 the trace list, other codes the region stages.
    virtual void EVFPLOT(Zelk&, int /*code*/) {}
    // Clears the window and draws the frame of the current record.
    virtual void SETCOORD(Zelk&) {}
    // Draws the profile of the working coefficient vector for region IRGN.
    virtual void PLOTPROF(Zelk&) {}
    // Draws the model bottomside after the record.
    virtual void PLOT_IRI_F_LAYER(Zelk&) {}
    // Pauses the display (seconds).
    virtual void TIMDELAY(float /*seconds*/) {}
};

}  // namespace zelk

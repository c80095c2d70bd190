// The welcome screen (COVER's drawing), on any drawing surface: a blue canvas with brown
// frames, the white and grey title box with "WELCOME  TO", "ZELK" and the version, and the
// two lines saying what the program does.
#pragma once

#include <string>

#include "display/surface.hpp"

namespace zelk::app {

// Draws the welcome screen over the whole surface. VERSID is the 8-character version
// identifier ("VS.04.31"); its characters 5 to 8 are the version shown.
void draw_cover(display::Surface& s, const std::string& VERSID);

}  // namespace zelk::app

// The inversion's shared working data.
#pragma once

namespace zelk::inversion {

struct Inversion {
};

}  // namespace zelk::inversion

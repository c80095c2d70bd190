#include "app/cover.hpp"

namespace zelk::app {

void draw_cover(display::Surface& s, const std::string& VERSID) {
    // W and H: the largest pixel coordinates; the layout was made for 640 x 480 and scales
    // with sx and sy (real ratios), int() truncating toward zero.
    const int W = s.width() - 1;
    const int H = s.height() - 1;
    const double sx = W / 640.0;
    const double sy = H / 480.0;
    auto I = [](double v) { return static_cast<int>(v); };

    s.set_colour_index(1);
    s.rectangle(true, 0, 0, W, H);

    s.set_colour_index(6);
    const int top = H / 20 + I(100 * sy);
    for (int i = 0; i <= 2; ++i) {
        s.rectangle(false, i, i, W - i - 18, H - i - 103);
        s.rectangle(false, 7 + i, 7 + i, W - i - 25, top - i + 85);
        s.rectangle(false, 7 + i, top - i + 92, W - i - 25, H - i - 110);
    }

    // Title box: bright white with a dark grey inside.
    const int x0 = W / 2 - I(230 * sx);
    const int y0 = H / 20;
    const int y1 = y0 + I(100 * sy);
    const int d = W <= 1000 ? 5 : 10;
    s.set_colour_index(15);
    s.rectangle(true, x0, y0, W - x0, y1);
    s.set_colour_index(8);
    s.rectangle(true, x0 + d, y0 + d, W - x0 - d, y1 - d);
    s.set_colour_index(15);

    s.set_font(3, I(15 * sx), I(8 * sy));
    s.move_to(W / 2 - I(80 * sx), H / 10 - I(40 * sy));
    s.text("WELCOME  TO");
    s.set_font(3, I(100 * sx), I(50 * sy));
    s.move_to(W / 2 - I(3.2 * 50 * sx), H / 20);
    s.text("ZELK");
    s.set_font(3, I(16 * sx), I(8 * sy));
    s.move_to(W / 2 + I(50 * sx), H / 20 + I(80 * sy));
    s.text("VERSION " + (VERSID.size() >= 8 ? VERSID.substr(4, 4) : std::string()));

    s.set_colour_index(13);
    s.move_to(W / 2 - I(290 * sx) - 10, H / 20 + I(100 * sy) + 10);
    s.text("The program ZELK inverts ionogram trace data with any format into electron");
    s.move_to(W / 2 - I(290 * sx) - 10, H / 20 + I(100 * sy) + 40);
    s.text("density profiles N(h). The VXO data format is always used for output files.");
    s.set_colour_index(15);
}

}  // namespace zelk::app

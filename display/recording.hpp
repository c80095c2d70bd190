// A drawing surface that keeps what is drawn on it, as primitives with their pixel
// coordinates and the colour, font and rotation in force. Tests look at the primitives;
// the batch program draws a record once on it and paints the record on a picture with
// replay.
#pragma once

#include <string>
#include <vector>

#include "display/surface.hpp"

namespace zelk::display {

struct Primitive {
    enum Kind { clear, RECT, FILLED_RECT, MOVE, LINE, ELLIPSE, FILLED_ELLIPSE, TEXT };
    Kind kind = MOVE;
    Rgb colour = 0;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;   // LINE: from (x1, y1) to (x2, y2); MOVE, TEXT: (x1, y1)
    std::string text;                     // TEXT only
    int font = 1, font_height = 0, font_width = 0, rotation = 0;   // TEXT only
};

class RecordingSurface final : public Surface {
public:
    explicit RecordingSurface(int width = 1024, int height = 768) : w_(width), h_(height) {}

    int width() const override { return w_; }
    int height() const override { return h_; }
    void clear(Rgb background) override;
    void set_colour(Rgb colour) override { colour_ = colour; }
    void rectangle(bool filled, int x1, int y1, int x2, int y2) override;
    void move_to(int x, int y) override;
    void line_to(int x, int y) override;
    void ellipse(bool filled, int x1, int y1, int x2, int y2) override;
    void set_font(int index, int height, int width) override;
    void set_text_rotation(int tenths) override { rotation_ = tenths; }
    void text(std::string_view s) override;

    const std::vector<Primitive>& primitives() const { return prims_; }
    // Forgets the primitives (the state of colour, font and position is kept).
    void reset() { prims_.clear(); }
    // Draws the primitives, in order, on another surface.
    void replay(Surface& to) const;

private:
    // Records a shape in the current colour.
    void shape(Primitive::Kind kind, int x1, int y1, int x2 = 0, int y2 = 0);

    int w_, h_;
    Rgb colour_ = 0;
    int x_ = 0, y_ = 0;
    int font_ = 1, fh_ = 16, fw_ = 8, rotation_ = 0;
    std::vector<Primitive> prims_;
};

}  // namespace zelk::display

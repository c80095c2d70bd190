#include "display/recording.hpp"

namespace zelk::display {

namespace {

constexpr Rgb PALETTE16[16] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080,
                               0x808000, 0xC0C0C0, 0x808080, 0x0000FF, 0x00FF00, 0x00FFFF,
                               0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};

}  // namespace

const char* const FONT_TABLE[NFONTS + 1] = {"",           "T'HELV '  ", "T'COURIER'",
                                            "T'TMS RMN'", "T'MODERN' ", "T'SCRIPT' ",
                                            "T'ROMAN'  "};

Rgb palette(int index) { return PALETTE16[static_cast<unsigned>(index) & 15u]; }

void RecordingSurface::clear(Rgb background) {
    Primitive p;
    p.kind = Primitive::clear;
    p.colour = background;
    p.x2 = w_ - 1;
    p.y2 = h_ - 1;
    prims_.push_back(p);
}

void RecordingSurface::shape(Primitive::Kind kind, int x1, int y1, int x2, int y2) {
    Primitive p;
    p.kind = kind;
    p.colour = colour_;
    p.x1 = x1;
    p.y1 = y1;
    p.x2 = x2;
    p.y2 = y2;
    prims_.push_back(p);
}

void RecordingSurface::rectangle(bool filled, int x1, int y1, int x2, int y2) {
    shape(filled ? Primitive::FILLED_RECT : Primitive::RECT, x1, y1, x2, y2);
}

void RecordingSurface::move_to(int x, int y) {
    x_ = x;
    y_ = y;
    shape(Primitive::MOVE, x, y);
}

void RecordingSurface::line_to(int x, int y) {
    shape(Primitive::LINE, x_, y_, x, y);
    x_ = x;
    y_ = y;
}

void RecordingSurface::ellipse(bool filled, int x1, int y1, int x2, int y2) {
    shape(filled ? Primitive::FILLED_ELLIPSE : Primitive::ELLIPSE, x1, y1, x2, y2);
}

void RecordingSurface::set_font(int index, int height, int width) {
    font_ = index >= 1 && index <= NFONTS ? index : 1;
    fh_ = height;
    fw_ = width;
}

void RecordingSurface::text(std::string_view s) {
    Primitive p;
    p.kind = Primitive::TEXT;
    p.colour = colour_;
    p.x1 = x_;
    p.y1 = y_;
    p.text = std::string(s);
    p.font = font_;
    p.font_height = fh_;
    p.font_width = fw_;
    p.rotation = rotation_;
    prims_.push_back(p);
}

void RecordingSurface::replay(Surface& to) const {
    for (const Primitive& p : prims_) {
        switch (p.kind) {
        case Primitive::clear:
            to.clear(p.colour);
            break;
        case Primitive::RECT:
        case Primitive::FILLED_RECT:
            to.set_colour(p.colour);
            to.rectangle(p.kind == Primitive::FILLED_RECT, p.x1, p.y1, p.x2, p.y2);
            break;
        case Primitive::MOVE:
            to.move_to(p.x1, p.y1);
            break;
        case Primitive::LINE:
            to.set_colour(p.colour);
            to.move_to(p.x1, p.y1);
            to.line_to(p.x2, p.y2);
            break;
        case Primitive::ELLIPSE:
        case Primitive::FILLED_ELLIPSE:
            to.set_colour(p.colour);
            to.ellipse(p.kind == Primitive::FILLED_ELLIPSE, p.x1, p.y1, p.x2, p.y2);
            break;
        case Primitive::TEXT:
            to.set_colour(p.colour);
            to.set_font(p.font, p.font_height, p.font_width);
            to.set_text_rotation(p.rotation);
            to.move_to(p.x1, p.y1);
            to.text(p.text);
            break;
        }
    }
}

}  // namespace zelk::display

// The drawing surface the plots draw on: the graphics operations of the window library the
// plots were laid out for, in pixels of a fixed logical canvas (x to the right, y down).
//
// Colours come either as an index into the standard 16-colour palette or as an RGB value in
// the library's blue-green-red byte order (0xBBGGRR: "#0000FF" is red on screen); both are
// turned into an on-screen Rgb (0xRRGGBB) here, so every implementation sees one kind.
// Text is drawn with its top-left corner at the current position, in one of the six fonts
// of the font table at a pixel height and width, turned counter-clockwise by the current
// rotation. Implementations: RecordingSurface (keeps the primitives, for tests and for
// drawing a record once and painting it on several targets) and the Qt painter of
// display/qt (window, PNG, SVG, PDF).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelk::display {

// An on-screen colour 0xRRGGBB.
using Rgb = uint32_t;

// The standard 16-colour palette: 0 black, 1 blue, 2 green, 3 cyan, 4 red, 5 magenta,
// 6 brown, 7 white (light grey), 8 dark grey, 9 light blue, 10 light green, 11 light cyan,
// 12 light red, 13 light magenta, 14 yellow, 15 bright white. Indices outside 0..15 wrap.
Rgb palette(int index);

// The on-screen colour of an RGB value written in blue-green-red byte order (0xBBGGRR).
constexpr Rgb from_bgr(uint32_t bgr) {
    return ((bgr & 0xFFu) << 16) | (bgr & 0xFF00u) | ((bgr >> 16) & 0xFFu);
}

// Fonts of the font table, 1-based: the face part of each font description.
static constexpr int NFONTS = 6;
extern const char* const FONT_TABLE[NFONTS + 1];   // [0] unused

class Surface {
public:
    virtual ~Surface() = default;

    // Size of the canvas in pixels.
    virtual int width() const = 0;
    virtual int height() const = 0;
    // Fills the whole canvas with the background colour.
    virtual void clear(Rgb background) = 0;
    // Drawing colour of lines, outlines, fills and text.
    virtual void set_colour(Rgb colour) = 0;
    void set_colour_index(int index) { set_colour(palette(index)); }
    void set_colour_bgr(uint32_t bgr) { set_colour(from_bgr(bgr)); }
    // Rectangle with corners (x1, y1) and (x2, y2), both inclusive.
    virtual void rectangle(bool filled, int x1, int y1, int x2, int y2) = 0;
    // Current position; a line from it to (x, y), which becomes the current position.
    virtual void move_to(int x, int y) = 0;
    virtual void line_to(int x, int y) = 0;
    // Ellipse inscribed in the box with corners (x1, y1) and (x2, y2).
    virtual void ellipse(bool filled, int x1, int y1, int x2, int y2) = 0;
    // Font INDEX (1..NFONTS; others give font 1) at HEIGHT x WIDTH pixels per character.
    virtual void set_font(int index, int height, int width) = 0;
    // Rotation of text in tenths of a degree, counter-clockwise.
    virtual void set_text_rotation(int tenths) = 0;
    // Text at the current position (which does not move).
    virtual void text(std::string_view s) = 0;
};

}  // namespace zelk::display

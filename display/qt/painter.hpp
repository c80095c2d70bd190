// The drawing surface on Qt's QPainter, and the pictures of a record drawn with it: PNG
// (through a QImage), SVG (QSvgGenerator) and PDF (QPdfWriter, one page per record). The
// painter works on any paint device, so a window can draw with it as well. Pictures are
// made without any display server: ensure_application starts Qt on its offscreen platform
// when no application object exists.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <tuple>

#include <QFont>
#include <QPainter>

#include "display/recording.hpp"
#include "display/surface.hpp"

class QPdfWriter;

namespace zelk::display::qt {

class QtSurface final : public Surface {
public:
    // Draws with a painter that is active on a device of width x height pixels.
    QtSurface(QPainter& painter, int width, int height);

    int width() const override { return w_; }
    int height() const override { return h_; }
    void clear(Rgb background) override;
    void set_colour(Rgb colour) override;
    void rectangle(bool filled, int x1, int y1, int x2, int y2) override;
    void move_to(int x, int y) override;
    void line_to(int x, int y) override;
    void ellipse(bool filled, int x1, int y1, int x2, int y2) override;
    void set_font(int index, int height, int width) override;
    void set_text_rotation(int tenths) override { rotation_ = tenths; }
    void text(std::string_view s) override;

    // The installed face that a font of the table is drawn with.
    static QString family(int index);

private:
    QPainter& p_;
    int w_, h_;
    QColor colour_;
    int x_ = 0, y_ = 0, rotation_ = 0;
    QFont font_;
    std::map<std::tuple<int, int, int>, QFont> fonts_;
};

// Starts a Qt application on the offscreen platform unless one exists (call it from the
// main thread before any picture is drawn).
void ensure_application();

// Paints the recorded drawing of a record into an image of the canvas size.
QImage render(const RecordingSurface& rec);

// The image with a palette of its colours when it has at most 256, else a null image.
QImage to_palette(const QImage& rgb);

// Writes the drawing as a PNG (a palette image when it has at most 256 colours) or SVG file (under a temporary name renamed when complete);
// false with a message when it cannot be written.
bool write_png(const RecordingSurface& rec, const std::string& path, std::string& error);
bool write_svg(const RecordingSurface& rec, const std::string& path, std::string& error);

// A PDF file with one page per drawing, complete when closed.
class PdfDocument {
public:
    PdfDocument();
    ~PdfDocument();
    // Adds a page; the first page opens the file. False with a message on failure.
    bool page(const RecordingSurface& rec, const std::string& path, std::string& error);
    // Ends the file and renames it into place; true when nothing was started.
    bool close(std::string& error);

private:
    std::string path_, tmp_;
    std::unique_ptr<QPdfWriter> writer_;
    std::unique_ptr<QPainter> painter_;
    bool failed_ = false;
};

}  // namespace zelk::display::qt

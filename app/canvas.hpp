// The graphics area of the window: a canvas image of the display's fixed logical size that
// the run draws on from its own thread, and the widget that shows it scaled to the window
// with its aspect kept.
//
// Every drawing call takes the canvas lock, paints into the image and keeps the primitive
// in a recording of what was drawn since the canvas was last cleared (tests read it); the
// widget looks for changes a few times a second and repaints from the image under the same
// lock, so the run never waits for the screen.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include <QImage>
#include <QPainter>
#include <QWidget>

#include "display/recording.hpp"
#include "display/surface.hpp"

namespace zelk::display::qt {
class QtSurface;
}

namespace zelk::app {

class Canvas final : public display::Surface {
public:
    Canvas(int width, int height);
    ~Canvas() override;

    int width() const override { return w_; }
    int height() const override { return h_; }
    void clear(display::Rgb background) override;
    void set_colour(display::Rgb colour) override;
    void rectangle(bool filled, int x1, int y1, int x2, int y2) override;
    void move_to(int x, int y) override;
    void line_to(int x, int y) override;
    void ellipse(bool filled, int x1, int y1, int x2, int y2) override;
    void set_font(int index, int height, int width) override;
    void set_text_rotation(int tenths) override;
    void text(std::string_view s) override;

    // A copy of the image and of the primitives drawn since the last clear.
    QImage snapshot() const;
    display::RecordingSurface recording() const;
    // Counts the drawing calls: a changed value means the image changed.
    unsigned long generation() const { return generation_.load(); }
    // Paints the image into `target` of a painter active on another device.
    void paint(QPainter& p, const QRect& target) const;

private:
    int w_, h_;
    mutable std::mutex lock_;
    QImage image_;
    QPainter painter_;
    std::unique_ptr<display::qt::QtSurface> surface_;
    display::RecordingSurface rec_;
    std::atomic<unsigned long> generation_{0};
};

// Shows a canvas scaled to the widget, aspect kept, on a black surround.
class CanvasWidget final : public QWidget {
public:
    explicit CanvasWidget(Canvas& canvas, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    // Where the canvas lies in the widget.
    QRect canvas_rect() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Canvas& canvas_;
    unsigned long shown_ = 0;
};

}  // namespace zelk::app

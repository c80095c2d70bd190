#include "app/canvas.hpp"

#include <QPaintEvent>
#include <QTimer>

#include "display/qt/painter.hpp"

namespace zelk::app {

Canvas::Canvas(int width, int height)
    : w_(width), h_(height), image_(width, height, QImage::Format_RGB32), rec_(width, height) {
    image_.fill(Qt::white);
    painter_.begin(&image_);
    surface_ = std::make_unique<display::qt::QtSurface>(painter_, width, height);
}

Canvas::~Canvas() {
    surface_.reset();
    painter_.end();
}

#define CANVAS_CALL(call)                      \
    do {                                       \
        std::lock_guard<std::mutex> g(lock_);  \
        surface_->call;                        \
        rec_.call;                             \
        ++generation_;                         \
    } while (false)

void Canvas::clear(display::Rgb background) {
    std::lock_guard<std::mutex> g(lock_);
    rec_.reset();
    surface_->clear(background);
    rec_.clear(background);
    ++generation_;
}
void Canvas::set_colour(display::Rgb colour) { CANVAS_CALL(set_colour(colour)); }
void Canvas::rectangle(bool filled, int x1, int y1, int x2, int y2) { CANVAS_CALL(rectangle(filled, x1, y1, x2, y2)); }
void Canvas::move_to(int x, int y) { CANVAS_CALL(move_to(x, y)); }
void Canvas::line_to(int x, int y) { CANVAS_CALL(line_to(x, y)); }
void Canvas::ellipse(bool filled, int x1, int y1, int x2, int y2) { CANVAS_CALL(ellipse(filled, x1, y1, x2, y2)); }
void Canvas::set_font(int index, int height, int width) { CANVAS_CALL(set_font(index, height, width)); }
void Canvas::set_text_rotation(int tenths) { CANVAS_CALL(set_text_rotation(tenths)); }
void Canvas::text(std::string_view s) { CANVAS_CALL(text(s)); }

#undef CANVAS_CALL

QImage Canvas::snapshot() const {
    std::lock_guard<std::mutex> g(lock_);
    return image_.copy();
}

display::RecordingSurface Canvas::recording() const {
    std::lock_guard<std::mutex> g(lock_);
    return rec_;
}

void Canvas::paint(QPainter& p, const QRect& target) const {
    std::lock_guard<std::mutex> g(lock_);
    p.drawImage(target, image_);
}

CanvasWidget::CanvasWidget(Canvas& canvas, QWidget* parent) : QWidget(parent), canvas_(canvas) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Twenty-five looks a second at whether the run drew something new.
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] {
        if (canvas_.generation() != shown_) update();
    });
    timer->start(40);
}

QSize CanvasWidget::sizeHint() const { return {canvas_.width(), canvas_.height()}; }

QRect CanvasWidget::canvas_rect() const {
    const QSize s = QSize(canvas_.width(), canvas_.height()).scaled(size(), Qt::KeepAspectRatio);
    return {(width() - s.width()) / 2, (height() - s.height()) / 2, s.width(), s.height()};
}

void CanvasWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    const QRect r = canvas_rect();
    // Scaled smoothly unless shown at its own size, where every pixel stays as drawn.
    p.setRenderHint(QPainter::SmoothPixmapTransform, r.size() != QSize(canvas_.width(), canvas_.height()));
    shown_ = canvas_.generation();
    canvas_.paint(p, r);
}

}  // namespace zelk::app

#include "display/qt/painter.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSvgGenerator>

namespace zelk::display::qt {

namespace fs = std::filesystem;

namespace {

// Installed scalable faces for the fonts of the table: a sans for HELV and MODERN, a
// monospace for COURIER, a serif for TMS RMN and ROMAN, a serif italic for SCRIPT. The
// Liberation faces have the metrics of the classic faces the table names; DejaVu is the
// fallback when they are missing.
struct Face {
    const char* family;
    const char* fallback;
    bool italic;
};
constexpr Face FACES[NFONTS + 1] = {
    {"Liberation Sans", "DejaVu Sans", false},        // unused
    {"Liberation Sans", "DejaVu Sans", false},        // 1 HELV
    {"Liberation Mono", "DejaVu Sans Mono", false},   // 2 COURIER
    {"Liberation Serif", "DejaVu Serif", false},      // 3 TMS RMN
    {"DejaVu Sans", "Liberation Sans", false},        // 4 MODERN
    {"DejaVu Serif", "Liberation Serif", true},       // 5 SCRIPT
    {"Liberation Serif", "DejaVu Serif", false},      // 6 ROMAN
};

QColor qcolour(Rgb c) { return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

std::string temporary_name(const std::string& path) {
    const fs::path p(path);
    // Appended piece by piece: g++ 12 at -O3 warns falsely about the concatenation.
    std::string hidden = ".";
    hidden += p.filename().string();
    hidden += ".tmp";
    return (p.parent_path() / hidden).string();
}

bool rename_into_place(const std::string& tmp, const std::string& path, std::string& error) {
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) {
        fs::remove(tmp, ec);
        error = path + ": cannot be written";
        return false;
    }
    return true;
}

}  // namespace

QtSurface::QtSurface(QPainter& painter, int width, int height)
    : p_(painter), w_(width), h_(height), colour_(Qt::black) {
    // Lines, outlines, fills and text on whole pixels, as the window of the original
    // drawing library shows them: a picture then holds only the drawing colours, which
    // makes the PNG an exact, small and fast palette image.
    p_.setRenderHint(QPainter::Antialiasing, false);
    p_.setRenderHint(QPainter::TextAntialiasing, false);
    set_font(1, 16, 8);
}

QString QtSurface::family(int index) {
    const Face& f = FACES[index >= 1 && index <= NFONTS ? index : 1];
    return QString::fromLatin1(f.family);
}

void QtSurface::clear(Rgb background) { p_.fillRect(QRect(0, 0, w_, h_), qcolour(background)); }

void QtSurface::set_colour(Rgb colour) { colour_ = qcolour(colour); }

// Corners are inclusive: a filled rectangle covers x1..x2, and an outline drawn with the
// one-pixel pen around the box of size (x2 - x1, y2 - y1) covers the same pixels.
void QtSurface::rectangle(bool filled, int x1, int y1, int x2, int y2) {
    const int l = std::min(x1, x2), t = std::min(y1, y2), r = std::max(x1, x2), b = std::max(y1, y2);
    if (filled) {
        p_.fillRect(QRect(QPoint(l, t), QPoint(r, b)), colour_);
    } else {
        p_.setPen(QPen(colour_, 0));
        p_.setBrush(Qt::NoBrush);
        p_.drawRect(QRect(l, t, r - l, b - t));
    }
}

void QtSurface::move_to(int x, int y) {
    x_ = x;
    y_ = y;
}

void QtSurface::line_to(int x, int y) {
    p_.setPen(QPen(colour_, 0));
    p_.drawLine(x_, y_, x, y);
    x_ = x;
    y_ = y;
}

void QtSurface::ellipse(bool filled, int x1, int y1, int x2, int y2) {
    const int l = std::min(x1, x2), t = std::min(y1, y2), r = std::max(x1, x2), b = std::max(y1, y2);
    p_.setPen(QPen(colour_, 0));
    p_.setBrush(filled ? QBrush(colour_) : QBrush(Qt::NoBrush));
    p_.drawEllipse(QRect(l, t, r - l, b - t));
    p_.setBrush(Qt::NoBrush);
}

// The face of the table at a pixel height, stretched so that its average character is the
// requested width.
void QtSurface::set_font(int index, int height, int width) {
    const int i = index >= 1 && index <= NFONTS ? index : 1;
    const auto key = std::make_tuple(i, height, width);
    if (auto it = fonts_.find(key); it != fonts_.end()) {
        font_ = it->second;
        return;
    }
    QFont f;
    f.setFamilies({QString::fromLatin1(FACES[i].family), QString::fromLatin1(FACES[i].fallback)});
    f.setStyleHint(i == 2 ? QFont::Monospace : (i == 3 || i >= 5) ? QFont::Serif : QFont::SansSerif);
    f.setItalic(FACES[i].italic);
    f.setPixelSize(height > 0 ? height : 16);
    f.setKerning(false);
    f.setStyleStrategy(QFont::NoAntialias);
    if (width > 0) {
        const qreal avg = QFontMetricsF(f).averageCharWidth();
        if (avg > 0.0) f.setStretch(std::clamp(static_cast<int>(std::lround(100.0 * width / avg)), 1, 4000));
    }
    fonts_.emplace(key, f);
    font_ = f;
}

void QtSurface::text(std::string_view s) {
    p_.setPen(QPen(colour_, 0));
    p_.setFont(font_);
    const QString t = QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
    const qreal ascent = QFontMetricsF(font_, p_.device()).ascent();
    p_.save();
    p_.translate(x_, y_);
    if (rotation_ != 0) p_.rotate(-rotation_ / 10.0);
    p_.drawText(QPointF(0.0, ascent), t);
    p_.restore();
}

void ensure_application() {
    if (QCoreApplication::instance() != nullptr) return;
    // Pictures never need a window: the offscreen platform, whatever the environment says.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's own notes (a missing runtime directory and the like) are not the program's
    // messages: only its critical and fatal messages reach standard error.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    static int argc = 1;
    static char name[] = "zelk";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
}

QImage render(const RecordingSurface& rec) {
    QImage img(rec.width(), rec.height(), QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    QtSurface s(p, rec.width(), rec.height());
    rec.replay(s);
    p.end();
    return img;
}

// The image with a palette of its colours, when it has at most 256 (a drawing without
// smoothing has a dozen); a null image otherwise.
QImage to_palette(const QImage& rgb) {
    QImage out(rgb.size(), QImage::Format_Indexed8);
    QList<QRgb> colours;
    QRgb last = 0;
    uchar index = 0;
    bool have = false;
    const int w = rgb.width();
    const size_t row_bytes = static_cast<size_t>(w) * sizeof(QRgb);
    uchar* base = out.bits();
    const qsizetype stride = out.bytesPerLine();
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uchar* dst = base + stride * y;
        // Most rows repeat the one above (the white margins, the inside of the frame
        // between curves): their indices are copied.
        if (y > 0 && std::memcmp(in, rgb.constScanLine(y - 1), row_bytes) == 0) {
            std::memcpy(dst, dst - stride, static_cast<size_t>(w));
            continue;
        }
        for (int x = 0; x < w; ++x) {
            const QRgb c = in[x] | 0xFF000000u;
            if (!have || c != last) {
                const qsizetype at = colours.indexOf(c);
                if (at >= 0) {
                    index = static_cast<uchar>(at);
                } else {
                    if (colours.size() == 256) return QImage();
                    index = static_cast<uchar>(colours.size());
                    colours.append(c);
                }
                last = c;
                have = true;
            }
            dst[x] = index;
        }
    }
    out.setColorTable(colours);
    return out;
}

bool write_png(const RecordingSurface& rec, const std::string& path, std::string& error) {
    const QImage drawn = render(rec);
    const QImage paletted = to_palette(drawn);
    const QImage& img = paletted.isNull() ? drawn : paletted;
    const std::string tmp = temporary_name(path);
    QImageWriter w(QString::fromStdString(tmp), "png");
    // Light compression: the pictures are mostly white and compress well anyway, and the
    // default level costs several times the drawing.
    // (Qt takes 0..100 and passes compression * 9 / 91 to zlib: 20 is level 1.)
    w.setCompression(20);
    if (!w.write(img)) {
        std::error_code ec;
        fs::remove(tmp, ec);
        error = path + ": cannot be written (" + w.errorString().toStdString() + ")";
        return false;
    }
    return rename_into_place(tmp, path, error);
}

bool write_svg(const RecordingSurface& rec, const std::string& path, std::string& error) {
    const std::string tmp = temporary_name(path);
    {
        QSvgGenerator gen;
        gen.setFileName(QString::fromStdString(tmp));
        gen.setSize(QSize(rec.width(), rec.height()));
        gen.setViewBox(QRect(0, 0, rec.width(), rec.height()));
        gen.setResolution(72);
        gen.setTitle(QString::fromStdString(fs::path(path).filename().string()));
        QPainter p;
        if (!p.begin(&gen)) {
            std::error_code ec;
            fs::remove(tmp, ec);
            error = path + ": cannot be written";
            return false;
        }
        QtSurface s(p, rec.width(), rec.height());
        s.clear(0xFFFFFF);
        rec.replay(s);
        p.end();
    }
    if (!fs::exists(tmp)) {
        error = path + ": cannot be written";
        return false;
    }
    return rename_into_place(tmp, path, error);
}

PdfDocument::PdfDocument() = default;

PdfDocument::~PdfDocument() {
    if (painter_) painter_->end();
    painter_.reset();
    writer_.reset();
    if (!tmp_.empty()) {
        std::error_code ec;
        fs::remove(tmp_, ec);
    }
}

bool PdfDocument::page(const RecordingSurface& rec, const std::string& path, std::string& error) {
    if (failed_) return false;
    if (!writer_) {
        path_ = path;
        tmp_ = temporary_name(path);
        writer_ = std::make_unique<QPdfWriter>(QString::fromStdString(tmp_));
        // One canvas pixel per point, no margins.
        writer_->setResolution(72);
        writer_->setPageLayout(QPageLayout(QPageSize(QSizeF(rec.width(), rec.height()), QPageSize::Point),
                                           QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        writer_->setTitle(QString::fromStdString(fs::path(path).filename().string()));
        painter_ = std::make_unique<QPainter>();
        if (!painter_->begin(writer_.get())) {
            failed_ = true;
            error = path + ": cannot be written";
            return false;
        }
    } else if (!writer_->newPage()) {
        failed_ = true;
        error = path + ": cannot be written";
        return false;
    }
    QtSurface s(*painter_, rec.width(), rec.height());
    s.clear(0xFFFFFF);
    rec.replay(s);
    return true;
}

bool PdfDocument::close(std::string& error) {
    if (!writer_) return true;
    painter_->end();
    painter_.reset();
    writer_.reset();
    const std::string tmp = tmp_;
    tmp_.clear();
    if (failed_ || !fs::exists(tmp)) {
        std::error_code ec;
        fs::remove(tmp, ec);
        if (error.empty()) error = path_ + ": cannot be written";
        return false;
    }
    return rename_into_place(tmp, path_, error);
}

}  // namespace zelk::display::qt

// zelk under a real X server (run by ctest through xvfb-run): the program starts, shows the
// welcome screen and the job dialog, and a finished record is shown; what the X
// server displays in the graphics area is compared with the committed reference images.
// Lines, frames, curves and points must match pixel for pixel; inside the boxes of the
// texts (where a font update may move a pixel) at most a few pixels in a hundred may differ.
//
// ZELK_UPDATE_REFERENCES=1 writes the reference images anew instead of comparing, and
// ZELK_SCREENSHOTS=DIR writes screenshots of the whole window into DIR (the README's).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "app/window.hpp"
#include "qtapp.hpp"

namespace {

using namespace zelk::app;
using zelk::display::Primitive;

const std::string REFERENCE = ZELK_APP_REFERENCE;

// The box a text primitive can cover, with a margin: width up to twice the nominal character
// width per character (faces are wider than the width asked for), rotated texts upwards.
QRect text_box(const Primitive& p) {
    const int len = static_cast<int>(p.text.size()) * p.font_width * 2 + 8;
    const int h = p.font_height * 2 + 8;
    if (p.rotation != 0) return {p.x1 - 4, p.y1 - len, h, len + 8};
    return {p.x1 - 4, p.y1 - 4, len, h};
}

struct Difference {
    int outside = 0;         // differing pixels outside every text box
    int inside = 0;          // differing pixels inside the text boxes
    int inside_total = 0;    // pixels inside the text boxes
};

Difference compare(const QImage& shown, const QImage& ref, const std::vector<Primitive>& prims) {
    Difference d;
    QImage mask(shown.size(), QImage::Format_Grayscale8);
    mask.fill(0);
    {
        QPainter p(&mask);
        for (const Primitive& pr : prims)
            if (pr.kind == Primitive::TEXT) p.fillRect(text_box(pr), Qt::white);
    }
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const bool in_text = qGray(mask.pixel(x, y)) != 0;
            const bool differs = (shown.pixel(x, y) & 0xFFFFFF) != (ref.pixel(x, y) & 0xFFFFFF);
            d.inside_total += in_text;
            if (differs) (in_text ? d.inside : d.outside) += 1;
        }
    }
    return d;
}

// What the X server shows in the graphics area of the window, once it shows what the
// program drew (or after 10 s: a window that never catches up fails the comparison).
QImage on_screen(MainWindow& w) {
    CanvasWidget* v = w.canvas_widget();
    const QRect r = v->canvas_rect();
    const QPoint at = v->mapToGlobal(r.topLeft());
    QScreen* screen = QGuiApplication::primaryScreen();
    const QImage drawn = w.canvas().snapshot();
    QImage shown;
    QElapsedTimer t;
    t.start();
    do {
        QTest::qWait(100);
        shown = screen->grabWindow(0, at.x(), at.y(), r.width(), r.height()).toImage().convertToFormat(QImage::Format_RGB32);
    } while (shown != drawn && t.elapsed() < 10000);
    return shown;
}

void screenshot(QWidget& w, const char* name) {
    if (const char* dir = std::getenv("ZELK_SCREENSHOTS")) {
        const QRect g = w.frameGeometry();
        QGuiApplication::primaryScreen()->grabWindow(0, g.x(), g.y(), g.width(), g.height())
            .save(QString::fromStdString(std::string(dir) + "/" + name));
    }
}

void check_against(const QImage& shown, const std::string& name, const std::vector<Primitive>& prims) {
    const std::string path = REFERENCE + "/" + name;
    if (std::getenv("ZELK_UPDATE_REFERENCES")) {
        ASSERT_TRUE(shown.save(QString::fromStdString(path)));
        GTEST_SKIP() << "reference written: " << path;
    }
    const QImage ref = QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(ref.isNull()) << path;
    ASSERT_EQ(shown.size(), ref.size());
    const Difference d = compare(shown, ref, prims);
    EXPECT_EQ(d.outside, 0) << name << ": pixels outside the texts differ";
    EXPECT_LE(d.inside * 100, d.inside_total * 3) << name << ": " << d.inside << " of " << d.inside_total
                                                  << " pixels in the texts differ";
}

class Screen : public ::testing::Test {
protected:
    void SetUp() override {
        ztest::qt_app();
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "needs an X server";
        w = std::make_unique<MainWindow>("VS.04.31");
        w->show_box = [](const std::string& t, const std::string& x) { ADD_FAILURE() << t << ": " << x; };
        // The canvas at its own size: one canvas pixel on one screen pixel.
        w->canvas_widget()->setFixedSize(1024, 768);
        w->move(0, 0);
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    }
    std::unique_ptr<MainWindow> w;
};

TEST_F(Screen, WelcomeScreenAndDialog) {
    // The dialog runs modally in an event loop of its own: it is looked at and answered
    // from a timer of that loop.
    bool seen = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || dialog->windowTitle() != QLatin1String("SPECIFICATIONS")) return;
        timer.stop();
        seen = true;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog));
        QTest::qWait(200);
        screenshot(*w, "zelk-welcome.png");
        // The dialog moved aside, the welcome screen is seen whole.
        dialog->move(1100, 0);
        QTest::qWait(300);
        const QImage shown = on_screen(*w);
        const auto rec = w->canvas().recording();
        check_against(shown, "welcome.png", rec.primitives());
        // EXIT ZELK ends the program: the window closes without a run.
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("2")), Qt::LeftButton);
    });
    timer.start(20);
    w->COVER();
    ASSERT_TRUE(ztest::process_until([&] { return !w->isVisible(); }, 30000));
    EXPECT_TRUE(seen);
    EXPECT_FALSE(w->started());
}

TEST_F(Screen, FinishedRecord) {
    JobSettings job;
    job.INFILE = std::string(ZELK_EXAMPLES) + "/midlat-day.VXO";
    w->start(job);
    ASSERT_TRUE(ztest::process_until([&] { return !w->running(); }, 60000));
    ASSERT_EQ(w->result().NRECS, 1);
    QTest::qWait(300);   // the window's next look at the canvas
    screenshot(*w, "zelk-record.png");
    const QImage shown = on_screen(*w);
    const auto rec = w->canvas().recording();
    check_against(shown, "record.png", rec.primitives());
}

}  // namespace

// The pictures of zelk-batch --plots, drawn with Qt on its offscreen platform (no display
// server). Built only when Qt 6 is found.
//
// How pictures are compared with the committed references (tests/data/display/ref, made by
// `zelk-batch --plots` from the three single-record examples): the boxes where text is drawn
// are worked out from the text primitives of the same record (position, font size, number
// of characters, rotation), generously. Outside them every pixel must be equal: frame, grid,
// ticks, traces and curves are drawn without smoothing, so they are the same on every
// machine. Inside them the glyphs depend on the installed fonts and their rasteriser, so a
// box only has to hold about as much ink as the reference: its count of non-white pixels
// within a quarter of the reference's (and a few pixels).
#ifdef ZELK_WITH_QT

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/zelk.hpp"
#include "display/hooks.hpp"
#include "display/qt/painter.hpp"
#include "display/recording.hpp"
#include "driver/qt/pictures.hpp"
#include "driver/run.hpp"
#include "driver/vxo_steps.hpp"
#include "ztest.hpp"

using namespace zelk;
using namespace zelk::display;

namespace {

const std::string DATA = ZELK_TEST_DATA;
const std::string EXAMPLES = std::string(ZELK_SOURCE_DATA) + "/../examples";

class PictureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qt::ensure_application(); }
};

// The primitives of the first record of a file, and its trace list.
struct Record {
    RecordingSurface s;
    std::vector<std::pair<float, float>> trace;
    int first_fstep = 1;
};

class Keep final : public driver::Frontend {
public:
    Keep(RecordingSurface& s, Record& r, SurfacePlotter& p) : s_(s), r_(r), p_(p) {}
    void record_done(const Zelk& z, const driver::RecordInfo&) override {
        if (done_) return;
        done_ = true;
        for (int i = 1; i <= inversion::MAXTRC; ++i)
            if (z.inv.TRF(i) > 0.0f && z.inv.TRH(i) > 0.0f && z.inv.TRH(i) <= 700.0f)
                r_.trace.push_back({z.inv.TRF(i), z.inv.TRH(i)});
        r_.first_fstep = p_.display().FSTEP;
        r_.s = s_;
    }

private:
    RecordingSurface& s_;
    Record& r_;
    SurfacePlotter& p_;
    bool done_ = false;
};

std::unique_ptr<Record> draw_first(const std::string& path) {
    auto r = std::make_unique<Record>();
    RecordingSurface s;
    SurfacePlotter plot(s);
    plot.open();
    s.reset();
    auto z = std::make_unique<Zelk>();
    std::ostringstream log;
    z->log.out = &log;
    z->plot = &plot;
    Keep fe(s, *r, plot);
    driver::VxoSteps steps;
    driver::run_files(*z, {{path, ""}}, fe, steps, false);
    return r;
}

struct Box {
    int x1, y1, x2, y2;
    bool contains(int x, int y) const { return x >= x1 && x <= x2 && y >= y1 && y <= y2; }
};

std::vector<Box> text_boxes(const RecordingSurface& s) {
    std::vector<Box> boxes;
    for (const Primitive& p : s.primitives()) {
        if (p.kind != Primitive::TEXT) continue;
        const int len = static_cast<int>(p.text.size()) * p.font_width * 3 / 2 + 6;
        const int tall = p.font_height * 3 / 2 + 4;
        if (p.rotation == 900) boxes.push_back({p.x1 - 3, p.y1 - len, p.x1 + tall, p.y1 + 3});
        else boxes.push_back({p.x1 - 3, p.y1 - 3, p.x1 + len, p.y1 + tall});
    }
    return boxes;
}

int ink(const QImage& img, const Box& b) {
    int n = 0;
    for (int y = std::max(0, b.y1); y <= std::min(img.height() - 1, b.y2); ++y)
        for (int x = std::max(0, b.x1); x <= std::min(img.width() - 1, b.x2); ++x)
            n += (img.pixel(x, y) & 0xFFFFFFu) != 0xFFFFFFu;
    return n;
}

bool is_red(const QImage& img, int x, int y) { return (img.pixel(x, y) & 0xFFFFFFu) == 0xFF0000u; }

// Runs the batch program; returns its exit status.
int batch(const std::string& args) {
    const std::string cmd = std::string(ZELK_BATCH_EXE) + " " + args + " > /dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

}  // namespace

TEST_F(PictureTest, ExamplesMatchTheReferencePictures) {
    ztest::ScratchDir dir;
    for (const char* name : {"midlat-day.VXO", "midlat-night.VXO", "equatorial-day.VXO"}) {
        const std::string input = EXAMPLES + "/" + name;
        ASSERT_EQ(batch("--plots " + dir.str() + " " + input), 0) << name;
        QImage got(QString::fromStdString(dir.file(std::string(name) + ".0001.png").string()));
        QImage want(QString::fromStdString(DATA + "/display/ref/" + name + ".0001.png"));
        ASSERT_FALSE(got.isNull()) << name;
        ASSERT_FALSE(want.isNull()) << name;
        ASSERT_EQ(got.width(), 1024);
        ASSERT_EQ(got.height(), 768);
        ASSERT_EQ(want.size(), got.size());

        const std::unique_ptr<Record> rec = draw_first(input);
        const std::vector<Box> boxes = text_boxes(rec->s);
        ASSERT_GE(boxes.size(), 20u);
        int differ = 0;
        for (int y = 0; y < got.height(); ++y)
            for (int x = 0; x < got.width(); ++x) {
                bool text = false;
                for (const Box& b : boxes) text = text || b.contains(x, y);
                if (!text && (got.pixel(x, y) & 0xFFFFFFu) != (want.pixel(x, y) & 0xFFFFFFu)) ++differ;
            }
        EXPECT_EQ(differ, 0) << name << ": pixels outside the text differ";
        for (const Box& b : boxes) {
            const int g = ink(got, b), w = ink(want, b);
            EXPECT_NEAR(g, w, w / 4 + 5) << name << " text box at " << b.x1 << "," << b.y1;
        }
        // The frame lies at 200-760 x 150-500: its corners are black.
        EXPECT_EQ(got.pixel(200, 150) & 0xFFFFFFu, 0u);
        EXPECT_EQ(got.pixel(760, 500) & 0xFFFFFFu, 0u);
        EXPECT_EQ(got.pixel(762, 502) & 0xFFFFFFu, 0u);
        EXPECT_EQ(got.pixel(763, 503) & 0xFFFFFFu, 0xFFFFFFu);
    }
}

// The red trace circles at the pixels worked out from the record's trace points: drawn
// alone (frame and trace, as the picture holds them before the inversion draws over them),
// every circle's four extreme pixels are red and its centre is not.
TEST_F(PictureTest, TraceCirclesAtTheTracePoints) {
    const std::unique_ptr<Record> rec = draw_first(EXAMPLES + "/midlat-day.VXO");
    ASSERT_GT(rec->trace.size(), 100u);
    size_t n = 0, red = 0;
    for (const Primitive& p : rec->s.primitives()) {
        ++n;
        if (p.kind == Primitive::ELLIPSE && p.colour == 0xFF0000u && ++red == rec->trace.size()) break;
    }
    ASSERT_EQ(red, rec->trace.size());
    RecordingSurface partial;
    for (size_t i = 0; i < n; ++i) {
        const Primitive& p = rec->s.primitives()[i];
        partial.set_colour(p.colour);
        partial.set_font(p.font, p.font_height, p.font_width);
        partial.set_text_rotation(p.rotation);
        switch (p.kind) {
        case Primitive::clear: partial.clear(p.colour); break;
        case Primitive::RECT: partial.rectangle(false, p.x1, p.y1, p.x2, p.y2); break;
        case Primitive::FILLED_RECT: partial.rectangle(true, p.x1, p.y1, p.x2, p.y2); break;
        case Primitive::MOVE: partial.move_to(p.x1, p.y1); break;
        case Primitive::LINE: partial.move_to(p.x1, p.y1); partial.line_to(p.x2, p.y2); break;
        case Primitive::ELLIPSE: partial.ellipse(false, p.x1, p.y1, p.x2, p.y2); break;
        case Primitive::FILLED_ELLIPSE: partial.ellipse(true, p.x1, p.y1, p.x2, p.y2); break;
        case Primitive::TEXT: partial.move_to(p.x1, p.y1); partial.text(p.text); break;
        }
    }
    const QImage img = qt::render(partial);
    ASSERT_EQ(rec->first_fstep, 1);
    int isolated = 0;
    for (const auto& [f, h] : rec->trace) {
        const int x = 200 + static_cast<int>(f / 0.025f + 0.005f);
        const int y = 500 - static_cast<int>(0.5f * h + 0.5f);
        EXPECT_TRUE(is_red(img, x - 2, y) && is_red(img, x + 2, y) && is_red(img, x, y - 2) &&
                    is_red(img, x, y + 2))
            << f << " " << h;
        // An outline, not a disc: the centre of a circle that no other circle reaches
        // (points 2 pixels apart overlap) is not red (white, or a grid line's yellow).
        bool alone = true;
        for (const auto& [f2, h2] : rec->trace) {
            const int x2 = 200 + static_cast<int>(f2 / 0.025f + 0.005f);
            const int y2 = 500 - static_cast<int>(0.5f * h2 + 0.5f);
            if ((x2 != x || y2 != y) && std::abs(x2 - x) <= 2 && std::abs(y2 - y) <= 2) alone = false;
        }
        if (alone) {
            ++isolated;
            EXPECT_FALSE(is_red(img, x, y)) << f << " " << h;
        }
    }
    EXPECT_GT(isolated, 10);
    // In the finished picture the circles are still there where no data point hides them.
    ztest::ScratchDir dir;
    ASSERT_EQ(batch("--plots " + dir.str() + " " + EXAMPLES + "/midlat-day.VXO"), 0);
    QImage full(QString::fromStdString(dir.file("midlat-day.VXO.0001.png").string()));
    int seen = 0;
    for (const auto& [f, h] : rec->trace) {
        const int x = 200 + static_cast<int>(f / 0.025f + 0.005f);
        const int y = 500 - static_cast<int>(0.5f * h + 0.5f);
        seen += is_red(full, x - 2, y) || is_red(full, x + 2, y) || is_red(full, x, y - 2) || is_red(full, x, y + 2);
    }
    EXPECT_GE(seen, static_cast<int>(rec->trace.size()) / 2);
}

// Names, formats, the same pictures with several jobs, and the plot data files.
TEST_F(PictureTest, BatchPicturesFormatsAndJobs) {
    ztest::ScratchDir dir;
    const std::string in = EXAMPLES + "/midlat-day.VXO " + EXAMPLES + "/midlat-night.VXO " +
                           DATA + "/display/bad-input.VXO";
    ASSERT_EQ(batch("--plots " + (dir.path() / "one").string() + " --plot-data " + in), 0);
    ASSERT_EQ(batch("--jobs 2 --plots " + (dir.path() / "two").string() + " --plot-data " + in), 0);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path() / "one"))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    const std::vector<std::string> want = {
        "bad-input.VXO.0001.png", "bad-input.VXO.0002.png", "bad-input.VXO.0003.png",
        "bad-input.VXO.RECAL_OTRACE.DAT", "bad-input.VXO.RECAL_XTRACE.DAT", "bad-input.VXO.TRACE.DAT",
        "midlat-day.VXO.0001.png", "midlat-day.VXO.RECAL_OTRACE.DAT", "midlat-day.VXO.RECAL_XTRACE.DAT",
        "midlat-day.VXO.TRACE.DAT", "midlat-night.VXO.0001.png", "midlat-night.VXO.RECAL_OTRACE.DAT",
        "midlat-night.VXO.RECAL_XTRACE.DAT", "midlat-night.VXO.TRACE.DAT"};
    EXPECT_EQ(names, want);
    for (const std::string& n : names) {
        std::ifstream a(dir.path() / "one" / n, std::ios::binary), b(dir.path() / "two" / n, std::ios::binary);
        const std::string sa((std::istreambuf_iterator<char>(a)), {}), sb((std::istreambuf_iterator<char>(b)), {});
        EXPECT_FALSE(sa.empty()) << n;
        EXPECT_EQ(sa, sb) << n << " differs between one and two jobs";
    }

    ASSERT_EQ(batch("--plots " + (dir.path() / "svg").string() + " --plot-format svg " + in), 0);
    std::ifstream svg(dir.path() / "svg" / "midlat-day.VXO.0001.svg");
    const std::string text((std::istreambuf_iterator<char>(svg)), {});
    EXPECT_NE(text.find("<svg"), std::string::npos);
    EXPECT_NE(text.find("HEIGHT (km)"), std::string::npos);

    ASSERT_EQ(batch("--plots " + (dir.path() / "pdf").string() + " --plot-format pdf " + in), 0);
    std::ifstream pdf(dir.path() / "pdf" / "bad-input.VXO.pdf", std::ios::binary);
    const std::string doc((std::istreambuf_iterator<char>(pdf)), {});
    EXPECT_EQ(doc.substr(0, 5), "%PDF-");
    // One page object per record ("/Type /Page", not the "/Type /Pages" tree).
    size_t pages = 0;
    for (size_t at = doc.find("/Type /Page"); at != std::string::npos; at = doc.find("/Type /Page", at + 1))
        pages += doc.compare(at, 12, "/Type /Pages") != 0;
    EXPECT_EQ(pages, 3u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "pdf" / "midlat-day.VXO.0001.png"));
}

// An unwritable picture directory: a clear message, status 4, and the outputs complete.
TEST_F(PictureTest, UnwritablePictureDirectory) {
    ztest::ScratchDir dir;
    const std::filesystem::path blocker = dir.file("plots");
    std::ofstream(blocker) << "a file where the directory should be\n";
    const std::string out = dir.file("out").string();
    const std::string cmd = std::string(ZELK_BATCH_EXE) + " --plots " + blocker.string() + " -o " + out + " " +
                            EXAMPLES + "/midlat-day.VXO " + EXAMPLES + "/midlat-night.VXO 2> " +
                            dir.file("err.txt").string();
    const int rc = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(rc));
    EXPECT_EQ(WEXITSTATUS(rc), 4);
    std::ifstream err(dir.file("err.txt"));
    const std::string msg((std::istreambuf_iterator<char>(err)), {});
    EXPECT_NE(msg.find("cannot make the picture directory"), std::string::npos) << msg;
    EXPECT_GT(std::filesystem::file_size(dir.file("out") / "midlat-day.VXO.430"), 1000u);
    EXPECT_GT(std::filesystem::file_size(dir.file("out") / "midlat-night.VXO.430"), 1000u);
}

#endif  // ZELK_WITH_QT

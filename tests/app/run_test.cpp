// The interactive run end to end: the job dialog filled as a user fills it, the
// run drawn on the window's canvas, the outputs compared with zelk-batch's, and a window
// closed in the middle of a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/window.hpp"
#include "display/display.hpp"
#include "inversion/inversion.hpp"
#include "qtapp.hpp"
#include "ztest.hpp"

namespace {

using namespace zelk::app;
namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> names(const fs::path& dir) {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(dir)) v.push_back(e.path().filename().string());
    std::sort(v.begin(), v.end());
    return v;
}

// Fills the job dialog once it is up: input, output, height step, accuracy, a click on each
// box of `boxes` in turn, OK.
void fill_dialog(const std::string& in, const std::string& out, std::vector<std::string> boxes = {}) {
    auto* timer = new QTimer();
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* d = QApplication::activeModalWidget();
        if (!d || d->windowTitle() != QLatin1String("SPECIFICATIONS")) return;
        timer->stop();
        timer->deleteLater();
        auto set = [d](const char* id, const std::string& t) {
            auto* e = d->findChild<QLineEdit*>(QString::fromLatin1(id));
            e->setText(QString::fromStdString(t));
            QTest::keyClick(e, Qt::Key_Return);
        };
        set("1000", in);
        set("1022", out);
        set("1014", "10.0");
        set("1015", "0.01");
        for (const std::string& id : boxes) {
            auto* b = d->findChild<QCheckBox*>(QString::fromStdString(id));
            QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
        }
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("1")), Qt::LeftButton);
    });
    timer->start(10);
}

class AppRun : public ::testing::Test {
protected:
    void SetUp() override {
        ztest::qt_app();
        fresh_window();
    }
    // The window of the program as it starts (the one before, if any, closed).
    void fresh_window() {
        w = std::make_unique<MainWindow>("VS.04.31");
        w->show_message = [this](int code) { messages.push_back(code); };
        w->show_box = [this](const std::string& t, const std::string& x) { boxes.push_back(t + ": " + x); };
        w->ask_exists = [](const std::string& p) {
            ADD_FAILURE() << "asked about " << p;
            return p;
        };
        w->resize(800, 600);
        w->show();
    }
    ztest::TempCwd cwd;   // FILELIST.TMP and the plot data files are written here
    std::unique_ptr<MainWindow> w;
    std::vector<int> messages;
    std::vector<std::string> boxes;
};

TEST_F(AppRun, WildcardRunWritesWhatTheBatchProgramWritesAndDrawsEveryRecord) {
    ztest::ScratchDir out, ref;
    fill_dialog(std::string(ZELK_EXAMPLES) + "/*.*", out.str() + "/*.430");
    w->COVER();
    ASSERT_TRUE(ztest::process_until([&] { return w->started() && !w->running(); }, 300000));

    const std::string cmd = std::string(ZELK_BATCH_EXE) + " --hstep 10 --qpacc 0.01 -o " + ref.str() + "/ " +
                            ZELK_EXAMPLES + " 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const auto made = names(out.path());
    ASSERT_EQ(made, names(ref.path()));
    ASSERT_EQ(made.size(), 4u);
    for (const std::string& n : made) EXPECT_TRUE(slurp(out.file(n)) == slurp(ref.file(n))) << n;

    const RunResult& r = w->result();
    EXPECT_GT(r.NRECS, 4);
    EXPECT_EQ(r.written, r.NRECS);
    EXPECT_EQ(w->engine().frames(), r.NRECS);   // every record drawn
    EXPECT_EQ(w->exit_status(), 0);
    EXPECT_FALSE(fs::exists("FILELIST.TMP"));
    EXPECT_TRUE(fs::exists("TRACE.DAT"));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(boxes.empty());
    // The last record is on the canvas: its frame and the station line.
    bool station = false;
    const auto rec = w->canvas().recording();
    for (const auto& p : rec.primitives())
        station = station || p.text.rfind(" STATION : ", 0) == 0;
    EXPECT_TRUE(station);
}

// The records of a summary by the word of its last column, mode, in the order of
// inversion::MadeBy.
std::array<int, 4> modes_of(const fs::path& csv) {
    std::ifstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line.substr(line.rfind(',') + 1), "mode");
    std::array<int, 4> n{};
    const char* words[] = {"standard", "refined", "refined-f1-merged", "fallback"};
    while (std::getline(in, line)) {
        const std::string m = line.substr(line.rfind(',') + 1);
        const auto at = std::find(std::begin(words), std::end(words), m);
        EXPECT_NE(at, std::end(words)) << line;
        if (at != std::end(words)) ++n[at - std::begin(words)];
    }
    return n;
}

// The N outputs of a run in OUT against those zelk-batch wrote into REF: the same files with
// the same bytes (each failure reported). True when they are, and at least one differs from
// its namesake in OTHER, the outputs of another choice.
bool same_outputs_unlike(const ztest::ScratchDir& out, const ztest::ScratchDir& ref,
                         const ztest::ScratchDir& other, std::size_t N) {
    const auto made = names(out.path());
    EXPECT_EQ(made, names(ref.path()));
    EXPECT_EQ(made.size(), N);
    if (made != names(ref.path()) || made.size() != N) return false;
    bool same = true, differs = false;
    for (const std::string& n : made) {
        const bool equal = slurp(out.file(n)) == slurp(ref.file(n));
        EXPECT_TRUE(equal) << n;
        same = same && equal;
        differs = differs || slurp(out.file(n)) != slurp(other.file(n));
    }
    return same && differs;
}

// The refined inversion chosen in the dialog: the outputs are those zelk-batch writes with
// the same choice (--refine for the whole mode, --refine-parts for some parts), and they
// are not the standard method's. The status line counts the records by the method that
// made them, as the summary's column mode does.
TEST_F(AppRun, RefinedChoiceWritesWhatTheBatchProgramWritesWithIt) {
    struct Case {
        std::vector<std::string> boxes;   // clicked in the dialog
        std::string option;               // the same choice on zelk-batch's command line
    };
    // The whole mode; the whole mode less the X-trace start and the F1 roots.
    const Case cases[] = {{{"1024"}, "--refine"}, {{"1024", "1026", "1028", "1029"}, "--refine-parts valley,fc"}};
    ztest::ScratchDir in;
    // io-synth-x.VXO carries X traces.
    fs::copy_file(std::string(ZELK_TEST_DATA) + "/io-synth-x.VXO", in.file("x.VXO"));
    fs::copy_file(std::string(ZELK_EXAMPLES) + "/midlat-day.VXO", in.file("day.VXO"));
    ztest::ScratchDir standard;
    const std::string common = " --hstep 10 --qpacc 0.01 ";
    ASSERT_EQ(std::system((std::string(ZELK_BATCH_EXE) + common + "-o " + standard.str() + "/ " + in.str() +
                           " 2>/dev/null").c_str()), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        fresh_window();   // each run from the program's start
        ztest::ScratchDir out, ref, summary;
        fill_dialog(in.str() + "/*.*", out.str() + "/*.430", c.boxes);
        w->COVER();
        ASSERT_TRUE(ztest::process_until([&] { return w->started() && !w->running(); }, 300000));

        const std::string cmd = std::string(ZELK_BATCH_EXE) + common + c.option + " --summary " +
                                summary.str() + "/run.csv -o " + ref.str() + "/ " + in.str() + " 2>/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        EXPECT_TRUE(same_outputs_unlike(out, ref, standard, 2))
            << "the refined run wrote what the standard method writes";

        const RunResult& r = w->result();
        EXPECT_EQ(r.made_by, modes_of(summary.file("run.csv")));
        EXPECT_EQ(r.made_by[static_cast<int>(zelk::inversion::MadeBy::REFINED)], r.NRECS);
        EXPECT_NE(w->status().find(" written (refined " + std::to_string(r.NRECS) + ")."), std::string::npos)
            << w->status();
        EXPECT_TRUE(messages.empty());
        EXPECT_TRUE(boxes.empty());
    }
}

// The fast shape fit chosen in the dialog: the outputs are those zelk-batch writes with
// --shape-fit fast, which are not those of the search.
TEST_F(AppRun, FastShapeFitWritesWhatTheBatchProgramWritesWithIt) {
    ztest::ScratchDir in, out, ref, search;
    for (const char* f : {"midlat-day.VXO", "equatorial-day.VXO"})
        fs::copy_file(std::string(ZELK_EXAMPLES) + "/" + f, in.file(f));
    fill_dialog(in.str() + "/*.*", out.str() + "/*.430", {"1030"});
    w->COVER();
    ASSERT_TRUE(ztest::process_until([&] { return w->started() && !w->running(); }, 300000));

    const std::string batch = std::string(ZELK_BATCH_EXE) + " --hstep 10 --qpacc 0.01 ";
    ASSERT_EQ(std::system((batch + "--shape-fit fast -o " + ref.str() + "/ " + in.str() + " 2>/dev/null").c_str()), 0);
    ASSERT_EQ(std::system((batch + "-o " + search.str() + "/ " + in.str() + " 2>/dev/null").c_str()), 0);
    EXPECT_TRUE(same_outputs_unlike(out, ref, search, 2)) << "the fast fit wrote what the search writes";
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(AppRun, StatusLineNamesTheRefinedChoiceAndTheFastShapeFit) {
    JobSettings job;
    job.INFILE = std::string(ZELK_EXAMPLES) + "/midlat-day.VXO";
    job.refine.valley = job.refine.scaled_fc = true;
    w->start(job);
    EXPECT_EQ(w->status(), "Running " + job.INFILE + " (refined mode: valley,fc)");
    ASSERT_TRUE(ztest::process_until([&] { return !w->running(); }));
    EXPECT_EQ(w->status(), "Finished: 1 record inverted from 1 file, 0 written (refined 1). Close the window to end.");

    fresh_window();
    job.shape_fast = true;
    w->start(job);
    EXPECT_EQ(w->status(), "Running " + job.INFILE + " (refined mode: valley,fc) (fast shape fit)");
    ASSERT_TRUE(ztest::process_until([&] { return !w->running(); }));

    fresh_window();
    job.refine = {};
    job.shape_fast = false;
    w->start(job);
    EXPECT_EQ(w->status(), "Running " + job.INFILE);
    ASSERT_TRUE(ztest::process_until([&] { return !w->running(); }));
    EXPECT_EQ(w->status(), "Finished: 1 record inverted from 1 file, 0 written. Close the window to end.");
}

TEST_F(AppRun, ClosingMidRunLeavesNoPartialOutput) {
    ztest::ScratchDir in, out;
    fs::copy_file(std::string(ZELK_EXAMPLES) + "/midlat-day.VXO", in.file("a.VXO"));
    fs::copy_file(std::string(ZELK_EXAMPLES) + "/synth-series.VXO", in.file("b.VXO"));
    JobSettings job;
    job.INFILE = in.str() + "/*.*";
    job.OUTFILE = out.str() + "/*.430";
    ASSERT_EQ(std::system(("cd " + in.str() + " && ls a.VXO b.VXO > " + fs::current_path().string() + "/FILELIST.TMP").c_str()), 0);
    w->start(job);
    // Once the first file is complete and the second is under way, the user closes the window.
    ASSERT_TRUE(ztest::process_until([&] { return fs::exists(out.file("a.VXO.430")); }));
    const int drawn = w->engine().frames();
    ASSERT_TRUE(ztest::process_until([&] { return w->engine().frames() >= drawn + 2 || !w->running(); }));
    ASSERT_TRUE(w->running()) << "the run ended before the window was closed";
    w->close();
    EXPECT_TRUE(w->isVisible());   // until the run has stopped
    ASSERT_TRUE(ztest::process_until([&] { return !w->running() && !w->isVisible(); }));
    EXPECT_TRUE(w->result().cancelled);
    EXPECT_EQ(names(out.path()), std::vector<std::string>{"a.VXO.430"});   // no temporary file
    EXPECT_FALSE(fs::exists("FILELIST.TMP"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(AppRun, NothingInvertedGivesTheWarningBox) {
    ztest::ScratchDir in;
    in.write("junk.VXO", "this is not an ionogram\n");
    JobSettings job;
    job.INFILE = in.str() + "/junk.VXO";
    w->start(job);
    ASSERT_TRUE(ztest::process_until([&] { return !w->running(); }));
    EXPECT_EQ(boxes, std::vector<std::string>{"WARNING: NO PROPER DATA OR ERROR FOUND IN THE INPUT FILE."});
    EXPECT_EQ(w->exit_status(), 1);
}

// Each record of a refined run reported with the word the summary's column mode has for it:
// the F1 roots part alone solves the F1 layers rejected for their roots with the F2 trace
// (refined-f1-merged), the other records are refined.
TEST(AppEngine, EachRecordSaysWhichMethodMadeIt) {
    ztest::qt_app();
    ztest::TempCwd cwd;
    ztest::ScratchDir out, summary;
    const std::string in = std::string(ZELK_TEST_DATA) + "/accuracy/f1ledge.VXO";
    Canvas c(zelk::display::CANVAS_WIDTH, zelk::display::CANVAS_HEIGHT);
    std::vector<std::string> modes;
    Engine::Ui ui;
    ui.record = [&](const std::string&, int, int, const char* mode) { modes.push_back(mode ? mode : "(none)"); };
    Engine e(c, ui);
    JobSettings job;
    job.INFILE = in;
    job.OUTFILE = out.str() + "/f1ledge.430";
    job.refine.f1_roots = true;
    const RunResult r = e.run(job, "VS.04.31", "FILELIST.TMP");

    const std::string cmd = std::string(ZELK_BATCH_EXE) + " --refine-parts f1 --summary " + summary.str() +
                            "/run.csv -o " + out.str() + "/batch.430 " + in + " 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_TRUE(slurp(out.file("f1ledge.430")) == slurp(out.file("batch.430")));
    std::ifstream csv(summary.file("run.csv"));
    std::vector<std::string> column;
    std::string line;
    std::getline(csv, line);
    while (std::getline(csv, line)) column.push_back(line.substr(line.rfind(',') + 1));
    EXPECT_EQ(modes, column);
    EXPECT_EQ(static_cast<int>(modes.size()), r.NRECS);
    EXPECT_GT(r.made_by[static_cast<int>(zelk::inversion::MadeBy::REFINED_F1_MERGED)], 0);
    EXPECT_GT(r.made_by[static_cast<int>(zelk::inversion::MadeBy::REFINED)], 0);
    EXPECT_EQ(made_by_counts(r), " (refined " + std::to_string(r.made_by[1]) + ", refined-f1-merged " +
                                     std::to_string(r.made_by[2]) + ")");

    // The standard method says nothing of a mode.
    modes.clear();
    job.refine = {};
    job.INFILE = std::string(ZELK_EXAMPLES) + "/midlat-day.VXO";
    job.OUTFILE = "NONE";
    const RunResult s = e.run(job, "VS.04.31", "FILELIST.TMP");
    EXPECT_EQ(modes, std::vector<std::string>{"(none)"});
    EXPECT_EQ(made_by_counts(s), "");
}

TEST(AppEngine, PauseEndsAtCancel) {
    Canvas c(64, 48);
    Engine e(c, {}, 2);
    const auto t0 = std::chrono::steady_clock::now();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        e.cancel();
    });
    e.pause(30.0f);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
}

}  // namespace

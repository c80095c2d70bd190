// The interactive run end to end: the job dialog filled as a user fills it, the
// run drawn on the window's canvas, the outputs compared with zelk-batch's, and a window
// closed in the middle of a run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/window.hpp"
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

// Fills the job dialog once it is up: input, output, height step, accuracy, OK.
void fill_dialog(const std::string& in, const std::string& out) {
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
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("1")), Qt::LeftButton);
    });
    timer->start(10);
}

class AppRun : public ::testing::Test {
protected:
    void SetUp() override {
        ztest::qt_app();
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

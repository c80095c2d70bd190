// The run loop on real VXO files, with the program's reader, and the batch program as a
// user runs it.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include <filesystem>
#include <memory>
#include <sstream>

#include "pipeline/zelk.hpp"
#include "driver/run.hpp"
#include "driver/vxo_steps.hpp"
#include "fake_steps.hpp"
#include "scratch_test.hpp"
#include "pipeline/prepare.hpp"
#include "iondata/vxo.hpp"

namespace {

namespace fs = std::filesystem;
using namespace zelk::driver;
using ztest::slurp;
using ztest::spit;

const std::string DATA = ZELK_TEST_DATA;

// The program's reader with a stand-in for the inversion: every prepared record is written
// back as read, and the preparation of the first one is kept for inspection.
class ReadOnlySteps final : public RecordSteps {
public:
    int inverted = 0;
    std::unique_ptr<zelk::Zelk> first;

    bool open(const std::string& path) override { return real_.open(path); }
    void read(zelk::Zelk& z, int32_t& IEOF, int16_t& LREAD, int16_t& LBAD) override {
        real_.read(z, IEOF, LREAD, LBAD);
    }
    long long position() const override { return real_.position(); }
    void close() override { real_.close(); }
    void invert(zelk::Zelk& z) override {
        if (inverted++ == 0) first = std::make_unique<zelk::Zelk>(z);
    }
    void write(std::ostream& out, zelk::Zelk& z) override {
        zelk::fio::LineWriter unit(out);
        zelk::iondata::WRITVXO(unit, z.rec);
        unit.close();
    }

private:
    VxoSteps real_;
};

// Whole records of a VXO file.
int count_records(const std::string& path) {
    zelk::fio::LineReader in;
    if (!in.open(path)) return -1;
    auto rec = std::make_unique<zelk::iondata::IonogramRecord>();
    int32_t IEOF = 0;
    int16_t LREAD = 0, LBAD = 0;
    int n = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        READVXO(IEOF, in, *rec, LREAD, LBAD);
        if (IEOF == -1) break;
        if (LBAD == 0) ++n;
    }
    return n;
}

class VxoLoop : public ztest::ScratchTest {};

TEST_F(VxoLoop, BadRecordAmongGoodOnesIsSkipped) {
    // Ten synthetic records; the third has a letter in its F2 heights.
    auto z = std::make_unique<zelk::Zelk>();
    ztest::RecordingFrontend fe;
    ReadOnlySteps steps;
    const RunOutcome r = run_files(*z, {{DATA + "/synth-small-bad.VXO", path("out.VXO")}}, fe, steps, false);
    EXPECT_EQ(r.NRECS, 9);
    EXPECT_EQ(r.bad, 1);
    ASSERT_EQ(fe.files.size(), 1u);
    EXPECT_EQ(fe.files[0].read, 9);
    EXPECT_EQ(fe.files[0].ended_by, 0);
    EXPECT_EQ(count_records(path("out.VXO")), 9);

    // The first record prepared from the file: 0.05 MHz step, 5 km bins from 60 km, the
    // F2 trace of 84 points ending on the line of foF2 = 9.02 MHz.
    ASSERT_TRUE(steps.first);
    const auto& inv = steps.first->inv;
    EXPECT_EQ(inv.LAYOUT, 1);
    EXPECT_EQ(std::string(inv.STNAME), "SYNTH               ");
    EXPECT_EQ(inv.ISTNCODE, 101);
    EXPECT_FLOAT_EQ(inv.FQINCR, 0.05f);
    EXPECT_FLOAT_EQ(inv.HGRID, 5.0f);
    EXPECT_FLOAT_EQ(inv.BASEHT, 55.0f);
    EXPECT_EQ(inv.IFOM, 180);
    EXPECT_EQ(inv.NF, 84);
    EXPECT_FLOAT_EQ(inv.TRACEL(180, 2), 685.0f);
    EXPECT_FLOAT_EQ(inv.TRACEL(97, 2), 375.0f);
    // Below it the F1 trace of 34 points on lines 63 to 96 (foF1 = 4.81 MHz), and nothing
    // under that in the F column; the E trace in its own column ends on line 62.
    EXPECT_FLOAT_EQ(inv.TRACEL(96, 2), 515.0f);
    EXPECT_FLOAT_EQ(inv.TRACEL(63, 2), 260.0f);
    EXPECT_FLOAT_EQ(inv.TRACEL(62, 2), 9999.0f);
    EXPECT_FLOAT_EQ(inv.TRACEL(62, 3), 170.0f);
    // The lowest F2 height, 255 km, is met twice (lines 108 and 109); placing from the top
    // down, the first one found, on line 109, stays the minimum.
    EXPECT_EQ(inv.MINHF(2), 109);
    EXPECT_FLOAT_EQ(inv.VHMIN(2), 255.0f);
    EXPECT_EQ(inv.IFOF1, 96);
    EXPECT_EQ(inv.IFOE, 62);
    EXPECT_EQ(inv.IQUALE(1), 1);
    EXPECT_EQ(inv.IQUALE(4), 1);
}

TEST_F(VxoLoop, BatchProgramHelpAndUsageErrors) {
    EXPECT_EQ(batch("--help"), 0);
    EXPECT_NE(slurp(path("stdout")).find("Usage: zelk-batch [options] INPUT..."), std::string::npos);
    EXPECT_EQ(batch(""), 2);
    EXPECT_NE(slurp(path("stderr")).find("no input given"), std::string::npos);
    EXPECT_EQ(batch("--hstep -1 " + DATA + "/day0.VXO"), 2);
    EXPECT_EQ(batch("--summary out.txt " + DATA + "/day0.VXO"), 2);
    // A missing input is no usage error: it cannot be opened and nothing is inverted.
    EXPECT_EQ(batch(path("missing.VXO")), 1);
    EXPECT_NE(slurp(path("stderr")).find("missing.VXO: cannot be opened"), std::string::npos);
    // An output that is the input is refused before anything is written.
    spit(path("in.VXO"), slurp(DATA + "/day0.VXO"));
    EXPECT_EQ(batch("-o " + path("in.VXO") + " " + path("in.VXO")), 2);
    EXPECT_EQ(slurp(path("in.VXO")), slurp(DATA + "/day0.VXO"));
    EXPECT_NE(slurp(path("stderr")).find("refused"), std::string::npos);
}

TEST_F(VxoLoop, BatchProgramWithNothingToInvert) {
    // Record 1 has day 0: the file ends before anything reaches the inversion. Status 1,
    // the warning, no output file, and a summary with its header only.
    EXPECT_EQ(batch("-o " + path("out") + " --summary " + path("s.csv") + " " + DATA + "/day0.VXO"), 1);
    const std::string err = slurp(path("stderr"));
    EXPECT_NE(err.find("day0.VXO: record 1 ends the file (date or time out of range)"), std::string::npos) << err;
    EXPECT_NE(err.find("WARNING: NO PROPER DATA OR ERROR FOUND IN THE INPUT FILE."), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(path("out")));
    EXPECT_EQ(slurp(path("s.csv")).find('\n'), slurp(path("s.csv")).size() - 1);
    // Only the three files and the summary's version file remain: no temporary file is left.
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir)) n += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(n, 4);
    EXPECT_TRUE(fs::exists(path("s.csv.version")));
}

TEST_F(VxoLoop, InspectListsDecodedTimeStepAndCounts) {
    EXPECT_EQ(batch("--inspect " + DATA + "/synth-small.VXO"), 0);
    std::istringstream out(slurp(path("stdout")));
    std::string line;
    std::getline(out, line);
    EXPECT_EQ(line, "file,record,version,station,stamp,groups,status,time,step,nE,nF1,nF2");
    std::getline(out, line);
    EXPECT_NE(line.find(",1,5,SYNTH,"), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.find(",ok,")), ",ok,2004-06-15T19:00:00Z,0.050,33,34,84") << line;
    int rows = 1;
    while (std::getline(out, line)) ++rows;
    EXPECT_EQ(rows, 10);
    // The night records of the second station have a 0.1 MHz step and no E or F1 trace.
    std::istringstream again(slurp(path("stdout")));
    for (int i = 0; i < 6; ++i) std::getline(again, line);
    EXPECT_NE(line.find(",0.100,0,0,"), std::string::npos) << line;
    // With a day 0 the time is left empty.
    EXPECT_EQ(batch("--inspect " + DATA + "/day0.VXO"), 0);
    std::istringstream d0(slurp(path("stdout")));
    std::getline(d0, line);
    std::getline(d0, line);
    EXPECT_NE(line.find(",ok,,0.050,"), std::string::npos) << line;
}

}  // namespace

namespace {

// Damaged copies of a real file (bytes changed to anything, lines dropped, doubled or cut)
// go through the reader, the preparation and the rest of the loop without a write outside
// any table (the bounds-checked arrays abort otherwise) and the loop always ends.
TEST_F(VxoLoop, DamagedFilesGoThroughTheLoop) {
    const std::string good = slurp(DATA + "/synth-small.VXO");
    uint64_t state = 0x2545F4914F6CDD1Dull;
    auto next = [&state] {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    };
    int inverted = 0;
    for (int n = 0; n < 60; ++n) {
        std::string text = good;
        const int edits = 1 + static_cast<int>(next() % 40);
        for (int e = 0; e < edits; ++e) {
            const size_t at = next() % text.size();
            switch (next() % 4) {
                case 0: text[at] = static_cast<char>(next() % 256); break;
                case 1: text[at] = static_cast<char>('0' + next() % 10); break;
                case 2: {
                    const size_t end = text.find('\n', at);
                    text.erase(at, end == std::string::npos ? std::string::npos : end - at);
                    break;
                }
                default: {
                    const size_t end = text.find('\n', at);
                    if (end != std::string::npos) text.insert(end, text.substr(at, end - at));
                    break;
                }
            }
        }
        spit(path("damaged.VXO"), text);
        auto z = std::make_unique<zelk::Zelk>();
        ztest::RecordingFrontend fe;
        ReadOnlySteps steps;
        const RunOutcome r = run_files(*z, {{path("damaged.VXO"), path("out.VXO")}}, fe, steps, false);
        inverted += r.NRECS;
        EXPECT_EQ(r.written, r.NRECS);
    }
    // Most damaged files still have records that reach the inversion.
    EXPECT_GT(inverted, 100);
}

}  // namespace

namespace {

// The bad-input corpus as one wildcard-like run through the whole loop (reader,
// preparation, inversion, record update, writer): every file is read to its end or to the
// record that ends it, nothing is written out of bounds, and the files with whole records
// before their damage still give outputs that read back whole.
TEST_F(VxoLoop, BadInputCorpusThroughTheLoop) {
    std::vector<FileJob> jobs;
    for (const auto& e : fs::directory_iterator(DATA + "/bad")) {
        const std::string name = e.path().filename().string();
        jobs.push_back({e.path().string(), path(name + ".430")});
    }
    std::sort(jobs.begin(), jobs.end(), [](const FileJob& a, const FileJob& b) { return a.input < b.input; });
    ASSERT_GE(jobs.size(), 8u);
    auto z = std::make_unique<zelk::Zelk>();
    std::ostringstream diag;
    z->log.out = &diag;
    z->run.HSTEP = 10.0f;
    z->run.QPACC = 0.01f;
    ztest::RecordingFrontend fe;
    VxoSteps steps;
    const RunOutcome r = run_files(*z, jobs, fe, steps, false);
    EXPECT_EQ(r.files, static_cast<int32_t>(jobs.size()));
    EXPECT_GT(r.NRECS, 0);
    // An output exists exactly for the files that had records written.
    for (size_t i = 0; i < jobs.size(); ++i) {
        EXPECT_EQ(fs::exists(jobs[i].output), fe.files[i].written > 0) << jobs[i].input;
        if (fe.files[i].written > 0) {
            EXPECT_EQ(count_records(jobs[i].output), fe.files[i].written);
        }
    }
}

}  // namespace

namespace {

// A run ended by SIGTERM leaves neither a partial output under its name nor a temporary
// file beside it, and ends as the signal ends a program.
TEST_F(VxoLoop, TerminatedRunLeavesNoFiles) {
    const std::string series = slurp(std::string(ZELK_SOURCE_DATA) + "/../examples/synth-series.VXO");
    ASSERT_FALSE(series.empty());
    spit(path("long.VXO"), series + series + series + series);
    const std::string exe = ZELK_BATCH_EXE;
    const std::string out = path("out.VXO"), summary = path("s.csv");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::freopen("/dev/null", "w", stdout);
        ::freopen("/dev/null", "w", stderr);
        ::execl(exe.c_str(), exe.c_str(), "-o", out.c_str(), "--summary", summary.c_str(),
                path("long.VXO").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::usleep(400000);
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (WIFEXITED(status)) GTEST_SKIP() << "the run ended before it could be interrupted";
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"long.VXO"});
}

}  // namespace

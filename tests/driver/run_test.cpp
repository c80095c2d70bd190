// The run loop: file and record flow, bad records, outputs kept, replaced or removed.
#include <gtest/gtest.h>


#include <filesystem>
#include <memory>

#include "driver/run.hpp"
#include "fake_steps.hpp"
#include "scratch_test.hpp"
#include "pipeline/prepare.hpp"

namespace {

namespace fs = std::filesystem;
using namespace zelk::driver;
using ztest::FakeSteps;
using ztest::RecordingFrontend;
using ztest::slurp;
using ztest::spit;

class RunLoop : public ztest::ScratchTest {
protected:
    // Names of the files in the directory, hidden ones included.
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    RunOutcome run(const std::vector<FileJob>& jobs, bool stop_on_failure = false) {
        return run_files(*z, jobs, fe, steps, stop_on_failure);
    }

    std::unique_ptr<zelk::Zelk> z = std::make_unique<zelk::Zelk>();
    FakeSteps steps;
    RecordingFrontend fe;
};

TEST_F(RunLoop, WritesEveryRecordAndReplacesTheOutputOnlyWhenComplete) {
    spit(path("a.VXO"), "GOOD 10\nGOOD 11\nGOOD 12\n");
    spit(path("a.VXO.430"), "OLD\n");
    // While records are written the old output is still whole under its name, and the new
    // one is a hidden temporary file beside it.
    int checks = 0;
    steps.during_write = [&] {
        EXPECT_EQ(slurp(path("a.VXO.430")), "OLD\n");
        EXPECT_EQ(listing().size(), 3u);
        ++checks;
    };
    const RunOutcome r = run({{path("a.VXO"), path("a.VXO.430")}});
    EXPECT_EQ(checks, 3);
    EXPECT_EQ(r.NRECS, 3);
    EXPECT_EQ(r.written, 3);
    EXPECT_EQ(slurp(path("a.VXO.430")), "REC 10\nREC 11\nREC 12\n");
    EXPECT_EQ(listing(), (std::vector<std::string>{"a.VXO", "a.VXO.430"}));
    EXPECT_EQ(fe.records, 3);
    EXPECT_TRUE(fe.boxes.empty());
    ASSERT_EQ(fe.files.size(), 1u);
    EXPECT_TRUE(fe.files[0].output_kept);
}

TEST_F(RunLoop, NoOutputWhenNoRecordWasWritten) {
    // The first record has day 0: the file ends in preparation, nothing reaches the
    // inversion, no output appears, an existing one is left as it was, and the run ends
    // with the warning.
    spit(path("a.VXO"), "GOOD 0\nGOOD 12\n");
    spit(path("old.430"), "OLD\n");
    const RunOutcome r = run({{path("a.VXO"), path("new.430")}, {path("a.VXO"), path("old.430")}});
    EXPECT_EQ(r.NRECS, 0);
    EXPECT_EQ(steps.inverted, 0);
    EXPECT_EQ(listing(), (std::vector<std::string>{"a.VXO", "old.430"}));
    EXPECT_EQ(slurp(path("old.430")), "OLD\n");
    ASSERT_EQ(fe.files.size(), 2u);
    EXPECT_EQ(fe.files[0].ended_by, zelk::iondata::PREP_TIME);
    EXPECT_EQ(fe.files[0].ended_at, 1);
    ASSERT_EQ(fe.boxes.size(), 1u);
    EXPECT_EQ(fe.boxes[0], "WARNING: NO PROPER DATA OR ERROR FOUND IN THE INPUT FILE.");
}

TEST_F(RunLoop, RecordEndingTheFileKeepsTheRecordsBeforeIt) {
    spit(path("a.VXO"), "GOOD 10\nGOOD 0\nGOOD 12\n");
    const RunOutcome r = run({{path("a.VXO"), path("a.430")}});
    EXPECT_EQ(r.NRECS, 1);
    EXPECT_EQ(slurp(path("a.430")), "REC 10\n");
    EXPECT_EQ(fe.files[0].ended_at, 2);
}

TEST_F(RunLoop, BadRecordsAfterGoodOnesAreSkippedAndCounted) {
    spit(path("a.VXO"), "GOOD 10\nBAD\nGOOD 11\nBAD\nBAD\nGOOD 12\n");
    const RunOutcome r = run({{path("a.VXO"), path("a.430")}});
    EXPECT_EQ(r.NRECS, 3);
    EXPECT_EQ(r.bad, 3);
    EXPECT_EQ(slurp(path("a.430")), "REC 10\nREC 11\nREC 12\n");
    ASSERT_EQ(fe.files.size(), 1u);
    EXPECT_EQ(fe.files[0].bad, 3);
    EXPECT_EQ(fe.files[0].read, 3);
}

// A bad first record costs that record only (it used to end its file), and the run goes on.
TEST_F(RunLoop, BadFirstRecordCostsThatRecordOnlyAndTheRunGoesOn) {
    // A list of files (as a wildcard or several batch inputs give) with a bad one, a
    // missing one and an empty one among them.
    spit(path("1.VXO"), "GOOD 10\n");
    spit(path("2.VXO"), "BAD\nGOOD 11\n");
    spit(path("4.VXO"), "");
    spit(path("5.VXO"), "GOOD 13\nGOOD 14\n");
    const RunOutcome r = run({{path("1.VXO"), path("1.430")}, {path("2.VXO"), path("2.430")},
                              {path("3.VXO"), path("3.430")}, {path("4.VXO"), path("4.430")},
                              {path("5.VXO"), path("5.430")}});
    EXPECT_EQ(r.files, 5);
    EXPECT_EQ(r.NRECS, 4);
    EXPECT_EQ(r.bad, 1);
    EXPECT_EQ(listing(), (std::vector<std::string>{"1.430", "1.VXO", "2.430", "2.VXO", "4.VXO", "5.430", "5.VXO"}));
    ASSERT_EQ(fe.files.size(), 5u);
    EXPECT_EQ(fe.files[1].bad, 1);
    EXPECT_EQ(fe.files[1].read, 1);
    ASSERT_EQ(fe.files[1].refused.size(), 1u);
    EXPECT_EQ(fe.files[1].refused[0].first, 1);
    EXPECT_EQ(slurp(path("2.430")), "REC 11\n");
    EXPECT_FALSE(fe.files[2].opened);
    EXPECT_EQ(fe.files[3].read, 0);
    EXPECT_EQ(slurp(path("5.430")), "REC 13\nREC 14\n");
    ASSERT_EQ(fe.notices.size(), 1u);   // the file that cannot be opened
}

TEST_F(RunLoop, SingleInputThatCannotBeOpenedEndsTheRun) {
    spit(path("2.VXO"), "GOOD 11\n");
    const RunOutcome r = run({{path("1.VXO"), ""}, {path("2.VXO"), ""}}, true);
    EXPECT_EQ(r.files, 1);
    EXPECT_EQ(r.NRECS, 0);
    EXPECT_EQ(fe.boxes.size(), 1u);
}

TEST_F(RunLoop, ReaderThatDoesNotMoveEndsTheFile) {
    spit(path("a.VXO"), "GOOD 10\nSTUCK\nGOOD 11\n");
    const RunOutcome r = run({{path("a.VXO"), ""}});
    EXPECT_EQ(r.NRECS, 1);
    EXPECT_EQ(fe.files[0].bad, 1);
}

TEST_F(RunLoop, OutputThatIsTheInputIsRefused) {
    spit(path("a.VXO"), "GOOD 10\n");
    const RunOutcome r = run({{path("a.VXO"), path("./a.VXO")}});
    EXPECT_EQ(r.NRECS, 0);
    EXPECT_EQ(slurp(path("a.VXO")), "GOOD 10\n");
    EXPECT_EQ(listing(), (std::vector<std::string>{"a.VXO"}));
    ASSERT_EQ(fe.notices.size(), 1u);
    EXPECT_NE(fe.notices[0].find("is the input file"), std::string::npos);
}

TEST_F(RunLoop, StopLeavesNoOutputBehind) {
    spit(path("a.VXO"), "GOOD 10\nSTOP\nGOOD 12\n");
    spit(path("a.430"), "OLD\n");
    EXPECT_THROW(run({{path("a.VXO"), path("a.430")}}), zelk::Stop);
    EXPECT_EQ(listing(), (std::vector<std::string>{"a.430", "a.VXO"}));
    EXPECT_EQ(slurp(path("a.430")), "OLD\n");
}

TEST_F(RunLoop, NoOutputFileWithoutOutput) {
    spit(path("a.VXO"), "GOOD 10\nGOOD 11\n");
    const RunOutcome r = run({{path("a.VXO"), ""}});
    EXPECT_EQ(r.NRECS, 2);
    EXPECT_EQ(r.written, 0);
    EXPECT_EQ(listing(), (std::vector<std::string>{"a.VXO"}));
}

TEST_F(RunLoop, ConversionFileIsReadAndDeleted) {
    z->run.FMTVXO = 'N';
    spit(path("a.STD"), "standard format\n");
    spit(path("a.TMPVXO"), "GOOD 10\n");
    fe.converted_to = path("a.TMPVXO");
    RunOutcome r = run({{path("a.STD"), path("a.430")}});
    EXPECT_EQ(r.NRECS, 1);
    EXPECT_EQ(listing(), (std::vector<std::string>{"a.430", "a.STD"}));

    // A conversion program that fails ends the run with its message.
    fe.converted_to = "BAD PROGRAM FOR CONVERSION";
    r = run({{path("a.STD"), ""}, {path("a.STD"), ""}});
    EXPECT_EQ(r.fatal, 23);
    EXPECT_EQ(r.files, 1);
    EXPECT_EQ(fe.dialogs, std::vector<int>{23});
}

TEST_F(RunLoop, ClearsTheTablesBeforeEachRecord) {
    z->inv.TRACEL(7, 2) = 300.0f;
    z->inv.ITRCF(2048, 3) = 5;
    z->inv.TRH(1024) = 1.0f;
    z->rec.AUXFN(999) = 2.0f;
    z->rec.EDITFL(4) = 9;
    z->inv.ISTAT() = 2;
    clear_record_tables(*z);
    EXPECT_FLOAT_EQ(z->inv.TRACEL(7, 2), 9999.0f);
    EXPECT_EQ(z->inv.ITRCF(2048, 3), 9999);
    EXPECT_FLOAT_EQ(z->inv.TRH(1024), 0.0f);
    EXPECT_FLOAT_EQ(z->rec.AUXFN(999), 0.0f);
    EXPECT_EQ(z->rec.EDITFL(4), 0);
    EXPECT_EQ(z->inv.ISTAT(), 0);
    EXPECT_FLOAT_EQ(z->inv.VHMIN(2), 9999.0f);
}

TEST(Jobs, FromInteractiveSettings) {
    const ztest::ScratchDir scratch;
    const std::string list = scratch.file("FILELIST.TMP").string();
    spit(list, "A1.VXO\n\n   \nB2.VXO  \r\n");
    std::vector<FileJob> jobs;
    bool wild = false;
    ASSERT_TRUE(jobs_from_settings("/data/*.VXO", "/out/X.430", list, jobs, wild));
    EXPECT_TRUE(wild);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].input, "/data/A1.VXO");
    EXPECT_EQ(jobs[0].output, "/out/A1.VXO.430");
    EXPECT_EQ(jobs[1].input, "/data/B2.VXO");
    EXPECT_EQ(jobs[1].output, "/out/B2.VXO.430");

    ASSERT_TRUE(jobs_from_settings("/data/DAY.*  ", "NONE    ", list, jobs, wild));
    EXPECT_TRUE(wild);
    EXPECT_EQ(jobs[1].output, "");

    ASSERT_TRUE(jobs_from_settings("/data/DAY.VXO", "/out/DAY.430", list, jobs, wild));
    EXPECT_FALSE(wild);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].output, "/out/DAY.430");

    EXPECT_FALSE(jobs_from_settings("/data/*.VXO", "NONE", scratch.file("MISSING").string(), jobs,
                                    wild));
}

}  // namespace

namespace {

TEST_F(RunLoop, InteractiveWildcardRunDeletesTheFileList) {
    spit(path("A.VXO"), "GOOD 10\n");
    spit(path("B.VXO"), "GOOD 11\nGOOD 12\n");
    spit(path("FILELIST.TMP"), "A.VXO\n\nMISSING.VXO\nB.VXO\n");
    z->run.INFILE = path("*.VXO");
    z->run.OUTFILE = path("X.430");
    const RunOutcome r = main_run(*z, fe, steps, path("FILELIST.TMP"));
    EXPECT_EQ(r.files, 3);
    EXPECT_EQ(r.NRECS, 3);
    EXPECT_EQ(listing(), (std::vector<std::string>{"A.VXO", "A.VXO.430", "B.VXO", "B.VXO.430"}));

    // A single input that cannot be opened ends the run with the warning.
    z->run.INFILE = path("MISSING.VXO");
    z->run.OUTFILE = "NONE";
    fe.boxes.clear();
    EXPECT_EQ(main_run(*z, fe, steps, path("FILELIST.TMP")).NRECS, 0);
    EXPECT_EQ(fe.boxes.size(), 1u);
}

}  // namespace

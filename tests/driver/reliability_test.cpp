// Whole runs of the batch program over damaged inputs and failing outputs: a bad record
// costs that record only, every output reads back, and faults of the outputs are reported
// as write errors.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <sstream>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "driver/batch.hpp"
#include "driver/outfile.hpp"
#include "driver/spill.hpp"
#include "iondata/vxo.hpp"
#include "fake_steps.hpp"
#include "scratch_test.hpp"

namespace {

namespace fs = std::filesystem;
using ztest::slurp;

const std::string DATA = ZELK_TEST_DATA;
const std::string REPRO = DATA + "/repro";

class Reliability : public ztest::ScratchTest {
protected:
    std::string err() const { return slurp(path("stderr")); }
    // Records of a VXO file: whole ones and refused ones.
    static std::pair<int, int> records(const std::string& file) {
        zelk::iondata::LineReader in;
        if (!in.open(file)) return {-1, -1};
        auto rec = std::make_unique<zelk::iondata::IonogramRecord>();
        int whole = 0, bad = 0;
        for (;;) {
            int32_t IEOF = 0;
            int16_t LREAD = 0, LBAD = 0;
            zelk::iondata::READVXO(IEOF, in, *rec, LREAD, LBAD);
            if (IEOF == -1) {
                bad += LBAD == 0;   // cut inside a record
                break;
            }
            (LBAD == 0 ? whole : bad) += 1;
        }
        return {whole, bad};
    }
};

// Record 2 of three refused: record 3 was lost with it, and two phantom bad records were
// reported; now only record 2 is lost, it is named with its line, and the count is one.
TEST_F(Reliability, RefusedRecordCostsThatRecordOnly) {
    ASSERT_EQ(batch(REPRO + "/D4-middle-refused.VXO -o " + path("out.430") + " --summary " + path("s.csv")), 0);
    EXPECT_EQ(records(path("out.430")), std::make_pair(2, 0));
    EXPECT_NE(err().find("1 bad record skipped (record 2 at line 39: index element 1 outside 1 to 16), 2 read"),
              std::string::npos) << err();
    EXPECT_NE(err().find("2 records inverted from 1 file, 2 written, 1 bad skipped"), std::string::npos) << err();
    // The summary names the records by their place in the file.
    const std::string s = slurp(path("s.csv"));
    EXPECT_NE(s.find("D4-middle-refused.VXO,1,"), std::string::npos);
    EXPECT_NE(s.find("D4-middle-refused.VXO,3,"), std::string::npos);
}

// Damaged records after a refused one are counted, not lost without a word.
TEST_F(Reliability, DamagedRecordsPassedOverAreCounted) {
    EXPECT_EQ(batch(DATA + "/fuzz/bitflip.VXO"), 1);
    EXPECT_NE(err().find("3 bad records skipped (record 1 at line 1: group 11 does not decode; record 2 at line 39: "
                         "damaged too, passed over with 1 more), 0 read"),
              std::string::npos) << err();
}

// A bad first record ended the whole file without output; now it costs that record only.
TEST_F(Reliability, BadFirstRecordDoesNotEndTheFile) {
    const std::string good = slurp(DATA + "/samples/midlat-day.VXO");
    std::ofstream(path("in.VXO")) << " 17" << std::string(117, ' ') << "\n" << std::string(120, '0') << "\n" << good;
    ASSERT_EQ(batch(path("in.VXO") + " -o " + path("out.430")), 0);
    EXPECT_EQ(records(path("out.430")), std::make_pair(1, 0));
    EXPECT_NE(err().find("1 bad record skipped (record 1 at line 1: index element 1 outside 1 to 16), 1 read"),
              std::string::npos) << err();
}

// A file cut inside its last record gave no notice in a run; now the record is named and counted.
TEST_F(Reliability, CutLastRecordIsReported) {
    ASSERT_EQ(batch(REPRO + "/D6-cut-in-record-3.VXO -o " + path("out.430")), 0);
    EXPECT_NE(err().find("1 bad record skipped (record 3 at line 77: cut short by the end of the file"), std::string::npos)
        << err();
    EXPECT_NE(err().find("2 written, 1 bad skipped"), std::string::npos) << err();
}

// -9999.99 in an F8.3 characteristic came out as asterisks and the output did not read back;
// now it is written as missing, with a notice naming record, group and value.
TEST_F(Reliability, ValueTooWideForItsFieldIsWrittenAsMissing) {
    ASSERT_EQ(batch(REPRO + "/D1-wide-value.VXO -o " + path("out.430")), 0);
    EXPECT_EQ(records(path("out.430")), std::make_pair(1, 0));
    EXPECT_EQ(slurp(path("out.430")).find('*'), std::string::npos);
    EXPECT_NE(err().find("record 1: written with missing values in place of what its output fields cannot hold: "
                         "group 4 value 14 (-9999.99)"),
              std::string::npos) << err();
}

// A longitude of 3.4E+38 gave NaN in the model foF2, written as "NaN" with the record
// reported inverted; now the record fails with the constant named and nothing is written.
TEST_F(Reliability, ImpossibleStationConstantFailsTheRecord) {
    EXPECT_EQ(batch(REPRO + "/D1b-nan-longitude.VXO -o " + path("out.430") + " --summary " + path("s.csv")), 1);
    EXPECT_NE(err().find("record 1: impossible station constant, longitude 3.4e+38 outside -360 to 360"),
              std::string::npos) << err();
    EXPECT_FALSE(fs::exists(path("out.430")));
    EXPECT_EQ(slurp(path("s.csv")).find("nan"), std::string::npos);
}

// "-o X.csv --summary X.csv": the summary silently replaced the output.
TEST_F(Reliability, SummaryThatIsAnOutputIsUsageError) {
    const std::string in = DATA + "/samples/midlat-day.VXO";
    EXPECT_EQ(batch(in + " -o " + path("x.csv") + " --summary " + path("x.csv")), 2);
    EXPECT_NE(err().find("is both the summary and the output of"), std::string::npos) << err();
    EXPECT_EQ(batch(in + " -o " + dir + " --summary " + path("midlat-day.VXO.430")), 2);
    fs::create_symlink(path("y.csv"), path("link.csv"));
    std::ofstream(path("y.csv")) << "old\n";
    EXPECT_EQ(batch(in + " -o " + path("y.csv") + " --summary " + path("link.csv")), 2);
    EXPECT_FALSE(fs::exists(path("midlat-day.VXO.430")));
}

// A closed standard output ended the run by SIGPIPE (status 141) and left the hidden
// temporary output behind.
TEST_F(Reliability, ClosedStandardOutputIsWriteError) {
    const std::string cmd = "sh -c '" + std::string(ZELK_BATCH_EXE) + " --debug 20 " + DATA +
                            "/samples/midlat-day.VXO -o " + path("out.430") + " 2>" + path("stderr") +
                            "; echo $? > " + path("rc") + "' | head -c 10 > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(slurp(path("rc")), "4\n") << err();
    EXPECT_NE(err().find("standard output could not be written"), std::string::npos) << err();
    for (const auto& e : fs::directory_iterator(dir)) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}

// The file-size limit ended the run by SIGXFSZ (status 153) with the temporary file left.
TEST_F(Reliability, FileSizeLimitIsWriteError) {
    const std::string cmd = "sh -c 'ulimit -f 4; " + std::string(ZELK_BATCH_EXE) + " --hstep 1 " + DATA +
                            "/samples/midlat-day.VXO -o " + path("out.430") + " > /dev/null 2>" + path("stderr") +
                            "; echo $? > " + path("rc") + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(slurp(path("rc")), "4\n") << err();
    EXPECT_NE(err().find("out.430: could not be completed"), std::string::npos) << err();
    EXPECT_FALSE(fs::exists(path("out.430")));
    for (const auto& e : fs::directory_iterator(dir)) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}

// A temporary file of a run killed outright stayed forever; a later run into the same
// directory removes it, and leaves alone that of a run still going (here: this process).
TEST_F(Reliability, OrphanedTemporaryFilesAreRemoved) {
    // A run that is gone: a child that has been reaped.
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::string h(host);
    for (char& c : h) if (c == '~' || c == '/' || c == '.') c = '_';
    const std::string gone = ".a.430.zelk~" + h + "~" + std::to_string(child) + ".Ab12Cd";
    const std::string alive = ".b.430.zelk~" + h + "~" + std::to_string(::getppid()) + ".Ab12Cd";
    const std::string elsewhere = ".c.430.zelk~otherhost~" + std::to_string(child) + ".Ab12Cd";
    const std::string other = ".d.430.Ab12Cd";   // not one of ours
    for (const std::string& n : {gone, alive, elsewhere, other}) std::ofstream(path(n)) << "x";
    ASSERT_EQ(batch(DATA + "/samples/midlat-day.VXO -o " + path("out.430")), 0);
    EXPECT_FALSE(fs::exists(path(gone)));
    EXPECT_TRUE(fs::exists(path(alive)));
    EXPECT_TRUE(fs::exists(path(elsewhere)));
    EXPECT_TRUE(fs::exists(path(other)));
    EXPECT_TRUE(fs::exists(path("out.430")));
}

// An output that could not be created made a valid input look as if it had "no whole
// record", and the run ended with "NO PROPER DATA"; only the real cause is reported now.
TEST_F(Reliability, UncreatableOutputReportsOnlyItsCause) {
    std::ofstream(path("file")) << "x";
    EXPECT_EQ(batch(DATA + "/samples/midlat-day.VXO -o " + path("file/sub/out.430")), 4);
    EXPECT_NE(err().find("cannot be written"), std::string::npos) << err();
    EXPECT_EQ(err().find("no whole record"), std::string::npos) << err();
    EXPECT_EQ(err().find("NO PROPER DATA"), std::string::npos) << err();
}

// --shard rejected N above 32767.
TEST_F(Reliability, ShardTakesLargeCounts) {
    EXPECT_EQ(batch("--inspect --shard 40000/40000 " + DATA + "/samples/midlat-day.VXO"), 0) << err();
    EXPECT_EQ(batch("--inspect --shard 1/3000000000 " + DATA + "/samples/midlat-day.VXO"), 2);
}

// A model file that is there but cannot be read was reported as not existing.
TEST_F(Reliability, UnreadableModelFileIsNotCalledMissing) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
    fs::create_directory(path("data"));
    for (const auto& e : fs::directory_iterator(ZELK_SOURCE_DATA)) fs::copy(e.path(), path("data") / e.path().filename());
    fs::permissions(path("data/SUNSPT.ASC"), fs::perms::none);
    const std::string cmd = "cd " + path("data") + " && " + ZELK_BATCH_EXE + " " + DATA +
                            "/samples/midlat-day.VXO > /dev/null 2> " + path("stderr");
    const int status = std::system(cmd.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_NE(err().find("CANNOT BE READ"), std::string::npos) << err();
}

// Every record of the bad-input corpus that reaches the writer reads back whole.
TEST_F(Reliability, EveryOutputOfTheBadCorpusReadsBack) {
    int files = 0, written = 0;
    for (const char* sub : {"bad", "repro", "fuzz"}) {
        if (!fs::is_directory(DATA + "/" + sub)) continue;
        for (const auto& e : fs::directory_iterator(DATA + "/" + sub)) {
            if (!e.is_regular_file() || e.file_size() == 0) continue;
            const std::string out = path("o.430");
            fs::remove(out);
            const int rc = batch("--hstep 5 --qpacc 0.02 " + e.path().string() + " -o " + out);
            ASSERT_TRUE(rc == 0 || rc == 1) << e.path() << ": " << err();
            ++files;
            if (!fs::exists(out)) continue;
            const auto [whole, bad] = records(out);
            EXPECT_GT(whole, 0) << e.path();
            EXPECT_EQ(bad, 0) << e.path();
            written += whole;
        }
    }
    EXPECT_GT(files, 10);
    EXPECT_GT(written, 0);
}

// A file with many bad records names the first five and counts the rest.
TEST_F(Reliability, ManyBadRecordsAreNamedFirstFiveThenCounted) {
    std::ofstream(path("a.VXO")) << "GOOD 10\nBAD\nBAD\nBAD\nBAD\nBAD\nBAD\nBAD\nGOOD 11\n";
    zelk::driver::BatchOptions opt;
    opt.inputs = {path("a.VXO")};
    std::ostringstream diag, err;
    EXPECT_EQ(zelk::driver::batch_run(opt, [] { return std::make_unique<ztest::FakeSteps>(); }, diag, err, false), 0);
    EXPECT_NE(err.str().find("7 bad records skipped (record 2; record 3; record 4; record 5; record 6; 2 more), 2 read"),
              std::string::npos) << err.str();
}

// Diagnostics beyond the threshold go to a temporary file and come back whole and in order.
TEST(SpillStream, KeepsMemoryBoundedAndTextUnchanged) {
    zelk::driver::SpillStream s(1000);
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        const std::string line = "LINE " + std::to_string(i) + "\n";
        s << line;
        expected += line;
        ASSERT_LE(s.buffer().in_memory(), 1000u + line.size());
    }
    EXPECT_TRUE(s.buffer().spilled());
    std::ostringstream out;
    EXPECT_TRUE(s.pass_to(out));
    EXPECT_EQ(out.str(), expected);
    s << "again\n";
    std::ostringstream out2;
    EXPECT_TRUE(s.pass_to(out2));
    EXPECT_EQ(out2.str(), "again\n");
}

}  // namespace

// zelk-batch --inspect: the CSV listing of records, missing files and the exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "driver/inspect.hpp"

namespace {

std::string data_path(const std::string& name) { return std::string(ZELK_TEST_DATA) + "/" + name; }

}  // namespace

TEST(Inspect, OneRowPerRecordWithStatus) {
    const std::vector<std::string> files = {data_path("bad/index17.VXO"), data_path("bad/cut.VXO"),
                                            data_path("full5.VXO"), data_path("bad/random.VXO")};
    std::ostringstream out, err;
    EXPECT_EQ(zelk::driver::inspect_files(files, out, err), 0);
    EXPECT_EQ(err.str(), "");
    const std::string stamp = "041670700000000000000000000000000030000010200000000001200000";
    const std::string expected =
        "file,record,version,station,stamp,groups,status,time,step,nE,nF1,nF2\n" +
        // Refused at the index: its groups are not read, so no station or stamp.
        files[0] + ",1,5,,,6,bad,,,,,\n" +
        files[0] + ",2,5,SYNTH," + stamp + ",6,ok,2004-06-15T07:00:00Z,0.025,0,0,141\n" +
        // Cut inside group 7: what was read is shown, the record is not whole.
        files[1] + ",1,5,SYNTH," + stamp + ",6,bad,,,,,\n";
    const std::string got = out.str();
    ASSERT_EQ(got.substr(0, expected.size()), expected);
    // full5.VXO: 57 groups (8, 13, 18 absent); 56 (52, 53 empty but read with 51); only group 1.
    std::istringstream rows(got.substr(expected.size()));
    std::vector<std::string> lines;
    for (std::string l; std::getline(rows, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 3u);   // the random bytes give no record
    const std::string first = files[2] + ",1,5,REF1,", second = files[2] + ",2,5,REF2,";
    EXPECT_EQ(lines[0].substr(0, first.size()), first);
    EXPECT_NE(lines[0].find(",57,ok,"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1].substr(0, second.size()), second);
    EXPECT_NE(lines[1].find(",55,ok,"), std::string::npos) << lines[1];
    // No stamp: no time and no step.
    EXPECT_EQ(lines[2], files[2] + ",3,5,,,1,ok,,,0,0,0");
}

// Commas and quotes are quoted, control bytes shown as '?', the stamp trimmed.
TEST(Inspect, FieldsAreValidCsv) {
    const std::string path = std::string(ZELK_BINARY_DIR) + "/inspect_csv_test.tmp";
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("  1  1  9  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0"
                   "  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0\n", f);
        std::fputs("  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0"
                   "  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  5\n", f);
        std::fputs("  1.000\nSTATION NAME Q\"T,X\n12,3\0014  \n", f);
        std::fclose(f);
    }
    std::ostringstream out, err;
    EXPECT_EQ(zelk::driver::inspect_files({path}, out, err), 0);
    EXPECT_EQ(out.str(), "file,record,version,station,stamp,groups,status,time,step,nE,nF1,nF2\n" + path +
                             ",1,5,\"Q\"\"T\",\"12,3?4\",3,ok,,,0,0,0\n");
    std::remove(path.c_str());
}

TEST(Inspect, MissingFileIsReportedAndTheOthersListed) {
    const std::vector<std::string> files = {data_path("no-such-file.VXO"), data_path("io-synth-night.VXO")};
    std::ostringstream out, err;
    EXPECT_EQ(zelk::driver::inspect_files(files, out, err), 1);
    EXPECT_NE(err.str().find("cannot open " + files[0]), std::string::npos);
    EXPECT_NE(out.str().find(files[1] + ",2,5,SYNTH,"), std::string::npos);
}

TEST(Inspect, BatchProgramExitStatus) {
    const std::string exe = ZELK_BATCH_EXE;
    const std::string ok = exe + " --inspect " + data_path("io-synth-x.VXO") + " > /dev/null 2>&1";
    const std::string missing = exe + " --inspect " + data_path("no-such-file.VXO") + " > /dev/null 2>&1";
    const std::string usage = exe + " --inspect > /dev/null 2>&1";
    EXPECT_EQ(WEXITSTATUS(std::system(ok.c_str())), 0);
    EXPECT_EQ(WEXITSTATUS(std::system(missing.c_str())), 1);
    EXPECT_EQ(WEXITSTATUS(std::system(usage.c_str())), 2);
}

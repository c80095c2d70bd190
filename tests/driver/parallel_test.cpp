// The batch program with files in parallel (--jobs) and in slices (--shard), end to end on
// real ionograms: neither may change a byte of what a plain run gives.
#include <gtest/gtest.h>


#include <filesystem>
#include <map>
#include <string>

#include "fake_steps.hpp"
#include "scratch_test.hpp"

namespace {

namespace fs = std::filesystem;
using ztest::slurp;

const std::string DATA = ZELK_TEST_DATA;

class Parallel : public ztest::ScratchTest {
protected:
    void SetUp() override {
        // Records of four stations, and a file with a bad record among good ones; the
        // copies of one file under other names put different files before each of them.
        fs::create_directory(path("in"));
        for (const char* name : {"a", "c", "e"}) {
            fs::copy_file(DATA + "/synth-small.VXO", path(std::string("in/") + name + ".VXO"));
        }
        fs::copy_file(DATA + "/synth-small-bad.VXO", path("in/b.VXO"));
        for (const char* name : {"equatorial-day", "midlat-day", "midlat-night"}) {
            fs::copy_file(DATA + "/samples/" + name + ".VXO", path(std::string("in/d-") + name + ".VXO"));
        }
    }
    std::map<std::string, std::string> files_of(const std::string& d) const {
        std::map<std::string, std::string> m;
        for (const auto& e : fs::directory_iterator(d)) m[e.path().filename().string()] = slurp(e.path().string());
        return m;
    }
    // The same files with the same contents (naming the files that differ).
    static void expect_same(const std::map<std::string, std::string>& got,
                            const std::map<std::string, std::string>& want) {
        for (const auto& [name, text] : want) {
            const auto at = got.find(name);
            EXPECT_TRUE(at != got.end() && at->second == text) << name;
        }
        EXPECT_EQ(got.size(), want.size());
    }
};

TEST_F(Parallel, TwoJobsGiveTheBytesOfOne) {
    const std::string common = "--hstep 10 --qpacc 0.01 --debug 2 --summary " + path("s.csv") + " " + path("in");
    ASSERT_EQ(batch("--jobs 1 -o " + path("one") + " " + common), 0) << slurp(path("stderr"));
    const std::string out1 = slurp(path("stdout")), err1 = slurp(path("stderr")), sum1 = slurp(path("s.csv"));
    EXPECT_NE(err1.find("b.VXO: 1 bad record skipped (record 3 at line 65: group 7 does not decode), 9 read"), std::string::npos) << err1;
    EXPECT_NE(err1.find("42 records inverted from 7 files"), std::string::npos) << err1;
    ASSERT_EQ(batch("--jobs 2 -o " + path("two") + " " + common), 0) << slurp(path("stderr"));
    EXPECT_EQ(slurp(path("stdout")), out1);   // diagnostics, in file order
    EXPECT_EQ(slurp(path("stderr")), err1);   // notices and the closing line
    EXPECT_EQ(slurp(path("s.csv")), sum1);    // rows in file, then record order
    const auto one = files_of(path("one"));
    expect_same(files_of(path("two")), one);
    ASSERT_EQ(batch("--jobs 3 -o " + path("three") + " " + common), 0) << slurp(path("stderr"));
    expect_same(files_of(path("three")), one);
    EXPECT_EQ(one.size(), 7u);
}

// One file of several stations, with a bad record among them, made on two and three
// threads: diagnostics at every level, messages, summary and output are those of one job.
TEST_F(Parallel, RecordsOfOneFileOnSeveralJobsGiveTheBytesOfOne) {
    std::string all;
    for (const char* name : {"in/d-midlat-day.VXO", "in/b.VXO", "in/d-equatorial-day.VXO", "in/a.VXO",
                             "in/d-midlat-night.VXO"}) {
        all += slurp(path(name));
    }
    ztest::spit(path("one.VXO"), all);
    for (const std::string opts : {"--hstep 10 --qpacc 0.01 --debug 2", "--hstep 5 --debug 16",
                                   "--debug -1 --qpacc 0.02 --shape-fit fast", "--refine --hstep 1 --debug 6"}) {
        SCOPED_TRACE(opts);
        const std::string common = opts + " --summary " + path("s.jsonl") + " " + path("one.VXO") + " -o ";
        ASSERT_EQ(batch(common + path("one.430") + " --jobs 1"), 0) << slurp(path("stderr"));
        const std::string out1 = slurp(path("stdout")), sum1 = slurp(path("s.jsonl")), vxo1 = slurp(path("one.430"));
        std::string err1 = slurp(path("stderr"));
        EXPECT_NE(err1.find("1 bad record skipped"), std::string::npos) << err1;
        EXPECT_GT(vxo1.size(), 100000u);
        for (const char* jobs : {"2", "3"}) {
            ASSERT_EQ(batch(common + path("many.430") + " --jobs " + jobs), 0) << slurp(path("stderr"));
            EXPECT_EQ(slurp(path("stdout")), out1) << jobs;
            EXPECT_EQ(slurp(path("s.jsonl")), sum1) << jobs;
            EXPECT_EQ(slurp(path("many.430")), vxo1) << jobs;
            std::string err = slurp(path("stderr"));
            // The closing line names the output.
            for (std::string* e : {&err, &err1}) {
                const auto at = e->find("one.430");
                if (at != std::string::npos) e->replace(at, 7, "X");
                const auto at2 = e->find("many.430");
                if (at2 != std::string::npos) e->replace(at2, 8, "X");
            }
            EXPECT_EQ(err, err1) << jobs;
        }
    }
}

// A shape table that cannot be parsed: each record's search says so once, in its place
// among the record's diagnostics, with one job or several.
TEST_F(Parallel, RecordsOfOneFileOnSeveralJobsSayWhatTheSearchSays) {
    fs::create_directory(path("data"));
    for (const auto& e : fs::directory_iterator(ZELK_SOURCE_DATA)) fs::copy(e.path(), path("data") / e.path().filename());
    for (const char* name : {"data/B0B1DT.ASC", "data/B0B1DT.BIN"}) ztest::spit(path(name), "not a table\n");
    ztest::spit(path("one.VXO"), slurp(path("in/d-midlat-day.VXO")) + slurp(path("in/a.VXO")) +
                                     slurp(path("in/d-equatorial-day.VXO")));
    auto run = [this](const std::string& jobs) {
        const std::string cmd = "cd " + path("data") + " && " + ZELK_BATCH_EXE + " --debug 2 --hstep 10 --qpacc 0.01 --jobs " +
                                jobs + " " + path("one.VXO") + " -o " + path("o" + jobs + ".430") +
                                " > " + path("stdout") + " 2> " + path("stderr");
        EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 0) << slurp(path("stderr"));
        return slurp(path("stdout"));
    };
    const std::string one = run("1");
    size_t said = 0;
    for (size_t at = one.find("CANNOT FIND THE FILE \"B0B1DT.ASC\""); at != std::string::npos;
         at = one.find("CANNOT FIND THE FILE \"B0B1DT.ASC\"", at + 1))
        ++said;
    EXPECT_GE(said, 5u) << one.substr(0, 2000);
    EXPECT_EQ(run("2"), one);
    EXPECT_EQ(slurp(path("o2.430")), slurp(path("o1.430")));
}

TEST_F(Parallel, ShardsWriteWhatTheWholeRunWrites) {
    ASSERT_EQ(batch("--hstep 10 -o " + path("whole") + " " + path("in")), 0) << slurp(path("stderr"));
    const auto whole = files_of(path("whole"));
    // Three machines, the inputs named in another order on each: every file once.
    const std::vector<std::string> orders = {
        path("in"), "'" + path("in") + "/d-*.VXO' '" + path("in") + "/?.VXO' " + path("in/e.VXO"),
        path("in/e.VXO") + " " + path("in")};
    std::string rows;
    for (int I = 1; I <= 3; ++I) {
        const std::string s = path("s" + std::to_string(I) + ".csv");
        ASSERT_EQ(batch("--hstep 10 --shard " + std::to_string(I) + "/3 --jobs 2 --summary " + s +
                        " -o " + path("shards") + " " + orders[static_cast<size_t>(I - 1)]), 0)
            << slurp(path("stderr"));
        rows += slurp(s);
    }
    expect_same(files_of(path("shards")), whole);
    for (const char* name : {"/a.VXO,", "/b.VXO,", "/e.VXO,", "/d-midlat-day.VXO,"}) {
        EXPECT_NE(rows.find(name), std::string::npos) << name;
    }
    // The usage errors of the two options.
    EXPECT_EQ(batch("--shard 4/3 " + path("in")), 2);
    EXPECT_NE(slurp(path("stderr")).find("--shard"), std::string::npos);
    EXPECT_EQ(batch("--jobs 0 " + path("in")), 2);
    EXPECT_EQ(batch("--inspect --jobs 2 " + path("in")), 2);
    // --inspect lists the slice alone.
    ASSERT_EQ(batch("--inspect --shard 3/3 " + path("in")), 0);
    const std::string listing = slurp(path("stdout"));
    EXPECT_NE(listing.find("/d-midlat-night.VXO,"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("/a.VXO,"), std::string::npos) << listing;
}

}  // namespace

// Runs split over the tasks of an array job: --shard auto from the scheduler's environment,
// the merge of the tasks' summaries, and --skip-existing for a run started again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "driver/batch.hpp"
#include "driver/kept_rows.hpp"
#include "driver/merge.hpp"
#include "driver/shard.hpp"
#include "driver/summary.hpp"
#include "fake_steps.hpp"
#include "scratch_test.hpp"

namespace {

namespace fs = std::filesystem;
using namespace zelk::driver;
using ztest::slurp;
using ztest::spit;

const std::string DATA = ZELK_TEST_DATA;

EnvLookup env_of(const std::map<std::string, std::string>& vars) {
    return [vars](const char* name) -> const char* {
        const auto at = vars.find(name);
        return at == vars.end() ? nullptr : at->second.c_str();
    };
}

TEST(ShardAuto, SliceFromTheArrayTask) {
    struct Case {
        std::map<std::string, std::string> env;
        int32_t I, N;   // 0, 0: refused
    };
    const auto task = [](const char* id, const char* min, const char* count, const char* max = nullptr,
                         const char* step = nullptr) {
        std::map<std::string, std::string> e{{"SLURM_ARRAY_TASK_ID", id}, {"SLURM_ARRAY_TASK_MIN", min},
                                             {"SLURM_ARRAY_TASK_COUNT", count}};
        if (max) e["SLURM_ARRAY_TASK_MAX"] = max;
        if (step) e["SLURM_ARRAY_TASK_STEP"] = step;
        return e;
    };
    const std::vector<Case> cases = {
        {task("0", "0", "4", "3"), 1, 4},           // an array from 0
        {task("3", "0", "4", "3"), 4, 4},
        {task("1", "1", "4", "4"), 1, 4},           // from 1
        {task("4", "1", "4", "4"), 4, 4},
        {task("7", "5", "3"), 3, 3},                // no MAX given
        {task("4", "0", "4", "6", "2"), 3, 4},      // 0-6:2
        {task("1", "1", "1", "1"), 1, 1},
        {{}, 0, 0},                                 // not an array job
        {{{"SLURM_JOB_ID", "12"}}, 0, 0},
        {task("2", "1", "3", "7"), 0, 0},           // 1,2,7: a list with gaps
        {task("5", "1", "4", "4"), 0, 0},           // beyond the array
        {task("0", "1", "4", "4"), 0, 0},           // before it
        {task("3", "0", "4", "6", "2"), 0, 0},      // between two steps
        {task("x", "1", "4"), 0, 0},
        {task("1", "1", "-4"), 0, 0},
        {task("1", "1", "0"), 0, 0},
        {{{"SLURM_ARRAY_TASK_ID", "1"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, 0, 0},   // no MIN
    };
    for (const Case& c : cases) {
        int32_t I = -1, N = -1;
        std::string error;
        const bool ok = shard_from_environment(env_of(c.env), I, N, error);
        const std::string id = c.env.count("SLURM_ARRAY_TASK_ID") ? c.env.at("SLURM_ARRAY_TASK_ID") : "unset";
        if (c.N == 0) {
            EXPECT_FALSE(ok) << id;
            EXPECT_NE(error.find("--shard auto"), std::string::npos) << id;
        } else {
            ASSERT_TRUE(ok) << id << ": " << error;
            EXPECT_EQ(I, c.I) << id;
            EXPECT_EQ(N, c.N) << id;
        }
    }

    BatchOptions opt;
    std::string error;
    const char* args[] = {"zelk-batch", "--shard", "auto", "a.VXO"};
    ASSERT_TRUE(parse_batch(4, args, opt, error)) << error;
    EXPECT_TRUE(opt.shard_auto);
    const char* bad[] = {"zelk-batch", "--shard", "automatic", "a.VXO"};
    EXPECT_FALSE(parse_batch(4, bad, opt, error));
}

// A CSV row of the summary's width whose first column is text.
std::string csv_row(const std::string& text) {
    std::string row = text;
    const std::string header = Summary::csv_header_line();
    const auto ncol = static_cast<size_t>(std::count(header.begin(), header.end(), ',')) + 1;
    for (size_t c = 1; c < ncol; ++c) row += ',';
    return row + '\n';
}

TEST(MergeSummaries, CompleteSummariesOnly) {
    const std::string header = Summary::csv_header_line() + '\n';
    struct Case {
        std::string text;
        bool jsonl;
        long rows;   // -1: refused
    };
    const std::vector<Case> cases = {
        {header, false, 0},
        {header + csv_row("a") + csv_row("\"b,\nc\"\"\""), false, 2},   // quoted comma, line end, quote
        {"", false, -1},                                               // no header
        {"file,record\n" + csv_row("a"), false, -1},                   // another header
        {header + csv_row("a").substr(0, 5), false, -1},              // cut short
        {header + "a,b\n", false, -1},                                 // too few columns
        {header + csv_row("a,b"), false, -1},                          // too many
        {header + csv_row("\"a"), false, -1},                          // quote left open
        {"", true, 0},
        {"{\"file\":\"a\"}\n{\"file\":\"b\"}\n", true, 2},
        {"{\"file\":\"a\"}\n{\"file\":", true, -1},
        {"{\"file\":\"a\"}\n\n", true, -1},
        {header, true, -1},                                            // CSV taken for JSON Lines
    };
    for (const Case& c : cases) {
        std::string rows, why;
        long n = -2;
        const bool ok = summary_rows(c.text, c.jsonl, rows, n, why);
        EXPECT_EQ(ok, c.rows >= 0) << c.text;
        if (ok) {
            EXPECT_EQ(n, c.rows) << c.text;
        } else {
            EXPECT_FALSE(why.empty());
        }
    }

    // Good parts merged in the order given, bad ones reported and left out whole.
    ztest::ScratchDir d;
    const auto p = [&d](const char* name) { return d.file(name).string(); };
    spit(p("t1.csv"), header + csv_row("one"));
    spit(p("t2.csv"), header);                                  // a task without records
    spit(p("t3.csv"), header + csv_row("three") + "cut,");      // cut short
    spit(p("t4.csv"), header + csv_row("four") + csv_row("five"));
    std::ostringstream err;
    EXPECT_EQ(merge_summaries(p("all.csv"), {p("t4.csv"), p("t1.csv"), p("t2.csv"), p("t3.csv"), p("t9.csv")}, err), 1);
    EXPECT_EQ(slurp(p("all.csv")), header + csv_row("four") + csv_row("five") + csv_row("one"));
    EXPECT_NE(err.str().find("t3.csv: its last line is cut short; left out"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("t9.csv: missing; left out"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("3 rows from 3 of 5 summaries"), std::string::npos) << err.str();

    err.str("");
    EXPECT_EQ(merge_summaries(p("all.csv"), {p("t1.csv"), p("t2.csv")}, err), 0);
    EXPECT_EQ(slurp(p("all.csv")), header + csv_row("one"));
    EXPECT_EQ(merge_summaries(p("t1.csv"), {p("t2.csv"), p("t1.csv")}, err), 2);   // out among the inputs
    EXPECT_EQ(slurp(p("t1.csv")), header + csv_row("one"));
    EXPECT_EQ(merge_summaries(p("all.txt"), {p("t1.csv")}, err), 2);
    EXPECT_EQ(merge_summaries(p("none/all.csv"), {p("t1.csv")}, err), 4);

    // Summaries of refined runs (the column mode last) merge under their own header; one
    // with the other header than the first summary merged is left out.
    const std::string refined = Summary::csv_header_line(true) + '\n';
    spit(p("r1.csv"), refined + csv_row("one") .substr(0, csv_row("one").size() - 1) + ",refined\n");
    err.str("");
    EXPECT_EQ(merge_summaries(p("all.csv"), {p("r1.csv"), p("t1.csv")}, err), 1);
    EXPECT_EQ(slurp(p("all.csv")), slurp(p("r1.csv")));
    EXPECT_NE(err.str().find("t1.csv: it lacks the column mode"), std::string::npos) << err.str();
    // No temporary file is left beside the merged summary.
    for (const auto& e : fs::directory_iterator(d.path())) EXPECT_NE(e.path().filename().string()[0], '.');
}

// --skip-existing end to end: a run started again leaves out the files whose outputs are
// complete, takes their summary rows from beside the outputs, and ends with the summary and
// outputs of one uninterrupted run; anything that makes a kept output doubtful has the
// file processed again.
class SkipExisting : public ztest::ScratchTest {
protected:
    void SetUp() override {
        fs::create_directory(path("in"));
        fs::copy_file(DATA + "/synth-small.VXO", path("in/a.VXO"));
        fs::copy_file(DATA + "/synth-small-bad.VXO", path("in/b.VXO"));
        fs::copy_file(DATA + "/samples/midlat-day.VXO", path("in/c.VXO"));
        ASSERT_EQ(batch("--hstep 10 --summary " + path("plain.csv") + " -o " + path("plain") + " " + path("in")), 0);
        ASSERT_EQ(batch("--hstep 10 --summary " + path("plain.jsonl") + " -o NONE " + path("in")), 0);
    }
    // Runs with --skip-existing into out/; the number of files it found complete.
    int complete(const std::string& opts, const std::string& summary) {
        EXPECT_EQ(batch("--skip-existing " + opts + " --summary " + path(summary) + " -o " + path("out") + " " + path("in")), 0)
            << slurp(path("stderr"));
        const std::string err = slurp(path("stderr"));
        const size_t at = err.find(" already complete");
        if (at == std::string::npos) return 0;
        return std::stoi(err.substr(err.rfind(", ", at) + 2));
    }
    void expect_plain(const std::string& summary, const std::string& plain) {
        EXPECT_EQ(slurp(path(summary)), slurp(path(plain)));
        for (const char* name : {"a.VXO.430", "b.VXO.430", "c.VXO.430"}) {
            EXPECT_EQ(slurp(path(std::string("out/") + name)), slurp(path(std::string("plain/") + name))) << name;
        }
    }
};

TEST_F(SkipExisting, RedoesOnlyWhatIsMissing) {
    EXPECT_EQ(complete("--hstep 10", "s1.csv"), 0);
    expect_plain("s1.csv", "plain.csv");
    // An interrupted run: one output missing.
    fs::remove(path("out/b.VXO.430"));
    const auto kept_time = fs::last_write_time(path("out/a.VXO.430"));
    EXPECT_EQ(complete("--hstep 10", "s2.csv"), 2);
    expect_plain("s2.csv", "plain.csv");
    EXPECT_EQ(fs::last_write_time(path("out/a.VXO.430")), kept_time);   // not written again
    // Everything complete: nothing inverted, yet the full summary and status 0.
    EXPECT_EQ(complete("--hstep 10 --jobs 2", "s3.csv"), 3);
    expect_plain("s3.csv", "plain.csv");
    // A run without a summary needs no rows: those kept in any format do.
    ASSERT_EQ(batch("--skip-existing --hstep 10 -o " + path("out") + " " + path("in")), 0);
    EXPECT_NE(slurp(path("stderr")).find(", 3 files already complete"), std::string::npos) << slurp(path("stderr"));
    // With several workers, one file missing.
    fs::remove(path("out/c.VXO.430"));
    EXPECT_EQ(complete("--hstep 10 --jobs 2", "s4.csv"), 2);
    expect_plain("s4.csv", "plain.csv");

    EXPECT_EQ(batch("--skip-existing --summary " + path("x.csv") + " " + path("in")), 2);   // no outputs
}

TEST_F(SkipExisting, DoubtfulOutputsAreRedone) {
    EXPECT_EQ(complete("--hstep 10", "s1.csv"), 0);
    // Rows of another format are not kept for this summary.
    EXPECT_EQ(complete("--hstep 10", "s2.jsonl"), 0);
    expect_plain("s2.jsonl", "plain.jsonl");
    EXPECT_EQ(complete("--hstep 10", "s3.jsonl"), 3);

    // An output damaged in place, its size and time kept: it no longer reads back.
    const std::string a = path("out/a.VXO.430");
    std::string text = slurp(a);
    const auto t = fs::last_write_time(a);
    text[text.size() / 2] = '\x01';
    text.replace(0, 4, "ZZZZ");
    spit(a, text);
    fs::last_write_time(a, t);
    // An input that changed since its output was written.
    fs::last_write_time(path("in/c.VXO"), fs::last_write_time(path("in/c.VXO")) + std::chrono::seconds(5));
    EXPECT_EQ(complete("--hstep 10", "s4.jsonl"), 1);
    expect_plain("s4.jsonl", "plain.jsonl");

    // Kept rows that do not match: other settings, lost rows, another input name.
    EXPECT_EQ(complete("--hstep 10", "s5.jsonl"), 3);
    spit(kept_rows_path(path("out/b.VXO.430")), "zelk-batch kept rows 1\n");
    EXPECT_EQ(complete("--hstep 10", "s6.jsonl"), 2);
    EXPECT_EQ(complete("--hstep 20", "s7.jsonl"), 0);
}

// The kept rows of a refined run name its parts one by one, so that rows kept by a run whose
// --refine stood for fewer parts (an earlier program's "refine=all") are made again, as are
// those of other parts.
TEST_F(SkipExisting, RefinedRowsNameTheirParts) {
    EXPECT_EQ(complete("--hstep 10 --refine", "r1.csv"), 0);
    EXPECT_EQ(complete("--hstep 10 --refine", "r2.csv"), 3);
    EXPECT_EQ(slurp(path("r2.csv")), slurp(path("r1.csv")));
    for (const char* name : {"out/a.VXO.430", "out/b.VXO.430", "out/c.VXO.430"}) {
        const std::string kept = kept_rows_path(path(name));
        std::string text = slurp(kept);
        const std::string parts = "refine=valley,xstart,fc,f1,gap";
        const size_t at = text.find(parts);
        ASSERT_NE(at, std::string::npos) << name;
        spit(kept, text.replace(at, parts.size(), "refine=all"));
    }
    EXPECT_EQ(complete("--hstep 10 --refine", "r3.csv"), 0);
    EXPECT_EQ(slurp(path("r3.csv")), slurp(path("r1.csv")));
    EXPECT_EQ(complete("--hstep 10 --refine", "r4.csv"), 3);
    EXPECT_EQ(complete("--hstep 10 --refine-parts fc", "r5.csv"), 0);
}

}  // namespace

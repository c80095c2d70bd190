// The batch program's run mode: options, input lists, output names, summary rows, exit
// status.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "driver/batch.hpp"
#include "driver/progress.hpp"
#include "driver/summary.hpp"
#include "fake_steps.hpp"
#include "scratch_test.hpp"
#include "pipeline/prepare.hpp"

namespace {

namespace fs = std::filesystem;
using namespace zelk::driver;
using ztest::slurp;
using ztest::spit;

bool parse(std::vector<const char*> args, BatchOptions& opt, std::string& error) {
    args.insert(args.begin(), "zelk-batch");
    return parse_batch(static_cast<int>(args.size()), args.data(), opt, error);
}

TEST(BatchOptions, Parse) {
    BatchOptions opt;
    std::string error;
    ASSERT_TRUE(parse({"-o", "out", "--hstep=10", "--qpacc", "0.01", "--debug", "0",
                       "--summary", "s.JSONL", "a.VXO", "--", "-b.VXO"}, opt, error)) << error;
    EXPECT_EQ(opt.output, "out");
    EXPECT_FLOAT_EQ(opt.hstep, 10.0f);
    EXPECT_FLOAT_EQ(opt.qpacc, 0.01f);
    EXPECT_EQ(opt.debug, 0);
    EXPECT_EQ(opt.summary, "s.JSONL");
    EXPECT_EQ(opt.inputs, (std::vector<std::string>{"a.VXO", "-b.VXO"}));
    EXPECT_FALSE(opt.inspect);
    EXPECT_FALSE(opt.shape_fast);
    ASSERT_TRUE(parse({"--shape-fit", "fast", "a.VXO"}, opt, error)) << error;
    EXPECT_TRUE(opt.shape_fast);
    ASSERT_TRUE(parse({"--shape-fit", "fast", "--shape-fit=search", "a.VXO"}, opt, error)) << error;
    EXPECT_FALSE(opt.shape_fast);

    ASSERT_TRUE(parse({"--help"}, opt, error));
    EXPECT_TRUE(opt.help);
    ASSERT_TRUE(parse({"--inspect", "a.VXO"}, opt, error));
    EXPECT_TRUE(opt.inspect);

    // Usage errors, each with a message.
    const std::vector<std::vector<const char*>> bad = {
        {},                                  // no input
        {"--frobnicate", "a.VXO"},           // unknown option
        {"a.VXO", "-o"},                     // missing value
        {"--hstep", "ten", "a.VXO"},
        {"--hstep", "-1", "a.VXO"},
        {"--hstep", "1e99", "a.VXO"},
        {"--qpacc", "-0.5", "a.VXO"},
        {"--shape-fit", "quick", "a.VXO"},
        {"--debug", "1.5", "a.VXO"},
        {"--debug", "40000", "a.VXO"},
        {"--summary", "s.txt", "a.VXO"},
        {"--jobs", "0", "a.VXO"},
        {"--jobs", "65", "a.VXO"},
        {"--jobs", "two", "a.VXO"},
        {"--shard", "0/3", "a.VXO"},         // I outside 1..N
        {"--shard", "4/3", "a.VXO"},
        {"--shard", "1/0", "a.VXO"},
        {"--shard", "2", "a.VXO"},
        {"--shard", "1/2/3", "a.VXO"},
        {"--plots", "p", "--plot-format", "gif", "a.VXO"},
        {"--plot-data", "a.VXO"},            // plot data files need a picture directory
    };
    for (const auto& b : bad) {
        error.clear();
        EXPECT_FALSE(parse(b, opt, error)) << (b.empty() ? "" : b[0]);
        EXPECT_FALSE(error.empty());
    }
    EXPECT_NE(std::string(batch_usage()).find("--summary FILE"), std::string::npos);

    // The picture options: png by default.
    ASSERT_TRUE(parse({"--plots", "p", "a.VXO"}, opt, error)) << error;
    EXPECT_EQ(opt.plots, "p");
    EXPECT_EQ(opt.plot_format, "png");
    EXPECT_FALSE(opt.plot_data);
    ASSERT_TRUE(parse({"--plots", "p", "--plot-format", "pdf", "--plot-data", "a.VXO"}, opt, error)) << error;
    EXPECT_EQ(opt.plot_format, "pdf");
    EXPECT_TRUE(opt.plot_data);

    // The two run options, and an option given twice keeps its last value.
    ASSERT_TRUE(parse({"--jobs", "3", "--shard=2/5", "-o", "x", "-o", "y", "a.VXO"}, opt, error)) << error;
    EXPECT_EQ(opt.jobs, 3);
    EXPECT_EQ(opt.shard, 2);
    EXPECT_EQ(opt.shards, 5);
    EXPECT_EQ(opt.output, "y");
    // Inputs before, between and after options are all kept, in order.
    ASSERT_TRUE(parse({"a.VXO", "--jobs", "2", "b.VXO", "--inspect", "c.VXO"}, opt, error)) << error;
    EXPECT_EQ(opt.inputs, (std::vector<std::string>{"a.VXO", "b.VXO", "c.VXO"}));
    ASSERT_TRUE(parse({"a.VXO"}, opt, error));
    EXPECT_EQ(opt.jobs, 1);
    EXPECT_EQ(opt.shards, 0);
    const std::string usage = batch_usage();
    for (const char* text : {"Usage: zelk-batch [options] INPUT...", "--jobs N", "--shard I/N",
                             "Exit status:", "Examples:"}) {
        EXPECT_NE(usage.find(text), std::string::npos) << text;
    }
}

// The slices of --shard I/N: contiguous, sizes one apart at most, every file in exactly one.
// --refine asks for every part, --refine-parts for those named; the standard mode is none.
TEST(BatchOptions, RefinedModeParts) {
    BatchOptions opt;
    std::string error;
    ASSERT_TRUE(parse({"a.VXO"}, opt, error)) << error;
    EXPECT_FALSE(opt.refine.any());
    ASSERT_TRUE(parse({"--refine", "a.VXO"}, opt, error)) << error;
    EXPECT_TRUE(opt.refine.valley && opt.refine.xstart && opt.refine.scaled_fc && opt.refine.f1_roots &&
                opt.refine.gap);
    EXPECT_EQ(refine_text(opt.refine), "all");
    EXPECT_EQ(refine_list(opt.refine), "valley,xstart,fc,f1,gap");
    EXPECT_EQ(opt.inputs, std::vector<std::string>{"a.VXO"});
    BatchOptions two;
    ASSERT_TRUE(parse({"--refine-parts", "fc,f1", "a.VXO"}, two, error)) << error;
    EXPECT_FALSE(two.refine.valley || two.refine.xstart || two.refine.gap);
    EXPECT_TRUE(two.refine.scaled_fc && two.refine.f1_roots);
    EXPECT_EQ(refine_text(two.refine), "fc,f1");
    BatchOptions gap;
    ASSERT_TRUE(parse({"--refine-parts", "gap", "a.VXO"}, gap, error)) << error;
    EXPECT_TRUE(gap.refine.gap && gap.refine.any());
    EXPECT_FALSE(gap.refine.valley || gap.refine.xstart || gap.refine.scaled_fc || gap.refine.f1_roots);
    EXPECT_EQ(refine_text(gap.refine), "gap");
    for (const char* bad : {"fc,bogus", "", ","}) {
        BatchOptions b;
        EXPECT_FALSE(parse({"--refine-parts", bad, "a.VXO"}, b, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(BatchOptions, ShardSlicesCoverTheListOnce) {
    for (size_t count = 0; count <= 23; ++count) {
        for (int32_t N = 1; N <= 9; ++N) {
            size_t expect_begin = 0, smallest = count, largest = 0;
            for (int32_t I = 1; I <= N; ++I) {
                const auto [begin, end] = shard_slice(count, I, N);
                EXPECT_EQ(begin, expect_begin) << count << " files, slice " << I << "/" << N;
                ASSERT_LE(begin, end);
                smallest = std::min(smallest, end - begin);
                largest = std::max(largest, end - begin);
                expect_begin = end;
            }
            EXPECT_EQ(expect_begin, count) << count << " files in " << N << " slices";
            EXPECT_LE(largest - smallest, 1u);
        }
    }
    // The list is sorted and repeated names dropped first, so that the order of the inputs
    // on the command line does not change the slices.
    const std::vector<std::string> a = {"c", "a", "b", "a", "e", "d"};
    const std::vector<std::string> b = {"e", "d", "c", "b", "a"};
    std::vector<std::string> all;
    for (int32_t I = 1; I <= 3; ++I) {
        const auto slice = shard_files(a, I, 3);
        EXPECT_EQ(slice, shard_files(b, I, 3));
        all.insert(all.end(), slice.begin(), slice.end());
    }
    EXPECT_EQ(all, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_TRUE(shard_files(a, 4, 3).empty());
}

class BatchFiles : public ztest::ScratchTest {};

TEST_F(BatchFiles, ExpandInputs) {
    fs::create_directory(path("in"));
    spit(path("in/b.VXO"), "GOOD\n");
    spit(path("in/a.VXO"), "GOOD\n");
    spit(path("in/c.dat"), "GOOD\n");
    spit(path("in/a.VXO.430"), "GOOD\n");   // an earlier output
    spit(path("in/.a.VXO.430.x1y2z3"), "GOOD\n");   // a temporary output
    spit(path("in/empty.VXO"), "");
    fs::create_directory(path("in/sub"));

    std::vector<std::string> files;
    bool several = false;
    std::string error;
    ASSERT_TRUE(expand_inputs({path("in")}, files, several, error)) << error;
    EXPECT_EQ(files, (std::vector<std::string>{path("in/a.VXO"), path("in/b.VXO"), path("in/c.dat")}));
    EXPECT_TRUE(several);

    ASSERT_TRUE(expand_inputs({path("in/*.VXO")}, files, several, error)) << error;
    EXPECT_EQ(files, (std::vector<std::string>{path("in/a.VXO"), path("in/b.VXO")}));
    ASSERT_TRUE(expand_inputs({path("in/?.dat"), path("in/b.VXO")}, files, several, error));
    EXPECT_EQ(files, (std::vector<std::string>{path("in/c.dat"), path("in/b.VXO")}));

    // One file named: one input, even when it is empty.
    ASSERT_TRUE(expand_inputs({path("in/empty.VXO")}, files, several, error));
    EXPECT_FALSE(several);

    // A missing file is left to the run, which reports it.
    ASSERT_TRUE(expand_inputs({path("in/none.VXO"), path("in/a.VXO")}, files, several, error));
    EXPECT_EQ(files, (std::vector<std::string>{path("in/none.VXO"), path("in/a.VXO")}));
    EXPECT_FALSE(expand_inputs({path("in/*.XYZ")}, files, several, error));
    EXPECT_FALSE(expand_inputs({path("*/a.VXO")}, files, several, error));
    EXPECT_FALSE(expand_inputs({path("in/sub")}, files, several, error));
}

TEST_F(BatchFiles, OutputNames) {
    spit(path("a.VXO"), "GOOD\n");
    spit(path("b.VXO"), "GOOD\n");
    fs::create_directory(path("x"));
    spit(path("x/a.VXO"), "GOOD\n");
    std::vector<FileJob> jobs;
    bool outdir = false;
    std::string error;

    ASSERT_TRUE(batch_jobs({path("a.VXO")}, false, path("a.out"), jobs, outdir, error));
    EXPECT_FALSE(outdir);
    EXPECT_EQ(jobs[0].output, path("a.out"));
    ASSERT_TRUE(batch_jobs({path("a.VXO")}, false, "NONE", jobs, outdir, error));
    EXPECT_EQ(jobs[0].output, "");
    // One input into an existing directory, and several inputs into a new one.
    ASSERT_TRUE(batch_jobs({path("a.VXO")}, false, path("x"), jobs, outdir, error));
    EXPECT_TRUE(outdir);
    EXPECT_EQ(jobs[0].output, path("x/a.VXO.430"));
    ASSERT_TRUE(batch_jobs({path("a.VXO"), path("b.VXO")}, true, path("new"), jobs, outdir, error));
    EXPECT_EQ(jobs[1].output, path("new/b.VXO.430"));
    EXPECT_FALSE(fs::exists(path("new")));   // nothing is made before the run

    // Refused before anything is written: the output is an input; two inputs, one output;
    // several inputs and an output that is a file.
    EXPECT_FALSE(batch_jobs({path("a.VXO")}, false, path("a.VXO"), jobs, outdir, error));
    EXPECT_NE(error.find("refused"), std::string::npos);
    fs::create_hard_link(path("a.VXO"), path("link.VXO"));   // the input under another name
    EXPECT_FALSE(batch_jobs({path("a.VXO")}, false, path("link.VXO"), jobs, outdir, error));
    EXPECT_FALSE(batch_jobs({path("a.VXO"), path("x/a.VXO")}, true, path("y"), jobs, outdir, error));
    EXPECT_FALSE(batch_jobs({path("a.VXO"), path("b.VXO")}, true, path("a.VXO"), jobs, outdir, error));
    EXPECT_EQ(slurp(path("a.VXO")), "GOOD\n");
}

TEST_F(BatchFiles, RunExitStatusAndSummary) {
    fs::create_directory(path("in"));
    spit(path("in/1.VXO"), "GOOD 10\nBAD\nGOOD 11\n");
    spit(path("in/2.VXO"), "BAD\n");
    spit(path("in/3.VXO"), "GOOD 12\nGOOD 0\n");

    BatchOptions opt;
    opt.inputs = {path("in")};
    opt.output = path("out");
    opt.summary = path("s.csv");
    const StepsFactory steps = [] { return std::make_unique<ztest::FakeSteps>(); };
    std::ostringstream diag, err;
    EXPECT_EQ(batch_run(opt, steps, diag, err, false), 0);
    EXPECT_EQ(slurp(path("out/1.VXO.430")), "REC 10\nREC 11\n");
    EXPECT_FALSE(fs::exists(path("out/2.VXO.430")));
    EXPECT_EQ(slurp(path("out/3.VXO.430")), "REC 12\n");
    const std::string msg = err.str();
    EXPECT_NE(msg.find("1.VXO: 1 bad record skipped (record 2), 2 read"), std::string::npos) << msg;
    EXPECT_NE(msg.find("2.VXO: 1 bad record skipped (record 1), 0 read"), std::string::npos) << msg;
    EXPECT_NE(msg.find("3.VXO: record 2 ends the file (date or time out of range)"), std::string::npos) << msg;
    EXPECT_NE(msg.find("3 records inverted from 3 files, 3 written, 2 bad skipped"), std::string::npos) << msg;

    const std::string csv = slurp(path("s.csv"));
    std::istringstream lines(csv);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "file,record,station,station_code,time,istat,status,foE,hmE,foF1,hmF1,foF2,"
                    "hmF2,hhalf,yF2,B0,B1,D1,TEC,H_top,n_qp,er_F2");
    std::getline(lines, line);
    EXPECT_EQ(line.substr(line.find(",1,")), ",1,FAKE,101,2004-01-10T19:05:30Z,2,profile inverted,,,,,5.000,,,,,,,,,0,");
    int rows = 1;
    while (std::getline(lines, line)) ++rows;
    EXPECT_EQ(rows, 3);

    // Nothing reaches the inversion: status 1, and the warning on standard error.
    opt.inputs = {path("in/2.VXO")};
    opt.output = "";
    opt.summary = "";
    err.str("");
    EXPECT_EQ(batch_run(opt, steps, diag, err, false), 1);
    EXPECT_NE(err.str().find("WARNING: NO PROPER DATA OR ERROR FOUND IN THE INPUT FILE."), std::string::npos);

    // Usage errors found while preparing the run: status 2 and nothing written.
    opt.inputs = {path("in/1.VXO")};
    opt.output = path("in/1.VXO");
    EXPECT_EQ(batch_run(opt, steps, diag, err, false), 2);
    EXPECT_EQ(slurp(path("in/1.VXO")), "GOOD 10\nBAD\nGOOD 11\n");
    opt.output = "";
    opt.summary = path("in/1.VXO");
    EXPECT_EQ(batch_run(opt, steps, diag, err, false), 2);
    EXPECT_EQ(slurp(path("in/1.VXO")), "GOOD 10\nBAD\nGOOD 11\n");

    // A model data file missing: status 3 with its one-line message, no partial outputs.
    spit(path("in/4.VXO"), "GOOD 10\nSTOP\n");
    opt.inputs = {path("in/4.VXO")};
    opt.output = path("4.out");
    opt.summary = path("s4.jsonl");
    err.str("");
    EXPECT_EQ(batch_run(opt, steps, diag, err, false), 3);
    EXPECT_EQ(err.str(), "URSI13.ASC NOT FOUND\n");
    EXPECT_FALSE(fs::exists(path("4.out")));
    EXPECT_FALSE(fs::exists(path("s4.jsonl")));
}

TEST_F(BatchFiles, SummaryRows) {
    auto z = std::make_unique<zelk::Zelk>();
    ztest::fill_record(*z, 60);
    ASSERT_EQ(zelk::pipeline::prepare(*z), zelk::iondata::PREP_OK);
    auto& inv = z->inv;
    inv.ISTAT() = 2;
    inv.FOE = 3.12f;
    inv.IQUALE(1) = 1;
    inv.ZME = 110.0f;
    inv.FOF1 = 4.81f;
    inv.ZMF1 = 190.25f;
    inv.FOF2 = 9.02f;
    inv.ZMF2 = 280.5f;
    inv.HHALF = 240.0f;
    inv.YF2 = 9999.0f;
    inv.ER(3) = 1.25f;
    z->bot.B0 = 98.76f;
    z->bot.B1 = 2.5f;
    z->bot.D1 = 9999.0f;
    z->prod.ITEC = 12.345f;
    z->prod.H = 50.0f;
    z->prod.NSEG = 4;

    for (const char* name : {"s.csv", "s.jsonl"}) {
        Summary s;
        std::string why;
        ASSERT_TRUE(s.open(path(name), why)) << why;
        s.row(*z, "dir/a,b.VXO", 7);
        inv.ISTAT() = 18;   // F2 fit failed: the F2 results and products are left out
        inv.FOF1 = 9999.0f;
        s.row(*z, "dir/a,b.VXO", 8);
        inv.ISTAT() = 2;
        inv.FOF1 = 4.81f;
        ASSERT_TRUE(s.close(why)) << why;
        EXPECT_EQ(s.rows(), 2);
    }
    std::istringstream csv(slurp(path("s.csv")));
    std::string line;
    std::getline(csv, line);
    std::getline(csv, line);
    EXPECT_EQ(line, "\"dir/a,b.VXO\",7,FAKE,101,2004-02-29T19:05:30Z,2,profile inverted,3.120,110.000,"
                    "4.810,190.250,9.020,280.500,240.000,,98.76,2.50,,12.345,50.000,4,1.250");
    std::getline(csv, line);
    EXPECT_EQ(line, "\"dir/a,b.VXO\",8,FAKE,101,2004-02-29T19:05:30Z,18,F2 solution oscillates or "
                    "fits badly,3.120,110.000,,,9.020,,,,,,,,,4,1.250");
    std::istringstream js(slurp(path("s.jsonl")));
    std::getline(js, line);
    EXPECT_EQ(line, "{\"file\":\"dir/a,b.VXO\",\"record\":7,\"station\":\"FAKE\",\"station_code\":101,"
                    "\"time\":\"2004-02-29T19:05:30Z\",\"istat\":2,\"status\":\"profile inverted\","
                    "\"foE\":3.120,\"hmE\":110.000,\"foF1\":4.810,\"hmF1\":190.250,\"foF2\":9.020,"
                    "\"hmF2\":280.500,\"hhalf\":240.000,\"yF2\":null,\"B0\":98.76,\"B1\":2.50,"
                    "\"D1\":null,\"TEC\":12.345,\"H_top\":50.000,\"n_qp\":4,\"er_F2\":1.250}");
    std::getline(js, line);
    EXPECT_NE(line.find("\"hmF2\":null"), std::string::npos);
    EXPECT_NE(line.find("\"foF1\":null"), std::string::npos);
    EXPECT_EQ(line.find("9999"), std::string::npos);

    // foF1 equal to foF2 (no F1 layer apart from the peak): foF1 is kept, its height not.
    inv.FOF1 = inv.FOF2;
    Summary s;
    std::string why;
    ASSERT_TRUE(s.open(path("t.csv"), why)) << why;
    s.row(*z, "a", 1);
    ASSERT_TRUE(s.close(why)) << why;
    std::istringstream t(slurp(path("t.csv")));
    std::getline(t, line);
    std::getline(t, line);
    EXPECT_NE(line.find(",110.000,9.020,,9.020,280.500,"), std::string::npos) << line;

    // A refined run: the column mode last, in both formats; a standard row has none.
    inv.refine.scaled_fc = true;
    inv.made_by = zelk::inversion::MadeBy::FALLBACK;
    Summary r;
    r.set_mode_column(true);
    ASSERT_TRUE(r.open(path("r.csv"), why)) << why;
    r.row(*z, "a", 1);
    ASSERT_TRUE(r.close(why)) << why;
    std::istringstream rc(slurp(path("r.csv")));
    std::getline(rc, line);
    EXPECT_EQ(line, Summary::csv_header_line() + ",mode");
    std::getline(rc, line);
    EXPECT_TRUE(line.ends_with(",fallback")) << line;
    std::ostringstream j;
    r.set_format(true);
    r.row(j, *z, "a", 1);
    EXPECT_TRUE(j.str().ends_with(",\"mode\":\"fallback\"}\n")) << j.str();
}

TEST(Progress, LineAndSilence) {
    EXPECT_EQ(Progress::LINE(500, 2.0, 0.25), "500 records, 250 records/s, 25%, about 0:06 left");
    EXPECT_EQ(Progress::LINE(10, 1.0, 0.005), "10 records, 10 records/s");
    EXPECT_EQ(Progress::LINE(0, 0.0, 0.0), "0 records, 0 records/s");
    EXPECT_EQ(Progress::LINE(1000, 100.0, 0.5), "1000 records, 10 records/s, 50%, about 1:40 left");
    std::ostringstream os;
    Progress off(os, false);
    off.update(100, 0.5);
    off.clear();
    EXPECT_TRUE(os.str().empty());
}

}  // namespace

namespace {

// With the progress line on, diagnostics still arrive whole and in order.
TEST_F(BatchFiles, DiagnosticsWithProgress) {
    spit(path("a.VXO"), "GOOD 10\nGOOD 11\n");
    BatchOptions opt;
    opt.inputs = {path("a.VXO")};
    opt.debug = 13;
    const StepsFactory steps = [] { return std::make_unique<ztest::FakeSteps>(); };
    std::ostringstream diag, err;
    EXPECT_EQ(batch_run(opt, steps, diag, err, true), 0);
    const std::string d = diag.str();
    size_t n = 0;
    for (size_t at = d.find("PARAMETERS\n"); at != std::string::npos; at = d.find("PARAMETERS\n", at + 1)) ++n;
    EXPECT_EQ(n, 2u);
    EXPECT_NE(d.find("   SUN SPOT NUMBER, LATITUDE, LONGTITUDE, GYROFREQUENCY, DI(RADIANS)\n"), std::string::npos);
    EXPECT_EQ(d.find('\r'), std::string::npos);
}

}  // namespace

namespace {

// An output that cannot be made is not a success: status 4, and the other outputs of the
// run are still complete.
TEST_F(BatchFiles, UnwritableOutputIsReported) {
    spit(path("a.VXO"), "GOOD 10\n");
    spit(path("blocker"), "a file where a directory should be\n");
    BatchOptions opt;
    opt.inputs = {path("a.VXO")};
    opt.output = path("blocker/a.out");
    const StepsFactory steps = [] { return std::make_unique<ztest::FakeSteps>(); };
    std::ostringstream diag, err;
    EXPECT_EQ(batch_run(opt, steps, diag, err, false), 4);
    EXPECT_NE(err.str().find("blocker/a.out: cannot be written"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("1 output not written"), std::string::npos) << err.str();

    opt.output = "";
    opt.summary = path("blocker/s.csv");
    EXPECT_EQ(batch_run(opt, steps, diag, err, false), 4);
    EXPECT_NE(err.str().find("s.csv: cannot be written"), std::string::npos) << err.str();
}

}  // namespace

namespace {

// Files processed in parallel give what one worker gives: the same outputs, the same summary
// rows in file order, the same notices and diagnostics in file order. Each file runs with a
// run context of its own, so the worker a file falls to makes no difference.
TEST_F(BatchFiles, JobsGiveTheResultsOfOneWorker) {
    fs::create_directory(path("in"));
    spit(path("in/1.VXO"), "GOOD 10\nBAD\nGOOD 11\n");
    spit(path("in/2.VXO"), "BAD\n");
    spit(path("in/3.VXO"), "GOOD 12\nGOOD 0\n");
    for (int i = 4; i <= 9; ++i) spit(path("in/" + std::to_string(i) + ".VXO"), "GOOD " + std::to_string(20 + i) + "\n");
    const StepsFactory steps = [] { return std::make_unique<ztest::FakeSteps>(); };

    struct Result {
        int status;
        std::string diag, err, summary;
        std::map<std::string, std::string> outputs;
    };
    auto run = [&](int32_t jobs) {
        BatchOptions opt;
        opt.inputs = {path("in")};
        opt.output = path("out" + std::to_string(jobs));
        opt.summary = path("s.csv");
        opt.debug = 13;   // the input listings of every record
        opt.jobs = jobs;
        std::ostringstream diag, err;
        Result r;
        r.status = batch_run(opt, steps, diag, err, false);
        r.diag = diag.str();
        r.err = err.str();
        r.summary = slurp(path("s.csv"));
        for (const auto& e : fs::directory_iterator(opt.output)) {
            r.outputs[e.path().filename().string()] = slurp(e.path().string());
        }
        return r;
    };
    const Result one = run(1);
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.outputs.size(), 8u);
    EXPECT_NE(one.diag.find("PARAMETERS"), std::string::npos);
    EXPECT_NE(one.err.find("9 records inverted from 9 files, 9 written, 2 bad skipped"), std::string::npos) << one.err;
    for (int32_t jobs : {2, 3, 9, 64}) {
        const Result many = run(jobs);
        EXPECT_EQ(many.status, one.status) << jobs;
        EXPECT_EQ(many.diag, one.diag) << jobs;
        EXPECT_EQ(many.err, one.err) << jobs;
        EXPECT_EQ(many.summary, one.summary) << jobs;
        EXPECT_EQ(many.outputs, one.outputs) << jobs;
    }
}

// A model data file that fails under several workers: status 3, its message once, no
// summary, and the files before it complete as with one worker.
TEST_F(BatchFiles, JobsStopOnAModelDataFailure) {
    fs::create_directory(path("in"));
    spit(path("in/1.VXO"), "GOOD 10\nGOOD 11\n");
    spit(path("in/2.VXO"), "GOOD 12\nSTOP\n");
    spit(path("in/3.VXO"), "STOP\n");
    spit(path("in/4.VXO"), "GOOD 13\n");
    const StepsFactory steps = [] { return std::make_unique<ztest::FakeSteps>(); };
    for (int32_t jobs : {1, 2, 4}) {
        BatchOptions opt;
        opt.inputs = {path("in")};
        opt.output = path("out" + std::to_string(jobs));
        opt.summary = path("s.csv");
        opt.jobs = jobs;
        std::ostringstream diag, err;
        EXPECT_EQ(batch_run(opt, steps, diag, err, false), 3) << jobs;
        EXPECT_EQ(err.str(), "URSI13.ASC NOT FOUND\n") << jobs;
        EXPECT_FALSE(fs::exists(path("s.csv"))) << jobs;
        EXPECT_EQ(slurp(path("out" + std::to_string(jobs) + "/1.VXO.430")), "REC 10\nREC 11\n") << jobs;
        EXPECT_FALSE(fs::exists(path("out" + std::to_string(jobs) + "/2.VXO.430"))) << jobs;
        // No temporary output is left behind by a file abandoned after the failure.
        for (const auto& e : fs::directory_iterator(opt.output)) {
            EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
        }
    }
}

// One file with --jobs N: its records are made on N threads and taken up in file order, so
// that outputs, rows, notices and the end of a failing file are those of one thread.
TEST_F(BatchFiles, RecordsOfOneFileOnSeveralJobs) {
    std::string good = "GOOD 10\nBAD\n";
    for (int d = 11; d < 60; ++d) good += "GOOD " + std::to_string(d) + "\n";
    spit(path("a.VXO"), good);
    spit(path("b.VXO"), "GOOD 10\nGOOD 11\nBAD\nGOOD 12\nSTOP\nGOOD 13\n");
    const StepsFactory steps = [] {
        auto s = std::make_unique<ztest::FakeSteps>();
        s->apart = true;
        return s;
    };
    std::string out1, rows1, err1;
    for (int32_t jobs : {1, 2, 3}) {
        SCOPED_TRACE(jobs);
        BatchOptions opt;
        opt.inputs = {path("a.VXO")};
        opt.output = path("a" + std::to_string(jobs) + ".out");
        opt.summary = path("a.csv");
        opt.jobs = jobs;
        std::ostringstream diag, err;
        ASSERT_EQ(batch_run(opt, steps, diag, err, false), 0) << err.str();
        const std::string out = slurp(opt.output), rows = slurp(opt.summary);
        std::string csv_rows = rows.substr(rows.find('\n') + 1);
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 50);
        EXPECT_EQ(out.substr(0, 14), "REC 10\nREC 11\n");
        if (jobs == 1) {
            out1 = out;
            rows1 = csv_rows;
            err1 = err.str();
            EXPECT_NE(err1.find("1 bad record skipped"), std::string::npos) << err1;
        } else {
            EXPECT_EQ(out, out1);
            EXPECT_EQ(csv_rows, rows1);
            EXPECT_EQ(err.str(), err1);
        }

        // A model data-file failure in the fifth record: status 3, no output, no
        // temporary file, whichever thread met it first.
        opt.inputs = {path("b.VXO")};
        opt.output = path("b" + std::to_string(jobs) + ".out");
        opt.summary = path("b.csv");
        std::ostringstream diag2, err2;
        EXPECT_EQ(batch_run(opt, steps, diag2, err2, false), 3);
        EXPECT_EQ(err2.str(), "URSI13.ASC NOT FOUND\n");
        EXPECT_FALSE(fs::exists(opt.output));
        EXPECT_FALSE(fs::exists(path("b.csv")));
        for (const auto& e : fs::directory_iterator(path(""))) {
            EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
        }
    }
}

// --shard I/N: the shards together write what one run writes, each file once, into the
// output directory of the whole list even when a shard holds one file or none.
TEST_F(BatchFiles, ShardsTogetherMakeTheWholeRun) {
    fs::create_directory(path("in"));
    for (int i = 1; i <= 5; ++i) spit(path("in/" + std::to_string(i) + ".VXO"), "GOOD " + std::to_string(10 + i) + "\n");
    const StepsFactory steps = [] { return std::make_unique<ztest::FakeSteps>(); };
    BatchOptions opt;
    opt.inputs = {path("in/5.VXO"), path("in/*.VXO")};   // 5.VXO twice, out of order
    opt.output = path("whole");
    std::ostringstream diag, err;
    // The whole list has 5.VXO twice, which would write one output twice: refused.
    EXPECT_EQ(batch_run(opt, steps, diag, err, false), 2);
    opt.inputs = {path("in/4.VXO"), path("in/5.VXO"), path("in/1.VXO"), path("in/2.VXO"), path("in/3.VXO")};
    ASSERT_EQ(batch_run(opt, steps, diag, err, false), 0);

    std::map<std::string, std::string> shards;
    std::string rows;
    for (int32_t I = 1; I <= 7; ++I) {
        opt.output = path("shards");
        opt.summary = path("s" + std::to_string(I) + ".csv");
        opt.shard = I;
        opt.shards = 7;
        err.str("");
        EXPECT_EQ(batch_run(opt, steps, diag, err, false), 0) << I << ": " << err.str();
        std::istringstream csv(slurp(opt.summary));
        std::string line;
        std::getline(csv, line);   // header, also in a summary of an empty shard
        EXPECT_EQ(line.substr(0, 12), "file,record,");
        while (std::getline(csv, line)) rows += line.substr(line.find_last_of('/') + 1, 5) + ";";
        if (I == 1) {
            EXPECT_NE(err.str().find("holds none of the 5 input files"), std::string::npos) << err.str();
        }
    }
    EXPECT_EQ(rows, "1.VXO;2.VXO;3.VXO;4.VXO;5.VXO;");
    for (const auto& e : fs::directory_iterator(path("whole"))) {
        const std::string name = e.path().filename().string();
        EXPECT_EQ(slurp(path("shards/" + name)), slurp(e.path().string())) << name;
    }
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(path("shards"))) ++n;
    EXPECT_EQ(n, 5u);
}

}  // namespace

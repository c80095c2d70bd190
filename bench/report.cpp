// Cost of the run report: the example series through the run loop with and without the
// report's record of each record (and the page written at the end), and the page of a year of
// one station (105,120 records, one every 5 minutes) made from the series' records.
//
// With ZELK_REPORT_OUT=FILE in the environment the year's page is also written to FILE, to
// time how long a browser takes to open it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/zelk.hpp"
#include "driver/report.hpp"
#include "driver/run.hpp"
#include "driver/vxo_steps.hpp"

using namespace zelk;
using namespace zelk::driver;

namespace {

const std::string SERIES = std::string(ZELK_SOURCE_DATA) + "/../examples/synth-series.VXO";

// Counts the records, and keeps the report's record of each when asked to.
class Collect : public Frontend {
public:
    explicit Collect(bool report) : report_(report) {}
    std::vector<ReportRecord> records;
    long count = 0;
    void record_done(const Zelk& z, const RecordInfo& info) override {
        ++count;
        if (report_) records.push_back(report_record(z, info.job->input, info.RECNO));
    }

private:
    bool report_;
};

void run_series(benchmark::State& st, bool report) {
    auto z = std::make_unique<Zelk>();
    std::ostringstream diag;
    z->log.out = &diag;
    z->mod.data_dirs = {ZELK_SOURCE_DATA};
    std::vector<FileJob> jobs{{SERIES, ""}};
    long records = 0;
    for (auto _ : st) {
        Collect fe(report);
        VxoSteps steps;
        run_files(*z, jobs, fe, steps, false);
        if (report) {
            std::ostringstream page;
            write_report(page, fe.records, ReportFacts{}, "report.html");
            benchmark::DoNotOptimize(page.str().size());
        }
        records += fe.count;
        diag.str("");
    }
    st.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}

void BM_SeriesWithoutReport(benchmark::State& st) { run_series(st, false); }
void BM_SeriesWithReport(benchmark::State& st) { run_series(st, true); }

// The report's record of the inverted records of the series, taken again from each.
void BM_ReportRecord(benchmark::State& st) {
    auto z = std::make_unique<Zelk>();
    std::ostringstream diag;
    z->log.out = &diag;
    z->mod.data_dirs = {ZELK_SOURCE_DATA};
    std::vector<FileJob> jobs{{SERIES, ""}};
    // Time only report_record: the front end repeats it and keeps the time of the repeats.
    class Repeat : public Frontend {
    public:
        long made = 0;
        double seconds = 0.0;
        void record_done(const Zelk& zz, const RecordInfo& info) override {
            const auto a = std::chrono::steady_clock::now();
            for (int k = 0; k < 20; ++k) benchmark::DoNotOptimize(report_record(zz, info.job->input, info.RECNO));
            seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
            made += 20;
        }
    };
    for (auto _ : st) {
        Repeat fe;
        VxoSteps steps;
        run_files(*z, jobs, fe, steps, false);
        st.SetIterationTime(fe.seconds / static_cast<double>(fe.made));
    }
}

// A year of one station: the series' records, renamed to one station and given times 5
// minutes apart from 2004-01-01, in turn.
const std::vector<ReportRecord>& year() {
    static std::vector<ReportRecord> recs;
    if (!recs.empty()) return recs;
    auto z = std::make_unique<Zelk>();
    std::ostringstream diag;
    z->log.out = &diag;
    z->mod.data_dirs = {ZELK_SOURCE_DATA};
    Collect fe(true);
    VxoSteps steps;
    std::vector<FileJob> jobs{{SERIES, ""}};
    run_files(*z, jobs, fe, steps, false);
    const double start = 1072915200.0;   // 2004-01-01T00:00:00Z
    for (int k = 0; k < 105120; ++k) {
        ReportRecord r = fe.records[static_cast<size_t>(k) % fe.records.size()];
        r.station = "YEAR";
        r.station_code = 1;
        r.file = "year.VXO";
        r.record = k + 1;
        r.t = start + 300.0 * k;
        const time_t tt = static_cast<time_t>(r.t);
        std::tm tm{};
        gmtime_r(&tt, &tm);
        char buf[40];
        std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
        r.time = buf;
        recs.push_back(std::move(r));
    }
    return recs;
}

void BM_ReportOfAYear(benchmark::State& st) {
    const auto& recs = year();
    size_t bytes = 0;
    for (auto _ : st) {
        std::ostringstream page;
        write_report(page, recs, ReportFacts{}, "report.html");
        bytes = page.str().size();
        benchmark::DoNotOptimize(bytes);
    }
    st.counters["MB"] = static_cast<double>(bytes) / 1e6;
    if (const char* out = std::getenv("ZELK_REPORT_OUT")) {
        std::ofstream f(out);
        write_report(f, recs, ReportFacts{}, out);
    }
}

}  // namespace

BENCHMARK(BM_SeriesWithoutReport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeriesWithReport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReportRecord)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(3);
BENCHMARK(BM_ReportOfAYear)->Unit(benchmark::kMillisecond)->Iterations(3);

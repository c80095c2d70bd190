// Whole records through reading, preparation, inversion, record update and writing, as the
// run loop takes them, on one core. The input is 1000 synthetic day-time records (the
// mid-latitude and equatorial day records of tests/data/e2e/synth-e2e.VXO, at frequency
// steps of 0.1, 0.05 and 0.025 MHz, repeated in turn) held in memory; the output goes to a
// memory buffer, so the figure is the computation without the disk.
//
// Arguments: 0 = no N(h) table and no quasi-parabolic fit; 1 = the recommended settings of
// the job dialog (10 km table, fit accuracy 0.01); 2 = as 0 with the shape parameters by the
// fast fit (--shape-fit fast). BM_RefinedRecords: the standard beside the refined mode.
// BM_OneFileJobs: the run loop over one file of 10,000 records on disk, with the records made
// on 1 or 2 threads (--jobs of the batch program), in wall-clock time.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/zelk.hpp"
#include "driver/run.hpp"
#include "driver/vxo_steps.hpp"
#include "pipeline/pipeline.hpp"
#include "core/fortran_io.hpp"
#include "pipeline/prepare.hpp"
#include "pipeline/update.hpp"
#include "iondata/vxo.hpp"

using namespace zelk;

namespace {

constexpr int NRECORDS = 1000;

// The text of 1000 day-time records: each day record of the end-to-end file is read and
// written back once, and the records are then joined in turn.
std::string day_records() {
    auto z = std::make_unique<Zelk>();
    fio::LineReader in;
    if (!in.open(ZELK_TEST_DATA "/e2e/synth-e2e.VXO")) return {};
    std::vector<std::string> day;
    for (int n = 0; n < 100; ++n) {
        int32_t IEOF = 0;
        int16_t LREAD = 0, LBAD = 0;
        iondata::READVXO(IEOF, in, z->rec, LREAD, LBAD);
        if (IEOF == -1) break;
        std::string line(z->rec.SYSDSC1.data() + 1, 120);
        if (line.find("NIGHT") != std::string::npos) continue;
        std::ostringstream os;
        fio::LineWriter out(os);
        iondata::WRITVXO(out, z->rec);
        out.close();
        day.push_back(os.str());
    }
    std::string text;
    for (int i = 0; !day.empty() && i < NRECORDS; ++i) text += day[static_cast<std::size_t>(i) % day.size()];
    return text;
}

// Reads and prepares the next record of in into z as the run loop does; false at the end,
// at a bad record or at one the preparation refuses.
bool next_record(Zelk& z, fio::LineReader& in) {
    driver::clear_record_tables(z);
    int32_t IEOF = 0;
    int16_t LREAD = 0, LBAD = 0;
    iondata::READVXO(IEOF, in, z.rec, LREAD, LBAD);
    return IEOF != -1 && LBAD == 0 && pipeline::prepare(z) == iondata::PREP_OK;
}

void BM_Records(benchmark::State& state) {
    const std::string text = day_records();
    if (text.empty()) {
        state.SkipWithError("no day-time records");
        return;
    }
    auto z = std::make_unique<Zelk>();
    z->mod.data_dirs = {ZELK_SOURCE_DATA};
    std::ostringstream diag;
    z->log.out = &diag;
    if (state.range(0) == 1) {
        z->run.HSTEP = 10.0f;
        z->run.QPACC = 0.01f;
    }
    z->bot.FAST = state.range(0) == 2;
    int64_t inverted = 0;
    for (auto _ : state) {
        fio::LineReader in(text);
        std::ostringstream os;
        fio::LineWriter out(os);
        for (int n = 0; n < NRECORDS && next_record(*z, in); ++n) {
            pipeline::PROFIL1(*z);
            if (z->inv.ISTAT() == 2) ++inverted;
            pipeline::update_record(*z);
            iondata::WRITVXO(out, z->rec);
            out.commit();
        }
        out.close();
        benchmark::DoNotOptimize(os.str().size());
        diag.str({});
    }
    state.SetItemsProcessed(state.iterations() * NRECORDS);
    state.counters["inverted"] = static_cast<double>(inverted) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Records)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The standard mode (argument 0) beside the refined mode (1, every part) on the 84 records of
// tests/data/accuracy/refine.VXO (unseen valleys and starts, half of them with X traces),
// with the recommended settings (10 km table, fit accuracy 0.01): the time per record.
void BM_RefinedRecords(benchmark::State& state) {
    auto z = std::make_unique<Zelk>();
    z->mod.data_dirs = {ZELK_SOURCE_DATA};
    std::ostringstream diag;
    z->log.out = &diag;
    z->run.HSTEP = 10.0f;
    z->run.QPACC = 0.01f;
    if (state.range(0) == 1) z->inv.refine = {true, true, true, true, true};
    int64_t records = 0;
    for (auto _ : state) {
        fio::LineReader in;
        if (!in.open(ZELK_TEST_DATA "/accuracy/refine.VXO")) {
            state.SkipWithError("no refine.VXO");
            return;
        }
        while (next_record(*z, in)) {
            pipeline::invert_record(*z);
            ++records;
        }
        diag.str({});
    }
    state.SetItemsProcessed(records);
}
BENCHMARK(BM_RefinedRecords)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One file of 10,000 day-time records through the run loop (reading, inversion, update,
// writing to a file beside it), the records made on state.range(0) threads; the default
// settings. Wall-clock time: the figure is how much sooner the file is done.
void BM_OneFileJobs(benchmark::State& state) {
    const std::string text = day_records();
    if (text.empty()) {
        state.SkipWithError("no day-time records");
        return;
    }
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("zelk-bench-jobs-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path input = dir / "year.VXO";
    {
        std::ofstream f(input, std::ios::binary);
        for (int k = 0; k < 10; ++k) f << text;
    }
    int32_t records = 0;
    for (auto _ : state) {
        auto z = std::make_unique<Zelk>();
        z->mod.data_dirs = {ZELK_SOURCE_DATA};
        std::ostringstream diag;
        z->log.out = &diag;
        z->run.record_jobs = static_cast<int>(state.range(0));
        driver::Frontend fe;
        driver::VxoSteps steps;
        const driver::RunOutcome run =
            driver::run_files(*z, {{input.string(), (dir / "year.out").string()}}, fe, steps, false);
        records += run.NRECS;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    state.SetItemsProcessed(records);
}
BENCHMARK(BM_OneFileJobs)->Arg(1)->Arg(2)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

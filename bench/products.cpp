// Cost of the profile products of one record: the 1 km N(h) table, the shape parameters B0,
// B1 (D1), the electron content, the quasi-parabolic fit and the final table with topside, on
// a solved profile in coefficient form (E layer, valley, F2 layer; with and without F1), and
// on the profiles of real inversions; and whole records through the run loop, with the
// optional products (table at 10 km, fit at 0.01) and without them, for the split of time
// between the inversion and the products.
#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/zelk.hpp"
#include "driver/run.hpp"
#include "driver/vxo_steps.hpp"
#include "models/b0b1d1.hpp"
#include "products/products.hpp"
#include "tests/products/profile.hpp"
#include "snapshot.hpp"
#include "zelk_calls.hpp"

using namespace zelk;

namespace {

Zelk& record(bool f1) {
    static Zelk z[2];
    static bool ready[2] = {false, false};
    if (!ready[f1]) {
        prof::set(z[f1], f1);
        prof::use_source_data(z[f1]);
        z[f1].run.HSTEP = 10.0f;
        z[f1].run.QPACC = 0.01f;
        z[f1].log.IDEBUG = 1;
        ready[f1] = true;
    }
    return z[f1];
}

void BM_NhtableFirstPass(benchmark::State& st) {
    Zelk& z = record(st.range(0));
    for (auto _ : st) {
        products::NHTABLE(z, 0);
        benchmark::DoNotOptimize(z.prod.NPROW);
    }
}

void BM_ShapeParameters(benchmark::State& st) {
    Zelk& z = record(st.range(0));
    products::NHTABLE(z, 0);
    for (auto _ : st) {
        models::CALB0B1D1(z);
        benchmark::DoNotOptimize(z.bot.B0);
    }
}

void BM_ElectronContent(benchmark::State& st) {
    Zelk& z = record(st.range(0));
    products::NHTABLE(z, 0);
    for (auto _ : st) {
        products::CALTEC(z);
        benchmark::DoNotOptimize(z.prod.ITEC);
    }
}

void BM_QuasiParabolicFit(benchmark::State& st) {
    Zelk& z = record(st.range(0));
    products::NHTABLE(z, 0);
    for (auto _ : st) {
        products::QPFIT(z);
        benchmark::DoNotOptimize(z.prod.NSEG);
    }
}

void BM_NhtableFinal(benchmark::State& st) {
    Zelk& z = record(st.range(0));
    products::NHTABLE(z, 0);
    products::CALTEC(z);
    for (auto _ : st) {
        products::NHTABLE(z, 1);
        benchmark::DoNotOptimize(z.prod.NPROW);
    }
}

// Everything the F2 stage and the sequencing compute after an accepted F2 layer.
void BM_AllProducts(benchmark::State& st) {
    Zelk& z = record(st.range(0));
    for (auto _ : st) {
        products::NHTABLE(z, 0);
        models::CALB0B1D1(z);
        products::CALTEC(z);
        products::QPFIT(z);
        products::NHTABLE(z, 1);
        benchmark::DoNotOptimize(z.prod.NPROW);
    }
    st.counters["records/s"] = benchmark::Counter(static_cast<double>(st.iterations()),
                                                  benchmark::Counter::kIsRate);
}

// The example file of many records (a day of a mid-latitude station).
const std::string SERIES = std::string(ZELK_SOURCE_DATA) + "/../examples/synth-series.VXO";

// Runs the whole file through the run loop (read, invert, no output); counts records.
class Count : public zelk::driver::Frontend {
public:
    long records = 0;
    void record_done(const Zelk&, const zelk::driver::RecordInfo&) override { ++records; }
};

void run_series(benchmark::State& st, float hstep, float qpacc, bool fast = false) {
    auto z = std::make_unique<Zelk>();
    z->bot.FAST = fast;
    std::ostringstream diag;
    z->log.out = &diag;
    z->mod.data_dirs = {ZELK_SOURCE_DATA};
    z->run.HSTEP = hstep;
    z->run.QPACC = qpacc;
    std::vector<zelk::driver::FileJob> jobs{{SERIES, ""}};
    long records = 0;
    for (auto _ : st) {
        Count fe;
        zelk::driver::VxoSteps steps;
        zelk::driver::run_files(*z, jobs, fe, steps, false);
        records += fe.records;
        diag.str("");
    }
    st.counters["records/s"] = benchmark::Counter(static_cast<double>(records),
                                                  benchmark::Counter::kIsRate);
}

// Whole records: the products that every inverted record gets (1 km table, B0/B1/D1,
// electron content) are part of the F2 stage; the table at 10 km and the fit at 0.01 are
// the optional ones.
void BM_RecordsWithOptionalProducts(benchmark::State& st) { run_series(st, 10.0f, 0.01f); }
void BM_RecordsWithoutOptionalProducts(benchmark::State& st) { run_series(st, 0.0f, 0.0f); }
// The default run with the shape parameters by the fast fit (--shape-fit fast).
void BM_RecordsFastShapeFit(benchmark::State& st) { run_series(st, 0.0f, 0.0f, true); }

// The products alone, on the solved profiles of the same file: each record's state is taken
// when its F2 layer has been accepted, and all products are computed again from it.
void BM_ProductsOfInvertedRecords(benchmark::State& st) {
    static zelk::bench::Snapshot snap(SERIES, 50);
    long records = 0;
    for (auto _ : st) {
        for (auto& z : snap.states) {
            products::NHTABLE(*z, 0);
            models::CALB0B1D1(*z);
            products::CALTEC(*z);
            products::QPFIT(*z);
            products::NHTABLE(*z, 1);
            benchmark::DoNotOptimize(z->prod.NPROW);
        }
        records += static_cast<long>(snap.states.size());
    }
    st.counters["records/s"] = benchmark::Counter(static_cast<double>(records),
                                                  benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_RecordsWithOptionalProducts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordsWithoutOptionalProducts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordsFastShapeFit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProductsOfInvertedRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NhtableFirstPass)->Arg(0)->Arg(1);
BENCHMARK(BM_ShapeParameters)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ElectronContent)->Arg(0)->Arg(1);
BENCHMARK(BM_QuasiParabolicFit)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NhtableFinal)->Arg(0)->Arg(1);
BENCHMARK(BM_AllProducts)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Records per CPU second of the stages that dominate a run, on the solved profiles of real
// inversions: the shape-parameter search (B0, B1, D1), its fast fit, and the quasi-parabolic fit at 0.01,
// each alone, for the example series and for the day records of the end-to-end file. Each
// record's state is taken when its F2 layer has been accepted (the first 100 records of a
// file), and the stage is run again from it. Whole runs are in bench_records (1000 day
// records) and bench_products (the example series).
#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/simd.hpp"
#include "pipeline/zelk.hpp"
#include "driver/run.hpp"
#include "driver/vxo_steps.hpp"
#include "models/b0b1d1.hpp"
#include "products/products.hpp"
#include "snapshot.hpp"
#include "zelk_calls.hpp"

using namespace zelk;

namespace {

const std::string INPUTS[2] = {std::string(ZELK_SOURCE_DATA) + "/../examples/synth-series.VXO",
                               std::string(ZELK_TEST_DATA) + "/e2e/synth-e2e.VXO"};

// The first 100 inverted records of each input, with their 1 km table as the products'
// first pass leaves it.
zelk::bench::Snapshot& states(int input) {
    static std::unique_ptr<zelk::bench::Snapshot> snap[2];
    if (!snap[input]) {
        snap[input] = std::make_unique<zelk::bench::Snapshot>(INPUTS[input], 100);
        for (auto& z : snap[input]->states) products::NHTABLE(*z, 0);
    }
    return *snap[input];
}

void rate(benchmark::State& st, long records) {
    st.counters["records/s"] =
        benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}

// Args: the input (0 the example series, 1 the end-to-end file, day and night records) and
// the SIMD lanes (0 the widest the processor has, 1 the baseline build, 2 none: plain loops,
// 3 the AVX2 build).
void lanes_mode(benchmark::State& st) {
    static const simd::Mode modes[4] = {simd::Mode::AUTO, simd::Mode::BASELINE, simd::Mode::OFF,
                                        simd::Mode::AVX2};
    simd::set_mode(modes[st.range(1)]);
}

void BM_StageShapeParameters(benchmark::State& st) {
    zelk::bench::Snapshot& s = states(static_cast<int>(st.range(0)));
    lanes_mode(st);
    long records = 0;
    for (auto _ : st) {
        for (auto& z : s.states) {
            models::CALB0B1D1(*z);
            benchmark::DoNotOptimize(z->bot.B0);
        }
        records += static_cast<long>(s.states.size());
    }
    rate(st, records);
}

// The fast fit of the shape parameters (--shape-fit fast) on the same states. Arg: the input.
void BM_StageShapeFast(benchmark::State& st) {
    zelk::bench::Snapshot& s = states(static_cast<int>(st.range(0)));
    long records = 0;
    for (auto _ : st) {
        for (auto& z : s.states) {
            z->bot.FAST = true;
            models::CALB0B1D1(*z);
            z->bot.FAST = false;
            benchmark::DoNotOptimize(z->bot.B0);
        }
        records += static_cast<long>(s.states.size());
    }
    rate(st, records);
}

void BM_StageQuasiParabolicFit(benchmark::State& st) {
    zelk::bench::Snapshot& s = states(static_cast<int>(st.range(0)));
    long records = 0;
    for (auto _ : st) {
        for (auto& z : s.states) {
            products::QPFIT(*z);
            benchmark::DoNotOptimize(z->prod.NSEG);
        }
        records += static_cast<long>(s.states.size());
    }
    rate(st, records);
}

}  // namespace

BENCHMARK(BM_StageShapeParameters)
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StageShapeFast)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StageQuasiParabolicFit)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

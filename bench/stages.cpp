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
#include "zelk_calls.hpp"

using namespace zelk;

namespace {

const std::string INPUTS[2] = {std::string(ZELK_SOURCE_DATA) + "/../examples/synth-series.VXO",
                               std::string(ZELK_TEST_DATA) + "/e2e/synth-e2e.VXO"};

class Snapshot : public zelk::PlotHooks, public zelk::driver::Frontend {
public:
    std::vector<std::unique_ptr<Zelk>> states;
    const Zelk* run = nullptr;   // the run whose settings the copies take
    void f2_region(const zelk::inversion::Inversion& inv) override {
        if (states.size() >= 100) return;
        auto copy = std::make_unique<Zelk>();
        copy->inv = inv;
        copy->mod.data_dirs = run->mod.data_dirs;
        copy->run = run->run;
        copy->log.out = run->log.out;
        products::NHTABLE(*copy, 0);
        states.push_back(std::move(copy));
    }
};

Snapshot& states(int input) {
    static Snapshot snap[2];
    static std::ostringstream diag;
    Snapshot& s = snap[input];
    if (s.states.empty()) {
        auto z = std::make_unique<Zelk>();
        z->log.out = &diag;
        z->mod.data_dirs = {ZELK_SOURCE_DATA};
        z->run.HSTEP = 10.0f;
        z->run.QPACC = 0.01f;
        z->plot = &s;
        s.run = z.get();
        std::vector<zelk::driver::FileJob> jobs{{INPUTS[input], ""}};
        zelk::driver::VxoSteps steps;
        zelk::driver::run_files(*z, jobs, s, steps, false);
    }
    return s;
}

void rate(benchmark::State& st, long records) {
    st.counters["records/s"] =
        benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}

// Args: the input (0 the example series, 1 the end-to-end file, day and night records) and
// the SIMD lanes (0 the widest the processor has, 1 the baseline build, 2 none: plain loops).
void lanes_mode(benchmark::State& st) {
    static const simd::Mode modes[3] = {simd::Mode::AUTO, simd::Mode::BASELINE, simd::Mode::OFF};
    simd::set_mode(modes[st.range(1)]);
}

void BM_StageShapeParameters(benchmark::State& st) {
    Snapshot& s = states(static_cast<int>(st.range(0)));
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
    Snapshot& s = states(static_cast<int>(st.range(0)));
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
    Snapshot& s = states(static_cast<int>(st.range(0)));
    lanes_mode(st);
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
    ->ArgsProduct({{0, 1}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StageShapeFast)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StageQuasiParabolicFit)
    ->ArgsProduct({{0, 1}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);

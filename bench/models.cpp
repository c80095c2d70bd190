// Cost of the sunspot lookup and of the model predictions.
//
// A run looks the sunspot number up and reads a coefficient file only when the month (or
// the sunspot number) changes; every record calls PREDICT. The cases below separate the
// per-record cost (cache warm) from the cost paid on a change of month.
#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>

#include "core/diag.hpp"
#include "models/models.hpp"

namespace zm = zelk::models;

namespace {

std::unique_ptr<zm::Models> makemodels() {
    auto mod = std::make_unique<zm::Models>();
    mod->data_dirs = {ZELK_SOURCE_DATA};
    return mod;
}

// One lookup with the sunspot file already read: a month of the file, and a month 5 years
// after the last measured one (the whole prediction window is regressed).
void BM_SunspotLookup(benchmark::State& state) {
    auto mod = makemodels();
    std::ostringstream out;
    float ssn = 0, dev = 0;
    zm::SSN_NOAA(*mod, out, 2000, 1, ssn, dev);
    const auto year = static_cast<int16_t>(state.range(0));
    for (auto _ : state) {
        zm::SSN_NOAA(*mod, out, year, 6, ssn, dev);
        benchmark::DoNotOptimize(ssn);
    }
}
BENCHMARK(BM_SunspotLookup)->Arg(2000)->Arg(2031);

// The first lookup of a run: reading and checking SUNSPT.ASC.
void BM_SunspotFirstLookup(benchmark::State& state) {
    std::ostringstream out;
    for (auto _ : state) {
        auto mod = makemodels();
        float ssn = 0, dev = 0;
        zm::SSN_NOAA(*mod, out, 2031, 6, ssn, dev);
        benchmark::DoNotOptimize(ssn);
    }
}
BENCHMARK(BM_SunspotFirstLookup);

// PREDICT for a run of records. Arg 0: records of one month at changing times (no lookup,
// coefficients cached). Arg 1: the month changing on every call (a sunspot lookup and a
// binary coefficient file read each time).
void BM_Predict(benchmark::State& state) {
    const bool monthly = state.range(0) != 0;
    auto mod = makemodels();
    std::ostringstream out;
    zelk::Log log;
    log.out = &out;
    zm::PREDICT(*mod, log, 40.0f, -105.0f, 2000, 100, 12, 0, 0);
    int16_t day = monthly ? 15 : 100, minute = 0;
    for (auto _ : state) {
        zm::PREDICT(*mod, log, 40.0f, -105.0f, 2000, day, 12, minute, 0);
        if (monthly) {
            day = static_cast<int16_t>(day == 15 ? 46 : 15);
        } else {
            minute = static_cast<int16_t>((minute + 15) % 60);
        }
        benchmark::DoNotOptimize(mod->FOF2PRE);
    }
}
BENCHMARK(BM_Predict)->Arg(0)->Arg(1);

}  // namespace

// Cost of the profile products of one record: the 1 km N(h) table, the shape parameters B0,
// B1 (D1), the electron content, the quasi-parabolic fit and the final table with topside, on
// a solved profile in coefficient form (E layer, valley, F2 layer; with and without F1).
#include <benchmark/benchmark.h>

#include "core/zelk.hpp"
#include "models/b0b1d1.hpp"
#include "products/products.hpp"
#include "tests/products/profile.hpp"

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
        benchmark::DoNotOptimize(z.prod.B0);
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

}  // namespace

BENCHMARK(BM_NhtableFirstPass)->Arg(0)->Arg(1);
BENCHMARK(BM_ShapeParameters)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ElectronContent)->Arg(0)->Arg(1);
BENCHMARK(BM_QuasiParabolicFit)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NhtableFinal)->Arg(0)->Arg(1);
BENCHMARK(BM_AllProducts)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

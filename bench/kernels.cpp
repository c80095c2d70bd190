// Timing of the kernels: SIK for one region (the inner loop of every layer solution) and
// RECVIRT for one frequency through the E layer, the valley and the F1 layer.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "pipeline/zelk.hpp"
#include "inversion/inversion.hpp"
#include "inversion/layered_profile.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

using zelk::inversion::fixtures::layered_profile;
using zelk::inversion::fixtures::set_dip;

// SIK for an F2-like region from 4 to 10 MHz with `range(0)` frequencies and 5 terms.
void BM_SIK(benchmark::State& state) {
    auto inv = std::make_unique<Inversion>();
    set_dip(*inv, 60.0);
    SETCV(*inv);
    inv->FH = 1.2f;
    inv->FSTART = 4.0f;
    inv->FEND = 10.0f;
    inv->NN = 5;
    inv->NFQ = static_cast<int16_t>(state.range(0));
    for (int K = 1; K <= inv->NFQ; ++K)
        inv->FQ(K) = 4.0f + 6.0f * static_cast<float>(K) / static_cast<float>(inv->NFQ + 1);
    CDO(*inv);
    for (auto _ : state) {
        SIK(*inv);
        benchmark::DoNotOptimize(inv->G(5, inv->NFQ));
    }
    state.SetItemsProcessed(state.iterations() * inv->NFQ);
}
BENCHMARK(BM_SIK)->Arg(200)->Arg(400)->Unit(benchmark::kMicrosecond);

// RECVIRT at 7.5 MHz for an F2 record with E (3 to 6 MHz), a 30 km valley down to 4.8 MHz,
// F1 (6 to 7 MHz) and F2 (7 to 10 MHz): all parts (MODE 5), and the E, valley and F1 parts
// alone (the group path below the F2 region).
void BM_RECVIRT(benchmark::State& state) {
    auto inv = std::make_unique<Inversion>();
    layered_profile(*inv, 60.0, 1.2f, 7.0f, 10.0f, {-60.0f, 8.0f, -3.0f, 1.0f, -0.5f},
                    {-90.0f, 10.0f, -4.0f, 2.0f, -0.5f});
    inv->IRGN = 3;
    const int mode = static_cast<int>(state.range(0));
    if (mode == 5) {
        for (auto _ : state) benchmark::DoNotOptimize(RECVIRT(*inv, 7.5f, 5));
    } else {
        for (auto _ : state) {
            float h = RECVIRT(*inv, 7.5f, 2) + RECVIRT(*inv, 7.5f, 3) + RECVIRT(*inv, 7.5f, 4);
            benchmark::DoNotOptimize(h);
        }
    }
}
BENCHMARK(BM_RECVIRT)->Arg(5)->Arg(234)->Unit(benchmark::kMicrosecond);

}  // namespace

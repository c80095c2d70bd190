// Timing of the kernels: SIK for one region (the inner loop of every layer solution) and
// RECVIRT for one frequency through the E layer, the valley and the F1 layer.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "pipeline/zelk.hpp"
#include "inversion/inversion.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

// Dip constants of the ordinary ray for a dip of 60 degrees, as the run sets them.
void setDip60(Inversion& inv) {
    const double I = 60.0 * 3.14159265358979323846 / 180.0;
    const double t2 = std::tan(I) * std::tan(I);
    inv.GC1 = static_cast<float>(std::cos(I) * std::cos(I));
    inv.GC2 = static_cast<float>(4.0 * t2);
    inv.GC3 = static_cast<float>(2.0 * t2);
    inv.GC4 = static_cast<float>(t2);
}

// SIK for an F2-like region from 4 to 10 MHz with `range(0)` frequencies and 5 terms.
void BM_SIK(benchmark::State& state) {
    auto inv = std::make_unique<Inversion>();
    setDip60(*inv);
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
    setDip60(*inv);
    SETCV(*inv);
    inv->FH = 1.2f;
    inv->FC(1) = 3.0f; inv->FC(2) = 6.0f; inv->FC(3) = 7.0f; inv->FC(4) = 10.0f;
    inv->HBASE(1) = 200.0f;
    inv->A_E(1) = -80.0f; inv->A_E(2) = -10.0f; inv->A_E(3) = 5.0f;
    inv->ZME = 285.0f;
    inv->VW = 30.0f;
    inv->VW1 = 10.0f; inv->VW2 = 10.0f; inv->VW3 = 10.0f;
    inv->FV = 4.8f;
    F1<float, 5> c;
    CONTPRFL(3, inv->FC(1), inv->FC(2), inv->A_E.data(), inv->FV, c.data());
    for (int j = 1; j <= 3; ++j) inv->VSLOPE(j) = inv->VW1 * c(j) / -(c(1) + c(2) + c(3));
    const float af1[5] = {-60.0f, 8.0f, -3.0f, 1.0f, -0.5f};
    const float af2[5] = {-90.0f, 10.0f, -4.0f, 2.0f, -0.5f};
    for (int i = 1; i <= 5; ++i) {
        inv->A_F1(i) = af1[i - 1];
        inv->A_F2(i) = af2[i - 1];
    }
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

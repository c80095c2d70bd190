// Reading and writing VXO files of 1000 layout-5 records (day-time synthetic ionograms with
// O- and X-ray traces), in memory and through files. Reported as bytes per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "iondata/vxo.hpp"

using namespace zelk::iondata;

namespace {

constexpr int NRECORDS = 1000;

// The records of the sample file, read once.
struct Samples {
    std::vector<std::unique_ptr<IonogramRecord>> recs;
    std::string file_text;   // NRECORDS records, written by WRITVXO
    std::string path;        // the same text on disk
};

const Samples& samples() {
    static const Samples s = [] {
        Samples t;
        std::ifstream in(std::string(ZELK_TEST_DATA) + "/io-synth-x.VXO", std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        const std::string text = ss.str();
        LineReader r(text);
        for (;;) {
            auto rec = std::make_unique<IonogramRecord>();
            int32_t IEOF = 0;
            int16_t LREAD = 0, LBAD = 0;
            READVXO(IEOF, r, *rec, LREAD, LBAD);
            if (IEOF == -1 || LBAD == 1) break;
            t.recs.push_back(std::move(rec));
        }
        LineWriter w;
        for (int i = 0; i < NRECORDS && !t.recs.empty(); ++i) WRITVXO(w, *t.recs[static_cast<size_t>(i) % t.recs.size()]);
        t.file_text = w.text();
        t.path = "/tmp/zelk_bench_vxo_io.VXO";
        std::ofstream(t.path, std::ios::binary) << t.file_text;
        return t;
    }();
    return s;
}

int read_all(LineReader& in, IonogramRecord& rec) {
    int n = 0;
    for (;;) {
        int32_t IEOF = 0;
        int16_t LREAD = 0, LBAD = 0;
        READVXO(IEOF, in, rec, LREAD, LBAD);
        if (IEOF == -1) break;
        n += LBAD == 0 ? 1 : 0;
    }
    return n;
}

void BM_ReadMemory(benchmark::State& state) {
    const Samples& s = samples();
    auto rec = std::make_unique<IonogramRecord>();
    for (auto _ : state) {
        LineReader in(s.file_text);
        const int n = read_all(in, *rec);
        if (n != NRECORDS) state.SkipWithError("wrong record count");
        benchmark::DoNotOptimize(rec->VHOF2(1));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.file_text.size()));
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * NRECORDS,
                                                     benchmark::Counter::kIsRate);
}

void BM_ReadFile(benchmark::State& state) {
    const Samples& s = samples();
    auto rec = std::make_unique<IonogramRecord>();
    for (auto _ : state) {
        LineReader in;
        if (!in.open(s.path)) state.SkipWithError("cannot open the sample file");
        const int n = read_all(in, *rec);
        if (n != NRECORDS) state.SkipWithError("wrong record count");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.file_text.size()));
}

void BM_WriteMemory(benchmark::State& state) {
    const Samples& s = samples();
    LineWriter w;
    for (auto _ : state) {
        w.out().clear();
        for (int i = 0; i < NRECORDS; ++i) WRITVXO(w, *s.recs[static_cast<size_t>(i) % s.recs.size()]);
        benchmark::DoNotOptimize(w.text().data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.file_text.size()));
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * NRECORDS,
                                                     benchmark::Counter::kIsRate);
}

void BM_WriteFile(benchmark::State& state) {
    const Samples& s = samples();
    const std::string path = s.path + ".out";
    for (auto _ : state) {
        LineWriter w;
        if (!w.open(path)) state.SkipWithError("cannot create the output file");
        for (int i = 0; i < NRECORDS; ++i) WRITVXO(w, *s.recs[static_cast<size_t>(i) % s.recs.size()]);
        if (!w.close()) state.SkipWithError("write failed");
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.file_text.size()));
}

}  // namespace

BENCHMARK(BM_ReadMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteFile)->Unit(benchmark::kMillisecond);

// Drawing one record: the plots of the mid-latitude day example recorded once (the
// inversion is not timed), then painted and written as a PNG, an SVG and a PDF page, and,
// for comparison, the recording alone (frame and plots on the recording surface) and the
// painting into an image without encoding. Files go to the system's temporary directory.
#ifdef ZELK_WITH_QT
#include <benchmark/benchmark.h>

#include <filesystem>

#include <QBuffer>
#include <QImageWriter>
#include <memory>
#include <sstream>
#include <string>

#include "pipeline/zelk.hpp"
#include "display/hooks.hpp"
#include "display/qt/painter.hpp"
#include "display/recording.hpp"
#include "driver/run.hpp"
#include "driver/vxo_steps.hpp"

using namespace zelk;
using namespace zelk::display;

namespace {

class Keep final : public driver::Frontend {
public:
    Keep(RecordingSurface& s, RecordingSurface& out) : s_(s), out_(out) {}
    void record_done(const Zelk&, const driver::RecordInfo&) override { out_ = s_; }

private:
    RecordingSurface& s_;
    RecordingSurface& out_;
};

// The drawing of the day example.
const RecordingSurface& day_drawing() {
    static RecordingSurface drawn = [] {
        RecordingSurface s, out;
        SurfacePlotter plot(s);
        plot.open();
        s.reset();
        auto z = std::make_unique<Zelk>();
        std::ostringstream log;
        z->log.out = &log;
        z->plot = &plot;
        Keep fe(s, out);
        driver::VxoSteps steps;
        driver::run_files(*z, {{ZELK_SOURCE_DATA "/../examples/midlat-day.VXO", ""}}, fe, steps, false);
        return out;
    }();
    return drawn;
}

std::string temp(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

void BM_Replay(benchmark::State& state) {
    const RecordingSurface& rec = day_drawing();
    for (auto _ : state) {
        RecordingSurface copy;
        rec.replay(copy);
        benchmark::DoNotOptimize(copy.primitives().size());
    }
    state.counters["primitives"] = static_cast<double>(rec.primitives().size());
}
BENCHMARK(BM_Replay)->Unit(benchmark::kMillisecond);

void BM_PaintImage(benchmark::State& state) {
    qt::ensure_application();
    const RecordingSurface& rec = day_drawing();
    for (auto _ : state) benchmark::DoNotOptimize(qt::render(rec).constBits());
}
BENCHMARK(BM_PaintImage)->Unit(benchmark::kMillisecond);

// The parts of a PNG: the palette of the painted image, and its encoding in memory.
void BM_PngPalette(benchmark::State& state) {
    qt::ensure_application();
    const QImage img = qt::render(day_drawing());
    for (auto _ : state) benchmark::DoNotOptimize(qt::to_palette(img).constBits());
}
BENCHMARK(BM_PngPalette)->Unit(benchmark::kMillisecond);

void BM_PngEncode(benchmark::State& state) {
    qt::ensure_application();
    const QImage img = qt::to_palette(qt::render(day_drawing()));
    for (auto _ : state) {
        QByteArray bytes;
        QBuffer buf(&bytes);
        buf.open(QIODevice::WriteOnly);
        QImageWriter w(&buf, "png");
        w.setCompression(20);
        w.write(img);
        benchmark::DoNotOptimize(bytes.size());
    }
}
BENCHMARK(BM_PngEncode)->Unit(benchmark::kMillisecond);

void BM_Png(benchmark::State& state) {
    qt::ensure_application();
    const RecordingSurface& rec = day_drawing();
    const std::string path = temp("zelk_bench.png");
    std::string error;
    for (auto _ : state)
        if (!qt::write_png(rec, path, error)) state.SkipWithError(error.c_str());
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}
BENCHMARK(BM_Png)->Unit(benchmark::kMillisecond);

void BM_Svg(benchmark::State& state) {
    qt::ensure_application();
    const RecordingSurface& rec = day_drawing();
    const std::string path = temp("zelk_bench.svg");
    std::string error;
    for (auto _ : state)
        if (!qt::write_svg(rec, path, error)) state.SkipWithError(error.c_str());
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}
BENCHMARK(BM_Svg)->Unit(benchmark::kMillisecond);

// One PDF page per iteration, in files of 100 pages (the cost of opening and closing a
// file spread over its pages, as for a file of many records).
void BM_PdfPage(benchmark::State& state) {
    qt::ensure_application();
    const RecordingSurface& rec = day_drawing();
    const std::string path = temp("zelk_bench.pdf");
    std::string error;
    auto doc = std::make_unique<qt::PdfDocument>();
    int pages = 0;
    for (auto _ : state) {
        if (!doc->page(rec, path, error)) state.SkipWithError(error.c_str());
        if (++pages % 100 == 0) {
            doc->close(error);
            doc = std::make_unique<qt::PdfDocument>();
        }
    }
    doc->close(error);
    std::filesystem::remove(path);
}
BENCHMARK(BM_PdfPage)->Unit(benchmark::kMillisecond);

}  // namespace
#endif  // ZELK_WITH_QT

// libFuzzer target: the whole record pipeline of the batch program over any input, through
// the run loop: read, prepare, invert, products (N(h) table and quasi-parabolic fit), record
// update, write and read back; the standard or the refined inversion, the search or the fast
// fit of the shape parameters, by the input (see LLVMFuzzerTestOneInput). Findings: a crash,
// a sanitizer report, a non-finite value the computation put into a record, or a written
// record that does not read back (abort).
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "core/stop.hpp"
#include "pipeline/zelk.hpp"
#include "driver/run.hpp"
#include "inversion/inversion.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/update.hpp"
#include "iondata/vxo.hpp"
#include "iondata/writable.hpp"

using namespace zelk;

namespace {

[[noreturn]] void finding(const char* what, int k = 0) {
    std::fprintf(stderr, "FINDING: %s (%d)\n", what, k);
    std::abort();
}

// Discards the diagnostics.
class NullBuffer final : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

template <class A>
void all_finite(const A& a, int n, const char* what) {
    for (int i = 1; i <= n; ++i) {
        if (!std::isfinite(static_cast<double>(a(i)))) finding(what, i);
    }
}

// The program's record steps, reading the fuzz input from memory, with the checks of the
// computed values between the record update and the writer, and the read-back after it.
class FuzzSteps final : public driver::RecordSteps {
public:
    explicit FuzzSteps(std::string_view text) : text_(text) {}

    bool open(const std::string&) override {
        in_ = std::make_unique<fio::LineReader>(text_);
        return true;
    }
    void read(Zelk& z, int32_t& IEOF, int16_t& LREAD, int16_t& LBAD) override {
        iondata::READVXO(IEOF, *in_, z.rec, LREAD, LBAD, &place_);
    }
    long long position() const override { return in_ ? in_->bytes_read() : 0; }
    std::string refusal() const override { return iondata::vxo_refusal_text(place_); }
    void close() override { in_.reset(); }
    // As the program inverts a record: in the refined mode, the standard method when the
    // refined one gives no profile.
    void invert(Zelk& z) override { pipeline::invert_record(z); }
    void write(std::ostream& out, Zelk& z) override {
        pipeline::update_record(z);
        const iondata::IonogramRecord& r = z.rec;
        // What the computation put into the record: the characteristics, the profile
        // descriptions, the segments, the table and the valley.
        all_finite(r.SCALED, 43, "non-finite characteristic");
        all_finite(r.PCOEF2, r.IDX(37) > 0 ? 10 : 0, "non-finite F2 description");
        all_finite(r.PCOEF1, r.IDX(38) > 0 ? 9 : 0, "non-finite F1 description");
        all_finite(r.PCOEFE, r.IDX(39) > 0 ? 7 : 0, "non-finite E description");
        all_finite(r.QPSEGS, std::min(r.IDX(40), 153), "non-finite segment");
        all_finite(r.VALLEY, r.IDX(42) > 0 ? 2 : 0, "non-finite valley");
        all_finite(r.PRFHT, std::min(r.IDX(51), 999), "non-finite table height");
        all_finite(r.PRFFN, std::min(r.IDX(52), 999), "non-finite table frequency");
        all_finite(r.VALDSC, r.IDX(57) > 0 ? 7 : 0, "non-finite auroral E description");
        if (!std::isfinite(r.GCONST(5))) finding("non-finite sunspot number");

        std::vector<iondata::Unwritable> missing;
        iondata::Unwritable fatal;
        if (!iondata::make_writable(z.rec, missing, fatal)) return;
        fio::LineWriter unit;
        iondata::WRITVXO(unit, z.rec);
        out << unit.text();
        fio::LineReader again(unit.text());
        int32_t IEOF = 0;
        int16_t LREAD = 0, LBAD = 0;
        iondata::READVXO(IEOF, again, *back_, LREAD, LBAD);
        if (IEOF != 0 || LBAD != 0) finding("a written record does not read back");
    }

private:
    std::string_view text_;
    std::unique_ptr<fio::LineReader> in_;
    iondata::VxoPlace place_;
    std::unique_ptr<iondata::IonogramRecord> back_ = std::make_unique<iondata::IonogramRecord>();
};

std::string workdir;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The model data files of the source tree, and a scratch directory for the outputs.
    setenv("ZELK_DATA", ZELK_SOURCE_DATA, 1);
    workdir = (std::filesystem::temp_directory_path() / ("zelk_fuzz_" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(workdir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static NullBuffer nullbuf;
    static std::ostream null(&nullbuf);
    auto z = std::make_unique<Zelk>();
    z->log.IDEBUG = 1;
    z->log.out = &null;
    z->run.HSTEP = 5.0f;
    z->run.QPACC = 0.02f;
    // The run's options follow from the input's length, so that an input always meets the
    // same ones and a finding replays: one input in two through the refined inversion (all
    // its parts), and, independently, one in two with the fast shape fit.
    if (size % 2 == 1) {
        z->inv.refine.valley = z->inv.refine.xstart = z->inv.refine.scaled_fc = true;
        z->inv.refine.f1_roots = z->inv.refine.gap = true;
    }
    z->bot.FAST = size % 4 >= 2;
    FuzzSteps steps(std::string_view(reinterpret_cast<const char*>(data), size));
    driver::Frontend fe;
    const driver::FileJob job{"fuzz-input", workdir + "/out.430"};
    try {
        driver::run_files(*z, {job}, fe, steps, false);
    } catch (const Stop&) {
        // A model data file failure: the data files are those of the source tree, so this
        // is not the input's doing, but it is not a crash either.
    }
    return 0;
}

// libFuzzer target: the VXO reader over any input. Every call must move on through the input
// (or end it), and every whole record, made writable and written in layout 5, must read back
// whole with the same index. Findings: a crash, a sanitizer report, a reader that does not
// move on, or a written record that does not read back (abort).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "iondata/vxo.hpp"
#include "iondata/writable.hpp"

using namespace zelk::iondata;

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "FINDING: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    LineReader in(text);
    auto rec = std::make_unique<IonogramRecord>();
    auto back = std::make_unique<IonogramRecord>();
    for (;;) {
        const long long before = in.bytes_read();
        int32_t IEOF = 0;
        int16_t LREAD = 0, LBAD = 0;
        VxoPlace place;
        READVXO(IEOF, in, *rec, LREAD, LBAD, &place);
        if (IEOF == -1) break;
        if (in.bytes_read() <= before) finding("the reader did not move on");
        if (LBAD == 1) {
            if (place.why == VxoRefusal::NONE) finding("a refused record without a reason");
            continue;
        }
        std::vector<Unwritable> missing;
        Unwritable fatal;
        if (!make_writable(*rec, missing, fatal)) continue;
        LineWriter out;
        WRITVXO(out, *rec);
        LineReader again(out.text());
        int32_t IEOF2 = 0;
        int16_t LREAD2 = 0, LBAD2 = 0;
        READVXO(IEOF2, again, *back, LREAD2, LBAD2);
        if (IEOF2 != 0 || LBAD2 != 0) finding("a written record does not read back");
        for (int k = 1; k <= NIDX; ++k) {
            if (back->IDX(k) != rec->IDX(k)) finding("a written record reads back with another index");
        }
    }
    return 0;
}

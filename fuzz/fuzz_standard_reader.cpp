// libFuzzer target: the Standard-format reader over any input. The VXO text it converts to
// must read back with the VXO reader, every record whole, as many as it says it wrote.
// Findings: a crash, a sanitizer report, or a converted record that does not read back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "iondata/standard.hpp"
#include "iondata/vxo.hpp"

using namespace zelk::iondata;

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "FINDING: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LineReader in(std::string_view(reinterpret_cast<const char*>(data), size));
    LineWriter out;
    auto rec = std::make_unique<IonogramRecord>();
    const StandardOutcome done = standard_to_vxo(in, out, *rec);
    LineReader back(out.text());
    int whole = 0;
    for (;;) {
        int32_t IEOF = 0;
        int16_t LREAD = 0, LBAD = 0;
        READVXO(IEOF, back, *rec, LREAD, LBAD);
        if (IEOF == -1) {
            if (LBAD == 0) finding("a converted record is cut short");
            break;
        }
        if (LBAD != 0) finding("a converted record does not read back");
        ++whole;
    }
    if (whole != done.written) finding("the converted file holds another number of records");
    return 0;
}

// The program's record steps.
#include "driver/vxo_steps.hpp"

#include "pipeline/zelk.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/update.hpp"
#include "iondata/vxo.hpp"
#include "iondata/writable.hpp"

namespace zelk::driver {

bool VxoSteps::OPEN(const std::string& path) {
    in_.close();
    return in_.open(path);
}

void VxoSteps::READ(Zelk& z, int32_t& IEOF, int16_t& LREAD, int16_t& LBAD) {
    iondata::READVXO(IEOF, in_, z.rec, LREAD, LBAD, &place_);
}

std::string VxoSteps::REFUSAL() const {
    if (place_.line <= 0) return {};
    return "line " + std::to_string(place_.line) + ": " + iondata::VXO_REFUSAL_TEXT(place_);
}

long long VxoSteps::POSITION() const { return in_.bytes_read(); }

void VxoSteps::CLOSE() { in_.close(); }

void VxoSteps::INVERT(Zelk& z) { pipeline::INVERT_RECORD(z); }

void VxoSteps::WRITE(std::ostream& out, Zelk& z) {
    pipeline::UPDATE_RECORD(z);
    report_ = {};
    std::vector<iondata::Unwritable> missing;
    iondata::Unwritable fatal;
    const bool writable = iondata::MAKE_WRITABLE(z.rec, missing, fatal);
    for (const iondata::Unwritable& u : missing) report_.missing.push_back(iondata::UNWRITABLE_TEXT(u));
    if (!writable) {
        report_.unusable = iondata::UNWRITABLE_TEXT(fatal) + " cannot be written in its field";
        return;
    }
    fio::LineWriter unit(out);
    iondata::WRITVXO(unit, z.rec);
    unit.close();
}

}  // namespace zelk::driver

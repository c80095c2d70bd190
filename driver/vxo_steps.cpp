// The program's record steps.
#include "driver/vxo_steps.hpp"

#include "pipeline/zelk.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/update.hpp"
#include "iondata/vxo.hpp"
#include "iondata/writable.hpp"

namespace zelk::driver {

bool VxoSteps::open(const std::string& path) {
    in_.close();
    return in_.open(path);
}

void VxoSteps::read(Zelk& z, int32_t& IEOF, int16_t& LREAD, int16_t& LBAD) {
    iondata::READVXO(IEOF, in_, z.rec, LREAD, LBAD, &place_);
}

std::string VxoSteps::refusal() const {
    if (place_.line <= 0) return {};
    return "line " + std::to_string(place_.line) + ": " + iondata::vxo_refusal_text(place_);
}

long long VxoSteps::position() const { return in_.bytes_read(); }

void VxoSteps::close() { in_.close(); }

void VxoSteps::invert(Zelk& z) { pipeline::invert_record(z); }

void VxoSteps::make_left(Zelk& z) { pipeline::make_left(z); }

void VxoSteps::write(std::ostream& out, Zelk& z) {
    pipeline::update_record(z);
    report_ = {};
    std::vector<iondata::Unwritable> missing;
    iondata::Unwritable fatal;
    const bool writable = iondata::make_writable(z.rec, missing, fatal);
    for (const iondata::Unwritable& u : missing) report_.missing.push_back(iondata::unwritable_text(u));
    if (!writable) {
        report_.unusable = iondata::unwritable_text(fatal) + " cannot be written in its field";
        return;
    }
    // A context that runs ahead only carries the record's state on; its text is not wanted.
    if (z.ahead) return;
    fio::LineWriter unit(out);
    iondata::WRITVXO(unit, z.rec);
    unit.close();
}

}  // namespace zelk::driver

// The program's record steps.
#include "driver/vxo_steps.hpp"

#include "pipeline/zelk.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/update.hpp"
#include "iondata/vxo.hpp"

namespace zelk::driver {

bool VxoSteps::OPEN(const std::string& path) {
    in_.close();
    return in_.open(path);
}

void VxoSteps::READ(Zelk& z, int32_t& IEOF, int16_t& LREAD, int16_t& LBAD) {
    iondata::READVXO(IEOF, in_, z.rec, LREAD, LBAD);
}

long long VxoSteps::POSITION() const { return in_.bytes_read(); }

void VxoSteps::CLOSE() { in_.close(); }

void VxoSteps::INVERT(Zelk& z) { pipeline::PROFIL1(z); }

void VxoSteps::WRITE(std::ostream& out, Zelk& z) {
    pipeline::UPDATE_RECORD(z);
    fio::LineWriter unit(out);
    iondata::WRITVXO(unit, z.rec);
    unit.close();
}

}  // namespace zelk::driver

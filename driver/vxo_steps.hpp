// The program's record steps: READVXO on a buffered input unit, PROFIL1, and the record
// update followed by WRITVXO.
#pragma once

#include "driver/run.hpp"
#include "core/fortran_io.hpp"

namespace zelk::driver {

class VxoSteps final : public RecordSteps {
public:
    bool OPEN(const std::string& path) override;
    void READ(Zelk& z, int32_t& IEOF, int16_t& LREAD, int16_t& LBAD) override;
    long long POSITION() const override;
    void CLOSE() override;
    void INVERT(Zelk& z) override;
    void WRITE(std::ostream& out, Zelk& z) override;

private:
    fio::LineReader in_;
};

}  // namespace zelk::driver

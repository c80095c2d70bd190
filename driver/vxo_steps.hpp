// The program's record steps: READVXO on a buffered input unit, PROFIL1, and the record
// update followed by WRITVXO.
#pragma once

#include "driver/run.hpp"
#include "core/fortran_io.hpp"
#include "iondata/vxo.hpp"

namespace zelk::driver {

class VxoSteps final : public RecordSteps {
public:
    bool OPEN(const std::string& path) override;
    void READ(Zelk& z, int32_t& IEOF, int16_t& LREAD, int16_t& LBAD) override;
    long long POSITION() const override;
    std::string REFUSAL() const override;
    int PASSED_OVER(long& first_line) const override {
        first_line = place_.passed_line;
        return place_.passed;
    }
    void CLOSE() override;
    void INVERT(Zelk& z) override;
    void WRITE(std::ostream& out, Zelk& z) override;
    WriteReport WRITE_REPORT() const override { return report_; }

private:
    fio::LineReader in_;
    iondata::VxoPlace place_;
    WriteReport report_;
};

}  // namespace zelk::driver

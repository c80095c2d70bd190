// The program's record steps: READVXO on a buffered input unit, PROFIL1, and the record
// update followed by WRITVXO.
#pragma once

#include "driver/run.hpp"
#include "core/fortran_io.hpp"
#include "iondata/vxo.hpp"

namespace zelk::driver {

class VxoSteps final : public RecordSteps {
public:
    bool open(const std::string& path) override;
    void read(Zelk& z, int32_t& IEOF, int16_t& LREAD, int16_t& LBAD) override;
    long long position() const override;
    std::string refusal() const override;
    int passed_over(long& first_line) const override {
        first_line = place_.passed_line;
        return place_.passed;
    }
    void close() override;
    void invert(Zelk& z) override;
    void make_left(Zelk& z) override;
    void write(std::ostream& out, Zelk& z) override;
    WriteReport write_report() const override { return report_; }
    std::unique_ptr<RecordSteps> record_worker() const override { return std::make_unique<VxoSteps>(); }

private:
    fio::LineReader in_;
    iondata::VxoPlace place_;
    WriteReport report_;
};

}  // namespace zelk::driver

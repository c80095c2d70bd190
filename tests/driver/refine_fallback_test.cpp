// The refined mode's fallback: a record the refined run cannot invert gets the standard
// result, byte for byte, and its summary row says "fallback".
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run.hpp"
#include "driver/summary.hpp"
#include "driver/vxo_steps.hpp"
#include "inversion/inversion.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/zelk.hpp"
#include "fake_steps.hpp"
#include "scratch_test.hpp"

namespace {

using namespace zelk;
using ztest::slurp;

// A refined run that fails after it has written to every area it owns: the standard run
// that follows must start from the areas as they were before, not from this wreckage.
void failing_refined_run(Zelk& z) {
    pipeline::PROFIL1(z);
    z.rec.SCALED(1) = 1.5f;
    z.rec.IDX(51) = 0;
    z.rec.SYSDSC1(1) = '#';
    z.inv.FOF2 = 1.5f;
    z.inv.FC(4) = 1.5f;
    z.inv.VW = 77.0f;
    z.mod.FOEPRE = 0.5f;
    z.bot.NPROW1 = 0;
    z.prod.NPROW = 0;
    z.inv.ISTAT() = inversion::ISTAT_F1_OSC;
}

// The program's record steps, with the refined run replaced when one is given.
class Steps final : public driver::RecordSteps {
public:
    explicit Steps(void (*refined)(Zelk&)) : refined_(refined) {}
    bool open(const std::string& path) override { return vxo_.open(path); }
    void read(Zelk& z, int32_t& IEOF, int16_t& LREAD, int16_t& LBAD) override { vxo_.read(z, IEOF, LREAD, LBAD); }
    long long position() const override { return vxo_.position(); }
    void close() override { vxo_.close(); }
    void invert(Zelk& z) override {
        if (refined_ != nullptr) pipeline::invert_record(z, refined_);
        else vxo_.invert(z);
    }
    void write(std::ostream& out, Zelk& z) override { vxo_.write(out, z); }
    WriteReport write_report() const override { return vxo_.write_report(); }

private:
    driver::VxoSteps vxo_;
    void (*refined_)(Zelk&);
};

// Keeps each record's summary row (with the column mode when the run is refined) and the
// method that made its result.
struct Rows : driver::Frontend {
    driver::Summary summary;
    std::vector<std::string> rows;
    std::vector<inversion::MadeBy> made_by;
    void record_done(const Zelk& z, const driver::RecordInfo& info) override {
        std::ostringstream os;
        summary.row(os, z, "synth-small.VXO", info.RECNO);
        rows.push_back(os.str());
        made_by.push_back(z.inv.made_by);
    }
};

struct Outcome {
    std::string output;
    Rows rows;
};

void run(const std::string& out, const inversion::RefineOptions& refine, void (*refined)(Zelk&), Outcome& r) {
    auto z = std::make_unique<Zelk>();
    z->inv.refine = refine;
    std::ostringstream diag;
    z->log.out = &diag;
    z->mod.data_dirs = {ZELK_SOURCE_DATA};
    r.rows.summary.set_format(false);
    r.rows.summary.set_mode_column(refine.any());
    std::vector<driver::FileJob> jobs{{std::string(ZELK_TEST_DATA) + "/synth-small.VXO", out}};
    Steps steps(refined);
    driver::run_files(*z, jobs, r.rows, steps, false);
    r.output = slurp(out);
}

class RefinedFallback : public ztest::ScratchTest {};

TEST_F(RefinedFallback, StandardResultKeptByteForByte) {
    Outcome standard, fallback, refined;
    run(path("std.VXO"), {}, nullptr, standard);
    inversion::RefineOptions all;
    all.valley = all.xstart = all.scaled_fc = all.f1_roots = true;
    run(path("fb.VXO"), all, failing_refined_run, fallback);
    run(path("ref.VXO"), all, nullptr, refined);

    ASSERT_FALSE(standard.output.empty());
    ASSERT_EQ(standard.rows.rows.size(), 10u);
    EXPECT_EQ(fallback.output, standard.output);
    ASSERT_EQ(fallback.rows.rows.size(), standard.rows.rows.size());
    for (std::size_t i = 0; i < standard.rows.rows.size(); ++i) {
        EXPECT_EQ(standard.rows.made_by[i], inversion::MadeBy::STANDARD);
        EXPECT_EQ(fallback.rows.made_by[i], inversion::MadeBy::FALLBACK) << i;
        // The row of the standard run with the column mode added.
        std::string want = standard.rows.rows[i];
        ASSERT_FALSE(want.empty());
        want.insert(want.size() - (want.back() == '\n' ? 1 : 0), ",fallback");
        EXPECT_EQ(fallback.rows.rows[i], want) << i;
    }
    // The refined run itself inverts these records and changes their results: the fallback's
    // sameness above is no accident of a refined mode that does nothing here.
    for (const inversion::MadeBy m : refined.rows.made_by) EXPECT_NE(m, inversion::MadeBy::FALLBACK);
    EXPECT_NE(refined.output, standard.output);
}

}  // namespace

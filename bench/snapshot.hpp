// The solved profiles of real inversions for the stage benchmarks: a file is run once with
// the 10 km table and the fit at 0.01, and the state of each record is copied when its F2
// layer has been accepted (at most LIMIT records), so that a stage can be run again from it.
#pragma once

#include <cstddef>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run.hpp"
#include "driver/vxo_steps.hpp"
#include "pipeline/zelk.hpp"

namespace zelk::bench {

class Snapshot : public PlotHooks, public driver::Frontend {
public:
    // Runs INPUT once and keeps the states of its first LIMIT inverted records.
    Snapshot(const std::string& input, std::size_t limit) : limit_(limit) {
        auto z = std::make_unique<Zelk>();
        z->log.out = &diag_;
        z->mod.data_dirs = {ZELK_SOURCE_DATA};
        z->run.HSTEP = 10.0f;
        z->run.QPACC = 0.01f;
        z->plot = this;
        run_ = z.get();
        std::vector<driver::FileJob> jobs{{input, ""}};
        driver::VxoSteps steps;
        driver::run_files(*z, jobs, *this, steps, false);
        run_ = nullptr;
    }

    std::vector<std::unique_ptr<Zelk>> states;

    void f2_region(const inversion::Inversion& inv) override {
        if (states.size() >= limit_) return;
        auto copy = std::make_unique<Zelk>();
        copy->inv = inv;
        copy->mod.data_dirs = run_->mod.data_dirs;
        copy->run = run_->run;
        copy->log.out = run_->log.out;
        states.push_back(std::move(copy));
    }

private:
    std::size_t limit_;
    const Zelk* run_ = nullptr;   // the run whose settings the copies take
    std::ostringstream diag_;
};

}  // namespace zelk::bench

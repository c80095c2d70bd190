#include "app/engine.hpp"

#include <chrono>
#include <filesystem>
#include <iostream>

#include "core/stop.hpp"
#include "display/hooks.hpp"
#include "driver/batch.hpp"
#include "driver/run.hpp"
#include "driver/vxo_steps.hpp"
#include "pipeline/plot_hooks.hpp"
#include "pipeline/result.hpp"
#include "pipeline/zelk.hpp"

namespace zelk::app {

namespace {

// Thrown by the record steps when the run is cancelled: the run loop treats it as it
// treats a stop, removing the temporary output of the file under way and closing the
// input, and passes it on.
struct Cancelled : Stop {
    Cancelled() : Stop("cancelled") {}
};

// The display's plot hooks on the canvas, counting the frames drawn, with a pause that
// cancel cuts short.
class WindowPlotter final : public PlotHooks {
public:
    WindowPlotter(display::Surface& s, Engine& e, std::atomic<int>& frames)
        : plot_(s), engine_(e), frames_(frames) {
        plot_.open();
        plot_.set_pause(false);
        // The plotted curves go to TRACE.DAT, RECAL_OTRACE.DAT and RECAL_XTRACE.DAT in
        // the working directory.
        plot_.display().WRITE_DATA = true;
    }
    void frame(const RecordView& view) override {
        plot_.frame(view);
        ++frames_;
    }
    void existing_profile(int region, const profile::RegionProfile& r) override { plot_.existing_profile(region, r); }
    void model_bottomside(const models::Bottomside& bot) override { plot_.model_bottomside(bot); }
    void pause(float seconds) override { engine_.pause(seconds); }
    void trace_list(const inversion::Inversion& inv) override { plot_.trace_list(inv); }
    void data(const inversion::Inversion& inv) override { plot_.data(inv); }
    void e_region(const inversion::Inversion& inv) override { plot_.e_region(inv); }
    void valley(const inversion::Inversion& inv) override { plot_.valley(inv); }
    void f1_region(const inversion::Inversion& inv) override { plot_.f1_region(inv); }
    void f2_region(const inversion::Inversion& inv) override { plot_.f2_region(inv); }
    void layer_done(const inversion::Inversion& inv) override { plot_.layer_done(inv); }
    bool finish(std::string& error) { return plot_.finish_files(error); }

private:
    display::SurfacePlotter plot_;
    Engine& engine_;
    std::atomic<int>& frames_;
};

class CancellableSteps final : public driver::RecordSteps {
public:
    explicit CancellableSteps(const std::atomic<bool>& cancel) : cancel_(cancel) {}
    bool open(const std::string& path) override { return steps_.open(path); }
    void read(Zelk& z, int32_t& IEOF, int16_t& LREAD, int16_t& LBAD) override {
        if (cancel_.load()) throw Cancelled();
        steps_.read(z, IEOF, LREAD, LBAD);
    }
    long long position() const override { return steps_.position(); }
    std::string refusal() const override { return steps_.refusal(); }
    int passed_over(long& first_line) const override { return steps_.passed_over(first_line); }
    void close() override { steps_.close(); }
    void invert(Zelk& z) override { steps_.invert(z); }
    void write(std::ostream& out, Zelk& z) override { steps_.write(out, z); }
    WriteReport write_report() const override { return steps_.write_report(); }

private:
    const std::atomic<bool>& cancel_;
    driver::VxoSteps steps_;
};

class WindowFrontend final : public driver::Frontend {
public:
    WindowFrontend(const Engine::Ui& ui, const Engine& e) : ui_(ui), engine_(e) {}
    std::string DODIALOG4(const std::string& path) override {
        return engine_.cancelled() || !ui_.exists ? path : ui_.exists(path);
    }
    void DODIALOG3(int code) override {
        if (!engine_.cancelled() && ui_.message) ui_.message(code);
    }
    void message_box(const std::string& title, const std::string& text) override {
        if (!quiet && !engine_.cancelled() && ui_.box) ui_.box(title, text);
    }
    void notice(const std::string& text) override { std::cerr << text << '\n'; }
    void record_done(const Zelk& z, const driver::RecordInfo& info) override {
        const char* mode = nullptr;
        if (z.inv.refine.any()) {
            mode = pipeline::made_by_text(z.inv.made_by);
            ++made_by[static_cast<size_t>(z.inv.made_by)];
        }
        if (ui_.record) ui_.record(info.job ? info.job->input : std::string(), info.RECNO, info.NRECS, mode);
    }
    decltype(RunResult::made_by) made_by{};   // records by the method that made them (refined runs)

    display::Surface* canvas = nullptr;
    void clear_window() override {
        if (canvas && !quiet) canvas->clear(display::WHITE);
    }
    bool quiet = false;   // no end-of-run box and no clearing (a file of a longer run)

private:
    const Engine::Ui& ui_;
    const Engine& engine_;
};

}  // namespace

// The records of a refined run by the method that made them, as the summary's column mode
// names them (" (refined 5, fallback 1)"); "" for a standard run.
std::string made_by_counts(const RunResult& r) {
    std::string s;
    for (size_t m = 0; m < r.made_by.size(); ++m) {
        if (r.made_by[m] == 0) continue;
        s += s.empty() ? " (" : ", ";
        s += pipeline::made_by_text(static_cast<inversion::MadeBy>(m));
        s += ' ' + std::to_string(r.made_by[m]);
    }
    return s.empty() ? s : s + ")";
}

Engine::Engine(display::Surface& canvas, Ui ui, int IDEBUG)
    : canvas_(canvas), ui_(std::move(ui)), IDEBUG_(IDEBUG) {}

void Engine::cancel() {
    {
        std::lock_guard<std::mutex> g(m_);
        cancel_ = true;
    }
    cv_.notify_all();
}

void Engine::pause(float seconds) {
    std::unique_lock<std::mutex> g(m_);
    cv_.wait_for(g, std::chrono::duration<float>(seconds), [this] { return cancel_.load(); });
}

RunResult Engine::run(const JobSettings& job, const std::string& VERSID, const std::string& FILELIST) {
    RunResult r;
    std::vector<driver::FileJob> jobs;
    bool LWILD = false;
    if (!driver::jobs_from_settings(job.INFILE, job.OUTFILE, FILELIST, jobs, LWILD)) jobs.clear();

    frames_ = 0;
    WindowPlotter plot(canvas_, *this, frames_);
    WindowFrontend fe(ui_, *this);
    fe.canvas = &canvas_;
    CancellableSteps steps(cancel_);
    try {
        // Each file is inverted with a run context of its own, as zelk-batch inverts it: the
        // values the inversion carries from record to record (the sunspot number, looked
        // up again only when the month changes, and the dip constants) then never reach
        // into the next file, so a file gives the same results whichever files come before
        // it, and the same outputs as zelk-batch.
        for (const driver::FileJob& fj : jobs) {
            auto z = std::make_unique<Zelk>();
            z->run.VERSID = VERSID;
            z->run.FMTVXO = job.FMTVXO;
            z->run.NOCONV = job.NOCONV;
            z->run.PROG = job.PROG;
            z->run.INFILE = job.INFILE;
            z->run.OUTFILE = job.OUTFILE;
            z->run.HSTEP = job.HSTEP;
            z->run.QPACC = job.QPACC;
            z->inv.refine = job.refine;
            z->bot.FAST = job.shape_fast;
            z->log.IDEBUG = static_cast<int16_t>(IDEBUG_);
            z->plot = &plot;
            // The box about a run without records comes once, for the whole run.
            fe.quiet = true;
            const driver::RunOutcome out = driver::run_files(*z, {fj}, fe, steps, !LWILD);
            fe.quiet = false;
            r.NRECS += out.NRECS;
            r.files += out.files;
            r.written += out.written;
            if (out.fatal != 0) {
                r.fatal = out.fatal;
                break;
            }
        }
        if (r.NRECS == 0) {
            fe.clear_window();
            fe.message_box("WARNING", "NO PROPER DATA OR ERROR FOUND IN THE INPUT FILE.");
        }
        std::string error;
        if (!plot.finish(error)) std::cerr << error << '\n';
    } catch (const Cancelled&) {
        r.cancelled = true;
    } catch (const Stop& stop) {
        r.stop = stop.what();
    }
    r.made_by = fe.made_by;
    std::error_code ec;
    if (LWILD) std::filesystem::remove(FILELIST, ec);
    return r;
}

}  // namespace zelk::app

// The run of the batch program: the files of the options on the ordered worker pool, each
// with a run context of its own, the summary, the progress line and the exit status.
#include "driver/batch.hpp"

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <streambuf>

#include "core/stop.hpp"
#include "pipeline/zelk.hpp"
#include "driver/kept_rows.hpp"
#include "driver/pool.hpp"
#include "driver/progress.hpp"
#include "driver/report.hpp"
#include "driver/version.hpp"
#include "driver/spill.hpp"
#include "driver/summary.hpp"
#include "pipeline/prepare.hpp"

namespace zelk::driver {

namespace fs = std::filesystem;

namespace {

// Run totals that the workers add to while the files are processed, for the progress line.
struct Tally {
    std::atomic<int32_t> records{0};
    std::atomic<uint64_t> bytes{0};
    uint64_t total_bytes = 0;
    double fraction() const {
        return total_bytes == 0 ? 0.0
                                : std::min(1.0, static_cast<double>(bytes.load()) /
                                                    static_cast<double>(total_bytes));
    }
};

// Thrown into the run of a file that comes after a file that met a model data-file
// failure: that file would not have been started by a run on one worker.
struct Abandon {};

// The batch program's side of the run of one file: its notices, its summary rows and the
// run totals. Notices and rows go to the streams it is given, which are the program's own
// on one worker and the file's buffers on several.
class BatchFrontend final : public Frontend {
public:
    BatchFrontend(std::ostream& err, const Summary* summary, std::ostream* rows, Progress* progress,
                  Tally& tally, uint64_t file_bytes, std::function<bool()> abandoned)
        : err_(err), summary_(summary), rows_(rows), progress_(progress), tally_(tally),
          file_bytes_(file_bytes), abandoned_(std::move(abandoned)) {}

    void notice(const std::string& text) override {
        if (progress_) progress_->clear();
        err_ << PROGNAME << ": " << text << '\n';
    }
    void DODIALOG3(int code) override { notice(code == 22 ? MESSAGE_22 : MESSAGE_23); }
    // The run of one file reports "nothing inverted" for that file; the batch program says
    // it once, for the whole run, so the text is only kept here.
    void message_box(const std::string& title, const std::string& text) override {
        warning = title + ": " + text;
    }
    void file_done(const FileJob& job, const FileOutcome& fo) override {
        if (!fo.opened) return;   // already reported
        if (fo.read == 0 && fo.bad == 0 && !fo.no_output) notice(job.input + ": no whole record");
        for (const std::string& text : file_notices(job.input, fo)) notice(text);
        tally_.bytes += file_bytes_ - counted_;
        counted_ = file_bytes_;
    }
    void record_done(const Zelk& z, const RecordInfo& info) override {
        if (abandoned_ && abandoned_()) throw Abandon{};
        if (summary_ && rows_) {
            summary_->row(*rows_, z, info.job->input, info.RECNO);
            ++rows;
        }
        if (report) report->push_back(report_record(z, info.job->input, info.RECNO));
        ++tally_.records;
        const auto at = static_cast<uint64_t>(info.fraction * static_cast<double>(file_bytes_));
        if (at > counted_) {
            tally_.bytes += at - counted_;
            counted_ = at;
        }
        if (progress_) progress_->update(tally_.records, tally_.fraction());
        if (pictures) pictures->record_done(info.RECNO);
    }

    FilePictures* pictures = nullptr;   // the file's pictures, when drawn
    std::string warning;   // the end-of-run box of the file's run, if it gave one
    int32_t rows = 0;      // summary rows made
    std::vector<ReportRecord>* report = nullptr;   // where the report's records go, if any

private:
    std::ostream& err_;
    const Summary* summary_;
    std::ostream* rows_;
    Progress* progress_;
    Tally& tally_;
    uint64_t file_bytes_;
    uint64_t counted_ = 0;   // bytes of this file added to the tally
    std::function<bool()> abandoned_;
};

// The diagnostics stream while a progress line may stand on the terminal: the line is
// removed before any diagnostic text, and each diagnostic line is passed on at once, so
// the two never share a line.
class DiagnosticsBuffer final : public std::streambuf {
public:
    DiagnosticsBuffer(std::streambuf* dest, Progress& progress) : dest_(dest), progress_(progress) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        progress_.clear();
        const int_type r = dest_->sputc(traits_type::to_char_type(c));
        if (traits_type::to_char_type(c) == '\n') dest_->pubsync();
        return r;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        progress_.clear();
        const std::streamsize r = dest_->sputn(s, n);
        if (std::char_traits<char>::find(s, static_cast<size_t>(n), '\n') != nullptr) dest_->pubsync();
        return r;
    }
    int sync() override { return dest_->pubsync(); }

private:
    std::streambuf* dest_;
    Progress& progress_;
};

}  // namespace

namespace {

// The settings that shape an output, kept with its summary rows: a file is skipped only
// when its output was made with the same. An option that changes what an output holds
// belongs here.
std::string output_settings(const BatchOptions& opt) {
    std::ostringstream s;
    s << "hstep=" << opt.hstep << " qpacc=" << opt.qpacc << " format=" << static_cast<int>(opt.format)
      << " converter=" << opt.converter;
    if (opt.shape_fast) s << " shape-fit=fast";
    // The parts spelled out: the rows of a run whose "all" named fewer parts are made again.
    if (opt.refine.any()) s << " refine=" << refine_list(opt.refine);
    return s.str();
}

// What the run of one file leaves for the batch program to add up.
struct FileResult {
    RunOutcome run;        // its counts
    std::string warning;   // the "nothing inverted" box of its run, if it gave one
    std::string stop;      // the one-line message of a model data-file failure
    bool stopped = false;  // a model data file failed
    int32_t rows = 0;      // summary rows made
    std::string pictures;  // the first picture of the file that could not be written
};

// Runs one file: a fresh run context with the settings of the options, the run loop over
// the one job with the given record steps, front end (notices, rows) and diagnostics
// stream. A model data-file failure is returned, not thrown; a file abandoned after
// another file's failure returns what it had counted, which is never passed on.
// record_jobs: the threads that make the file's records (1 while files run in parallel).
FileResult RUN_ONE(const BatchOptions& opt, const FileJob& job, RecordSteps& steps,
                   BatchFrontend& fe, std::ostream& diag, const PicturesFactory& pictures,
                   int record_jobs) {
    FileResult r;
    auto z = std::make_unique<Zelk>();
    std::unique_ptr<FilePictures> pics = pictures ? pictures(opt, job) : nullptr;
    if (pics) {
        z->plot = &pics->hooks();
        fe.pictures = pics.get();
    }
    z->log.IDEBUG = opt.debug;
    z->log.out = &diag;
    z->run.FMTVXO = opt.format == InputFormat::VXO ? 'Y' : 'N';
    z->run.NOCONV = opt.format != InputFormat::OTHER;
    z->run.PROG = opt.converter;
    fe.conversion.set_timeout(opt.converter_timeout);
    z->run.INFILE = job.input;
    z->run.OUTFILE = opt.output.empty() ? std::string("NONE") : opt.output;
    z->run.HSTEP = opt.hstep;
    z->run.QPACC = opt.qpacc;
    z->run.record_jobs = record_jobs;
    z->bot.FAST = opt.shape_fast;
    z->inv.refine = opt.refine;
    try {
        r.run = run_files(*z, {job}, fe, steps, false);
        if (pics && !pics->finish(r.pictures) && r.pictures.empty())
            r.pictures = job.input + ": pictures could not be written";
    } catch (const Stop& stop) {
        r.stopped = true;
        r.stop = stop.what();
    } catch (const Abandon&) {
        steps.close();   // the temporary output was removed on the way out
    }
    r.warning = fe.warning;
    r.rows = fe.rows;
    return r;
}

// The facts of the run for its report.
// pictures: the run drew the record pictures of --plots (the table then links to them).
ReportFacts REPORT_FACTS(const BatchOptions& opt, const RunOutcome& run, bool pictures,
                         std::chrono::steady_clock::time_point started) {
    ReportFacts f;
    f.inputs = opt.inputs;
    auto num = [](double v) {
        std::ostringstream s;
        s << v;
        return s.str();
    };
    f.options = {{"-o", opt.output.empty() ? "NONE" : opt.output},
                 {"--format", opt.format == InputFormat::VXO ? "vxo"
                              : opt.format == InputFormat::STANDARD ? "standard" : "other"},
                 {"--hstep", num(opt.hstep)},
                 {"--qpacc", num(opt.qpacc)},
                 {"--debug", std::to_string(opt.debug)}};
    if (opt.shape_fast) f.options.push_back({"--shape-fit", "fast"});
    if (opt.refine.any()) f.options.push_back({"--refine", refine_text(opt.refine)});
    if (!opt.converter.empty()) f.options.push_back({"--converter", opt.converter});
    if (!opt.summary.empty()) f.options.push_back({"--summary", opt.summary});
    f.options.push_back({"--report", opt.report});
    if (opt.shards > 0) {
        f.options.push_back({"--shard", std::to_string(opt.shard) + "/" + std::to_string(opt.shards)});
    }
    // Files skipped as already complete were not run: their records are not in the report.
    if (opt.skip_existing) f.options.push_back({"--skip-existing", "(complete files left out)"});
    f.options.push_back({"--jobs", std::to_string(opt.jobs)});
    if (!opt.plots.empty()) {
        f.options.push_back({"--plots", opt.plots});
        f.options.push_back({"--plot-format", opt.plot_format});
    }
    if (pictures) {
        f.plots = opt.plots;
        f.plot_ext = opt.plot_format;
    }
    f.version = version_text("zelk-batch");
    f.files = run.files;
    f.bad = run.bad;
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return f;
}

// A file's buffers while files are processed in parallel (with one worker, only the rows and
// the report's records).
struct Slot {
    std::ostringstream notices, rows;
    SpillStream diag;   // a file's diagnostics can be large: bounded in memory
    std::vector<ReportRecord> report;
    FileResult result;
};

}  // namespace

int batch_run(const BatchOptions& opt, const StepsFactory& make_steps, std::ostream& diag,
              std::ostream& err, bool progress, const PicturesFactory& pictures) {
    const auto started = std::chrono::steady_clock::now();
    auto usage_error = [&](const std::string& text) { return print_usage_error(err, text); };
    std::vector<std::string> files;
    bool several = false;
    std::string error;
    if (!expand_inputs(opt.inputs, files, several, error)) return usage_error(error);
    const bool sharded = opt.shards > 0;
    if (sharded) {
        // The whole list, sorted and without repeats (its one slice of one). The outputs
        // are named, and checked, from it, so that every shard writes where a run over the
        // whole list would and refuses what that run would refuse.
        files = shard_files(files, 1, 1);
        several = several || files.size() > 1;
    }
    std::error_code ec;
    std::vector<FileJob> jobs;
    bool outdir = false;
    if (!batch_jobs(files, several, opt.output, jobs, outdir, error)) return usage_error(error);
    if (opt.skip_existing && (opt.output.empty() || opt.output == "NONE")) {
        return usage_error("--skip-existing needs the outputs (-o)");
    }
    if (!opt.summary.empty()) {
        if (is_one_of(opt.summary, file_ids(files))) {
            return usage_error(opt.summary + " is an input file; refused");
        }
        // The summary must not be one of the outputs, by name or as the same file.
        const std::string key = fs::absolute(opt.summary, ec).lexically_normal().string();
        const FileIds summary_id = file_ids({opt.summary});
        for (const FileJob& j : jobs) {
            if (j.output.empty()) continue;
            if (fs::absolute(j.output, ec).lexically_normal().string() == key ||
                is_one_of(j.output, summary_id)) {
                return usage_error(opt.summary + " is both the summary and the output of " + j.input + "; refused");
            }
        }
    }
    if (!opt.report.empty() && is_one_of(opt.report, file_ids(files))) {
        return usage_error(opt.report + " is an input file; refused");
    }
    if (sharded) {
        const auto [begin, end] = shard_slice(jobs.size(), opt.shard, opt.shards);
        jobs = {jobs.begin() + static_cast<std::ptrdiff_t>(begin),
                jobs.begin() + static_cast<std::ptrdiff_t>(end)};
        // Said first, so that the tasks of a split run can be checked to have seen the
        // same list, even when one of them is ended early.
        if (!jobs.empty()) {
            err << PROGNAME << ": shard " << opt.shard << '/' << opt.shards << ": files " << begin + 1
                << " to " << end << " of the " << files.size() << " input files\n";
        }
    }
    if (outdir && !jobs.empty() && !fs::is_directory(opt.output, ec)) {
        fs::create_directories(opt.output, ec);
        if (ec) {
            err << PROGNAME << ": " << opt.output << ": cannot make the directory (" << ec.message() << ")\n";
            return 4;
        }
    }

    // The pictures: their directory is made first; when it cannot be, the run goes on
    // without pictures and ends with status 4.
    bool pictures_failed = false;
    PicturesFactory draw;
    if (!opt.plots.empty()) {
        if (!pictures) return usage_error("--plots: this program was built without pictures");
        if (!jobs.empty() && !fs::is_directory(opt.plots, ec)) fs::create_directories(opt.plots, ec);
        if (!jobs.empty() && (ec || !fs::is_directory(opt.plots, ec))) {
            err << PROGNAME << ": " << opt.plots << ": cannot make the picture directory"
                << (ec ? " (" + ec.message() + ")" : std::string()) << "; no pictures are drawn\n";
            pictures_failed = true;
        } else {
            draw = pictures;
        }
    }

    std::unique_ptr<Summary> summary;
    if (!opt.summary.empty()) {
        summary = std::make_unique<Summary>();
        summary->set_mode_column(opt.refine.any());
        if (!summary->open(opt.summary, error)) {
            err << PROGNAME << ": " << opt.summary << ": cannot be written (" << error << ")\n";
            return 4;
        }
    }
    Progress prog(err, progress);
    Progress* shown = progress ? &prog : nullptr;
    DiagnosticsBuffer diagbuf(diag.rdbuf(), prog);
    std::ostream diag_clear(&diagbuf);
    std::ostream& diag_out = progress ? diag_clear : diag;
    // --skip-existing: the files whose outputs are complete, with their kept summary rows.
    std::string upper_summary = opt.summary;
    std::transform(upper_summary.begin(), upper_summary.end(), upper_summary.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::string rows_format = !summary ? "none" : upper_summary.ends_with(".CSV") ? "csv" : "jsonl";
    std::vector<std::optional<KeptRows>> kept(jobs.size());
    int32_t skipped = 0, skipped_records = 0;
    if (opt.skip_existing) {
        for (size_t k = 0; k < jobs.size(); ++k) {
            kept[k] = complete_output(jobs[k], output_settings(opt), rows_format);
            if (!kept[k]) forget_rows(jobs[k].output);
        }
    }
    // Appends the rows of file k to the summary (its kept rows when it was skipped) and,
    // with --skip-existing, keeps the rows of a completed output beside it.
    auto rows_of = [&](size_t k, const std::string& rows, const FileResult* r) {
        if (kept[k]) {
            if (summary) summary->append(kept[k]->rows, kept[k]->n);
            ++skipped;
            skipped_records += kept[k]->records;
            return;
        }
        if (summary) summary->append(rows, r->rows);
        std::string why;
        if (opt.skip_existing && !r->stopped && r->run.written > 0 && r->run.unwritten == 0 &&
            !keep_rows(jobs[k], output_settings(opt), rows_format, rows, r->rows, why)) {
            err << PROGNAME << ": " << kept_rows_path(jobs[k].output) << ": cannot be written (" << why
                << "); a later run will process " << jobs[k].input << " again\n";
        }
    };
    Tally tally;
    std::vector<uint64_t> sizes;
    for (size_t k = 0; k < jobs.size(); ++k) {
        const uintmax_t n = kept[k] ? 0 : fs::file_size(jobs[k].input, ec);
        sizes.push_back(ec ? 0 : static_cast<uint64_t>(n));
        tally.total_bytes += sizes.back();
    }

    std::vector<ReportRecord> report;   // the report's records, in file then record order
    RunOutcome run;
    std::string warning;
    std::string stop;
    int16_t fatal = 0;   // 22 or 23: the conversion program could not be run or failed
    // Adds up one file's outcome; false when it met a model data-file failure or a failure
    // of the conversion program.
    auto account = [&](const FileResult& r) {
        if (r.stopped) {
            stop = r.stop;
            return false;
        }
        run.NRECS += r.run.NRECS;
        run.files += r.run.files;
        run.written += r.run.written;
        run.bad += r.run.bad;
        run.unwritten += r.run.unwritten;
        run.no_output += r.run.no_output;
        if (!r.warning.empty()) warning = r.warning;
        if (!r.pictures.empty()) {
            prog.clear();
            err << PROGNAME << ": " << r.pictures << '\n';
            pictures_failed = true;
        }
        fatal = r.run.fatal;
        return fatal == 0;
    };

    // Each file runs with a run context of its own. One worker: the files in turn on this
    // thread, notices and diagnostics straight to the program's streams; a single file with
    // --jobs N has its records made on N threads. Several: each worker
    // takes the next file into the file's buffers, and the buffers are passed on in file order.
    const size_t workers = std::min(static_cast<size_t>(std::max(opt.jobs, 1)), jobs.size());
    const bool parallel = workers > 1;
    std::vector<Slot> slots(parallel ? jobs.size() : 1);
    auto make_worker = [&]() -> OrderedPool::Task {
        std::shared_ptr<RecordSteps> steps = make_steps();
        return [&, steps](size_t k, const std::function<bool()>& earlier_failed) {
            Slot& s = slots[parallel ? k : 0];
            if (kept[k]) return false;
            if (parallel) {
                BatchFrontend fe(s.notices, summary.get(), &s.rows, nullptr, tally, sizes[k], earlier_failed);
                if (!opt.report.empty()) fe.report = &s.report;
                s.result = RUN_ONE(opt, jobs[k], *steps, fe, s.diag, draw, 1);
            } else {
                BatchFrontend fe(err, summary.get(), &s.rows, shown, tally, sizes[k], nullptr);
                if (!opt.report.empty()) fe.report = &s.report;
                s.result = RUN_ONE(opt, jobs[k], *steps, fe, diag_out, draw, std::max(opt.jobs, 1));
            }
            return s.result.stopped || s.result.run.fatal != 0;
        };
    };
    auto deliver = [&](size_t k) {
        Slot& s = slots[parallel ? k : 0];
        if (parallel) {
            // The files before the first failure were all run to their end, so the failing
            // file is reached here before any file that was skipped or abandoned.
            if (!s.diag.pass_to(diag_out)) {
                prog.clear();
                err << PROGNAME << ": " << jobs[k].input << ": diagnostics could not be buffered whole\n";
            }
            if (const std::string text = s.notices.str(); !text.empty()) {
                prog.clear();
                err << text;
            }
        }
        rows_of(k, s.rows.str(), &s.result);
        std::move(s.report.begin(), s.report.end(), std::back_inserter(report));
        s.report = {};
        s.notices.str({});
        s.rows.str({});
        if (!kept[k] && !account(s.result)) return false;
        if (parallel) prog.update(tally.records, tally.fraction());
        return true;
    };
    OrderedPool::run(jobs.size(), workers, make_worker, deliver,
                     [&] { prog.update(tally.records, tally.fraction()); });
    prog.clear();
    diag_out.flush();
    if (!stop.empty()) {
        summary.reset();   // an incomplete summary is not left behind
        err << stop << '\n';
        return 3;
    }
    if (fatal != 0) {
        summary.reset();   // an incomplete summary is not left behind
        err << PROGNAME << ": the run ends at the failure of the conversion program; " << run.NRECS
            << " record" << (run.NRECS == 1 ? "" : "s") << " inverted from " << run.files << " file"
            << (run.files == 1 ? "" : "s") << " before it\n";
        return 5;
    }
    // "Nothing inverted" only when some file was read: files whose output could not be
    // created were not, and their own message says why.
    if (run.NRECS + skipped_records == 0 && !warning.empty() && run.no_output < run.files) {
        err << PROGNAME << ": " << warning << '\n';
    }
    bool summary_failed = false;
    if (summary && !summary->close(error)) {
        err << PROGNAME << ": " << opt.summary << ": could not be completed (" << error << ")\n";
        summary_failed = true;
    }
    if (!opt.report.empty()) {
        const ReportFacts facts = REPORT_FACTS(opt, run, static_cast<bool>(draw), started);
        if (!save_report(opt.report, report, facts, error)) {
            err << PROGNAME << ": " << opt.report << ": could not be written (" << error << ")\n";
            summary_failed = true;
        }
    }
    if (sharded && jobs.empty()) {
        err << PROGNAME << ": shard " << opt.shard << '/' << opt.shards << " holds none of the "
            << files.size() << " input file" << (files.size() == 1 ? "" : "s") << '\n';
        return summary_failed || pictures_failed ? 4 : 0;
    }
    err << PROGNAME << ": " << run.NRECS << " record" << (run.NRECS == 1 ? "" : "s")
        << " inverted from " << run.files << " file" << (run.files == 1 ? "" : "s");
    if (!opt.output.empty() && opt.output != "NONE") err << ", " << run.written << " written";
    if (run.bad > 0) err << ", " << run.bad << " bad skipped";
    if (skipped > 0) err << ", " << skipped << " file" << (skipped == 1 ? "" : "s") << " already complete";
    if (summary) err << ", summary " << opt.summary;
    if (!opt.report.empty() && !summary_failed) err << ", report " << opt.report;
    if (run.unwritten > 0) err << ", " << run.unwritten << " output" << (run.unwritten == 1 ? "" : "s") << " not written";
    err << '\n';
    if (run.unwritten > 0 || summary_failed || pictures_failed) return 4;
    return run.NRECS + skipped_records > 0 ? 0 : 1;
}

}  // namespace zelk::driver

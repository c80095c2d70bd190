// The run loop shared by the interactive and the batch program.
#include "driver/run.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <chrono>
#include <deque>
#include <exception>
#include <future>
#include <memory>
#include <ostream>
#include <sstream>
#include <system_error>

#include "core/stop.hpp"
#include "pipeline/zelk.hpp"
#include "driver/outfile.hpp"
#include "driver/pool.hpp"
#include "pipeline/prepare.hpp"

namespace zelk::driver {

namespace fs = std::filesystem;

namespace {

using inversion::MAXLIN;
using inversion::MAXTRC;

// Records read from one file at most: a guard against a reader that stops advancing.
static constexpr int32_t MAXREC = 100000000;
// Answers of the output-exists dialog accepted before the file is given up.
static constexpr int MAXASK = 1000;

std::string rtrim(const std::string& s) {
    const auto e = s.find_last_not_of(' ');
    return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

// REALIN(45) of the listing: an input no preparation step fills, shown as it stands (0.0
// while the array has no such entry).
template <class A>
float realin45(const A& r) {
    if constexpr (A::size() >= 45) {
        return r(45);
    } else {
        return 0.0f;
    }
}

// Listing of the record's inputs for the higher debug levels.
void list_inputs(const Zelk& z) {
    const inversion::Inversion& inv = z.inv;
    std::ostream& os = z.log.os();
    if (z.log.IDEBUG > 11) {
        os << "   SUN SPOT NUMBER, LATITUDE, LONGTITUDE, GYROFREQUENCY, DI(RADIANS)\n"
           << std::setw(8) << z.mod.ISSN << std::fixed << std::setprecision(3) << std::setw(10)
           << inv.REALIN(1) << std::setw(10) << inv.REALIN(2) << std::setw(10) << inv.FH2
           << std::setw(10) << inv.DIP << '\n';
    }
    if (z.log.IDEBUG > 12) {
        os << "PARAMETERS\n"
           << "     IQUALE(1)    ,IQUALE(4)\n"
           << std::setw(14) << inv.IQUALE(1) << std::setw(10) << inv.IQUALE(4) << '\n'
           << "      MINFE,      IFOE,     MINFF,     IFOF1,   IFOM\n"
           << std::setw(11) << inv.MINFE << std::setw(11) << inv.IFOE << std::setw(11)
           << inv.MINFF << std::setw(11) << inv.IFOF1 << std::setw(8) << inv.IFOM << '\n'
           << "   MINHF(1),  MINHF(2),   REALIN(45)\n"
           << std::setw(11) << inv.MINHF(1) << std::setw(11) << inv.MINHF(2) << std::setw(13)
           << realin45(inv.REALIN) << '\n'
           << "         NE,      NF\n"
           << std::setw(11) << inv.NE << std::setw(9) << inv.NF << '\n';
    }
    if (z.log.IDEBUG >= 16) {
        os << " F-TRACE:\n";
        for (int k = 1; k <= MAXLIN; ++k) os << ' ' << inv.TRACEL(k, 2) << (k % 10 == 0 ? "\n" : "");
        os << '\n';
        for (int k = 1; k <= MAXLIN; ++k) os << ' ' << inv.ITRCF(k, 2) << (k % 20 == 0 ? "\n" : "");
        os << '\n';
    }
    os << std::defaultfloat;
}

// Frame of the record and the profiles the input record already carries (groups 39, 38, 37:
// E, F1, F2 descriptions: start and end frequency, peak height, residual, coefficients).
void draw_record(Zelk& z) {
    z.plot->frame(RecordView{z.rec, z.inv, z.mod, z.prod, z.log.IDEBUG});
    const iondata::IonogramRecord& rec = z.rec;
    auto described = [&z](int region, const auto& d, int nn) {
        z.plot->existing_profile(region, profile::make_region(d(1), d(2), d(3), d.data() + 4, nn));
    };
    if (rec.IDX(39) != 0) described(1, rec.PCOEFE, 3);
    if (rec.IDX(38) != 0) described(2, rec.PCOEF1, 5);
    if (rec.IDX(37) != 0) described(3, rec.PCOEF2, 5);
}

// Where and why the reader refused the record it last read, after its ordinal.
std::string where(const RecordSteps& steps) {
    const std::string r = steps.refusal();
    return r.empty() ? r : " at " + r;
}

// Keeps the first few bad records of a file for its message, and counts them all.
void note_bad(FileOutcome& fo, int32_t recno, std::string text) {
    if (fo.refused.size() < FileOutcome::KEPT) fo.refused.emplace_back(recno, std::move(text));
    ++fo.noted;
}

uintmax_t size_of(const std::string& path) {
    std::error_code ec;
    const uintmax_t n = fs::file_size(path, ec);
    return ec ? 0 : n;
}

// What comes before the inversion of the prepared record in z: its listing and its frame.
void before_inversion(Zelk& z) {
    if (z.log.IDEBUG > 11) list_inputs(z);
    if (z.log.IDEBUG <= 3) draw_record(z);
}

// What comes after the inversion: the model bottomside drawn and, with an output, the
// updated record written to out (wr: what the writing had to say).
void after_inversion(Zelk& z, RecordSteps& steps, std::ostream* out, RecordSteps::WriteReport& wr) {
    if (z.log.IDEBUG > 0) z.plot->model_bottomside(z.bot);
    if (out) {
        steps.write(*out, z);
        wr = steps.write_report();
    }
}

// Makes the prepared record in z: its listing, its frame, the inversion and, with an output,
// the updated record written to out.
void make_record(Zelk& z, RecordSteps& steps, std::ostream* out, RecordSteps::WriteReport& wr) {
    before_inversion(z);
    steps.invert(z);
    after_inversion(z, steps, out, wr);
}

// One record of a file whose records are made on several threads: the record's own context
// and what its making left to be taken up in file order. A work without a context carries
// only the diagnostics written while a record was read (a bad record, the end of the file).
struct RecordWork {
    std::unique_ptr<Zelk> z;
    std::ostringstream diag;
    std::ostringstream output;
    // A record inverted by the context that runs ahead: the copy writes what it makes into
    // `later`, the diagnostics of what the inversion left up to later_at (they belong at
    // shape_at of diag), those of the writing after it.
    bool split = false;
    std::ostringstream later;
    long long shape_at = -1, later_at = -1;
    RecordSteps::WriteReport wr;
    std::exception_ptr error;   // what ended the making of the record, if anything did
    RecordInfo info;
    std::future<void> done;
};

// Passes text on to a stream (nothing for no text: an empty insertion would set the
// stream's failure state).
void pass_on(std::ostream& os, const std::ostringstream& text) {
    const std::string s = text.str();
    if (!s.empty()) os.write(s.data(), static_cast<std::streamsize>(s.size()));
}

}  // namespace

std::vector<std::string> file_notices(const std::string& input, const FileOutcome& fo) {
    std::vector<std::string> notices;
    if (fo.bad > 0) {
        std::string which;
        for (size_t i = 0; i < fo.refused.size(); ++i) {
            which += (i == 0 ? " (" : "; ");
            which += "record " + std::to_string(fo.refused[i].first) + fo.refused[i].second;
        }
        if (fo.noted > fo.refused.size()) which += "; " + std::to_string(fo.noted - fo.refused.size()) + " more";
        if (!which.empty()) which += ")";
        notices.push_back(input + ": " + std::to_string(fo.bad) + " bad record" + (fo.bad == 1 ? "" : "s") +
                          " skipped" + which + ", " + std::to_string(fo.read) + " read");
    }
    if (fo.ended_by != 0) {
        notices.push_back(input + ": record " + std::to_string(fo.ended_at) + " ends the file (" +
                          iondata::prep_text(fo.ended_by) + "); " + std::to_string(fo.inverted) +
                          " records before it were processed");
    }
    return notices;
}

std::string Frontend::NONVXO_VXO(const std::string& PROG, const std::string& path, bool NOCONV) {
    std::vector<std::string> notices;
    std::string vxo = conversion.NONVXO_VXO(PROG, path, NOCONV, notices);
    for (const std::string& n : notices) notice(n);
    return vxo;
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code ec;
    const bool same = fs::equivalent(a, b, ec);
    return !ec && same;
}

void clear_record_tables(Zelk& z) {
    inversion::Inversion& inv = z.inv;
    for (int k = 1; k <= MAXLIN; ++k) {
        for (int j = 1; j <= 3; ++j) {
            inv.ITRCF(k, j) = 9999;
            inv.TRACEL(k, j) = 9999.0f;
        }
    }
    for (int k = 1; k <= MAXTRC; ++k) {
        inv.TRF(k) = 0.0f;
        inv.TRH(k) = 0.0f;
    }
    z.rec.AUXFN.fill(0.0f);
    // The profile edit flags (group 56) are counted up by the record update and written with
    // every record. A record that does not carry them would otherwise inherit those of the
    // record before and count on from there, until the count no longer fits its field.
    z.rec.EDITFL.fill(0);
    inv.ISTAT() = inversion::ISTAT_NO_TRACE;
    inv.VHMIN(1) = 9999.0f;
    inv.VHMIN(2) = 9999.0f;
}

RunOutcome run_files(Zelk& z, const std::vector<FileJob>& jobs, Frontend& fe, RecordSteps& steps,
                     bool stop_on_failure) {
    RunOutcome run;
    uintmax_t total_bytes = 0;
    for (const FileJob& j : jobs) total_bytes += size_of(j.input);
    uintmax_t done_bytes = 0;

    // Every input file of every run of the process gets a number of its own, so that the
    // coefficient files are looked up on disk once per input file (see load_data_file).
    static std::atomic<uint64_t> fileseq{0};
    for (const FileJob& job : jobs) {
        ++run.files;
        z.prod.FILESEQ = ++fileseq;
        z.bot.FILESEQ = z.prod.FILESEQ;
        FileOutcome fo;
        fe.file_start(job);
        const uintmax_t job_bytes = size_of(job.input);

        // Non-VXO input: read the temporary VXO file the conversion makes.
        std::string inpath = job.input;
        const bool converted = z.run.FMTVXO != 'Y';
        if (converted) {
            inpath = rtrim(fe.NONVXO_VXO(z.run.PROG, job.input, z.run.NOCONV));
            if (inpath == "PROGRAM FOR CONVERSION NOT EXECUTABLE" ||
                inpath == "BAD PROGRAM FOR CONVERSION") {
                fe.clear_window();
                run.fatal = inpath[0] == 'P' ? 22 : 23;
                fe.DODIALOG3(run.fatal);
                fe.file_done(job, fo);
                break;
            }
            if (inpath.empty()) {
                fe.file_done(job, fo);
                if (stop_on_failure) break;
                continue;
            }
        }
        auto drop_conversion = [&] {
            if (converted) {
                std::error_code ec;
                fs::remove(inpath, ec);
            }
        };

        if (!steps.open(inpath)) {
            fe.notice(job.input + ": cannot be opened");
            drop_conversion();
            fe.file_done(job, fo);
            if (stop_on_failure) break;
            continue;
        }
        fo.opened = true;

        // Output: ask while the path exists; the same answer overwrites.
        std::unique_ptr<PendingOutput> out;
        if (!job.output.empty()) {
            std::string outpath = job.output;
            for (int ask = 0; ask < MAXASK && fs::exists(outpath); ++ask) {
                const std::string answer = rtrim(fe.DODIALOG4(outpath));
                if (answer == outpath || answer.empty()) break;
                outpath = answer;
            }
            if (same_file(outpath, job.input) || same_file(outpath, inpath)) {
                fe.notice(job.input + ": refused, the output " + outpath + " is the input file");
                ++run.unwritten;
            } else {
                std::string why;
                out = std::make_unique<PendingOutput>(outpath);
                if (!out->open(why)) {
                    fe.notice(outpath + ": cannot be written (" + why + ")");
                    ++run.unwritten;
                    out.reset();
                }
            }
            if (!out) {
                fo.no_output = true;
                ++run.no_output;
                steps.close();
                drop_conversion();
                fe.file_done(job, fo);
                if (stop_on_failure) break;
                continue;
            }
        }

        // Record loop.
        int16_t LREAD = 0;
        int32_t IEOF = 0;
        int32_t RECNO = 0;
        // What follows a record's making, in file order: the notices of its writing, the
        // pause of the display and the front end's account of it.
        auto finish_record = [&](Zelk& zr, const RecordSteps::WriteReport& wr, const RecordInfo& info) {
            if (out) {
                const std::string at = job.input + ": record " + std::to_string(info.RECNO);
                if (!wr.missing.empty()) {
                    // The first few values named; they are written as missing.
                    std::string which;
                    for (size_t i = 0; i < wr.missing.size() && i < 5; ++i) which += (i ? ", " : "") + wr.missing[i];
                    if (wr.missing.size() > 5) which += " and " + std::to_string(wr.missing.size() - 5) + " more";
                    fe.notice(at + ": written with missing values in place of what its output fields cannot hold: " + which);
                }
                if (wr.unusable.empty()) {
                    ++fo.written;
                } else {
                    ++fo.unwritable;
                    fe.notice(at + ": not written, " + wr.unusable);
                }
            }
            if (zr.log.IDEBUG == 2 || zr.log.IDEBUG == 3) zr.plot->pause(2.0f);
            fe.record_done(zr, info);
        };

        // The records made apart, on record_jobs threads, while this thread runs ahead.
        const bool apart = z.run.record_jobs > 1 && z.plot == &Zelk::headless;
        std::vector<std::unique_ptr<RecordSteps>> makers;
        for (int t = 0; apart && t < z.run.record_jobs; ++t) {
            makers.push_back(steps.record_worker());
            if (!makers.back()) makers.clear();
        }
        std::ostream* const log_out = z.log.out;
        // However the loop ends, the context is left writing to its own log again.
        struct Restore {
            Zelk& z;
            std::ostream* out;
            ~Restore() {
                z.log.out = out;
                z.ahead = false;
            }
        } restore{z, log_out};
        std::ostream nowhere(nullptr);
        std::deque<std::shared_ptr<RecordWork>> flight;   // handed on, in file order
        std::shared_ptr<RecordWork> current;              // the record being read
        std::exception_ptr ahead_error;
        std::vector<std::unique_ptr<Zelk>> spare;   // contexts of records taken up, to copy into
        std::unique_ptr<TaskQueue> queue;
        if (!makers.empty()) {
            try {
                queue = std::make_unique<TaskQueue>(makers.size());
            } catch (const std::system_error&) {
                makers.clear();   // no threads to be had: the records are made on this one
            }
        }
        const size_t window = 4 * makers.size();
        auto take_up = [&](RecordWork& w) {
            if (w.done.valid()) w.done.wait();
            if (w.split) {
                // The inversion's diagnostics with those of the shape search in their place;
                // a making that failed before its writing ends at the failure.
                const std::string m = w.diag.str(), l = w.later.str();
                const size_t at = w.shape_at < 0 ? m.size() : std::min(m.size(), static_cast<size_t>(w.shape_at));
                const bool made = w.later_at >= 0;
                const size_t mid = made ? std::min(l.size(), static_cast<size_t>(w.later_at)) : l.size();
                log_out->write(m.data(), static_cast<std::streamsize>(at));
                log_out->write(l.data(), static_cast<std::streamsize>(mid));
                if (made) {
                    log_out->write(m.data() + at, static_cast<std::streamsize>(m.size() - at));
                    log_out->write(l.data() + mid, static_cast<std::streamsize>(l.size() - mid));
                }
            } else {
                pass_on(*log_out, w.diag);
            }
            if (w.error) std::rethrow_exception(w.error);
            if (!w.z) return;
            if (out && w.wr.unusable.empty()) pass_on(out->os(), w.output);
            finish_record(*w.z, w.wr, w.info);
            spare.push_back(std::move(w.z));
        };
        // Takes up the records handed on that are made, and waits for the first while too
        // many are on their way.
        auto take_up_made = [&](size_t keep) {
            while (!flight.empty()) {
                RecordWork& w = *flight.front();
                const bool made = !w.done.valid() || w.done.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
                if (!made && flight.size() <= keep) break;
                take_up(w);
                flight.pop_front();
            }
        };
        auto hand_on = [&] {
            if (current) flight.push_back(std::move(current));
            current.reset();
        };
        try {
            while (RECNO < MAXREC) {
                if (queue) {
                    hand_on();
                    take_up_made(window);
                    current = std::make_shared<RecordWork>();
                    z.log.out = &current->diag;
                }
                clear_record_tables(z);
                const long long before = steps.position();
                int16_t LBAD = 0;
                steps.read(z, IEOF, LREAD, LBAD);
                if (IEOF == -1) {
                    // The end of the file inside a record (an interrupted transfer): that
                    // record is lost, and counted as bad.
                    if (LBAD == 0) {
                        ++fo.bad;
                        note_bad(fo, RECNO + 1, where(steps));
                    }
                    break;
                }
                ++RECNO;
                if (LBAD == 1) {
                    // A refused record costs that record only: the reader has moved on to
                    // the next record that reads whole.
                    ++fo.bad;
                    note_bad(fo, RECNO, where(steps));
                    long first = 0;
                    if (const int passed = steps.passed_over(first); passed > 0) {
                        fo.bad += passed;
                        note_bad(fo, RECNO + 1, " at line " + std::to_string(first) +
                                                               ": damaged too, passed over" +
                                                               (passed > 1 ? " with " + std::to_string(passed - 1) + " more" : ""));
                        RECNO += passed;
                    }
                    if (steps.position() == before) break;
                    continue;
                }
                ++fo.read;

                const int16_t prep = pipeline::prepare(z);
                if (prep == pipeline::PREP_STATION) {
                    // Impossible station constants cost this record only.
                    --fo.read;
                    ++fo.bad;
                    note_bad(fo, RECNO, ": impossible station constant, " + pipeline::station_fault(z.rec));
                    continue;
                }
                if (prep != iondata::PREP_OK) {
                    fo.ended_by = prep;
                    fo.ended_at = RECNO;
                    break;
                }

                ++run.NRECS;
                ++fo.inverted;
                RecordInfo info;
                info.job = &job;
                info.RECNO = RECNO;
                info.NRECS = run.NRECS;
                if (total_bytes > 0) {
                    const double here = static_cast<double>(steps.position());
                    info.fraction = std::min(1.0, (static_cast<double>(done_bytes) + here) /
                                                      static_cast<double>(total_bytes));
                }
                if (!queue) {
                    RecordSteps::WriteReport wr;
                    make_record(z, steps, out ? &out->os() : nullptr, wr);
                    finish_record(z, wr, info);
                    continue;
                }
                // In the standard mode this context inverts the record, running ahead: it
                // leaves the shape search and the fit, whose results no later record reads,
                // to a copy of itself that makes them and writes the record. A refined run,
                // which may invert a record twice, has the copy, taken before the
                // inversion, make the whole record while this context runs ahead.
                current->split = !z.inv.refine.any();
                if (current->split) {
                    z.ahead = true;
                    try {
                        before_inversion(z);
                        steps.invert(z);
                    } catch (...) {
                        // The failure is taken up in its place, after the records before.
                        current->error = std::current_exception();
                        z.ahead = false;
                        break;
                    }
                    current->shape_at = z.left.shape ? z.left.shape_at : -1;
                }
                if (spare.empty()) {
                    current->z = std::make_unique<Zelk>(z);
                } else {
                    current->z = std::move(spare.back());
                    spare.pop_back();
                    *current->z = z;
                }
                current->info = info;
                const bool with_output = out != nullptr;
                // The task holds the work by a plain pointer: its future, which the work owns,
                // keeps the task alive, and a shared one would keep every work alive. The
                // work outlives the task: it is taken up only after its future is ready, and
                // the queue, which drops or waits for its tasks, ends before the works.
                current->done = queue->push([w = current.get(), with_output, &makers](size_t t) {
                    try {
                        if (w->split) {
                            Zelk& zr = *w->z;
                            zr.ahead = false;
                            zr.log.out = &w->later;
                            makers[t]->make_left(zr);
                            w->later_at = static_cast<long long>(w->later.tellp());
                            after_inversion(zr, *makers[t], with_output ? &w->output : nullptr, w->wr);
                        } else {
                            make_record(*w->z, *makers[t], with_output ? &w->output : nullptr, w->wr);
                        }
                    } catch (...) {
                        w->error = std::current_exception();
                    }
                });
                z.log.out = &nowhere;
                z.ahead = true;
                try {
                    if (!current->split) steps.invert(z);
                    if (out) steps.write(nowhere, z);
                } catch (...) {
                    ahead_error = std::current_exception();
                }
                z.ahead = false;
                if (ahead_error) break;
            }
            if (queue) {
                // The records on their way are taken up; the failure of a record's making
                // ends the file where it would have ended it on one thread.
                hand_on();
                z.log.out = log_out;
                take_up_made(0);
                if (ahead_error) std::rethrow_exception(ahead_error);
            }
        } catch (const Stop&) {
            queue.reset();
            out.reset();   // removes the temporary output
            steps.close();
            drop_conversion();
            throw;
        }

        // End of the file: the output is kept only when records were written to it.
        steps.close();
        drop_conversion();
        if (out) {
            if (fo.written > 0) {
                std::string why;
                if (out->commit(why)) {
                    fo.output_kept = true;
                } else {
                    fe.notice(job.output + ": could not be completed (" + why + ")");
                    ++run.unwritten;
                }
            } else {
                out->discard();
            }
        }
        run.written += fo.output_kept ? fo.written : 0;
        run.bad += fo.bad;
        done_bytes += job_bytes;
        fe.file_done(job, fo);
    }

    if (run.NRECS == 0) {
        fe.clear_window();
        fe.message_box("WARNING", "NO PROPER DATA OR ERROR FOUND IN THE INPUT FILE.");
    }
    return run;
}

bool jobs_from_settings(const std::string& INFILE, const std::string& OUTFILE,
                        const std::string& filelist, std::vector<FileJob>& jobs, bool& LWILD) {
    jobs.clear();
    const std::string in = rtrim(INFILE);
    const std::string out = rtrim(OUTFILE);
    const bool LOUT = out != "NONE";

    // Directory, name and extension of a path (the extension with its point).
    auto split = [](const std::string& p, std::string& dir, std::string& name, std::string& ext) {
        const auto slash = p.find_last_of('/');
        dir = slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
        const std::string base = p.substr(dir.size());
        const auto dot = base.find_last_of('.');
        name = dot == std::string::npos ? base : base.substr(0, dot);
        ext = dot == std::string::npos ? std::string() : base.substr(dot);
    };
    std::string indir, inname, inext;
    split(in, indir, inname, inext);
    LWILD = inname == "*" || inext == ".*";
    if (!LWILD) {
        jobs.push_back({in, LOUT ? out : std::string()});
        return true;
    }
    std::string outdir, outname, outext;
    if (LOUT) {
        split(out, outdir, outname, outext);
        outext = outext.substr(0, 4);
    }
    std::ifstream list(filelist);
    if (!list) return false;
    std::string line;
    while (std::getline(list, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto b = line.find_first_not_of(' ');
        if (b == std::string::npos) continue;   // blank line
        const std::string name = rtrim(line.substr(b));
        jobs.push_back({indir + name, LOUT ? outdir + name + outext : std::string()});
    }
    return true;
}

RunOutcome main_run(Zelk& z, Frontend& fe, RecordSteps& steps, const std::string& filelist) {
    std::vector<FileJob> jobs;
    bool LWILD = false;
    const bool listed = jobs_from_settings(z.run.INFILE, z.run.OUTFILE, filelist, jobs, LWILD);
    const RunOutcome run = run_files(z, listed ? jobs : std::vector<FileJob>{}, fe, steps, !LWILD);
    if (LWILD) {
        std::error_code ec;
        fs::remove(filelist, ec);
    }
    return run;
}

}  // namespace zelk::driver

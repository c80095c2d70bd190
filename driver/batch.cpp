// The run mode of the batch program.
#include "driver/batch.hpp"

#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <ostream>
#include <streambuf>

#include "core/stop.hpp"
#include "core/zelk.hpp"
#include "driver/progress.hpp"
#include "driver/summary.hpp"
#include "iondata/prepare.hpp"

namespace zelk::driver {

namespace fs = std::filesystem;

namespace {

static constexpr const char* PROGNAME = "zelk-batch";

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// Files a directory or pattern run leaves out: hidden files (the temporary outputs among
// them), empty files, earlier outputs and programs.
bool listed(const fs::directory_entry& e) {
    std::error_code ec;
    if (!e.is_regular_file(ec) || ec) return false;
    const std::string name = e.path().filename().string();
    if (name.empty() || name[0] == '.') return false;
    if (e.file_size(ec) == 0 || ec) return false;
    const std::string ext = upper(e.path().extension().string());
    return ext != ".430" && ext != ".ARP" && ext != ".EXE";
}

bool parse_float(const std::string& s, float& v) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const float x = std::strtof(s.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(x)) return false;
    v = x;
    return true;
}

bool parse_int16(const std::string& s, int16_t& v) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long x = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || x < -32768 || x > 32767) return false;
    v = static_cast<int16_t>(x);
    return true;
}

// Identities (device, inode) of existing files, to recognise a file under any of its names.
using FileIds = std::set<std::pair<dev_t, ino_t>>;

FileIds file_ids(const std::vector<std::string>& files) {
    FileIds ids;
    for (const std::string& f : files) {
        struct stat st {};
        if (::stat(f.c_str(), &st) == 0) ids.insert({st.st_dev, st.st_ino});
    }
    return ids;
}

bool is_one_of(const std::string& path, const FileIds& ids) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && ids.count({st.st_dev, st.st_ino}) > 0;
}

// The batch program's side of the run: notices on standard error, the summary rows and
// the progress display.
class BatchFrontend final : public Frontend {
public:
    BatchFrontend(std::ostream& err, Summary* summary, bool progress)
        : err_(err), summary_(summary), progress_(err, progress) {}

    void NOTICE(const std::string& text) override {
        progress_.CLEAR();
        err_ << PROGNAME << ": " << text << '\n';
    }
    void MESSAGE_BOX(const std::string& title, const std::string& text) override {
        NOTICE(title + ": " + text);
    }
    void FILE_DONE(const FileJob& job, const FileOutcome& fo) override {
        if (!fo.opened) return;   // already reported
        if (fo.bad_first) {
            NOTICE(job.input + ": the first record cannot be read; file skipped");
        } else if (fo.read == 0 && fo.bad == 0) {
            NOTICE(job.input + ": no whole record");
        }
        if (fo.bad > 0) {
            NOTICE(job.input + ": " + std::to_string(fo.bad) + " bad record" +
                   (fo.bad == 1 ? "" : "s") + " skipped, " + std::to_string(fo.read) +
                   " read");
        }
        if (fo.ended_by != 0) {
            NOTICE(job.input + ": record " + std::to_string(fo.ended_at) +
                   " ends the file (" + iondata::PREP_TEXT(fo.ended_by) + "); " +
                   std::to_string(fo.inverted) + " records before it were processed");
        }
    }
    void RECORD_DONE(const Zelk& z, const RecordInfo& info) override {
        if (summary_) summary_->ROW(z, info.job->input, info.RECNO);
        progress_.UPDATE(info.NRECS, info.fraction);
    }
    void finish() { progress_.CLEAR(); }
    Progress& progress() { return progress_; }

private:
    std::ostream& err_;
    Summary* summary_;
    Progress progress_;
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
        progress_.CLEAR();
        const int_type r = dest_->sputc(traits_type::to_char_type(c));
        if (traits_type::to_char_type(c) == '\n') dest_->pubsync();
        return r;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        progress_.CLEAR();
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

const char* BATCH_USAGE() {
    return
        "Usage: zelk-batch [options] INPUT...\n"
        "\n"
        "Inverts the ionograms of VXO files into electron-density profiles N(h) and writes\n"
        "each record back, with its profile and results, in VXO layout 5.\n"
        "\n"
        "INPUT is a VXO file, a directory (its files in name order) or a pattern with * and ?\n"
        "in the file name (quote it so that the shell passes it on). Directories and patterns\n"
        "leave out hidden and empty files and earlier outputs (.430, .ARP).\n"
        "\n"
        "Options:\n"
        "  -o, --output PATH   one input file: the output file; several inputs (or a directory\n"
        "                      or pattern): a directory, made if missing, where each output is\n"
        "                      named <input name>.430. Omitted or NONE: nothing is written.\n"
        "                      Outputs appear only when complete; an input is never overwritten.\n"
        "  --hstep KM          height step of the N(h) table put into each record\n"
        "                      (default 0: no table)\n"
        "  --qpacc X           accuracy of the quasi-parabolic fit of the profile\n"
        "                      (default 0: no fit)\n"
        "  --summary FILE      one row per record (file, record, station, time, status, foE,\n"
        "                      hmE, foF1, hmF1, foF2, hmF2, HHALF, YF2, B0, B1, D1, TEC, ...)\n"
        "                      as CSV (FILE.csv) or JSON Lines (FILE.jsonl)\n"
        "  --debug N           diagnostic level (default 1); higher levels list more of the\n"
        "                      inversion on standard output\n"
        "  --inspect           list the records of the inputs instead of inverting them\n"
        "  -h, --help          show this text\n"
        "\n"
        "Messages about files and bad records go to standard error, with a progress line when\n"
        "it is a terminal.\n"
        "\n"
        "Exit status: 0 at least one record was inverted; 1 none was (no proper data or an\n"
        "error in the input); 2 usage error; 3 a model data file is missing or malformed;\n"
        "4 an output file or the summary could not be written.\n"
        "\n"
        "Examples:\n"
        "  zelk-batch DAY.VXO -o DAY.VXO.430\n"
        "  zelk-batch --hstep 10 --summary day.csv -o out data/\n"
        "  zelk-batch --inspect 'data/*.VXO'\n";
}

bool PARSE_BATCH(int argc, const char* const* argv, BatchOptions& opt, std::string& error) {
    opt = BatchOptions{};
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (options_end || a.empty() || a[0] != '-' || a == "-") {
            opt.inputs.push_back(a);
            continue;
        }
        if (a == "--") {
            options_end = true;
            continue;
        }
        // --name=value or --name value
        std::string name = a;
        std::string value;
        bool has_value = false;
        const auto eq = a.find('=');
        if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            has_value = true;
        }
        auto need = [&]() -> bool {
            if (has_value) return true;
            if (i + 1 >= argc) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        if (name == "-h" || name == "--help") {
            opt.help = true;
        } else if (name == "--inspect") {
            opt.inspect = true;
        } else if (name == "-o" || name == "--output") {
            if (!need()) return false;
            opt.output = value;
        } else if (name == "--summary") {
            if (!need()) return false;
            bool jsonl = false;
            if (!Summary::FORMAT_OF(value, jsonl, error)) return false;
            opt.summary = value;
        } else if (name == "--hstep") {
            if (!need()) return false;
            if (!parse_float(value, opt.hstep) || opt.hstep < 0.0f) {
                error = "--hstep needs a height step in km, 0 or more (got '" + value + "')";
                return false;
            }
        } else if (name == "--qpacc") {
            if (!need()) return false;
            if (!parse_float(value, opt.qpacc) || opt.qpacc < 0.0f) {
                error = "--qpacc needs an accuracy, 0 or more (got '" + value + "')";
                return false;
            }
        } else if (name == "--debug") {
            if (!need()) return false;
            if (!parse_int16(value, opt.debug)) {
                error = "--debug needs a whole number (got '" + value + "')";
                return false;
            }
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    if (!opt.help && opt.inputs.empty()) {
        error = "no input given";
        return false;
    }
    return true;
}

bool EXPAND_INPUTS(const std::vector<std::string>& inputs, std::vector<std::string>& files,
                   bool& several, std::string& error) {
    files.clear();
    several = false;
    for (const std::string& in : inputs) {
        const fs::path p(in);
        const std::string name = p.filename().string();
        std::vector<std::string> found;
        std::error_code ec;
        const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
        if (dir.string().find_first_of("*?") != std::string::npos) {
            error = in + ": wildcards are allowed in the file name only";
            return false;
        }
        if (name.find_first_of("*?") != std::string::npos) {
            several = true;
            fs::directory_iterator it(dir, ec);
            if (ec) {
                error = in + ": " + ec.message();
                return false;
            }
            for (const fs::directory_entry& e : it) {
                const std::string n = e.path().filename().string();
                if (::fnmatch(name.c_str(), n.c_str(), FNM_PERIOD) == 0 && listed(e)) {
                    found.push_back(p.has_parent_path() ? (p.parent_path() / n).string() : n);
                }
            }
            if (found.empty()) {
                error = in + ": no input files match";
                return false;
            }
        } else if (fs::is_directory(p, ec)) {
            several = true;
            fs::directory_iterator it(p, ec);
            if (ec) {
                error = in + ": " + ec.message();
                return false;
            }
            for (const fs::directory_entry& e : it) {
                if (listed(e)) found.push_back((p / e.path().filename()).string());
            }
            if (found.empty()) {
                error = in + ": the directory holds no input files";
                return false;
            }
        } else if (fs::is_regular_file(p, ec) || !fs::exists(p, ec)) {
            // A file that does not exist is left to the run, which reports it and goes on
            // with the other files, as with a file that cannot be opened.
            found.push_back(in);
        } else {
            error = in + ": not a regular file";
            return false;
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    if (files.size() > 1) several = true;
    return true;
}

bool BATCH_JOBS(const std::vector<std::string>& files, bool several, const std::string& output,
                std::vector<FileJob>& jobs, bool& outdir, std::string& error) {
    jobs.clear();
    outdir = false;
    const bool none = output.empty() || output == "NONE";
    std::error_code ec;
    if (!none) {
        outdir = several || fs::is_directory(output, ec) || output.back() == '/';
        if (several && fs::exists(output, ec) && !fs::is_directory(output, ec)) {
            error = output + ": several inputs need an output directory, and this is a file";
            return false;
        }
    }
    for (const std::string& f : files) {
        std::string out;
        if (!none) {
            out = outdir ? (fs::path(output) / (fs::path(f).filename().string() + ".430")).string()
                         : output;
        }
        jobs.push_back({f, out});
    }
    if (none) return true;
    // Refuse an output that is an input of the run (the same file, by device and inode, so
    // that links are caught too), and two inputs sharing an output.
    const FileIds inputs = file_ids(files);
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (is_one_of(jobs[i].output, inputs)) {
            error = jobs[i].output + " is an input file of the run; refused";
            return false;
        }
        const std::string key = fs::absolute(jobs[i].output, ec).lexically_normal().string();
        const auto [at, fresh] = seen.emplace(key, i);
        if (!fresh) {
            error = jobs[at->second].input + " and " + jobs[i].input + " would both write " +
                    jobs[i].output + "; refused";
            return false;
        }
    }
    return true;
}

int BATCH_RUN(const BatchOptions& opt, RecordSteps& steps, std::ostream& diag, std::ostream& err,
              bool progress) {
    auto usage_error = [&](const std::string& text) {
        err << PROGNAME << ": " << text << "\n" << "Try '" << PROGNAME << " --help'.\n";
        return 2;
    };
    std::vector<std::string> files;
    bool several = false;
    std::string error;
    if (!EXPAND_INPUTS(opt.inputs, files, several, error)) return usage_error(error);
    std::vector<FileJob> jobs;
    bool outdir = false;
    if (!BATCH_JOBS(files, several, opt.output, jobs, outdir, error)) return usage_error(error);
    if (!opt.summary.empty()) {
        if (is_one_of(opt.summary, file_ids(files))) {
            return usage_error(opt.summary + " is an input file; refused");
        }
    }
    std::error_code ec;
    if (outdir && !fs::is_directory(opt.output, ec)) {
        fs::create_directories(opt.output, ec);
        if (ec) {
            err << PROGNAME << ": " << opt.output << ": cannot make the directory (" << ec.message() << ")\n";
            return 4;
        }
    }

    auto z = std::make_unique<Zelk>();
    z->log.IDEBUG = opt.debug;
    z->log.out = &diag;
    z->run.FMTVXO = 'Y';
    z->run.INFILE = files.front();
    z->run.OUTFILE = opt.output.empty() ? std::string("NONE") : opt.output;
    z->run.HSTEP = opt.hstep;
    z->run.QPACC = opt.qpacc;

    std::unique_ptr<Summary> summary;
    if (!opt.summary.empty()) {
        summary = std::make_unique<Summary>();
        if (!summary->OPEN(opt.summary, error)) {
            err << PROGNAME << ": " << opt.summary << ": cannot be written (" << error << ")\n";
            return 4;
        }
    }
    BatchFrontend fe(err, summary.get(), progress);
    DiagnosticsBuffer diagbuf(diag.rdbuf(), fe.progress());
    std::ostream diag_clear(&diagbuf);
    if (progress) z->log.out = &diag_clear;
    RunOutcome run;
    try {
        run = RUN_FILES(*z, jobs, fe, steps, false);
    } catch (const Stop& stop) {
        fe.finish();
        summary.reset();   // an incomplete summary is not left behind
        diag.flush();
        err << stop.what() << '\n';
        return 3;
    }
    fe.finish();
    diag.flush();
    bool summary_failed = false;
    if (summary && !summary->CLOSE(error)) {
        err << PROGNAME << ": " << opt.summary << ": could not be completed (" << error << ")\n";
        summary_failed = true;
    }
    err << PROGNAME << ": " << run.NRECS << " record" << (run.NRECS == 1 ? "" : "s")
        << " inverted from " << run.files << " file" << (run.files == 1 ? "" : "s");
    if (!jobs.front().output.empty()) err << ", " << run.written << " written";
    if (run.bad > 0) err << ", " << run.bad << " bad skipped";
    if (summary) err << ", summary " << opt.summary;
    if (run.unwritten > 0) err << ", " << run.unwritten << " output" << (run.unwritten == 1 ? "" : "s") << " not written";
    err << '\n';
    if (run.unwritten > 0 || summary_failed) return 4;
    return run.NRECS > 0 ? 0 : 1;
}

}  // namespace zelk::driver

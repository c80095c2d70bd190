// The run mode of the batch program.
#include "driver/batch.hpp"

#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <thread>

#include <CLI/CLI.hpp>

#include "core/stop.hpp"
#include "core/zelk.hpp"
#include "driver/kept_rows.hpp"
#include "driver/progress.hpp"
#include "driver/report.hpp"
#include "driver/spill.hpp"
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

bool parse_int32(const std::string& s, int32_t& v) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long x = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || x < INT32_MIN || x > INT32_MAX) return false;
    v = static_cast<int32_t>(x);
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

    void NOTICE(const std::string& text) override {
        if (progress_) progress_->CLEAR();
        err_ << PROGNAME << ": " << text << '\n';
    }
    void DODIALOG3(int code) override { NOTICE(code == 22 ? MESSAGE_22 : MESSAGE_23); }
    // The run of one file reports "nothing inverted" for that file; the batch program says
    // it once, for the whole run, so the text is only kept here.
    void MESSAGE_BOX(const std::string& title, const std::string& text) override {
        warning = title + ": " + text;
    }
    void FILE_DONE(const FileJob& job, const FileOutcome& fo) override {
        if (!fo.opened) return;   // already reported
        if (fo.read == 0 && fo.bad == 0 && !fo.no_output) NOTICE(job.input + ": no whole record");
        for (const std::string& text : FILE_NOTICES(job.input, fo)) NOTICE(text);
        tally_.bytes += file_bytes_ - counted_;
        counted_ = file_bytes_;
    }
    void RECORD_DONE(const Zelk& z, const RecordInfo& info) override {
        if (abandoned_ && abandoned_()) throw Abandon{};
        if (summary_ && rows_) {
            summary_->ROW(*rows_, z, info.job->input, info.RECNO);
            ++rows;
        }
        if (report) report->push_back(REPORT_RECORD(z, info.job->input, info.RECNO));
        ++tally_.records;
        const auto at = static_cast<uint64_t>(info.fraction * static_cast<double>(file_bytes_));
        if (at > counted_) {
            tally_.bytes += at - counted_;
            counted_ = at;
        }
        if (progress_) progress_->UPDATE(tally_.records, tally_.fraction());
        if (pictures) pictures->RECORD_DONE(info.RECNO);
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

namespace {

// Checks of option values, in the form the command-line parser takes them: "" when the
// value is good, else what is wrong with it.
std::string check_float(const std::string& v, const char* what) {
    float x = 0.0f;
    if (parse_float(v, x) && x >= 0.0f) return {};
    return std::string("needs ") + what + ", 0 or more (got '" + v + "')";
}

std::string check_debug(const std::string& v) {
    int16_t x = 0;
    if (parse_int16(v, x)) return {};
    return "needs a whole number (got '" + v + "')";
}

std::string check_jobs(const std::string& v) {
    int16_t x = 0;
    if (parse_int16(v, x) && x >= 1 && x <= MAXJOBS) return {};
    return "needs a number of files processed in parallel, 1 to " + std::to_string(MAXJOBS) +
           " (got '" + v + "')";
}

// --shard I/N: two whole numbers with 1 <= I <= N.
bool parse_shard(const std::string& v, int32_t& I, int32_t& N) {
    const auto slash = v.find('/');
    int32_t i = 0, n = 0;
    if (slash == std::string::npos || !parse_int32(v.substr(0, slash), i) ||
        !parse_int32(v.substr(slash + 1), n) || n < 1 || i < 1 || i > n) {
        return false;
    }
    I = i;
    N = n;
    return true;
}

std::string check_shard(const std::string& v) {
    int32_t I = 0, N = 0;
    if (v == "auto" || parse_shard(v, I, N)) return {};
    return "needs I/N, slice I of N with 1 <= I <= N, or auto (got '" + v + "')";
}

// Builds the command line of the batch program on app, filling opt when it is parsed.
void BATCH_CLI(CLI::App& app, BatchOptions& opt) {
    app.name(PROGNAME);
    app.description(
        "Inverts the ionograms of VXO files (or Standard files, or files of any format\n"
        "a conversion program turns into the Standard format) into electron-density\n"
        "profiles N(h) and writes each record back, with its profile and results, in\n"
        "VXO layout 5.\n"
        "\n"
        "INPUT is a file, a directory (its files in name order) or a pattern with\n"
        "* and ? in the file name (quote it so that the shell passes it on).\n"
        "Directories and patterns leave out hidden and empty files and earlier outputs\n"
        "(.430, .ARP).\n");
    app.footer(
        "Messages about files and bad records go to standard error, with a progress\n"
        "line when it is a terminal. A bad record costs that record only; values an\n"
        "output field cannot hold are written as missing, with a message.\n"
        "\n"
        "Exit status: 0 at least one record was inverted; 1 none was (no proper data\n"
        "or an error in the input); 2 usage error; 3 a model data file is missing,\n"
        "unreadable or malformed; 4 an output file, the summary, a picture, the\n"
        "report or standard output could not be written; 5 the conversion program\n"
        "could not be started or failed. With several jobs, the status of the whole\n"
        "run: 3 or 5 before 4, 4 before 0 or 1.\n"
        "\n"
        "Examples:\n"
        "  zelk-batch DAY.VXO -o DAY.VXO.430\n"
        "  zelk-batch --hstep 10 --summary day.csv -o out data/\n"
        "  zelk-batch --inspect 'data/*.VXO'\n"
        "  zelk-batch --jobs 2 --shard 1/3 --summary part1.csv -o out data/\n"
        "  zelk-batch --format standard -o out 'traces/*.txt'\n"
        "  zelk-batch --format other --converter ./csv2std -o out 'tables/*.csv'");
    app.get_formatter()->column_width(22);
    app.get_formatter()->label("OPTIONS", "options");
    // An option given twice takes its last value.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.set_help_flag("-h,--help", "show this text");
    // The text is made by the caller (VERSION_TEXT), which looks up the data directory.
    app.set_version_flag("--version", [] { return std::string(); },
                         "show the version, the source revision and the data\ndirectory in use");

    app.add_option("INPUT", opt.inputs, "input files, directories or patterns")
        ->type_name("")
        ->required();
    app.add_option("-o,--output", opt.output,
                   "one input file: the output file; several inputs (or a\n"
                   "directory or pattern): a directory, made if missing,\n"
                   "where each output is named <input name>.430. Omitted or\n"
                   "NONE: nothing is written. Outputs appear only when\n"
                   "complete; an input is never overwritten.")
        ->type_name("PATH");
    app.add_option_function<std::string>(
           "--hstep", [&opt](const std::string& v) { parse_float(v, opt.hstep); },
           "height step of the N(h) table put into each record\n(default 0: no table)")
        ->type_name("KM")
        ->check(CLI::Validator([](std::string& v) { return check_float(v, "a height step in km"); }, ""));
    app.add_option_function<std::string>(
           "--qpacc", [&opt](const std::string& v) { parse_float(v, opt.qpacc); },
           "accuracy of the quasi-parabolic fit of the profile\n(default 0: no fit)")
        ->type_name("X")
        ->check(CLI::Validator([](std::string& v) { return check_float(v, "an accuracy"); }, ""));
    app.add_option("--summary", opt.summary,
                   "one row per record (file, record, station, time, status,\n"
                   "foE, hmE, foF1, hmF1, foF2, hmF2, HHALF, YF2, B0, B1, D1,\n"
                   "TEC, ...) as CSV (FILE.csv) or JSON Lines (FILE.jsonl)")
        ->type_name("FILE")
        ->check(CLI::Validator(
            [](std::string& v) {
                bool jsonl = false;
                std::string why;
                return Summary::FORMAT_OF(v, jsonl, why) ? std::string() : why;
            },
            ""));
    app.add_option("--report", opt.report,
                   "the run report: one HTML page with, per station, the\n"
                   "profiles as a height-time colour map, the characteristics\n"
                   "as time series and a table of the records")
        ->type_name("FILE.html");
    app.add_option_function<std::string>(
           "--debug", [&opt](const std::string& v) { parse_int16(v, opt.debug); },
           "diagnostic level (default 1); higher levels list more of\n"
           "the inversion on standard output")
        ->type_name("N")
        ->check(CLI::Validator(check_debug, ""));
    app.add_flag("--inspect", opt.inspect, "list the records of the inputs instead of inverting them");
    app.add_option_function<std::string>(
           "--format", [&opt](const std::string& v) { PARSE_FORMAT(v, opt.format); },
           "input format: vxo (default), standard (the Standard\n"
           "text format) or other (converted to the Standard format\n"
           "by the program of --converter)")
        ->type_name("FMT")
        ->check(CLI::Validator(
            [](std::string& v) {
                InputFormat f{};
                return PARSE_FORMAT(v, f) ? std::string()
                                          : "needs vxo, standard or other (got '" + v + "')";
            },
            ""));
    app.add_option("--converter", opt.converter,
                   "with --format other: the program run as\n"
                   "PROG INPUT OUTPUT.TMPSTD for each input file")
        ->type_name("PROG");
    app.add_option_function<std::string>(
           "--converter-timeout", [&opt](const std::string& v) { opt.converter_timeout = std::strtod(v.c_str(), nullptr); },
           "seconds the converter may run on one file before it is\n"
           "stopped (default " + std::to_string(static_cast<int>(CONVERTER_TIMEOUT)) + "; 0: no limit)")
        ->type_name("S")
        ->check(CLI::Validator([](std::string& v) { return check_float(v, "a number of seconds"); }, ""));
    app.add_option_function<std::string>(
           "--jobs",
           [&opt](const std::string& v) {
               int16_t n = 1;
               parse_int16(v, n);
               opt.jobs = n;
           },
           "files processed in parallel (default 1, at most " + std::to_string(MAXJOBS) +
               ");\nthe outputs, summary and messages are the same as with 1")
        ->type_name("N")
        ->check(CLI::Validator(check_jobs, ""));
    app.add_option("--plots", opt.plots,
                   "one picture per inverted record, as the window shows it,\n"
                   "into DIR (made if missing): <input name>.<record as 4\n"
                   "digits>.png (or .svg); pdf: <input name>.pdf, a page\n"
                   "per record")
        ->type_name("DIR");
    app.add_option("--plot-format", opt.plot_format, "png (default), svg or pdf")
        ->type_name("FMT")
        ->check(CLI::IsMember({"png", "svg", "pdf"}));
    app.add_flag("--plot-data", opt.plot_data,
                 "also write the plotted trace and recomputed virtual heights\n"
                 "into DIR: <input name>.TRACE.DAT, .RECAL_OTRACE.DAT and\n"
                 ".RECAL_XTRACE.DAT");
    app.add_option_function<std::string>(
           "--shard",
           [&opt](const std::string& v) {
               opt.shard_auto = v == "auto";
               if (!opt.shard_auto) parse_shard(v, opt.shard, opt.shards);
           },
           "process only the I-th of N slices of the input files\n"
           "(sorted by name): N runs given the same inputs and\n"
           "I = 1..N process every file once, with the same outputs\n"
           "as one run over them all. auto: I and N of this task\n"
           "of a Slurm array job")
        ->type_name("I/N")
        ->check(CLI::Validator(check_shard, ""));
    app.add_flag("--skip-existing", opt.skip_existing,
                 "leave out the files whose output is already complete\n"
                 "(their summary rows are kept beside the outputs), so\n"
                 "that a run started again redoes only what is missing");
    app.add_flag_callback(
        "--refine",
        [&opt] {
            std::string why;
            PARSE_REFINE("all", opt.refine, why);
        },
        "the refined inversion: the valley fitted to the O trace at\n"
        "the foot of the F layer and to the X trace, the peaks at\n"
        "the scaled critical frequencies, an F1 layer rejected for\n"
        "its roots solved with the F2 layer. A record it cannot\n"
        "invert gets the standard result. The summary gains the\n"
        "column mode");
    app.add_option_function<std::string>(
           "--refine-parts",
           [&opt](const std::string& v) {
               std::string why;
               PARSE_REFINE(v, opt.refine, why);
           },
           "the refined inversion with only the parts named\n"
           "(comma-separated): valley, xstart, fc, f1")
        ->type_name("LIST")
        ->check(CLI::Validator(
            [](std::string& v) {
                inversion::RefineOptions r;
                std::string why;
                return PARSE_REFINE(v, r, why) ? std::string() : why;
            },
            ""));
    app.add_option("--merge-summaries", opt.merge,
                   "merge the summaries given as inputs, in their order,\n"
                   "into OUT (.csv or .jsonl); nothing is inverted")
        ->type_name("OUT");
}

}  // namespace

std::string BATCH_USAGE() {
    BatchOptions opt;
    CLI::App app;
    BATCH_CLI(app, opt);
    return app.help();
}

bool PARSE_BATCH(int argc, const char* const* argv, BatchOptions& opt, std::string& error) {
    opt = BatchOptions{};
    CLI::App app;
    BATCH_CLI(app, opt);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        opt.help = true;
        return true;
    } catch (const CLI::CallForVersion&) {
        opt.version = true;
        return true;
    } catch (const CLI::RequiredError&) {
        error = "no input given";
        return false;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return false;
    }
    // The converter is checked before any file is looked at.
    if (opt.format == InputFormat::OTHER) {
        if (opt.converter.empty()) {
            error = "--format other needs --converter PROG";
            return false;
        }
        if (const std::string why = CHECK_CONVERTER(opt.converter); !why.empty()) {
            error = "--converter " + why;
            return false;
        }
    } else if (!opt.converter.empty()) {
        error = "--converter is used with --format other only";
        return false;
    }
    if (opt.plot_data && opt.plots.empty()) {
        error = "--plot-data needs --plots DIR";
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

std::pair<size_t, size_t> SHARD_SLICE(size_t count, int32_t I, int32_t N) {
    if (N < 1 || I < 1 || I > N) return {0, 0};
    const auto n = static_cast<unsigned long long>(N);
    const auto c = static_cast<unsigned long long>(count);
    return {static_cast<size_t>(c * static_cast<unsigned long long>(I - 1) / n),
            static_cast<size_t>(c * static_cast<unsigned long long>(I) / n)};
}

std::vector<std::string> SHARD_FILES(std::vector<std::string> files, int32_t I, int32_t N) {
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    const auto [begin, end] = SHARD_SLICE(files.size(), I, N);
    return {files.begin() + static_cast<std::ptrdiff_t>(begin),
            files.begin() + static_cast<std::ptrdiff_t>(end)};
}

bool PARSE_REFINE(const std::string& text, inversion::RefineOptions& out, std::string& why) {
    inversion::RefineOptions r;
    if (text == "all") {
        r.valley = r.xstart = r.scaled_fc = r.f1_roots = true;
    } else {
        std::stringstream ss(text);
        for (std::string part; std::getline(ss, part, ',');) {
            if (part == "valley") r.valley = true;
            else if (part == "xstart") r.xstart = true;
            else if (part == "fc") r.scaled_fc = true;
            else if (part == "f1") r.f1_roots = true;
            else {
                why = "--refine-parts: unknown part '" + part + "' (valley, xstart, fc, f1)";
                return false;
            }
        }
        if (!r.any()) {
            why = "--refine-parts: no part named (valley, xstart, fc, f1)";
            return false;
        }
    }
    out = r;
    return true;
}

std::string REFINE_TEXT(const inversion::RefineOptions& r) {
    if (r.valley && r.xstart && r.scaled_fc && r.f1_roots) return "all";
    std::string s;
    const auto add = [&s](bool on, const char* name) {
        if (!on) return;
        if (!s.empty()) s += ',';
        s += name;
    };
    add(r.valley, "valley");
    add(r.xstart, "xstart");
    add(r.scaled_fc, "fc");
    add(r.f1_roots, "f1");
    return s;
}

namespace {

// The settings that shape an output, kept with its summary rows: a file is skipped only
// when its output was made with the same. An option that changes what an output holds
// belongs here.
std::string output_settings(const BatchOptions& opt) {
    std::ostringstream s;
    s << "hstep=" << opt.hstep << " qpacc=" << opt.qpacc << " format=" << static_cast<int>(opt.format)
      << " converter=" << opt.converter;
    if (opt.refine.any()) s << " refine=" << REFINE_TEXT(opt.refine);
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
FileResult RUN_ONE(const BatchOptions& opt, const FileJob& job, RecordSteps& steps,
                   BatchFrontend& fe, std::ostream& diag, const PicturesFactory& pictures) {
    FileResult r;
    auto z = std::make_unique<Zelk>();
    std::unique_ptr<FilePictures> pics = pictures ? pictures(opt, job) : nullptr;
    if (pics) {
        z->plot = &pics->plotter();
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
    z->inv.refine = opt.refine;
    try {
        r.run = RUN_FILES(*z, {job}, fe, steps, false);
        if (pics && !pics->FINISH(r.pictures) && r.pictures.empty())
            r.pictures = job.input + ": pictures could not be written";
    } catch (const Stop& stop) {
        r.stopped = true;
        r.stop = stop.what();
    } catch (const Abandon&) {
        steps.CLOSE();   // the temporary output was removed on the way out
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
    if (opt.refine.any()) f.options.push_back({"--refine", REFINE_TEXT(opt.refine)});
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
    f.version = ZELK_VERSION;
    f.files = run.files;
    f.bad = run.bad;
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return f;
}

// A file's buffers while files are processed in parallel.
struct Slot {
    std::ostringstream notices, rows;
    SpillStream diag;   // a file's diagnostics can be large: bounded in memory
    std::vector<ReportRecord> report;
    FileResult result;
    bool done = false;
};

}  // namespace

int BATCH_RUN(const BatchOptions& opt, const StepsFactory& make_steps, std::ostream& diag,
              std::ostream& err, bool progress, const PicturesFactory& pictures) {
    const auto started = std::chrono::steady_clock::now();
    auto usage_error = [&](const std::string& text) {
        err << PROGNAME << ": " << text << "\n" << "Try '" << PROGNAME << " --help'.\n";
        return 2;
    };
    std::vector<std::string> files;
    bool several = false;
    std::string error;
    if (!EXPAND_INPUTS(opt.inputs, files, several, error)) return usage_error(error);
    const bool sharded = opt.shards > 0;
    if (sharded) {
        // The whole list, sorted and without repeats (its one slice of one). The outputs
        // are named, and checked, from it, so that every shard writes where a run over the
        // whole list would and refuses what that run would refuse.
        files = SHARD_FILES(files, 1, 1);
        several = several || files.size() > 1;
    }
    std::error_code ec;
    std::vector<FileJob> jobs;
    bool outdir = false;
    if (!BATCH_JOBS(files, several, opt.output, jobs, outdir, error)) return usage_error(error);
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
        const auto [begin, end] = SHARD_SLICE(jobs.size(), opt.shard, opt.shards);
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
        if (!summary->OPEN(opt.summary, error)) {
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
    const std::string rows_format = !summary ? "none" : upper(opt.summary).ends_with(".CSV") ? "csv" : "jsonl";
    std::vector<std::optional<KeptRows>> kept(jobs.size());
    int32_t skipped = 0, skipped_records = 0;
    if (opt.skip_existing) {
        for (size_t k = 0; k < jobs.size(); ++k) {
            kept[k] = COMPLETE_OUTPUT(jobs[k], output_settings(opt), rows_format);
            if (!kept[k]) FORGET_ROWS(jobs[k].output);
        }
    }
    // Appends the rows of file k to the summary (its kept rows when it was skipped) and,
    // with --skip-existing, keeps the rows of a completed output beside it.
    auto rows_of = [&](size_t k, const std::string& rows, const FileResult* r) {
        if (kept[k]) {
            if (summary) summary->APPEND(kept[k]->rows, kept[k]->n);
            ++skipped;
            skipped_records += kept[k]->records;
            return;
        }
        if (summary) summary->APPEND(rows, r->rows);
        std::string why;
        if (opt.skip_existing && !r->stopped && r->run.written > 0 && r->run.unwritten == 0 &&
            !KEEP_ROWS(jobs[k], output_settings(opt), rows_format, rows, r->rows, why)) {
            err << PROGNAME << ": " << KEPT_ROWS_PATH(jobs[k].output) << ": cannot be written (" << why
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
            prog.CLEAR();
            err << PROGNAME << ": " << r.pictures << '\n';
            pictures_failed = true;
        }
        fatal = r.run.fatal;
        return fatal == 0;
    };

    const size_t workers = std::min(static_cast<size_t>(std::max(opt.jobs, 1)), jobs.size());
    if (workers <= 1) {
        // One worker: the files in turn on this thread, straight to the program's streams.
        std::unique_ptr<RecordSteps> steps = jobs.empty() ? nullptr : make_steps();
        for (size_t k = 0; k < jobs.size(); ++k) {
            if (kept[k]) {
                rows_of(k, {}, nullptr);
                continue;
            }
            std::ostringstream rows;
            BatchFrontend fe(err, summary.get(), &rows, shown, tally, sizes[k], nullptr);
            if (!opt.report.empty()) fe.report = &report;
            const FileResult r = RUN_ONE(opt, jobs[k], *steps, fe, diag_out, draw);
            rows_of(k, rows.str(), &r);
            if (!account(r)) break;
        }
    } else {
        // Several workers: each takes the next file, with its own run context and record
        // steps, into the file's buffers; this thread passes the buffers on in file order.
        std::vector<Slot> slots(jobs.size());
        std::mutex m;
        std::condition_variable cv;
        std::atomic<size_t> next{0};
        std::atomic<size_t> stop_at{jobs.size()};   // first file (so far) that met a failure
        auto work = [&] {
            std::unique_ptr<RecordSteps> steps = make_steps();
            for (size_t k = next++; k < jobs.size(); k = next++) {
                Slot& s = slots[k];
                if (k < stop_at.load() && !kept[k]) {
                    BatchFrontend fe(s.notices, summary.get(), &s.rows, nullptr, tally, sizes[k],
                                     [&stop_at, k] { return stop_at.load() < k; });
                    if (!opt.report.empty()) fe.report = &s.report;
                    s.result = RUN_ONE(opt, jobs[k], *steps, fe, s.diag, draw);
                    if (s.result.stopped || s.result.run.fatal != 0) {
                        size_t seen = stop_at.load();
                        while (k < seen && !stop_at.compare_exchange_weak(seen, k)) {
                        }
                    }
                }
                {
                    const std::lock_guard<std::mutex> lock(m);
                    s.done = true;
                }
                cv.notify_all();
            }
        };
        std::vector<std::thread> pool;
        for (size_t w = 0; w < workers; ++w) pool.emplace_back(work);
        for (size_t k = 0; k < slots.size(); ++k) {
            Slot& s = slots[k];
            {
                std::unique_lock<std::mutex> lock(m);
                while (!cv.wait_for(lock, std::chrono::milliseconds(250), [&] { return s.done; })) {
                    lock.unlock();
                    prog.UPDATE(tally.records, tally.fraction());
                    lock.lock();
                }
            }
            // The files before the first failure were all run to their end, so the failing
            // file is reached here before any file that was skipped or abandoned.
            if (!s.diag.pass_to(diag_out)) {
                prog.CLEAR();
                err << PROGNAME << ": " << jobs[k].input << ": diagnostics could not be buffered whole\n";
            }
            if (const std::string text = s.notices.str(); !text.empty()) {
                prog.CLEAR();
                err << text;
            }
            rows_of(k, s.rows.str(), &s.result);
            std::move(s.report.begin(), s.report.end(), std::back_inserter(report));
            s.report = {};
            s.notices.str({});
            s.rows.str({});
            if (!kept[k] && !account(s.result)) break;
            prog.UPDATE(tally.records, tally.fraction());
        }
        for (std::thread& t : pool) t.join();
    }
    prog.CLEAR();
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
    if (summary && !summary->CLOSE(error)) {
        err << PROGNAME << ": " << opt.summary << ": could not be completed (" << error << ")\n";
        summary_failed = true;
    }
    if (!opt.report.empty()) {
        const ReportFacts facts = REPORT_FACTS(opt, run, static_cast<bool>(draw), started);
        if (!SAVE_REPORT(opt.report, report, facts, error)) {
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

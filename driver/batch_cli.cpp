// The command line of the batch program: its options, their checks, the usage message and
// the one form of a usage error.
#include "driver/batch.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "driver/summary.hpp"

namespace zelk::driver {

namespace {

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

}  // namespace

bool parse_refine(const std::string& text, inversion::RefineOptions& out, std::string& why) {
    inversion::RefineOptions r;
    if (text == "all") {
        r.valley = r.xstart = r.scaled_fc = r.f1_roots = r.gap = true;
    } else {
        std::stringstream ss(text);
        for (std::string part; std::getline(ss, part, ',');) {
            if (part == "valley") r.valley = true;
            else if (part == "xstart") r.xstart = true;
            else if (part == "fc") r.scaled_fc = true;
            else if (part == "f1") r.f1_roots = true;
            else if (part == "gap") r.gap = true;
            else {
                why = "--refine-parts: unknown part '" + part + "' (valley, xstart, fc, f1, gap)";
                return false;
            }
        }
        if (!r.any()) {
            why = "--refine-parts: no part named (valley, xstart, fc, f1, gap)";
            return false;
        }
    }
    out = r;
    return true;
}

std::string refine_text(const inversion::RefineOptions& r) {
    if (r.valley && r.xstart && r.scaled_fc && r.f1_roots && r.gap) return "all";
    return refine_list(r);
}

std::string refine_list(const inversion::RefineOptions& r) {
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
    add(r.gap, "gap");
    return s;
}

namespace {

bool parse_int32(const std::string& s, int32_t& v) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long x = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || x < INT32_MIN || x > INT32_MAX) return false;
    v = static_cast<int32_t>(x);
    return true;
}

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
    // The text is made by the caller (version_text), which looks up the data directory.
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
    app.add_option_function<std::string>(
           "--shape-fit", [&opt](const std::string& v) { opt.shape_fast = v == "fast"; },
           "how B0, B1 and D1 are fitted: search (default, the\n"
           "coordinate search) or fast (a least-squares fit, many\n"
           "times faster, misfit no larger; values may differ by a\n"
           "fraction of the search's steps)")
        ->type_name("HOW")
        ->check(CLI::Validator(
            [](std::string& v) {
                return v == "search" || v == "fast" ? std::string()
                                                    : "needs search or fast (got '" + v + "')";
            },
            ""));
    app.add_option("--summary", opt.summary,
                   "one row per record (file, record, station, time, status,\n"
                   "foE, hmE, foF1, hmF1, foF2, hmF2, HHALF, YF2, B0, B1, D1,\n"
                   "TEC, ...) as CSV (FILE.csv) or JSON Lines (FILE.jsonl)")
        ->type_name("FILE")
        ->check(CLI::Validator(
            [](std::string& v) {
                bool jsonl = false;
                std::string why;
                return Summary::format_of(v, jsonl, why) ? std::string() : why;
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
           "--format", [&opt](const std::string& v) { parse_format(v, opt.format); },
           "input format: vxo (default), standard (the Standard\n"
           "text format) or other (converted to the Standard format\n"
           "by the program of --converter)")
        ->type_name("FMT")
        ->check(CLI::Validator(
            [](std::string& v) {
                InputFormat f{};
                return parse_format(v, f) ? std::string()
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
               ");\na single file has its records made on N threads; the\noutputs, summary and messages are the same as with 1")
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
            parse_refine("all", opt.refine, why);
        },
        "the refined inversion: the valley fitted to the O trace at\n"
        "the foot of the F layer and to the X trace, the peaks at\n"
        "the scaled critical frequencies, an F1 layer rejected for\n"
        "its roots solved with the F2 layer, a gap-mode order that\n"
        "turns at the foot of the layer retried with the slope\n"
        "there held. A record it cannot invert gets the standard\n"
        "result. The summary gains the column mode");
    app.add_option_function<std::string>(
           "--refine-parts",
           [&opt](const std::string& v) {
               std::string why;
               parse_refine(v, opt.refine, why);
           },
           "the refined inversion with only the parts named\n"
           "(comma-separated): valley, xstart, fc, f1, gap")
        ->type_name("LIST")
        ->check(CLI::Validator(
            [](std::string& v) {
                inversion::RefineOptions r;
                std::string why;
                return parse_refine(v, r, why) ? std::string() : why;
            },
            ""));
    app.add_option("--merge-summaries", opt.merge,
                   "merge the summaries given as inputs, in their order,\n"
                   "into OUT (.csv or .jsonl); nothing is inverted")
        ->type_name("OUT");
}

}  // namespace

std::string batch_usage() {
    BatchOptions opt;
    CLI::App app;
    BATCH_CLI(app, opt);
    return app.help();
}

bool parse_batch(int argc, const char* const* argv, BatchOptions& opt, std::string& error) {
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
        if (const std::string why = check_converter(opt.converter); !why.empty()) {
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

int print_usage_error(std::ostream& err, const std::string& text) {
    err << PROGNAME << ": " << text << "\n" << "Try '" << PROGNAME << " --help'.\n";
    return 2;
}

}  // namespace zelk::driver

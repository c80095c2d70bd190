// The batch program, along its jobs: the command line (batch_cli.cpp), the input files and
// their outputs and shards (inputs.cpp), and the run over them with the summary, the progress
// display and the ordered worker pool (batch.cpp, pool.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <sys/types.h>
#include <memory>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/plot_hooks.hpp"
#include "driver/convert.hpp"
#include "driver/run.hpp"
#include "inversion/inversion.hpp"

namespace zelk::driver {

struct BatchOptions {
    std::vector<std::string> inputs;   // files, directories or patterns as given
    std::string output;                // -o: "" or "NONE" for no output
    float hstep = 0.0f;                // N(h) table height step (km), 0: no table
    float qpacc = 0.0f;                // quasi-parabolic fit accuracy, 0: no fit
    bool shape_fast = false;           // --shape-fit fast: B0, B1, D1 by the fast fit
    int16_t debug = 1;                 // IDEBUG
    bool inspect = false;              // list the records instead of inverting them
    std::string summary;               // --summary FILE (.csv or .jsonl), "" for none
    std::string report;                // --report FILE.html: the run report, "" for none
    int32_t jobs = 1;                  // files processed in parallel
    int32_t shard = 0, shards = 0;     // --shard I/N: slice I of N; 0/0 for the whole list
    std::string plots;                 // --plots DIR: pictures of the records, "" for none
    std::string plot_format = "png";   // --plot-format png, svg or pdf
    bool plot_data = false;            // --plot-data: the plot data files into DIR as well
    bool shard_auto = false;           // --shard auto: I/N from the Slurm array task (shard.hpp)
    bool skip_existing = false;        // leave out files whose output is complete (kept_rows.hpp)
    std::string merge;                 // --merge-summaries OUT: merge the inputs into OUT
    bool help = false;
    bool version = false;              // --version: print the version text and stop
    InputFormat format = InputFormat::VXO;          // --format vxo|standard|other
    std::string converter;                          // --converter PROG (format other)
    double converter_timeout = CONVERTER_TIMEOUT;   // --converter-timeout S (0: no limit)
    inversion::RefineOptions refine;                // --refine, --refine-parts: the parts in use
};

// The parts of the refined mode named by "all" (--refine) or by the comma-separated list of
// --refine-parts (valley, xstart, fc, f1, gap). False with a message for an unknown part or an
// empty list.
bool parse_refine(const std::string& text, inversion::RefineOptions& out, std::string& why);
// The parts in use as "all" or a list for --refine-parts ("" for the standard mode).
std::string refine_text(const inversion::RefineOptions& r);
// The parts in use as a list for --refine-parts, never "all" ("" for the standard mode).
std::string refine_list(const inversion::RefineOptions& r);

// Name of the program in its messages.
static constexpr const char* PROGNAME = "zelk-batch";

// Most files processed in parallel (--jobs).
static constexpr int32_t MAXJOBS = 64;

// The --help text.
std::string batch_usage();

// Writes a usage error (the message and the pointer to --help) to err; returns exit status 2.
int print_usage_error(std::ostream& err, const std::string& text);

// Reads the command line (argv[1..argc-1]). Returns false with a message in error for a
// usage error (unknown option, missing or malformed value, no input, --format other without
// --converter, a converter that is not an executable file, --converter with another format).
bool parse_batch(int argc, const char* const* argv, BatchOptions& opt, std::string& error);

// Expands the inputs into the list of files, in order: a file as named; a directory gives
// its regular files sorted by name; a pattern (* and ? in the file name) the matching
// regular files of its directory sorted by name. Directories and patterns leave out hidden
// and empty files and the outputs of earlier runs (.430, .ARP) and programs (.EXE).
// several is set when the inputs call for an output directory (more than one file, or a
// directory or pattern among them). A named file that does not exist is kept (the run
// reports that it cannot be opened). Returns false with a message for a pattern or
// directory without input files, a wildcard in a directory name, or a named path that is
// neither a file nor a directory.
bool expand_inputs(const std::vector<std::string>& inputs, std::vector<std::string>& files,
                   bool& several, std::string& error);

// Pairs each file with its output: none for "" or NONE; the output file for one input; in
// an output directory <input name>.430 otherwise. Refuses (false, message in error), before
// anything is written, an output that is one of the inputs and two inputs that would write
// the same output. Does not create anything.
bool batch_jobs(const std::vector<std::string>& files, bool several, const std::string& output,
                std::vector<FileJob>& jobs, bool& outdir, std::string& error);

// The files of slice I (1..N) of a list of count files: the half-open range [begin, end)
// of the I-th of N contiguous slices whose sizes differ by one at most. The slices of
// I = 1..N cover the list once.
std::pair<size_t, size_t> shard_slice(size_t count, int32_t I, int32_t N);

// The files of --shard I/N: the list sorted and without repeated names, then its slice I,
// so that runs given the same inputs in any order split them the same way.
std::vector<std::string> shard_files(std::vector<std::string> files, int32_t I, int32_t N);

// Identities (device, inode) of existing files, to recognise a file under any of its names.
using FileIds = std::set<std::pair<dev_t, ino_t>>;
FileIds file_ids(const std::vector<std::string>& files);
// True when path names an existing file among ids.
bool is_one_of(const std::string& path, const FileIds& ids);

// The pictures of one input file's records, drawn while the file is run: the plot hooks
// draw the record, and when its inversion is complete the picture is written.
class FilePictures {
public:
    virtual ~FilePictures() = default;
    // The hooks the run context draws through.
    virtual PlotHooks& hooks() = 0;
    // The record RECNO of the file has been inverted (and drawn).
    virtual void record_done(int32_t RECNO) = 0;
    // The file has ended: writes what is still open. False with the first message of a
    // picture or plot data file that could not be written.
    virtual bool finish(std::string& error) = 0;
};
// Makes the pictures of one file of the run (in the directory and format of the options).
using PicturesFactory = std::function<std::unique_ptr<FilePictures>(const BatchOptions&, const FileJob&)>;

// Makes the record steps of one worker of the run.
using StepsFactory = std::function<std::unique_ptr<RecordSteps>()>;

// Runs the jobs of the options, each file with a run context of its own (so that its
// results do not depend on the files before it, nor on how the files are shared out among
// workers or shards), on opt.jobs workers, each with record steps made by make_steps.
// Messages to err, diagnostics to diag; both, and the summary rows, come in file order
// (then record order) whatever the number of workers. Returns the exit status: 0 when at
// least one record reached the inversion (or the shard holds no file), 1 when none did, 2
// for a usage error found while preparing the run, 3 when a model data file is missing or
// malformed (no file after the one that met it is started), 4 when an output file, the
// summary or a picture could not be written (the other outputs are complete), 5 when the
// conversion program could not be started or failed (messages 22 and 23; the files before
// it are complete, no later file is started, no summary is left). With --plots, pictures
// makes each file's pictures; a run given --plots without it is a usage error (a program
// built without pictures).
int batch_run(const BatchOptions& opt, const StepsFactory& make_steps, std::ostream& diag,
              std::ostream& err, bool progress, const PicturesFactory& pictures = {});

}  // namespace zelk::driver

// The run mode of the batch program: its options, the list of input files built in memory
// from files, directories and patterns, the output names, and the run over them with the
// summary and the progress display.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "driver/run.hpp"

namespace zelk::driver {

struct BatchOptions {
    std::vector<std::string> inputs;   // files, directories or patterns as given
    std::string output;                // -o: "" or "NONE" for no output
    float hstep = 0.0f;                // N(h) table height step (km), 0: no table
    float qpacc = 0.0f;                // quasi-parabolic fit accuracy, 0: no fit
    int16_t debug = 1;                 // IDEBUG
    bool inspect = false;              // list the records instead of inverting them
    std::string summary;               // --summary FILE (.csv or .jsonl), "" for none
    bool help = false;
};

// The --help text.
const char* BATCH_USAGE();

// Reads the command line (argv[1..argc-1]). Returns false with a message in error for a
// usage error (unknown option, missing or malformed value, no input).
bool PARSE_BATCH(int argc, const char* const* argv, BatchOptions& opt, std::string& error);

// Expands the inputs into the list of files, in order: a file as named; a directory gives
// its regular files sorted by name; a pattern (* and ? in the file name) the matching
// regular files of its directory sorted by name. Directories and patterns leave out hidden
// and empty files and the outputs of earlier runs (.430, .ARP) and programs (.EXE).
// several is set when the inputs call for an output directory (more than one file, or a
// directory or pattern among them). A named file that does not exist is kept (the run
// reports that it cannot be opened). Returns false with a message for a pattern or
// directory without input files, a wildcard in a directory name, or a named path that is
// neither a file nor a directory.
bool EXPAND_INPUTS(const std::vector<std::string>& inputs, std::vector<std::string>& files,
                   bool& several, std::string& error);

// Pairs each file with its output: none for "" or NONE; the output file for one input; in
// an output directory <input name>.430 otherwise. Refuses (false, message in error), before
// anything is written, an output that is one of the inputs and two inputs that would write
// the same output. Does not create anything.
bool BATCH_JOBS(const std::vector<std::string>& files, bool several, const std::string& output,
                std::vector<FileJob>& jobs, bool& outdir, std::string& error);

// Runs the jobs of the options with the given record steps; messages to err, diagnostics
// to diag. Returns the exit status: 0 when at least one record reached the inversion, 1
// when none did, 2 for a usage error found while preparing the run, 3 when a model data
// file is missing or malformed, 4 when an output file or the summary could not be written
// (the other outputs are complete).
int BATCH_RUN(const BatchOptions& opt, RecordSteps& steps, std::ostream& diag, std::ostream& err,
              bool progress);

}  // namespace zelk::driver

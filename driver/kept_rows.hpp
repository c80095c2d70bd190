// --skip-existing: the summary rows of a written output, kept beside it so that a later run
// that skips the file (its output being complete) can still put the file's rows into its
// summary, in their place, byte for byte as a run that processed the file would.
//
// The rows of the output DIR/NAME.430 are kept in the hidden file DIR/.NAME.430.rows,
// together with what they were made from: the input as named, its size and modification
// time, the output's size and modification time, the settings that shape the output and
// the summary format. A file counts as complete only when all of these still match and
// the output reads back whole, so that a changed input, an output rewritten by another run
// or rows of another format lead to the file being processed again. A run without a
// summary takes kept rows of any format (it needs none of them).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "driver/run.hpp"

namespace zelk::driver {

struct KeptRows {
    std::string rows;      // summary rows, in the format of the run's summary ("" for none)
    int32_t n = 0;         // their number (of the kept rows, also when none are wanted)
    int32_t records = 0;   // records of the output
};

// The file that keeps the rows of an output.
std::string kept_rows_path(const std::string& output);

// Keeps the rows (format "csv", "jsonl" or "none") made for job, whose output has just been
// completed with settings; the file is written under a temporary name and renamed when
// complete. False, with the reason in why, when it could not be written (the file will
// then be processed again by a later run).
bool keep_rows(const FileJob& job, const std::string& settings, const std::string& format,
               const std::string& rows, int32_t n, std::string& why);

// The kept rows of job when its output is complete for these settings and format (see
// above); nothing otherwise.
std::optional<KeptRows> complete_output(const FileJob& job, const std::string& settings,
                                        const std::string& format);

// Removes the kept rows of an output, before the output is written again.
void forget_rows(const std::string& output);

}  // namespace zelk::driver

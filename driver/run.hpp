// The run loop shared by the interactive and the batch program: the file loop, the record
// loop, the end of a file and the end of the run.
//
// The loop does not know where its job came from. The interactive program builds the list
// of files from INFILE, OUTFILE and FILELIST.TMP (jobs_from_settings); the batch program
// builds it in memory from its command line. Everything the loop needs from the user
// interface (conversion, dialogs, messages) goes through Frontend, whose defaults are the
// headless behaviour; the record steps (read, invert, write) go through RecordSteps so that
// the flow can be exercised on its own.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>
#include <utility>

#include "driver/convert.hpp"

namespace zelk {
struct Zelk;
}

namespace zelk::driver {

// One input file of the run and the output file its records go to ("" for no output).
struct FileJob {
    std::string input;
    std::string output;
};

// Where a record stands when the front end hears of it.
struct RecordInfo {
    const FileJob* job = nullptr;
    int32_t RECNO = 0;      // ordinal of the record in its file (bad records counted)
    int32_t NRECS = 0;      // records handed to the inversion so far in the run
    double fraction = 0.0;  // part of the run's input read so far, 0..1 (by bytes)
};

// What happened to one file.
struct FileOutcome {
    int32_t read = 0;        // records read whole
    int32_t inverted = 0;    // records handed to the inversion
    int32_t written = 0;     // records written to the output
    int32_t unwritable = 0;  // records that reached the output but could not be written
    int32_t bad = 0;         // records refused by the reader or cut by the end of the file
    int16_t ended_by = 0;    // PrepStatus of the record that ended the file, 0 if none
    int32_t ended_at = 0;    // its ordinal
    bool opened = false;     // the input could be opened
    bool no_output = false;  // the output could not be created (the input was not read)
    bool output_kept = false;
    // The first KEPT bad records: their ordinal, and where and why they were refused
    // (" at line 134: group 7 does not decode"); `noted` counts them all (damaged records
    // passed over together count once).
    static constexpr size_t KEPT = 5;
    std::vector<std::pair<int32_t, std::string>> refused;
    size_t noted = 0;
};

// The notices about a file that every front end gives in words: its bad records (the first
// few by ordinal and place) and the record that ended it, if any.
std::vector<std::string> file_notices(const std::string& input, const FileOutcome& fo);

// The user-interface side of the run. The defaults do what a headless run does.
class Frontend {
public:
    virtual ~Frontend() = default;
    // Converts a non-VXO input into a temporary VXO file. Returns its path, "" when nothing
    // could be converted, or "PROGRAM FOR CONVERSION NOT EXECUTABLE" / "BAD PROGRAM FOR
    // CONVERSION". The default converts through `conversion` and passes its notices on.
    virtual std::string NONVXO_VXO(const std::string& PROG, const std::string& path, bool NOCONV);
    // The output file exists: returns the path to write; the same path overwrites it.
    virtual std::string DODIALOG4(const std::string& path) { return path; }
    // Numbered message of the dialogs (22 and 23: conversion program failures).
    virtual void DODIALOG3(int /*code*/) {}
    // Message box with a title and a text (the end-of-run "WARNING").
    virtual void message_box(const std::string& /*title*/, const std::string& /*text*/) {}
    // Clears the graphics window before a message of the end of the run.
    virtual void clear_window() {}
    // Plain-language notices about files and records, for the user.
    virtual void notice(const std::string& /*text*/) {}
    // A file is about to be processed (input size in bytes, for progress).
    virtual void file_start(const FileJob& /*job*/) {}
    // A file has ended.
    virtual void file_done(const FileJob& /*job*/, const FileOutcome& /*outcome*/) {}
    // A record went through the inversion (and was written when there is an output).
    virtual void record_done(const Zelk& /*z*/, const RecordInfo& /*info*/) {}

    // The conversion of non-VXO input (its time limit for a converter, its private
    // directory, which lives until the next conversion or the end of the front end).
    Conversion conversion;
};

// The record steps of the loop: the input unit, reading, inverting and writing. The
// program's own are VxoSteps (READVXO, PROFIL1, the record update and WRITVXO); tests
// supply their own to exercise the flow.
class RecordSteps {
public:
    virtual ~RecordSteps() = default;
    // Opens an input file as the input unit; false when it cannot be opened.
    virtual bool open(const std::string& path) = 0;
    // Reads the next record of the input unit into z.rec: IEOF -1 at the end, LREAD 1 when
    // a whole record was read, LBAD 1 for a record that cannot be used.
    virtual void read(Zelk& z, int32_t& IEOF, int16_t& LREAD, int16_t& LBAD) = 0;
    // Bytes of the input unit consumed so far.
    virtual long long position() const = 0;
    // Where the record last read began and, when it was refused or cut, why
    // ("line 134: group 7 does not decode"); "" when the steps cannot tell.
    virtual std::string refusal() const { return {}; }
    // Damaged records the reader passed over after the refused record it last reported,
    // and the line of the first of them.
    virtual int passed_over(long& /*first_line*/) const { return 0; }
    // Closes the input unit.
    virtual void close() = 0;
    // Inverts the prepared record.
    virtual void invert(Zelk& z) = 0;
    // Makes what the inversion of a context that ran ahead (Zelk::ahead) left to the
    // record's own copy of it; nothing for steps whose inversion leaves nothing.
    virtual void make_left(Zelk& /*z*/) {}
    // Puts the results into the record and writes it to out.
    virtual void write(std::ostream& out, Zelk& z) = 0;
    // What the last write has to say: values its output could not hold, written as missing
    // ("group 4 value 3 (1e+38)"), and, when the record could not be written at all (and
    // nothing of it was), why.
    struct WriteReport {
        std::vector<std::string> missing;
        std::string unusable;
    };
    virtual WriteReport write_report() const { return {}; }
    // Steps that invert and write records on another thread while these read the file
    // (never open, read or close); nullptr when the records of a file cannot be made apart.
    virtual std::unique_ptr<RecordSteps> record_worker() const { return nullptr; }
};

// Outcome of a run.
struct RunOutcome {
    int32_t NRECS = 0;     // records handed to the inversion
    int32_t files = 0;     // files attempted
    int32_t written = 0;   // records written in all outputs
    int32_t bad = 0;       // bad records skipped
    int32_t unwritten = 0; // outputs refused, not creatable or not completed
    int32_t no_output = 0; // files not read because their output could not be created
    int16_t fatal = 0;     // 22 or 23 when a conversion program failure ended the run
};

// Clears the per-record trace tables and running values before a record is read, and the
// record's profile edit flags, so that a record without them does not inherit them.
void clear_record_tables(Zelk& z);

// Runs the loop over the jobs with the settings in z.run (FMTVXO, NOCONV, PROG, HSTEP,
// QPACC, record_jobs). With record_jobs above 1, no display and steps that have a
// record_worker, the records of a file are made on that many threads: this thread reads the
// records in order and carries the run's state from record to record in z (run ahead, see
// Zelk::ahead), each record is made in a copy of the context as it stood before its
// inversion, and the records' outputs, diagnostics, notices and summary rows are taken up in
// file order, byte for byte as with one thread. With stop_on_failure (a single non-wildcard input), an input that cannot be
// opened or converted ends the run, as in the interactive program; otherwise the loop
// goes on with the next file. Ends with the "WARNING" box when no record reached the
// inversion. Model data-file failures (zelk::Stop) propagate to the caller, after the
// temporary output of the current file has been removed.
RunOutcome run_files(Zelk& z, const std::vector<FileJob>& jobs, Frontend& fe, RecordSteps& steps,
                     bool stop_on_failure);

// The interactive program's job: the files of INFILE (or, for a wildcard, the names listed
// in the file list, one per line, blank lines skipped) and their outputs (OUTFILE, or for
// a wildcard the output directory + name + output extension). LWILD is set true for a
// wildcard. Returns false when the file list of a wildcard cannot be read.
bool jobs_from_settings(const std::string& INFILE, const std::string& OUTFILE,
                        const std::string& filelist, std::vector<FileJob>& jobs, bool& LWILD);

// The interactive program's run of the settings in z.run: the jobs of jobs_from_settings
// (a single input ends the run when it cannot be opened or converted), then, for a
// wildcard, the file list is deleted. A wildcard whose file list cannot be read runs
// nothing and ends with the "WARNING" box.
RunOutcome main_run(Zelk& z, Frontend& fe, RecordSteps& steps, const std::string& filelist);

// True when the two paths name the same existing file.
bool same_file(const std::string& a, const std::string& b);

}  // namespace zelk::driver

// The per-record summary of a batch run: one row per record that went through the
// inversion, as CSV (header line, empty fields for missing values) or JSON Lines (one
// object per line, null for missing values). Values marked 9999 in the data areas are
// never written as numbers.
//
// Beside a completed summary FILE goes FILE.version, the --version text of the program that
// wrote it (program version, source revision, data directory). The summary itself stays a
// plain table whose first line is the header (CSV) or a record (JSON Lines), as every reader
// of it expects; a comment line in it would be taken for the header or a row.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace zelk {
struct Zelk;
}

namespace zelk::pipeline {
struct RecordResult;
}

namespace zelk::driver {

class PendingOutput;

// Words for an inversion status ISTAT.
const char* istat_text(int16_t ISTAT);

// A JSON string with control and non-ASCII bytes escaped; in_script also escapes "<", ">"
// and "&", so that the text is safe inside an HTML script element.
std::string json_text(const std::string& s, bool in_script = false);

// A summary format: the file extension that chooses it, its header (none: nullptr) and the
// row of one record's result.
struct SummaryWriter {
    const char* name;
    void (*header)(std::ostream&);
    void (*row)(std::ostream&, const pipeline::RecordResult&, const std::string& file, int32_t RECNO);
};

class Summary {
public:
    Summary();
    ~Summary();
    Summary(const Summary&) = delete;
    Summary& operator=(const Summary&) = delete;

    // Chooses the format from the extension (.csv or .jsonl, any case); false for another
    // extension, with the reason in why.
    static bool format_of(const std::string& path, bool& jsonl, std::string& why);
    // The writer the extension of path names; nullptr, with the reason in why, for none.
    static const SummaryWriter* writer_of(const std::string& path, std::string& why);
    // The header line of a CSV summary (the column names), without its line end; with_mode:
    // that of a refined run, with the column mode last.
    static std::string csv_header_line(bool with_mode = false);
    // Rows of a refined run: the CSV header gets the column mode (set before open; the rows
    // carry it from the record result).
    void set_mode_column(bool on) { mode_column_ = on; }
    // Sets the format of rows made with the row that writes to a stream, for a summary that
    // is not written to a file (the Python module parses JSON rows).
    void set_format(bool jsonl);
    // Starts the summary file (written under a temporary name until close).
    bool open(const std::string& path, std::string& why);
    // One row for the record in z, read from file as its record number RECNO.
    void row(const Zelk& z, const std::string& file, int32_t RECNO);
    // The same row, in the format of this summary, written to os instead (rows made apart
    // from the file, to be appended later in order).
    void row(std::ostream& os, const Zelk& z, const std::string& file, int32_t RECNO) const;
    // Appends rows made with the row above; n is their number.
    void append(const std::string& rows, int32_t n);
    // The path of the version file of the summary at path.
    static std::string version_path(const std::string& path);
    // Completes the file and its version file; false (and neither left new) when they could
    // not be written.
    bool close(std::string& why);
    int32_t rows() const { return rows_; }

private:
    std::unique_ptr<PendingOutput> out_;
    std::string path_;
    const SummaryWriter* writer_ = nullptr;
    int32_t rows_ = 0;
    bool mode_column_ = false;
};

}  // namespace zelk::driver

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

#include <array>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace zelk {
struct Zelk;
}

namespace zelk::driver {

class PendingOutput;

// Words for an inversion status ISTAT.
const char* ISTAT_TEXT(int16_t ISTAT);

// One characteristic of a summary row: present or missing, with the decimals it is written
// with.
// A JSON string with control and non-ASCII bytes escaped; in_script also escapes "<", ">"
// and "&", so that the text is safe inside an HTML script element.
std::string json_text(const std::string& s, bool in_script = false);

struct RecordValue {
    bool present = false;
    double v = 0.0;
    int decimals = 3;
};
// The characteristics of a row, in column order: foE, hmE, foF1, hmF1, foF2, hmF2, hhalf,
// yF2, B0, B1, D1, TEC, H_top.
static constexpr int NRECORDVALUES = 13;
extern const char* const RECORD_VALUE_NAMES[NRECORDVALUES];
// The characteristics the output record of the record in z carries (the summary's values).
std::array<RecordValue, NRECORDVALUES> RECORD_VALUES(const Zelk& z);

class Summary {
public:
    Summary();
    ~Summary();
    Summary(const Summary&) = delete;
    Summary& operator=(const Summary&) = delete;

    // Chooses the format from the extension (.csv or .jsonl, any case); false for another
    // extension, with the reason in why.
    static bool FORMAT_OF(const std::string& path, bool& jsonl, std::string& why);
    // The header line of a CSV summary (the column names), without its line end.
    static std::string CSV_HEADER();
    // Sets the format of rows made with the ROW that writes to a stream, for a summary that
    // is not written to a file (the Python module parses JSON rows).
    void SET_FORMAT(bool jsonl) { jsonl_ = jsonl; }
    // Starts the summary file (written under a temporary name until CLOSE).
    bool OPEN(const std::string& path, std::string& why);
    // One row for the record in z, read from file as its record number RECNO.
    void ROW(const Zelk& z, const std::string& file, int32_t RECNO);
    // The same row, in the format of this summary, written to os instead (rows made apart
    // from the file, to be appended later in order).
    void ROW(std::ostream& os, const Zelk& z, const std::string& file, int32_t RECNO) const;
    // Appends rows made with the ROW above; n is their number.
    void APPEND(const std::string& rows, int32_t n);
    // The path of the version file of the summary at path.
    static std::string VERSION_PATH(const std::string& path);
    // Completes the file and its version file; false (and neither left new) when they could
    // not be written.
    bool CLOSE(std::string& why);
    int32_t rows() const { return rows_; }

private:
    std::unique_ptr<PendingOutput> out_;
    std::string path_;
    bool jsonl_ = false;
    int32_t rows_ = 0;
};

}  // namespace zelk::driver

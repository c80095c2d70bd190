// Fortran-style formatted text I/O: every text file of the program is read and written
// through this module.
//
// A format text such as "(40I3)", "(15F8.3)", "(10E11.6E1)", "(120A1)" or "(A120)" is parsed
// once into a FortranFormat: the fields of one line with their columns. A group of N values
// is then read or written over ceil(N/k) lines (k value fields per line, the last line short;
// a group of 0 values is one empty line, as a formatted transfer of an empty list).
//
// Input rules:
//  - blanks inside a field are ignored; a field that is all blanks (or lies beyond the end of
//    a short line) reads as zero;
//  - a real without a decimal point takes the d implied decimals of its descriptor;
//  - F and E descriptors accept each other's forms (exponent letter E, D, or none before a
//    signed exponent: "1.5-3");
//  - anything else (a letter in a numeric field, a sign or point without digits, NaN,
//    infinities, a value beyond the range of the variable) is a decode error, never a zero.
//    Values below the smallest subnormal read as zero of the same sign.
// Output is what a Fortran compiler writes for the descriptor: correctly rounded decimals
// (halves to even on the exact binary value), "0." dropped before the point when the field is
// too narrow for it, a minus sign on negative values that round to zero, E fields as
// 0.ddddE+x and ES fields as d.dddE+x with the exponent in e digits (or E+xx / +xxx without
// Ee), and a field of asterisks when the value does not fit.
//
// Supported edit descriptors: Iw, Iw.m, Fw.d, Ew.d, Ew.dEe, ESw.d, ESw.dEe, Aw, A, nX, with repeat
// counts and parenthesised groups ("(1X,2(I3,F8.3))"). One pass through the format is one line.
//
// List-directed input (read_list) takes values separated by blanks, tabs or commas over as
// many lines as needed, each decoded as a real field without implied decimals; repeat counts
// ("3*1.0"), null values and the slash are not accepted (decode error).
#pragma once

#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace zelk::fio {

// Outcome of a formatted transfer, as the IOSTAT of a read: OK, end of file, decode error.
enum class IoStat : int8_t { OK = 0, END = -1, BAD = 1 };

// One value field of a line.
struct EditField {
    char kind = 'I';      // 'I', 'F', 'E', 'S' (for ES) or 'A'
    int16_t col = 0;      // first column of the field on its line (0-based)
    int16_t w = 0;        // width in characters; for 'A' 0 means the length of the item
    int16_t d = 0;        // decimals ('F', 'S'), mantissa digits ('E'), least digits ('I')
    int16_t e = 0;        // exponent digits of an Ew.dEe or ESw.dEe descriptor; 0 when not given
};

class FortranFormat {
public:
    // Longest line a format may describe (characters), and most value fields per line.
    static constexpr int MAX_WIDTH = 1024;
    static constexpr int MAX_FIELDS = 512;

    FortranFormat() = default;
    // Parses the format text; ok() tells whether it was accepted. A format that is not
    // accepted makes every transfer through it a decode error.
    explicit FortranFormat(std::string_view text);

    bool ok() const { return ok_; }
    int per_line() const { return static_cast<int>(fields_.size()); }
    const EditField& field(int j) const { return fields_[static_cast<size_t>(j)]; }
    const std::string& text() const { return text_; }

private:
    std::vector<EditField> fields_;
    std::string text_;
    bool ok_ = false;
};

// Reads a text file, or a text held in memory, line by line. Lines end with LF or CR LF;
// a last line without terminator counts. A line longer than MAX_LINE characters is cut to
// MAX_LINE (the rest of it is skipped), so no input can make the reader grow without bound.
class LineReader {
public:
    static constexpr size_t MAX_LINE = 4096;

    LineReader() = default;
    explicit LineReader(std::string_view text) : mem_(text), mem_all_(text), in_memory_(true) {}
    // Reads from an open stream (not owned), through the same block buffer as a file.
    explicit LineReader(std::istream& is);
    ~LineReader() { close(); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Opens a file for buffered reading; false when it cannot be opened.
    bool open(const std::string& path);
    void close();
    bool is_open() const { return in_memory_ || fp_ != nullptr || is_ != nullptr; }

    // Next line without its terminator; false at the end of the input. The view stays
    // valid until the next call.
    bool next(std::string_view& line);
    // Number of lines delivered so far, and of bytes consumed (terminators included).
    long lines_read() const { return nlines_; }
    long long bytes_read() const { return nbytes_; }
    // True when reading the file or stream failed (as opposed to ending).
    bool failed() const { return failed_; }

    // A place in the input, at the start of a line, to come back to with seek().
    struct Mark {
        long long bytes = 0;
        long lines = 0;
        bool skip_rest = false;   // the place is inside an overlong line whose rest is skipped
    };
    Mark mark() const { return {nbytes_, nlines_, skip_rest_}; }
    // Goes back (or forward) to a place taken with mark(). False, with the position left as
    // it was, when the input cannot be repositioned (a stream that does not seek).
    bool seek(const Mark& m);

private:
    bool fill();

    std::FILE* fp_ = nullptr;
    std::istream* is_ = nullptr;
    std::vector<char> buf_;
    size_t pos_ = 0, end_ = 0;
    bool eof_ = false, skip_rest_ = false, failed_ = false;
    std::string_view mem_;
    std::string_view mem_all_;
    bool in_memory_ = false;
    long nlines_ = 0;
    long long nbytes_ = 0;
};

// Collects output lines in memory and passes them to a file in large blocks. Without a
// file, text() holds everything written.
class LineWriter {
public:
    LineWriter() = default;
    ~LineWriter() { close(); }
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // Creates (truncates) the file; false when it cannot be opened.
    bool open(const std::string& path);
    // Writes to an open stream (not owned) instead of a file.
    explicit LineWriter(std::ostream& os) : os_(&os) {}
    // Writes what is pending and closes; false when any write to the file failed.
    bool close();

    // The pending text, to which the writers append whole lines.
    std::string& out() { return buf_; }
    const std::string& text() const { return buf_; }
    // Passes the pending text to the file once it exceeds the block size.
    void commit() {
        if ((fp_ != nullptr || os_ != nullptr) && buf_.size() >= BLOCK) flush();
    }
    bool failed() const { return failed_; }

private:
    static constexpr size_t BLOCK = 1 << 16;
    void flush();

    std::FILE* fp_ = nullptr;
    std::ostream* os_ = nullptr;
    std::string buf_;
    bool failed_ = false;
};

// Decodes values 0..cnt-1 of one line from fields 0..cnt-1 (cnt <= per_line()).
IoStat decode_line(std::string_view line, const FortranFormat& f, int32_t* v, int cnt);
IoStat decode_line(std::string_view line, const FortranFormat& f, float* v, int cnt);
IoStat decode_line(std::string_view line, const FortranFormat& f, double* v, int cnt);
// Character items of len characters each (A fields).
IoStat decode_line(std::string_view line, const FortranFormat& f, char* v, int len, int cnt);

// True when the field fd of the line is all blanks (or lies beyond the end of the line), that
// is, when it reads as zero without holding a zero.
bool blank_field(std::string_view line, const EditField& fd);

// Reads a group of n values v[0..n-1] over ceil(n/k) lines (one line when n is 0).
// END when the input ends before the last line, BAD on a decode error (the input is then
// positioned after the failing line).
IoStat read_group(LineReader& in, const FortranFormat& f, int32_t* v, int n);
IoStat read_group(LineReader& in, const FortranFormat& f, float* v, int n);
IoStat read_group(LineReader& in, const FortranFormat& f, double* v, int n);
IoStat read_group(LineReader& in, const FortranFormat& f, char* v, int len, int n);

// Reads n values list-directed, starting on the next line and going on over further lines
// until n values are read; the rest of the last line is skipped. END when the input ends
// first (also when it ends before the first value), BAD on a value that is not a number.
IoStat read_list(LineReader& in, float* v, int n);
IoStat read_list(LineReader& in, double* v, int n);

// Appends a group of n values over ceil(n/k) lines, each ended by '\n' (one empty line when
// n is 0). Floats are written from their exact single-precision value.
void write_group(std::string& out, const FortranFormat& f, const int32_t* v, int n);
void write_group(std::string& out, const FortranFormat& f, const float* v, int n);
void write_group(std::string& out, const FortranFormat& f, const double* v, int n);
void write_group(std::string& out, const FortranFormat& f, const char* v, int len, int n);

// One line of cnt values (1 <= cnt <= per_line()) as write_group makes it, without the line
// terminator: for diagnostics that put formatted values after a label.
std::string edit_line(const FortranFormat& f, const int32_t* v, int cnt);
std::string edit_line(const FortranFormat& f, const float* v, int cnt);
std::string edit_line(const FortranFormat& f, const double* v, int cnt);

// One value under a one-field format text such as "(F8.3)" or "(I5)", as edit_line writes it:
// for diagnostics that put single values among labels.
std::string edit_value(std::string_view fmt, double v);
std::string edit_value(std::string_view fmt, int32_t v);

// Formats one value into dst[0..fd.w-1] (no terminator), for writers that build lines of
// mixed content. The field width must be at least 1.
void edit_int(char* dst, const EditField& fd, int64_t v);
void edit_real(char* dst, const EditField& fd, float v);
void edit_real(char* dst, const EditField& fd, double v);

}  // namespace zelk::fio

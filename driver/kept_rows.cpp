// Kept summary rows of written outputs, for --skip-existing.
#include "driver/kept_rows.hpp"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "driver/merge.hpp"
#include "driver/outfile.hpp"
#include "driver/summary.hpp"
#include "iondata/vxo.hpp"

namespace zelk::driver {

namespace fs = std::filesystem;

namespace {

static constexpr const char* MAGIC = "zelk-batch kept rows 1";

// "size mtime" of an existing file (the time in nanoseconds), "" when it does not exist.
std::string identity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    const long long ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return std::to_string(static_cast<long long>(st.st_size)) + ' ' + std::to_string(ns);
}

// The records of a VXO file when every one of them reads back whole, else -1.
int32_t whole_records(const std::string& path) {
    fio::LineReader in;
    if (!in.open(path)) return -1;
    auto rec = std::make_unique<iondata::IonogramRecord>();
    int32_t n = 0;
    for (;;) {
        int32_t IEOF = 0;
        int16_t LREAD = 0, LBAD = 0;
        const long long before = in.bytes_read();
        READVXO(IEOF, in, *rec, LREAD, LBAD);
        if (IEOF == -1 && LBAD == 1 && in.bytes_read() == before) break;   // the clean end
        if (LREAD != 1 || LBAD != 0) return -1;
        ++n;
        if (IEOF == -1) break;
    }
    return in.failed() ? -1 : n;
}

// The header lines of a kept-rows file, in order.
std::string header(const FileJob& job, const std::string& settings, const std::string& format, int32_t n) {
    std::ostringstream h;
    h << MAGIC << '\n'
      << "input " << job.input << '\n'
      << "input-file " << identity(job.input) << '\n'
      << "output-file " << identity(job.output) << '\n'
      << "settings " << settings << '\n'
      << "format " << format << '\n'
      << "rows " << n << '\n';
    return h.str();
}

}  // namespace

std::string kept_rows_path(const std::string& output) {
    const fs::path p(output);
    std::string name = ".";
    name += p.filename().string();
    name += ".rows";
    return (p.parent_path() / name).string();
}

bool keep_rows(const FileJob& job, const std::string& settings, const std::string& format,
               const std::string& rows, int32_t n, std::string& why) {
    if (job.input.find('\n') != std::string::npos || identity(job.output).empty()) {
        why = "no output or an input name with a line end";
        return false;
    }
    PendingOutput out(kept_rows_path(job.output));
    if (!out.open(why)) return false;
    out.os() << header(job, settings, format, n) << rows;
    return out.commit(why);
}

std::optional<KeptRows> complete_output(const FileJob& job, const std::string& settings,
                                        const std::string& format) {
    if (job.output.empty()) return std::nullopt;
    std::ifstream in(kept_rows_path(job.output), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    // The header must be the one this run would write for the file as it is now; a run
    // without a summary takes rows of any format, since it needs none of them.
    std::string line;
    std::istringstream hs(text);
    int32_t n = -1;
    std::string kept_format = format;
    for (int k = 0; k < 7 && std::getline(hs, line); ++k) {
        if (line.rfind("rows ", 0) == 0) n = static_cast<int32_t>(std::strtol(line.c_str() + 5, nullptr, 10));
        if (format == "none" && line.rfind("format ", 0) == 0) kept_format = line.substr(7);
    }
    if (n < 0) return std::nullopt;
    const std::string expect = header(job, settings, kept_format, n);
    if (text.compare(0, expect.size(), expect) != 0) return std::nullopt;
    KeptRows kept;
    kept.n = n;
    if (kept_format == "csv" || kept_format == "jsonl") {
        // The rows must be whole rows of that format, as many as the header says.
        std::string rows, why;
        long count = 0;
        const std::string body = text.substr(expect.size());
        // Rows of a refined run (its settings say so) have the column mode last.
        const bool refined = settings.find(" refine=") != std::string::npos;
        const std::string as_file =
            kept_format == "csv" ? Summary::csv_header_line(refined) + '\n' + body : body;
        if (!summary_rows(as_file, kept_format == "jsonl", rows, count, why) || count != n) {
            return std::nullopt;
        }
        if (format != "none") kept.rows = body;
    } else if (kept_format != "none" || expect.size() != text.size() || n != 0) {
        return std::nullopt;
    }
    kept.records = whole_records(job.output);
    if (kept.records < 1 || (kept_format != "none" && kept.records != n)) return std::nullopt;
    return kept;
}

void forget_rows(const std::string& output) {
    std::error_code ec;
    fs::remove(kept_rows_path(output), ec);
}

}  // namespace zelk::driver

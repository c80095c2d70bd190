// Merging of summaries.
#include "driver/merge.hpp"

#include <sys/stat.h>

#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <utility>

#include "driver/outfile.hpp"
#include "driver/summary.hpp"

namespace zelk::driver {

namespace {

static constexpr const char* PROGNAME = "zelk-batch";

// The number of fields of the CSV record that starts at text[at], which is moved past the
// record's line end; -1 for a record without a line end (a cut file) or with a quote that
// does not close.
long csv_record(const std::string& text, size_t& at) {
    long fields = 1;
    bool quoted = false;
    for (size_t i = at; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    ++i;
                } else {
                    quoted = false;
                }
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            ++fields;
        } else if (c == '\n') {
            at = i + 1;
            return fields;
        }
    }
    return -1;
}

long csv_fields(const std::string& line) {
    size_t at = 0;
    const std::string l = line + '\n';
    return csv_record(l, at);
}

bool read_file(const std::string& path, std::string& text, std::string& why) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        why = "missing";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "not a regular file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    if (in && st.st_size > 0) ss << in.rdbuf();
    if (!in || in.bad()) {
        why = "cannot be read";
        return false;
    }
    text = ss.str();
    return true;
}

}  // namespace

bool summary_rows(const std::string& text, bool jsonl, std::string& rows, long& n, std::string& why,
                  bool* with_mode) {
    n = 0;
    rows.clear();
    if (!text.empty() && text.back() != '\n') {
        why = "its last line is cut short";
        return false;
    }
    size_t at = 0;
    long line = 0;
    if (!jsonl) {
        // The header of a refined run's summary (the column mode last), else the standard one.
        const std::string refined = Summary::csv_header_line(true);
        const bool mode = text.compare(0, refined.size() + 1, refined + '\n') == 0;
        if (with_mode != nullptr) *with_mode = mode;
        const std::string header = mode ? refined : Summary::csv_header_line();
        if (text.compare(0, header.size(), header) != 0 || text.size() <= header.size() ||
            text[header.size()] != '\n') {
            why = "it does not start with the summary header";
            return false;
        }
        at = header.size() + 1;
        line = 1;
        const long ncol = csv_fields(header);
        const size_t first = at;
        while (at < text.size()) {
            ++line;
            if (csv_record(text, at) != ncol) {
                why = "row " + std::to_string(line) + " does not have the " + std::to_string(ncol) + " columns";
                return false;
            }
            ++n;
        }
        rows = text.substr(first);
        return true;
    }
    while (at < text.size()) {
        ++line;
        const size_t end = text.find('\n', at);
        if (end == at || text[at] != '{' || text[end - 1] != '}') {
            why = "line " + std::to_string(line) + " is not one JSON object";
            return false;
        }
        at = end + 1;
        ++n;
    }
    rows = text;
    return true;
}

int merge_summaries(const std::string& out, const std::vector<std::string>& ins, std::ostream& err) {
    bool jsonl = false;
    std::string why;
    if (!Summary::format_of(out, jsonl, why)) {
        err << PROGNAME << ": --merge-summaries " << out << ": " << why << "\nTry '" << PROGNAME << " --help'.\n";
        return 2;
    }
    if (ins.empty()) {
        err << PROGNAME << ": --merge-summaries needs the summaries to merge\nTry '" << PROGNAME << " --help'.\n";
        return 2;
    }
    struct stat so {};
    if (::stat(out.c_str(), &so) == 0) {
        for (const std::string& in : ins) {
            struct stat si {};
            if (::stat(in.c_str(), &si) == 0 && si.st_dev == so.st_dev && si.st_ino == so.st_ino) {
                err << PROGNAME << ": " << in << " is both merged and the merge's output; refused\nTry '"
                    << PROGNAME << " --help'.\n";
                return 2;
            }
        }
    }
    PendingOutput file(out);
    if (!file.open(why)) {
        err << PROGNAME << ": " << out << ": cannot be written (" << why << ")\n";
        return 4;
    }
    // A CSV merge takes its header, standard or with the column mode of a refined run, from
    // the first summary merged; a summary with the other header is left out.
    long total = 0;
    size_t merged = 0;
    bool first_mode = false;
    for (const std::string& in : ins) {
        std::string text, rows;
        long n = 0;
        bool mode = false;
        bool ok = read_file(in, text, why) && summary_rows(text, jsonl, rows, n, why, &mode);
        if (ok && !jsonl && merged > 0 && mode != first_mode) {
            why = mode ? "it has the column mode of a refined run, the first summary has not"
                       : "it lacks the column mode of a refined run that the first summary has";
            ok = false;
        }
        if (!ok) {
            err << PROGNAME << ": " << in << ": " << why << "; left out of " << out << '\n';
            continue;
        }
        if (!jsonl && merged == 0) {
            first_mode = mode;
            file.os() << Summary::csv_header_line(mode) << '\n';
        }
        file.os() << rows;
        total += n;
        ++merged;
    }
    if (!jsonl && merged == 0) file.os() << Summary::csv_header_line() << '\n';
    if (!file.commit(why)) {
        err << PROGNAME << ": " << out << ": could not be completed (" << why << ")\n";
        return 4;
    }
    err << PROGNAME << ": " << total << " row" << (total == 1 ? "" : "s") << " from " << merged << " of "
        << ins.size() << " summar" << (ins.size() == 1 ? "y" : "ies") << " merged into " << out << '\n';
    return merged == ins.size() ? 0 : 1;
}

}  // namespace zelk::driver

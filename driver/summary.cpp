// The per-record summary of a batch run.
#include "driver/summary.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <sstream>

#include "pipeline/zelk.hpp"
#include "driver/outfile.hpp"
#include "driver/version.hpp"
#include "pipeline/result.hpp"

namespace zelk::driver {

namespace {

using pipeline::RecordResult;
using pipeline::Value;

std::string csv_text(const std::string& s) {
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

std::string number(const Value& f) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*f", f.decimals, *f.v);
    return buf;
}

// CSV: a header line with the column names, then one line per record with empty fields for
// missing values.
void csv_header(std::ostream& os) {
    os << "file,record,station,station_code,time,istat,status";
    for (const char* name : RecordResult::CHAR_NAMES) os << ',' << name;
    os << ",n_qp,er_F2\n";
}

// The column mode of a refined run (which method made the record's result), last.
constexpr const char* MODE_COLUMN = ",mode";

void csv_row(std::ostream& os, const RecordResult& r, const std::string& file, int32_t RECNO) {
    os << csv_text(file) << ',' << RECNO << ',' << csv_text(r.station) << ',' << r.station_code
       << ',' << r.time << ',' << r.istat << ',' << csv_text(r.status);
    for (const Value& f : r.characteristic) os << ',' << (f.v ? number(f) : "");
    os << ',' << r.n_qp << ',' << (r.er_F2.v ? number(r.er_F2) : "");
    if (r.mode != nullptr) os << ',' << r.mode;
    os << '\n';
}

// JSON Lines: one object per record, null for missing values.
void jsonl_row(std::ostream& os, const RecordResult& r, const std::string& file, int32_t RECNO) {
    os << "{\"file\":" << json_text(file) << ",\"record\":" << RECNO
       << ",\"station\":" << json_text(r.station) << ",\"station_code\":" << r.station_code
       << ",\"time\":" << (r.time.empty() ? std::string("null") : json_text(r.time))
       << ",\"istat\":" << r.istat << ",\"status\":" << json_text(r.status);
    for (int c = 0; c < RecordResult::NCHAR; ++c) {
        const Value& f = r.characteristic[c];
        os << ",\"" << RecordResult::CHAR_NAMES[c] << "\":" << (f.v ? number(f) : "null");
    }
    os << ",\"n_qp\":" << r.n_qp << ",\"er_F2\":" << (r.er_F2.v ? number(r.er_F2) : "null");
    if (r.mode != nullptr) os << ",\"mode\":" << json_text(r.mode);
    os << "}\n";
}

}  // namespace

// The summary formats, by the extension that chooses them. A new format is one writer and
// one line here.
const SummaryWriter SUMMARY_WRITERS[] = {
    {"csv", csv_header, csv_row},
    {"jsonl", nullptr, jsonl_row},
};

const char* istat_text(int16_t ISTAT) { return pipeline::status_text(ISTAT); }

// JSON string; bytes outside printable ASCII are escaped so that any input gives valid JSON.
std::string json_text(const std::string& s, bool in_script) {
    std::string q = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            q += '\\';
            q += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f || (in_script && (c == '<' || c == '>' || c == '&'))) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            q += buf;
        } else {
            q += static_cast<char>(c);
        }
    }
    return q + "\"";
}

Summary::Summary() = default;
Summary::~Summary() = default;

const SummaryWriter* Summary::writer_of(const std::string& path, std::string& why) {
    const auto dot = path.find_last_of('.');
    std::string ext = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string names;
    for (const SummaryWriter& w : SUMMARY_WRITERS) {
        if (dot != std::string::npos && ext == w.name) return &w;
        names += (names.empty() ? "." : " or .") + std::string(w.name);
    }
    why = "the summary file must end in " + names;
    return nullptr;
}

bool Summary::format_of(const std::string& path, bool& jsonl, std::string& why) {
    const SummaryWriter* w = writer_of(path, why);
    if (w != nullptr) jsonl = w->header == nullptr;
    return w != nullptr;
}

std::string Summary::csv_header_line(bool with_mode) {
    std::ostringstream h;
    csv_header(h);
    std::string line = h.str();
    line.pop_back();   // the line end
    if (with_mode) line += MODE_COLUMN;
    return line;
}

bool Summary::open(const std::string& path, std::string& why) {
    writer_ = writer_of(path, why);
    if (writer_ == nullptr) return false;
    path_ = path;
    out_ = std::make_unique<PendingOutput>(path);
    if (!out_->open(why)) {
        out_.reset();
        return false;
    }
    if (writer_->header != nullptr) {
        if (mode_column_)
            out_->os() << csv_header_line(true) << '\n';
        else
            writer_->header(out_->os());
    }
    return true;
}

void Summary::row(const Zelk& z, const std::string& file, int32_t RECNO) {
    if (!out_) return;
    row(out_->os(), z, file, RECNO);
    ++rows_;
}

void Summary::append(const std::string& rows, int32_t n) {
    if (!out_) return;
    out_->os() << rows;
    rows_ += n;
}

void Summary::row(std::ostream& os, const Zelk& z, const std::string& file, int32_t RECNO) const {
    writer_->row(os, pipeline::record_result(z), file, RECNO);
}

void Summary::set_format(bool jsonl) {
    for (const SummaryWriter& w : SUMMARY_WRITERS) {
        if ((w.header == nullptr) == jsonl) {
            writer_ = &w;
            return;
        }
    }
}

std::string Summary::version_path(const std::string& path) { return path + ".version"; }

bool Summary::close(std::string& why) {
    if (!out_) return true;
    // The version file first, so that a summary never stands without it.
    PendingOutput version(version_path(path_));
    bool done = version.open(why);
    if (done) {
        version.os() << version_text("zelk-batch");
        done = version.commit(why);
        if (!done) why = version_path(path_) + ": " + why;
    }
    if (done && !out_->commit(why)) {
        std::error_code ec;
        std::filesystem::remove(version_path(path_), ec);
        done = false;
    }
    out_.reset();
    return done;
}

}  // namespace zelk::driver

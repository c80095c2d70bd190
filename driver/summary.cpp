// The per-record summary of a batch run.
#include "driver/summary.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "pipeline/zelk.hpp"
#include "driver/outfile.hpp"
#include "pipeline/prepare.hpp"

namespace zelk::driver {

namespace {

// A value missing from a row: not a number, or the 9999 marker (allowing for its float
// rounding), or outside the range a quantity of its kind can take.
struct Field {
    bool present = false;
    double v = 0.0;
    int decimals = 3;
};

Field value(float x, float lo, float hi, int decimals = 3) {
    Field f;
    f.decimals = decimals;
    if (std::isfinite(x) && x > lo && x < hi && std::fabs(x - 9999.0f) > 0.5f) {
        f.present = true;
        f.v = x;
    }
    return f;
}

static constexpr float FMAXE = 99.0f;     // frequencies of 99 MHz and more are not scaled
static constexpr float FMAXF1 = 50.0f;    // foF1 above 50 MHz is not scaled
static constexpr float HMAX = 9999.0f;    // heights and widths: below the missing marker

// Column names, in row order.
static const char* const COLUMNS[] = {
    "file", "record", "station", "station_code", "time", "istat", "status",
    "foE", "hmE", "foF1", "hmF1", "foF2", "hmF2", "hhalf", "yF2",
    "B0", "B1", "D1", "TEC", "H_top", "n_qp", "er_F2"};
static constexpr int NCOL = sizeof(COLUMNS) / sizeof(COLUMNS[0]);

std::string csv_text(const std::string& s) {
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

// JSON string; bytes outside printable ASCII are escaped so that any input gives valid JSON.
std::string json_text(const std::string& s) {
    std::string q = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            q += '\\';
            q += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            q += buf;
        } else {
            q += static_cast<char>(c);
        }
    }
    return q + "\"";
}

std::string number(const Field& f) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*f", f.decimals, f.v);
    return buf;
}

}  // namespace

const char* ISTAT_TEXT(int16_t ISTAT) {
    switch (ISTAT) {
        case 0: return "no usable trace points";
        case 2: return "profile inverted";
        case 4: return "E region frequency range error";
        case 5: return "F2 region frequency range error";
        case 6: return "F1 region frequency range error";
        case 7: return "E trace physically unreasonable";
        case 8: return "F2 trace unreasonable";
        case 9: return "F1 trace unreasonable";
        case 10: return "F1 layer solution too thick";
        case 11: return "F1 layer solution oscillates";
        case 12: return "too few F2 points";
        case 18: return "F2 solution oscillates or fits badly";
        case 25: return "F1 layer roots too severe to correct";
        case 26: return "F2 layer roots too severe to correct";
        default: return "unknown status";
    }
}

Summary::Summary() = default;
Summary::~Summary() = default;

bool Summary::FORMAT_OF(const std::string& path, bool& jsonl, std::string& why) {
    const auto dot = path.find_last_of('.');
    std::string ext = dot == std::string::npos ? std::string() : path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".csv") {
        jsonl = false;
        return true;
    }
    if (ext == ".jsonl") {
        jsonl = true;
        return true;
    }
    why = "the summary file must end in .csv or .jsonl";
    return false;
}

bool Summary::OPEN(const std::string& path, std::string& why) {
    if (!FORMAT_OF(path, jsonl_, why)) return false;
    out_ = std::make_unique<PendingOutput>(path);
    if (!out_->open(why)) {
        out_.reset();
        return false;
    }
    if (!jsonl_) {
        for (int c = 0; c < NCOL; ++c) out_->os() << (c ? "," : "") << COLUMNS[c];
        out_->os() << '\n';
    }
    return true;
}

void Summary::ROW(const Zelk& z, const std::string& file, int32_t RECNO) {
    if (!out_) return;
    ROW(out_->os(), z, file, RECNO);
    ++rows_;
}

void Summary::APPEND(const std::string& rows, int32_t n) {
    if (!out_) return;
    out_->os() << rows;
    rows_ += n;
}

void Summary::ROW(std::ostream& os, const Zelk& z, const std::string& file, int32_t RECNO) const {
    const inversion::Inversion& inv = z.inv;
    const products::Products& prod = z.prod;
    const int16_t ISTAT = inv.IQUALE(2);
    const bool ok = ISTAT == 2;
    // An F1 height only for an F1 layer apart from the F2 peak, as in the output record.
    const bool f1 = inv.FOF1 <= FMAXF1 && inv.FOF1 != inv.FOF2;

    std::string station(inv.STNAME, 20);
    station.erase(station.find_last_not_of(' ') + 1);
    const std::string time = iondata::ISO_TIME(inv.IYR, inv.IDAY, inv.IHR, inv.MINU, inv.ISEC);

    // The values the output record carries for these quantities, with the same rules for
    // what a failed inversion leaves out.
    const Field none;
    const Field cols[] = {
        (inv.IQUALE(1) == 2) ? none : value(inv.FOE, 0.0f, FMAXE),
        value(inv.ZME, 0.0f, HMAX),
        value(inv.FOF1, 0.0f, FMAXF1 + 0.0005f),
        (ok && f1) ? value(inv.ZMF1, 0.0f, HMAX) : none,
        value(inv.FOF2, 0.0f, FMAXE),
        ok ? value(inv.ZMF2, 0.0f, HMAX) : none,
        ok ? value(inv.HHALF, 0.0f, HMAX) : none,
        ok ? value(inv.YF2, 0.0f, HMAX) : none,
        ok ? value(z.bot.B0, 0.0f, HMAX, 2) : none,
        ok ? value(z.bot.B1, 0.0f, HMAX, 2) : none,
        ok ? value(z.bot.D1, -HMAX, HMAX, 2) : none,
        ok ? value(prod.ITEC, 0.0f, HMAX) : none,
        ok ? value(prod.H, 0.0f, HMAX) : none,
    };
    const Field er3 = value(inv.ER(3), 0.0f, HMAX);

    if (jsonl_) {
        os << "{\"file\":" << json_text(file) << ",\"record\":" << RECNO
           << ",\"station\":" << json_text(station) << ",\"station_code\":" << inv.ISTNCODE
           << ",\"time\":" << (time.empty() ? std::string("null") : json_text(time))
           << ",\"istat\":" << ISTAT << ",\"status\":" << json_text(ISTAT_TEXT(ISTAT));
        for (int c = 0; c < 13; ++c) {
            os << ",\"" << COLUMNS[7 + c] << "\":" << (cols[c].present ? number(cols[c]) : "null");
        }
        os << ",\"n_qp\":" << prod.NSEG << ",\"er_F2\":" << (er3.present ? number(er3) : "null")
           << "}\n";
    } else {
        os << csv_text(file) << ',' << RECNO << ',' << csv_text(station) << ',' << inv.ISTNCODE
           << ',' << time << ',' << ISTAT << ',' << csv_text(ISTAT_TEXT(ISTAT));
        for (const Field& f : cols) os << ',' << (f.present ? number(f) : "");
        os << ',' << prod.NSEG << ',' << (er3.present ? number(er3) : "") << '\n';
    }
}

bool Summary::CLOSE(std::string& why) {
    if (!out_) return true;
    const bool done = out_->commit(why);
    out_.reset();
    return done;
}

}  // namespace zelk::driver

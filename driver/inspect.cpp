// zelk-batch --inspect: one CSV row per record of each VXO file.
#include "driver/inspect.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string_view>

#include "iondata/stamp.hpp"
#include "iondata/vxo.hpp"

namespace zelk::driver {

namespace {

using iondata::IonogramRecord;

// A CSV field: non-printable bytes as '?', quoted when it holds a comma or a quote.
std::string csv(std::string_view s) {
    std::string t;
    t.reserve(s.size() + 2);
    bool quote = false;
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) c = '?';
        if (c == ',' || c == '"') quote = true;
        if (c == '"') t.push_back('"');
        t.push_back(c);
    }
    return quote ? "\"" + t + "\"" : t;
}

std::string_view trim_right(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// Station name: the characters after the first "NAME " up to a blank or comma.
std::string_view station_name(const IonogramRecord& r) {
    const std::string_view line(r.SYSDSC1.data() + 1, 120);
    const size_t at = line.find("NAME ");
    if (at == std::string_view::npos) return {};
    const std::string_view rest = line.substr(at + 5);
    return rest.substr(0, rest.find_first_of(" ,"));
}

// Groups that a record carries in its file.
int present_groups(const IonogramRecord& r) {
    int n = 0;
    for (int g = 1; g <= iondata::NGROUPS; ++g) {
        if (r.IDX(g) <= 0) continue;
        if ((g == 52 || g == 53) && r.IDX(51) <= 0) continue;
        if ((g == 59 || g == 60) && r.IDX(58) <= 0) continue;
        ++n;
    }
    return n;
}

// Time (ISO 8601, UTC), frequency step and the E, F1, F2 point counts of a whole record.
void decoded(const IonogramRecord& r, std::ostream& out) {
    iondata::StampInfo st;
    const int16_t status = iondata::decode_stamp(r, st);
    if (status != iondata::PREP_LAYOUT) out << iondata::iso_time(st.IYR, st.IDAY, st.IHR, st.MINU, st.ISEC);
    out << ',';
    // The step only when the stamp reaches the characters that give it.
    const int last = st.LAYOUT == 2 ? 36 : 35 + st.IOFF;
    if (status != iondata::PREP_LAYOUT && r.IDX(3) >= last && st.FQINCR > 0.0f) {
        char step[32];
        std::snprintf(step, sizeof step, "%.3f", static_cast<double>(st.FQINCR));
        out << step;
    }
    out << ',' << r.IDX(17) << ',' << r.IDX(12) << ',' << r.IDX(7);
}

// Lists the records of one open file.
void inspect_one(const std::string& path, fio::LineReader& in, IonogramRecord& rec, std::ostream& out) {
    int32_t IEOF = 0;
    long nrec = 0;
    for (;;) {
        const long long before = in.bytes_read();
        // Blank the text fields so that a refused record does not show the previous one's.
        rec.SYSDSC1.fill(' ');
        rec.TSTAMP.fill(' ');
        int16_t LREAD = 0, LBAD = 0;
        READVXO(IEOF, in, rec, LREAD, LBAD);
        const bool whole = LREAD == 1 && LBAD == 0;
        // The end of the file before an index is no record; inside one it is a cut record.
        if (IEOF == -1 && LBAD == 1) break;
        ++nrec;
        const std::string_view station = rec.IDX(2) >= 1 ? station_name(rec) : std::string_view{};
        const int nstamp = std::min(std::max(rec.IDX(3), 0), 120);
        const std::string_view stamp = trim_right(std::string_view(rec.TSTAMP.data() + 1, static_cast<size_t>(nstamp)));
        out << csv(path) << ',' << nrec << ',' << rec.IDX(80) << ',' << csv(station) << ',' << csv(stamp) << ','
            << present_groups(rec) << ',' << (whole ? "ok" : "bad") << ',';
        if (whole) {
            decoded(rec, out);
        } else {
            out << ",,,,";
        }
        out << '\n';
        // Every call consumes at least one line; the check guards the loop all the same.
        if (IEOF == -1 || in.bytes_read() == before) break;
    }
}

}  // namespace

bool inspect_file(const std::string& path, const std::string& shown, std::ostream& out, std::ostream& err) {
    auto rec = std::make_unique<IonogramRecord>();
    fio::LineReader in;
    if (!in.open(path)) {
        err << "zelk-batch: cannot open " << shown << ": " << std::strerror(errno) << '\n';
        return false;
    }
    inspect_one(shown, in, *rec, out);
    if (in.failed()) {
        err << "zelk-batch: cannot read " << shown << '\n';
        return false;
    }
    return true;
}

int inspect_files(const std::vector<std::string>& files, std::ostream& out, std::ostream& err) {
    auto rec = std::make_unique<IonogramRecord>();
    int status = 0;
    out << "file,record,version,station,stamp,groups,status,time,step,nE,nF1,nF2\n";
    for (const std::string& path : files) {
        fio::LineReader in;
        if (!in.open(path)) {
            err << "zelk-batch: cannot open " << path << ": " << std::strerror(errno) << '\n';
            status = 1;
            continue;
        }
        inspect_one(path, in, *rec, out);
        if (in.failed()) {
            err << "zelk-batch: cannot read " << path << '\n';
            status = 1;
        }
    }
    out.flush();
    return status;
}

}  // namespace zelk::driver

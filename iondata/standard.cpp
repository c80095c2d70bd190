// Standard-format conversion: DATETODAY, GRIDDATA, WRTADEP and the reader of Standard
// records.
#include "core/markers.hpp"
#include "iondata/standard.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "core/rounding.hpp"
#include "iondata/vxo.hpp"

namespace zelk::iondata {

using namespace fio;

namespace {

// A critical frequency of 99 MHz (or more) marks a layer that is not scaled.
constexpr float NOT_SCALED = 99.0f;
// Start value of the frequency and height steps of a record: no point seen yet.
constexpr float NO_STEP = 99.0f;
// The frequency grid of the trace groups: 800 lines from 0.2 MHz at the record's step.
constexpr int NGRID = 800;
constexpr float GRID_START = 0.2f;
// Half the 0.001 MHz resolution of the stored frequencies: two frequencies closer than this
// are the same grid line.
constexpr float SAME_LINE = 0.0005f;
// Height of an old-layout trace line without echo, and the largest height the old
// three-character height fields hold.
constexpr int32_t NO_ECHO_OLD = 999;
constexpr float MAX_HEIGHT = 999.0f;
// Missing value of the scaled characteristics.
// Prefix that marks the station name in the system description of a converted record.
constexpr std::string_view NAME_PREFIX = " / , NAME ";
// Characters of the station line kept after the prefix.
constexpr size_t NAME_CHARS = 108;
// The two-digit year of a layout-1 time stamp is read back as 1970..2069.
constexpr int32_t FIRST_YEAR = 1970, LAST_YEAR = 2069;

// Layers in the order of the blocks, with the capacities of their trace groups and the
// groups of their virtual heights and frequencies.
enum Layer { E = 0, F1L = 1, F2L = 2 };
constexpr int CAPACITY[3] = {150, 150, 400};
// Points held per block: more than the frequency grid has lines.
constexpr int MAXPOINTS = 1024;
// Range of the station constants' field "(F7.3)".
constexpr float CONST_MIN = -99.999f, CONST_MAX = 999.999f;
constexpr const char* LAYER_NAME[3] = {"E", "F1", "F2"};

constexpr int MONTH_DAYS[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool leap_year(int32_t y) { return y % 400 == 0 || (y % 4 == 0 && y % 100 != 0); }

// ---------------------------------------------------------------------------------------
// List-directed items

bool separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; }

// The first items of a line (at most max), separated by blanks, tabs or commas.
int split_items(std::string_view line, std::string_view* items, int max) {
    int n = 0;
    size_t i = 0;
    while (n < max) {
        while (i < line.size() && separator(line[i])) ++i;
        if (i >= line.size()) break;
        size_t j = i;
        while (j < line.size() && !separator(line[j])) ++j;
        items[n++] = line.substr(i, j - i);
        i = j;
    }
    return n;
}

bool blank_line(std::string_view line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return separator(c); });
}

// One item as a real (the forms of an F field without implied decimals) or an integer.
constexpr size_t MAXITEM = 120;
bool item_real(std::string_view s, float& v) {
    static const FortranFormat F("(F120.0)");
    return s.size() <= MAXITEM && decode_line(s, F, &v, 1) == IoStat::OK;
}
bool item_int(std::string_view s, int32_t& v) {
    static const FortranFormat I("(I120)");
    return s.size() <= MAXITEM && decode_line(s, I, &v, 1) == IoStat::OK;
}

// Reads the Standard file as a list-directed read would: a read starts on the next line,
// passes over blank lines, takes its values from as many lines as it needs and leaves the
// rest of its last line.
class ListInput {
public:
    explicit ListInput(LineReader& in) : in_(in) {}

    // Next line that is not blank; false at the end of the file.
    bool line(std::string_view& l) {
        while (in_.next(l)) {
            if (!blank_line(l)) return true;
        }
        return false;
    }

    // n values, decoded by DECODE(item, value): END when the file ends first, BAD when an
    // item is not a value of the kind.
    template <class T, class Fn>
    IoStat values(T* v, int n, Fn DECODE) {
        int done = 0;
        std::string_view l;
        std::string_view items[16];
        while (done < n) {
            if (!line(l)) return IoStat::END;
            const int k = split_items(l, items, n - done);
            for (int i = 0; i < k; ++i) {
                if (!DECODE(items[i], v[done])) return IoStat::BAD;
                ++done;
            }
        }
        return IoStat::OK;
    }

    long line_number() const { return in_.lines_read(); }

private:
    LineReader& in_;
};

// The points of one trace block.
struct Block {
    float fc = NOT_SCALED;     // critical frequency (MHz)
    int n = 0;                 // points kept
    F1<float, MAXPOINTS> f, h; // their frequencies (MHz) and virtual heights (km)
    bool scaled() const { return fc < NOT_SCALED; }
    float lowest() const {
        float lo = f(1);
        for (int i = 2; i <= n; ++i) lo = std::min(lo, f(i));
        return lo;
    }
};

// Why points of a block were refused, for one notice per record.
struct PointTally {
    int height = 0;     // height of 0 km or less, or above 999 km
    int capacity = 0;   // beyond MAXPOINTS
};

std::string fmt3(float v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.3f", static_cast<double>(v));
    return b;
}

// The record's label in notices: its ordinal and its date and time as given.
std::string label(int32_t recno, const int32_t* t) {
    char b[96];
    std::snprintf(b, sizeof b, "record %d (%04d-%02d-%02d %02d:%02d:%02d)", recno, t[0], t[1], t[2],
                  t[3], t[4], t[5]);
    return b;
}

// Which block a read of the pair list ended in.
enum class BlockEnd { LINE, FILE };

// Reads the pairs of one block after its critical frequency: one pair per line until a
// line that does not begin with two numbers (passed over) or the end of the file.
BlockEnd read_pairs(ListInput& li, Block& b, float& fstep, float& hstep, PointTally& tally) {
    std::string_view l;
    std::string_view items[2];
    b.n = 0;
    for (;;) {
        if (!li.line(l)) return BlockEnd::FILE;
        float f = 0.0f, h = 0.0f;
        if (split_items(l, items, 2) < 2 || !item_real(items[0], f) || !item_real(items[1], h)) {
            return BlockEnd::LINE;
        }
        GRIDDATA(f, h, fstep, hstep);
        if (!b.scaled()) continue;   // a layer that is not scaled uses none of its points
        if (!(f > 0.0f)) continue;
        if (b.n > 0 && std::fabs(f - b.f(b.n)) <= 0.001f + 1e-6f) continue;
        // Heights the old three-character fields cannot hold (999 itself marks "no echo").
        if (!(h > 0.0f) || !(h <= MAX_HEIGHT)) {
            ++tally.height;
            continue;
        }
        if (b.n >= MAXPOINTS) {
            ++tally.capacity;
            continue;
        }
        ++b.n;
        b.f(b.n) = f;
        b.h(b.n) = h;
    }
}

// Removes the points of a block at or below frequency fmin.
void remove_below(Block& b, float fmin) {
    int k = 0;
    for (int i = 1; i <= b.n; ++i) {
        if (b.f(i) > fmin + SAME_LINE) {
            ++k;
            b.f(k) = b.f(i);
            b.h(k) = b.h(i);
        }
    }
    b.n = k;
}

// Fills the frequency and virtual-height groups of one layer from the grid: the grid lines
// from the layer's start frequency up to the last one not above its critical frequency,
// each with the integer part of the height of the point on that line, or 999. A trace
// longer than its group keeps its highest lines. Returns the number of lines dropped.
int fill_trace(const Block& b, float start, const F1<float, NGRID>& grid, int32_t* IVH, float* FQ,
               int capacity, int32_t& count) {
    count = 0;
    if (b.n == 0) return 0;
    int k0 = 0, k1 = 0;
    for (int k = 1; k <= NGRID; ++k) {
        if (k0 == 0 && grid(k) >= start - SAME_LINE) k0 = k;
        if (grid(k) <= b.fc + SAME_LINE) k1 = k;
    }
    if (k0 == 0 || k1 < k0) return 0;
    int cut = 0;
    if (k1 - k0 + 1 > capacity) {
        cut = k1 - k0 + 1 - capacity;
        k0 += cut;
    }
    for (int k = k0; k <= k1; ++k) {
        ++count;
        FQ[count] = grid(k);
        IVH[count] = NO_ECHO_OLD;
        for (int i = 1; i <= b.n; ++i) {
            if (std::fabs(b.f(i) - grid(k)) <= SAME_LINE) {
                IVH[count] = static_cast<int32_t>(b.h(i));
                break;
            }
        }
    }
    return cut;
}

}  // namespace

void DATETODAY(int32_t year, int32_t month, int32_t day, int32_t& year4, int32_t& DOY,
               int32_t& error) {
    if (year < 50) {
        year4 = year + 2000;
    } else if (year < 1000) {
        year4 = year + 1900;
    } else {
        year4 = year;
    }
    DOY = 0;
    error = 0;
    if (month < 1 || month > 12) {
        error = 1;
        return;
    }
    const bool leap = leap_year(year4);
    if (month == 2 && day > (leap ? 29 : 28)) {
        error = 2;
        return;
    }
    if (day < 1 || (month != 2 && day > MONTH_DAYS[month])) {
        error = 3;
        return;
    }
    DOY = day;
    for (int m = 1; m < month; ++m) DOY += MONTH_DAYS[m];
    if (leap && month > 2) DOY += 1;
}

void GRIDDATA(float& freq, float& height, float& fstep, float& hstep) {
    static constexpr float STEPS[3] = {0.1f, 0.05f, 0.025f};
    if (freq > 0.0f) {
        float best = freq, dbest = 0.0f, sbest = fstep;
        bool any = false;
        for (const float step : STEPS) {
            const float g = std::floor(freq / step) + 1.0f;
            for (int j = 0; j <= 2; ++j) {
                const float cand = round3((g - static_cast<float>(j)) * step);
                const float d = std::fabs(cand - freq);
                if (!any || d < dbest) {
                    best = cand;
                    dbest = d;
                    sbest = step;
                    any = true;
                }
            }
        }
        freq = best;
        if (sbest < fstep) fstep = sbest;
    }
    if (height > 0.0f) {
        const float g = std::floor(height) + 1.0f;
        float best = height, dbest = 0.0f;
        for (int j = 0; j <= 2; ++j) {
            const float cand = g - static_cast<float>(j);
            const float d = std::fabs(cand - height);
            if (j == 0 || d < dbest) {
                best = cand;
                dbest = d;
            }
        }
        height = best;
        if (hstep > 1.0f) hstep = 1.0f;
    }
}

void WRTADEP(LineWriter& unit, IonogramRecord& R) {
    const VxoFormats& F = vxo_formats(0);
    F1<int32_t, 80>& IDX = R.IDX;
    std::string& out = unit.out();

    for (int g = 1; g <= 42; ++g) IDX(g) = std::clamp(IDX(g), 0, vxo_capacity(g, 0));
    for (int g = 43; g <= NGROUPS; ++g) IDX(g) = 0;
    IDX(80) = 0;
    write_group(out, F.index, IDX.data() + 1, NIDX);

    const auto put = [&](int g, const FortranFormat& f, const auto* v1) {
        if (IDX(g) > 0) write_group(out, f, v1 + 1, IDX(g));
    };
    put(1, F.constants, R.GCONST.data());
    if (IDX(2) >= 1) write_group(out, F.text, R.SYSDSC1.data() + 1, 120, 1);
    if (IDX(2) == 2) write_group(out, F.text, R.SYSDSC2.data() + 1, 120, 1);
    if (IDX(3) > 0) write_group(out, F.characters, R.TSTAMP.data() + 1, 1, IDX(3));
    put(4, F.characteristics, R.SCALED.data());
    put(5, F.flags, R.AFLAGS.data());
    put(6, F.constants, R.DOPTAB.data());
    put(7, F.heights, R.IVHOF2.data());
    put(8, F.heights, R.ITHOF2.data());
    put(9, F.amplitudes, R.IAMOF2.data());
    put(10, F.digits, R.IDNOF2.data());
    put(11, F.frequencies, R.FQOF2.data());
    put(12, F.heights, R.IVHOF1.data());
    put(13, F.heights, R.ITHOF1.data());
    put(14, F.amplitudes, R.IAMOF1.data());
    put(15, F.digits, R.IDNOF1.data());
    put(16, F.frequencies, R.FQOF1.data());
    put(17, F.heights, R.IVHOE.data());
    put(18, F.heights, R.ITHOE.data());
    put(19, F.amplitudes, R.IAMOE.data());
    put(20, F.digits, R.IDNOE.data());
    put(21, F.frequencies, R.FQOE.data());
    put(22, F.heights, R.IVHXF2.data());
    put(23, F.amplitudes, R.IAMXF2.data());
    put(24, F.digits, R.IDNXF2.data());
    put(25, F.frequencies, R.FQXF2.data());
    put(26, F.heights, R.IVHXF1.data());
    put(27, F.amplitudes, R.IAMXF1.data());
    put(28, F.digits, R.IDNXF1.data());
    put(29, F.frequencies, R.FQXF1.data());
    put(30, F.heights, R.IVHXE.data());
    put(31, F.amplitudes, R.IAMXE.data());
    put(32, F.digits, R.IDNXE.data());
    put(33, F.frequencies, R.FQXE.data());
    put(34, F.flags, R.MAMPF.data());
    put(35, F.flags, R.MAMPE.data());
    put(36, F.flags, R.MAMPES.data());
    put(37, F.coefficients, R.PCOEF2.data());
    put(38, F.coefficients, R.PCOEF1.data());
    put(39, F.coefficients, R.PCOEFE.data());
    // The old layouts read group 40 into the valley storage.
    put(40, F.coefficients, R.VALLEY.data());
    put(41, F.digits, R.EDITCH.data());
    put(42, F.coefficients, R.VALLEY.data());
    unit.commit();
}

StandardOutcome standard_to_vxo(LineReader& in, LineWriter& out, IonogramRecord& R) {
    StandardOutcome res;
    ListInput li(in);
    int32_t notices_over = 0;
    const auto notice = [&](const std::string& text) {
        if (static_cast<int>(res.notices.size()) < MAXNOTICES) {
            res.notices.push_back(text);
        } else {
            ++notices_over;
        }
    };
    const auto stop = [&](const std::string& text) {
        res.stopped = true;
        notice(text + "; the conversion ends here (" + std::to_string(res.written) +
               " record" + (res.written == 1 ? "" : "s") + " converted before it)");
    };
    static const FortranFormat TEXT("(A120)");
    Block blk[3];
    F1<float, NGRID> grid;

    for (;;) {
        // 1. A date line, or a station line followed by its constants and a date.
        std::string_view l;
        if (!li.line(l)) break;
        int32_t t[6] = {0, 0, 0, 0, 0, 0};
        std::string_view items[6];
        bool date = split_items(l, items, 6) == 6;
        for (int i = 0; date && i < 6; ++i) date = item_int(items[i], t[i]);
        if (!date) {
            // 2. Station line: the name into the system description.
            char name[121];
            std::memset(name, ' ', sizeof name);
            decode_line(l, TEXT, name, 120, 1);
            for (char& c : name) {
                const auto u = static_cast<unsigned char>(c);
                if (u < 0x20 || u == 0x7F) c = '?';
            }
            const std::string_view text(name, 120);
            if (text.substr(0, NAME_PREFIX.size()) == NAME_PREFIX) {
                std::memcpy(R.SYSDSC1.data() + 1, name, 120);
            } else {
                R.SYSDSC1.fill(' ');
                std::memcpy(R.SYSDSC1.data() + 1, NAME_PREFIX.data(), NAME_PREFIX.size());
                std::memcpy(R.SYSDSC1.data() + 1 + NAME_PREFIX.size(), name, NAME_CHARS);
            }
            R.IDX(2) = 1;
            float c[5];
            const IoStat sc = li.values(c, 5, item_real);
            if (sc != IoStat::OK) {
                stop("line " + std::to_string(li.line_number()) + ": " +
                     (sc == IoStat::END ? "the file ends in the station constants"
                                        : "the station constants are not five numbers"));
                break;
            }
            // Longitudes east from 0 to 360 degrees: the constants' field holds -99.999 to
            // 999.999, so a western longitude such as -105 is written as 255.
            if (c[1] < 0.0f && c[1] >= -360.0f) c[1] += 360.0f;
            bool fits = true;
            for (const float v : c) fits = fits && v >= CONST_MIN && v <= CONST_MAX;
            if (!fits) {
                stop("line " + std::to_string(li.line_number()) +
                     ": a station constant lies outside -99.999 to 999.999");
                break;
            }
            R.GCONST(3) = c[0];
            R.GCONST(4) = c[1];
            R.GCONST(1) = c[2];
            R.GCONST(2) = c[3];
            R.GCONST(5) = c[4];
            R.IDX(1) = 5;
            const IoStat st = li.values(t, 6, item_int);
            if (st != IoStat::OK) {
                stop("line " + std::to_string(li.line_number()) + ": " +
                     (st == IoStat::END ? "the file ends before the date"
                                        : "the date and time are not six whole numbers"));
                break;
            }
        }
        ++res.records;
        const std::string what = label(res.records, t);

        // 3. The date and time.
        int32_t year4 = 0, doy = 0, err = 0;
        DATETODAY(t[0], t[1], t[2], year4, doy, err);
        if (t[0] < 1 || t[1] < 1 || t[1] > 13 || t[3] < 0 || t[3] > 24 || t[4] < 0 || t[4] > 59 ||
            t[5] < 0 || t[5] > 59 || err != 0) {
            stop(what + ": date or time out of range");
            break;
        }
        int32_t hour = t[3];
        if (hour == 24) {
            // 24 h is 0 h of the next day: the time stamp holds hours 0 to 23 only.
            hour = 0;
            if (++doy > (leap_year(year4) ? 366 : 365)) {
                doy = 1;
                ++year4;
            }
        }

        // 4. The three trace blocks.
        float fstep = NO_STEP, hstep = NO_STEP;
        PointTally tally;
        bool ended = false;
        for (int L = E; L <= F2L && !ended; ++L) {
            Block& b = blk[L];
            float fc = 0.0f;
            const IoStat sf = li.values(&fc, 1, item_real);
            if (sf != IoStat::OK) {
                stop(what + ": " + (sf == IoStat::END ? "the file ends before the " : "no number for the ") +
                     LAYER_NAME[L] + " critical frequency (line " + std::to_string(li.line_number()) + ")");
                ended = true;
                break;
            }
            b.fc = round3(std::min(fc, NOT_SCALED));
            const BlockEnd be = read_pairs(li, b, fstep, hstep, tally);
            if (be == BlockEnd::FILE && L != F2L) {
                stop(what + ": the file ends inside the " + std::string(LAYER_NAME[L]) + " block");
                ended = true;
                break;
            }
            for (int i = 1; i <= b.n; ++i) b.fc = std::max(b.fc, b.f(i));
        }
        if (ended) break;
        if (tally.height > 0) {
            notice(what + ": " + std::to_string(tally.height) +
                   " point(s) with a height of 0 km or less or above 999 km left out");
        }
        if (tally.capacity > 0) {
            notice(what + ": " + std::to_string(tally.capacity) +
                   " point(s) beyond the " + std::to_string(MAXPOINTS) + " a layer may have left out");
        }

        // 5. Consistency of the critical frequencies and the points.
        Block& bE = blk[E];
        Block& b1 = blk[F1L];
        Block& b2 = blk[F2L];
        const bool stepped = fstep < NO_STEP;
        for (Block* b : {&b1, &b2}) {
            if (b->scaled() && stepped) {
                const float m = round3(std::round(b->fc / fstep) * fstep);
                if (std::fabs(fstep - 0.025f) < 1e-6f || std::fabs(m - b->fc) < 0.25f * fstep) b->fc = m;
            }
        }
        for (Block* b : {&bE, &b1, &b2}) {
            if (b->fc <= 0.0f) b->fc = b->n > 0 ? b->f(b->n) : NOT_SCALED;
        }
        const auto dropped = [&](const std::string& why) {
            ++res.dropped;
            notice(what + ": dropped, " + why);
        };
        if (bE.scaled() && ((b1.scaled() && !(bE.fc <= b1.fc - 0.0001f)) ||
                            (b2.scaled() && !(bE.fc <= b2.fc - 0.0001f)))) {
            dropped("foE " + fmt3(bE.fc) + " is not below foF1 " +
                    (b1.scaled() ? fmt3(b1.fc) : std::string("(not scaled)")) + " and foF2 " +
                    (b2.scaled() ? fmt3(b2.fc) : std::string("(not scaled)")));
            continue;
        }
        if (b1.scaled() && b2.scaled() && !(b1.fc <= b2.fc - 0.0001f)) {
            dropped("foF1 " + fmt3(b1.fc) + " is not below foF2 " + fmt3(b2.fc));
            continue;
        }
        if (R.IDX(1) < 1) {
            dropped("no station line before it (no station constants)");
            continue;
        }
        if (year4 < FIRST_YEAR || year4 > LAST_YEAR) {
            dropped("the year " + std::to_string(year4) + " is outside " + std::to_string(FIRST_YEAR) +
                    ".." + std::to_string(LAST_YEAR) + ", which the two-digit year of the record holds");
            continue;
        }
        if (b1.scaled()) {
            remove_below(b2, b1.fc);
        } else if (bE.scaled()) {
            remove_below(b2, bE.fc);
        }
        if (bE.scaled()) remove_below(b1, bE.fc);

        // 8 (first part). The frequency grid; a critical frequency beyond it cannot be placed.
        const float step = stepped ? fstep : 0.1f;
        for (int k = 1; k <= NGRID; ++k) grid(k) = round3(GRID_START + static_cast<float>(k - 1) * step);
        bool beyond = false;
        for (const Block* b : {&bE, &b1, &b2}) {
            if (b->n > 0 && b->fc > grid(NGRID) + SAME_LINE) beyond = true;
        }
        if (beyond) {
            dropped("a critical frequency lies beyond the frequency grid (" + fmt3(grid(NGRID)) + " MHz)");
            continue;
        }

        // 6. The time stamp, one digit per position (layout 1).
        for (int p = 1; p <= 120; ++p) R.TSTAMP(p) = p <= 55 ? '0' : ' ';
        const auto digits = [&](int p, int n, int32_t v) {
            for (int i = n - 1; i >= 0; --i) {
                R.TSTAMP(p + i) = static_cast<char>('0' + v % 10);
                v /= 10;
            }
        };
        digits(1, 2, year4 % 100);
        digits(3, 3, doy);
        digits(6, 2, hour);
        digits(8, 2, t[4]);
        digits(10, 2, t[5]);
        R.TSTAMP(34) = '1';
        R.TSTAMP(35) = std::fabs(step - 0.025f) < 1e-6f ? '3' : (std::fabs(step - 0.05f) < 1e-6f ? '2' : '1');
        if (b2.scaled()) digits(36, 2, static_cast<int32_t>(b2.fc) + 1);
        R.TSTAMP(54) = '1';
        R.TSTAMP(55) = '2';

        // 7. Scaled characteristics.
        R.SCALED.fill(NO_VALUE);
        if (b2.scaled()) R.SCALED(1) = b2.fc;
        if (b1.n > 0) R.SCALED(2) = b1.fc;
        if (bE.n > 0) R.SCALED(9) = bE.fc;
        if (b1.n > 0) {
            R.SCALED(7) = b1.lowest();
        } else if (b2.n > 0) {
            R.SCALED(7) = b2.lowest();
        }
        if (bE.n > 0) R.SCALED(8) = bE.lowest();

        // 8. The trace groups on the grid.
        for (int g = 3; g <= NGROUPS; ++g) R.IDX(g) = 0;
        R.IDX(3) = 55;
        R.IDX(4) = 31;
        const float startE = bE.n > 0 ? bE.lowest() : 0.0f;
        const float start1 = bE.scaled() ? bE.fc : (b1.n > 0 ? b1.lowest() : 0.0f);
        const float start2 = b1.scaled() ? b1.fc : (b2.n > 0 ? b2.lowest() : 0.0f);
        int cut = 0;
        cut += fill_trace(bE, startE, grid, R.IVHOE.data(), R.FQOE.data(), CAPACITY[E], R.IDX(17));
        cut += fill_trace(b1, start1, grid, R.IVHOF1.data(), R.FQOF1.data(), CAPACITY[F1L], R.IDX(12));
        cut += fill_trace(b2, start2, grid, R.IVHOF2.data(), R.FQOF2.data(), CAPACITY[F2L], R.IDX(7));
        R.IDX(21) = R.IDX(17);
        R.IDX(16) = R.IDX(12);
        R.IDX(11) = R.IDX(7);
        if (cut > 0) notice(what + ": " + std::to_string(cut) + " lowest line(s) of a trace longer than its group left out");

        WRTADEP(out, R);
        ++res.written;
    }
    if (notices_over > 0) res.notices.push_back(std::to_string(notices_over) + " further notices not shown");
    return res;
}

}  // namespace zelk::iondata

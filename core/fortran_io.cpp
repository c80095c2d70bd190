// Fortran-style formatted text I/O: format parsing, field decoding and editing, line
// reading and writing. See fortran_io.hpp for the input and output rules.
#include "core/fortran_io.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <istream>
#include <ostream>
#include <limits>
#include <type_traits>

namespace zelk::fio {

namespace {

// ---------------------------------------------------------------------------------------
// Format parsing

// Recursive-descent parser of a format text into the value fields of one line.
class FormatParser {
public:
    FormatParser(std::string_view s, std::vector<EditField>& out) : s_(s), out_(out) {}

    bool parse() {
        skip_blanks();
        if (!eat('(')) return false;
        if (!list()) return false;
        if (!eat(')')) return false;
        skip_blanks();
        return i_ == s_.size() && !out_.empty();
    }

private:
    static constexpr int MAX_REPEAT = 1024;

    bool list() {
        for (;;) {
            if (!item()) return false;
            skip_blanks();
            if (i_ < s_.size() && s_[i_] == ',') {
                ++i_;
                continue;
            }
            return true;
        }
    }

    bool item() {
        skip_blanks();
        int n = 0;
        bool has_n = number(n);
        if (has_n && (n < 1 || n > MAX_REPEAT)) return false;
        if (!has_n) n = 1;
        skip_blanks();
        if (i_ >= s_.size()) return false;
        char c = upper(s_[i_]);
        if (c == '(') {
            ++i_;
            // A parenthesised group: parse it once, then repeat its fields.
            const size_t first = out_.size();
            const int col0 = col_;
            if (!list() || !eat(')')) return false;
            const int span = col_ - col0;
            const size_t nf = out_.size() - first;
            for (int r = 1; r < n; ++r) {
                for (size_t k = 0; k < nf; ++k) {
                    EditField f = out_[first + k];
                    f.col = static_cast<int16_t>(f.col + r * span);
                    if (!push(f)) return false;
                }
                col_ += span;
                if (col_ > FortranFormat::MAX_WIDTH) return false;
            }
            return true;
        }
        ++i_;
        // ES (scientific form) is kept as kind 'S'.
        if (c == 'E' && i_ < s_.size() && upper(s_[i_]) == 'S') {
            ++i_;
            c = 'S';
        }
        if (c == 'X') {
            if (open_a_) return false;
            col_ += n;
            return col_ <= FortranFormat::MAX_WIDTH;
        }
        EditField f;
        f.kind = c;
        int w = 0, d = 0, e = 0;
        const bool has_w = number(w);
        if ((c != 'A' && !has_w) || w > FortranFormat::MAX_WIDTH) return false;
        switch (c) {
        case 'I':
            if (w < 1) return false;
            // Iw.m: at least m digits, with leading zeros.
            if (eat('.') && (!number(d) || d > w)) return false;
            break;
        case 'F':
            if (w < 1 || !eat('.') || !number(d) || d >= w) return false;
            break;
        case 'E':
        case 'S':
            if (w < 1 || !eat('.') || !number(d) || d < 1 || d >= w) return false;
            skip_blanks();
            if (i_ < s_.size() && upper(s_[i_]) == 'E') {
                ++i_;
                if (!number(e) || e < 1 || e > 9) return false;
            }
            break;
        case 'A':
            break;
        default:
            return false;
        }
        f.w = static_cast<int16_t>(w);
        f.d = static_cast<int16_t>(d);
        f.e = static_cast<int16_t>(e);
        for (int r = 0; r < n; ++r) {
            // An A field without width takes the length of its item, so nothing may follow it.
            if (open_a_) return false;
            f.col = static_cast<int16_t>(col_);
            if (!push(f)) return false;
            col_ += w;
            if (col_ > FortranFormat::MAX_WIDTH) return false;
            if (c == 'A' && w == 0) open_a_ = true;
        }
        return true;
    }

    bool push(const EditField& f) {
        if (static_cast<int>(out_.size()) >= FortranFormat::MAX_FIELDS) return false;
        out_.push_back(f);
        return true;
    }

    // Unsigned decimal number; false when there is none. Capped to stay far from overflow.
    bool number(int& n) {
        skip_blanks();
        size_t j = i_;
        n = 0;
        while (j < s_.size() && s_[j] >= '0' && s_[j] <= '9') {
            n = std::min(n * 10 + (s_[j] - '0'), 1000000);
            ++j;
        }
        if (j == i_) return false;
        i_ = j;
        return true;
    }

    bool eat(char c) {
        skip_blanks();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }

    void skip_blanks() {
        while (i_ < s_.size() && s_[i_] == ' ') ++i_;
    }

    static char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

    std::string_view s_;
    std::vector<EditField>& out_;
    size_t i_ = 0;
    int col_ = 0;
    bool open_a_ = false;
};

// ---------------------------------------------------------------------------------------
// Field decoding

// Exact powers of ten: 1e0..1e22 are exact doubles, 1e0..1e10 exact floats.
constexpr double P10D[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr float P10F[11] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The part of a line under a field: characters beyond the end of the line are blanks.
inline std::string_view field_text(std::string_view line, int col, int w) {
    const size_t c = static_cast<size_t>(col);
    if (c >= line.size()) return {};
    return line.substr(c, static_cast<size_t>(w));
}

// Skips the leading blanks and an optional sign of a numeric field: I is then the position
// after them and NEG tells the sign. False when the field is all blanks.
bool field_start(std::string_view s, size_t& i, bool& neg) {
    i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    if (i == s.size()) return false;
    neg = s[i] == '-';
    if (s[i] == '+' || s[i] == '-') ++i;
    return true;
}

// Reads the rest of a field, s[i..], as decimal digits (blanks ignored) into V, which stops
// growing at CAP. False when anything but digits and blanks is met, or no digit.
bool rest_digits(std::string_view s, size_t i, int64_t CAP, int64_t& V) {
    V = 0;
    bool any = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == ' ') continue;
        if (!is_digit(c)) return false;
        V = std::min(V * 10 + (c - '0'), CAP);
        any = true;
    }
    return any;
}

// Largest exponent magnitude kept: far beyond any representable value, and far from overflow.
constexpr int64_t EXPCAP = 100000;

bool decode_int(std::string_view s, int32_t& out) {
    size_t i = 0;
    bool neg = false;
    if (!field_start(s, i, neg)) {
        out = 0;
        return true;
    }
    int64_t m = 0;
    if (!rest_digits(s, i, (int64_t{1} << 31) + 1, m) || m > int64_t{1} << 31) return false;
    if (neg) m = -m;
    if (m > std::numeric_limits<int32_t>::max()) return false;
    out = static_cast<int32_t>(m);
    return true;
}

// Decodes a real field under the implied decimals d. T is float or double.
template <class T>
bool decode_real(std::string_view s, int d, T& out) {
    const size_t n = s.size();
    size_t i = 0;
    bool neg = false;
    if (!field_start(s, i, neg)) {
        out = T(0);
        return true;
    }
    // Significant digits (leading zeros dropped) and the decimal scale of the last one kept.
    char dig[40];
    int ndig = 0;
    int scale = 0;             // value = digits x 10^scale (before the exponent)
    bool point = false, any = false;
    for (; i < n; ++i) {
        const char c = s[i];
        if (c == ' ') continue;
        if (is_digit(c)) {
            any = true;
            if (ndig == 0 && c == '0') {
                if (point) --scale;
                continue;
            }
            if (ndig < static_cast<int>(sizeof dig)) {
                dig[ndig++] = c;
                if (point) --scale;
            } else if (!point) {
                ++scale;       // digits beyond the 40th only shift the value
            }
            continue;
        }
        if (c == '.') {
            if (point) return false;
            point = true;
            continue;
        }
        break;
    }
    if (!any) return false;
    if (!point) scale -= d;
    // Exponent: a letter E or D with an optional sign, or a sign alone.
    if (i < n) {
        char c = s[i];
        if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
            ++i;
            while (i < n && s[i] == ' ') ++i;
            c = i < n ? s[i] : ' ';
        }
        bool eneg = false;
        if (c == '+' || c == '-') {
            eneg = c == '-';
            ++i;
        }
        int64_t ex = 0;
        if (!rest_digits(s, i, EXPCAP, ex)) return false;
        scale += static_cast<int>(eneg ? -ex : ex);
    }
    if (ndig == 0) {
        out = neg ? -T(0) : T(0);
        return true;
    }
    // Fast exact paths: an integer mantissa and a power of ten both exact in T, one rounding.
    if (ndig <= 19) {
        uint64_t m = 0;
        for (int k = 0; k < ndig; ++k) m = m * 10 + static_cast<uint64_t>(dig[k] - '0');
        if constexpr (sizeof(T) == sizeof(float)) {
            if (m < (uint64_t{1} << 24) && scale >= -10 && scale <= 10) {
                const float x = static_cast<float>(m);
                const float r = scale >= 0 ? x * P10F[scale] : x / P10F[-scale];
                out = neg ? -r : r;
                return true;
            }
        } else {
            if (m < (uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
                const double x = static_cast<double>(m);
                const double r = scale >= 0 ? x * P10D[scale] : x / P10D[-scale];
                out = neg ? -r : r;
                return true;
            }
        }
    }
    // General case: correctly rounded conversion of "digits e scale".
    char buf[64];
    std::memcpy(buf, dig, static_cast<size_t>(ndig));
    char* p = buf + ndig;
    *p++ = 'e';
    p = std::to_chars(p, buf + sizeof buf, scale).ptr;
    T r{};
    const auto res = std::from_chars(buf, p, r);
    if (res.ec == std::errc::result_out_of_range) {
        // Below the smallest subnormal reads as zero; beyond the largest value is an error.
        if (ndig + scale > 0) return false;
        r = T(0);
    } else if (res.ec != std::errc() || !std::isfinite(r)) {
        return false;
    }
    out = neg ? -r : r;
    return true;
}

// A field of Fortran character input for an item of len characters.
void decode_chars(std::string_view s, int w, char* v, int len) {
    // w >= len: the rightmost len characters of the field; w < len: the field, blank-padded.
    const int take = std::min(w, len);
    const int skip = w - take;
    for (int k = 0; k < take; ++k) {
        const size_t at = static_cast<size_t>(skip + k);
        v[k] = at < s.size() ? s[at] : ' ';
    }
    for (int k = take; k < len; ++k) v[k] = ' ';
}

// ---------------------------------------------------------------------------------------
// Field editing

inline void stars(char* dst, int w) { std::memset(dst, '*', static_cast<size_t>(w)); }

// Right-justifies body[0..len-1] in a field of w characters.
inline void place(char* dst, int w, const char* body, int len) {
    std::memset(dst, ' ', static_cast<size_t>(w - len));
    std::memcpy(dst + (w - len), body, static_cast<size_t>(len));
}

// NaN and infinities as the compiler writes them: "NaN", "Inf"/"Infinity" with a sign when
// negative, asterisks when the field is too narrow.
void edit_nonfinite(char* dst, int w, double v) {
    if (std::isnan(v)) {
        if (w < 3) return stars(dst, w);
        return place(dst, w, "NaN", 3);
    }
    const bool neg = std::signbit(v);
    if (neg) {
        if (w >= 9) return place(dst, w, "-Infinity", 9);
        if (w >= 4) return place(dst, w, "-Inf", 4);
        return stars(dst, w);
    }
    if (w >= 8) return place(dst, w, "Infinity", 8);
    if (w >= 3) return place(dst, w, "Inf", 3);
    stars(dst, w);
}

// Fw.d of a value given as its magnitude's digits: ip (integer part, decimal digits) and
// fp (exactly d fraction digits).
void place_fixed(char* dst, int w, int d, bool neg, const char* ip, int nip, const char* fp) {
    const bool zero_int = nip == 1 && ip[0] == '0';
    int len = (neg ? 1 : 0) + nip + 1 + d;
    bool keep_zero = true;
    if (len > w) {
        // The leading zero is optional when there are decimals to show.
        if (zero_int && d > 0 && len - 1 <= w) {
            keep_zero = false;
            --len;
        } else {
            return stars(dst, w);
        }
    }
    char* p = dst;
    std::memset(p, ' ', static_cast<size_t>(w - len));
    p += w - len;
    if (neg) *p++ = '-';
    if (keep_zero) {
        std::memcpy(p, ip, static_cast<size_t>(nip));
        p += nip;
    }
    *p++ = '.';
    std::memcpy(p, fp, static_cast<size_t>(d));
}

template <class T>
void edit_fixed(char* dst, int w, int d, T v) {
    if (!std::isfinite(v)) return edit_nonfinite(dst, w, static_cast<double>(v));
    const bool neg = std::signbit(v);
    const double a = std::fabs(static_cast<double>(v));
    char ip[FortranFormat::MAX_WIDTH + 1], fp[FortranFormat::MAX_WIDTH + 1];
    int nip = 0;
    // Fast path: a float scaled by 10^d (d <= 8) is exact in double, so rounding it to an
    // integer (halves to even, the default rounding mode) is the correctly rounded result.
    if (sizeof(T) == sizeof(float) && d <= 8 && a < 1e15 / P10D[d]) {
        const uint64_t m = static_cast<uint64_t>(std::nearbyint(a * P10D[d]));
        const uint64_t scale = static_cast<uint64_t>(P10D[d]);
        uint64_t q = m / scale, r = m % scale;
        char tmp[24];
        int nt = 0;
        do {
            tmp[nt++] = static_cast<char>('0' + q % 10);
            q /= 10;
        } while (q != 0);
        for (int k = 0; k < nt; ++k) ip[k] = tmp[nt - 1 - k];
        nip = nt;
        for (int k = d - 1; k >= 0; --k) {
            fp[k] = static_cast<char>('0' + r % 10);
            r /= 10;
        }
        return place_fixed(dst, w, d, neg, ip, nip, fp);
    }
    // A value with more integer digits than the field has room for cannot fit.
    if (a >= P10D[22] && a >= std::pow(10.0, w)) return stars(dst, w);
    char buf[2 * FortranFormat::MAX_WIDTH + 400];
    const auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::fixed, d);
    if (res.ec != std::errc()) return stars(dst, w);
    const int len = static_cast<int>(res.ptr - buf);
    const int dot = d > 0 ? len - d - 1 : len;
    nip = dot;
    std::memcpy(ip, buf, static_cast<size_t>(nip));
    if (d > 0) std::memcpy(fp, buf + dot + 1, static_cast<size_t>(d));
    place_fixed(dst, w, d, neg, ip, nip, fp);
}

// Ew.d[Ee] (SCI false: [-]0.ddd<exp>, d significant digits) or ESw.d[Ee] (SCI true:
// [-]D.ddd<exp>, d + 1 significant digits).
void edit_exp(char* dst, int w, int d, int e, double v, bool SCI) {
    if (!std::isfinite(v)) return edit_nonfinite(dst, w, v);
    const bool neg = std::signbit(v);
    const double a = std::fabs(v);
    const int nsig = SCI ? d + 1 : d;
    char mant[FortranFormat::MAX_WIDTH + 1];
    int ex = 0;   // exponent of the written form
    if (a == 0.0) {
        std::memset(mant, '0', static_cast<size_t>(nsig));
    } else {
        // nsig significant digits, correctly rounded: "D.DDDDe+XX".
        char buf[FortranFormat::MAX_WIDTH + 64];
        const auto res =
            std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, nsig - 1);
        if (res.ec != std::errc()) return stars(dst, w);
        const char* p = buf;
        mant[0] = *p++;
        if (nsig > 1) {
            ++p;   // the point
            std::memcpy(mant + 1, p, static_cast<size_t>(nsig - 1));
            p += nsig - 1;
        }
        ++p;       // 'e'
        int x = 0;
        std::from_chars(p[0] == '+' ? p + 1 : p, res.ptr, x);
        ex = SCI ? x : x + 1;
    }
    const int ax = ex < 0 ? -ex : ex;
    const int nax = ax < 10 ? 1 : ax < 100 ? 2 : ax < 1000 ? 3 : 4;
    char xbuf[8];
    int nx = 0;
    if (e > 0) {
        if (nax > e) return stars(dst, w);
        xbuf[nx++] = 'E';
        xbuf[nx++] = ex < 0 ? '-' : '+';
        for (int k = e - 1, t = ax; k >= 0; --k, t /= 10) xbuf[nx + k] = static_cast<char>('0' + t % 10);
        nx += e;
    } else if (nax <= 2) {
        xbuf[nx++] = 'E';
        xbuf[nx++] = ex < 0 ? '-' : '+';
        xbuf[nx++] = static_cast<char>('0' + ax / 10);
        xbuf[nx++] = static_cast<char>('0' + ax % 10);
    } else if (nax == 3) {
        xbuf[nx++] = ex < 0 ? '-' : '+';
        xbuf[nx++] = static_cast<char>('0' + ax / 100);
        xbuf[nx++] = static_cast<char>('0' + ax / 10 % 10);
        xbuf[nx++] = static_cast<char>('0' + ax % 10);
    } else {
        return stars(dst, w);
    }
    if (SCI) {
        const int len = (neg ? 1 : 0) + 1 + 1 + d + nx;   // [-]D.ddd<exp>
        if (len > w) return stars(dst, w);
        char* p = dst;
        std::memset(p, ' ', static_cast<size_t>(w - len));
        p += w - len;
        if (neg) *p++ = '-';
        *p++ = mant[0];
        *p++ = '.';
        std::memcpy(p, mant + 1, static_cast<size_t>(d));
        p += d;
        std::memcpy(p, xbuf, static_cast<size_t>(nx));
        return;
    }
    int len = (neg ? 1 : 0) + 1 + 1 + d + nx;   // [-]0.ddd<exp>
    bool zero = true;
    if (len > w) {
        if (len - 1 > w) return stars(dst, w);
        zero = false;
        --len;
    }
    char* p = dst;
    std::memset(p, ' ', static_cast<size_t>(w - len));
    p += w - len;
    if (neg) *p++ = '-';
    if (zero) *p++ = '0';
    *p++ = '.';
    std::memcpy(p, mant, static_cast<size_t>(d));
    p += d;
    std::memcpy(p, xbuf, static_cast<size_t>(nx));
}

template <class T>
void edit_real_t(char* dst, const EditField& fd, T v) {
    switch (fd.kind) {
    case 'F': return edit_fixed(dst, fd.w, fd.d, v);
    case 'E': return edit_exp(dst, fd.w, fd.d, fd.e, static_cast<double>(v), false);
    case 'S': return edit_exp(dst, fd.w, fd.d, fd.e, static_cast<double>(v), true);
    default: return stars(dst, fd.w);   // a real under I or A: not editable
    }
}

// ---------------------------------------------------------------------------------------
// Groups over lines

// Width of the text a line holds when its first cnt fields are written.
inline int used_width(const FortranFormat& f, int cnt, int item_len) {
    const EditField& last = f.field(cnt - 1);
    const int w = (last.kind == 'A' && last.w == 0) ? item_len : last.w;
    return last.col + w;
}

template <class T>
IoStat decode_numbers(std::string_view line, const FortranFormat& f, T* v, int cnt) {
    if (!f.ok() || cnt > f.per_line()) return IoStat::BAD;
    for (int j = 0; j < cnt; ++j) {
        const EditField& fd = f.field(j);
        const std::string_view s = field_text(line, fd.col, fd.w);
        bool good;
        if constexpr (std::is_same_v<T, int32_t>) {
            good = fd.kind == 'I' && decode_int(s, v[j]);
        } else {
            good = (fd.kind == 'F' || fd.kind == 'E' || fd.kind == 'S') &&
                   decode_real(s, fd.d, v[j]);
        }
        if (!good) return IoStat::BAD;
    }
    return IoStat::OK;
}

// Reads a group of n items over ceil(n/k) lines (one line when n is 0), DECODE(line, first,
// cnt) decoding items first..first+cnt-1 from one line.
template <class Fn>
IoStat read_lines(LineReader& in, const FortranFormat& f, int n, Fn&& DECODE) {
    const int k = f.per_line();
    int done = 0;
    do {
        std::string_view line;
        if (!in.next(line)) return IoStat::END;
        const int cnt = std::min(k, n - done);
        if (DECODE(line, done, cnt) != IoStat::OK) return IoStat::BAD;
        done += cnt;
    } while (done < n);
    return IoStat::OK;
}

template <class T>
IoStat read_numbers(LineReader& in, const FortranFormat& f, T* v, int n) {
    if (!f.ok() || n < 0) return IoStat::BAD;
    return read_lines(in, f, n, [&](std::string_view line, int first, int cnt) {
        return decode_numbers(line, f, v + first, cnt);
    });
}

// List-directed reading of n values from the next line on (see read_list).
template <class T>
IoStat read_list_t(LineReader& in, T* v, int n) {
    auto sep = [](char c) { return c == ' ' || c == '\t' || c == ','; };
    int done = 0;
    while (done < n) {
        std::string_view line;
        if (!in.next(line)) return IoStat::END;
        size_t i = 0;
        while (done < n) {
            while (i < line.size() && sep(line[i])) ++i;
            if (i >= line.size()) break;
            size_t j = i;
            while (j < line.size() && !sep(line[j])) ++j;
            if (!decode_real(line.substr(i, j - i), 0, v[done])) return IoStat::BAD;
            ++done;
            i = j;
        }
    }
    return IoStat::OK;
}

template <class T>
void write_numbers(std::string& out, const FortranFormat& f, const T* v, int n) {
    if (!f.ok() || n <= 0) {
        out.push_back('\n');
        return;
    }
    const int k = f.per_line();
    char line[FortranFormat::MAX_WIDTH + 1];
    for (int done = 0; done < n;) {
        const int cnt = std::min(k, n - done);
        const int width = used_width(f, cnt, 0);
        std::memset(line, ' ', static_cast<size_t>(width));
        for (int j = 0; j < cnt; ++j) {
            const EditField& fd = f.field(j);
            if (fd.w == 0) continue;
            if constexpr (std::is_same_v<T, int32_t>) {
                if (fd.kind == 'I') {
                    edit_int(line + fd.col, fd, v[done + j]);
                } else {
                    edit_real(line + fd.col, fd, static_cast<double>(v[done + j]));
                }
            } else {
                edit_real_t(line + fd.col, fd, v[done + j]);
            }
        }
        line[width] = '\n';
        out.append(line, static_cast<size_t>(width) + 1);
        done += cnt;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Public interface

FortranFormat::FortranFormat(std::string_view text) : text_(text) {
    FormatParser p(text, fields_);
    ok_ = p.parse();
    if (!ok_) fields_.clear();
}

LineReader::LineReader(std::istream& is) : is_(&is) { buf_.resize(1 << 16); }

bool LineReader::open(const std::string& path) {
    close();
    fp_ = std::fopen(path.c_str(), "rb");
    if (fp_ == nullptr) return false;
    buf_.resize(1 << 16);
    pos_ = end_ = 0;
    eof_ = skip_rest_ = failed_ = false;
    nlines_ = 0;
    nbytes_ = 0;
    return true;
}

void LineReader::close() {
    if (fp_ != nullptr) std::fclose(fp_);
    fp_ = nullptr;
    is_ = nullptr;
    in_memory_ = false;
    mem_ = {};
}

bool LineReader::seek(const Mark& m) {
    if (m.bytes < 0) return false;
    if (in_memory_) {
        if (m.bytes > static_cast<long long>(mem_all_.size())) return false;
        mem_ = mem_all_.substr(static_cast<size_t>(m.bytes));
    } else if (fp_ != nullptr || is_ != nullptr) {
        // The buffer holds the input from byte nbytes_ - pos_ to nbytes_ + (end_ - pos_): a
        // place inside it needs no repositioning of the file.
        const long long first = nbytes_ - static_cast<long long>(pos_);
        const long long last = nbytes_ + static_cast<long long>(end_ - pos_);
        if (m.bytes >= first && m.bytes <= last) {
            pos_ = static_cast<size_t>(m.bytes - first);
        } else if (fp_ != nullptr) {
            if (std::fseek(fp_, static_cast<long>(m.bytes), SEEK_SET) != 0) return false;
            std::clearerr(fp_);
            pos_ = end_ = 0;
            eof_ = false;
        } else {
            is_->clear();
            if (is_->tellg() < 0) return false;
            if (!is_->seekg(static_cast<std::streamoff>(m.bytes))) {
                is_->clear();
                return false;
            }
            pos_ = end_ = 0;
            eof_ = false;
        }
    } else {
        return false;
    }
    nbytes_ = m.bytes;
    nlines_ = m.lines;
    skip_rest_ = m.skip_rest;
    return true;
}

bool LineReader::fill() {
    if (eof_) return false;
    if (pos_ > 0) {
        std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    size_t got = 0;
    if (fp_ != nullptr) {
        got = std::fread(buf_.data() + end_, 1, buf_.size() - end_, fp_);
        if (got == 0 && std::ferror(fp_)) failed_ = true;
    } else if (is_ != nullptr && *is_) {
        is_->read(buf_.data() + end_, static_cast<std::streamsize>(buf_.size() - end_));
        got = static_cast<size_t>(is_->gcount());
        if (got == 0 && is_->bad()) failed_ = true;
    }
    end_ += got;
    if (got == 0) eof_ = true;
    return got != 0;
}

bool LineReader::next(std::string_view& line) {
    if (in_memory_) {
        if (mem_.empty()) return false;
        const size_t nl = mem_.find('\n');
        std::string_view l = mem_.substr(0, nl);
        nbytes_ += static_cast<long long>(nl == std::string_view::npos ? mem_.size() : nl + 1);
        mem_ = nl == std::string_view::npos ? std::string_view{} : mem_.substr(nl + 1);
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        line = l.substr(0, MAX_LINE);
        ++nlines_;
        return true;
    }
    if (fp_ == nullptr && is_ == nullptr) return false;
    // The tail of an overlong line delivered last time.
    while (skip_rest_) {
        const char* s = buf_.data() + pos_;
        const void* nl = std::memchr(s, '\n', end_ - pos_);
        if (nl != nullptr) {
            const size_t k = static_cast<size_t>(static_cast<const char*>(nl) - s) + 1;
            pos_ += k;
            nbytes_ += static_cast<long long>(k);
            skip_rest_ = false;
        } else {
            nbytes_ += static_cast<long long>(end_ - pos_);
            pos_ = end_ = 0;
            if (!fill()) skip_rest_ = false;
        }
    }
    for (;;) {
        const char* s = buf_.data() + pos_;
        const size_t avail = end_ - pos_;
        const void* nlp = std::memchr(s, '\n', avail);
        if (nlp != nullptr || eof_ || avail >= MAX_LINE) {
            if (avail == 0) return false;
            const size_t before = pos_;
            size_t len;
            if (nlp != nullptr) {
                len = static_cast<size_t>(static_cast<const char*>(nlp) - s);
                pos_ += len + 1;
                if (len > MAX_LINE) len = MAX_LINE;
            } else if (eof_) {
                len = std::min(avail, MAX_LINE);
                pos_ = end_;
            } else {
                len = MAX_LINE;
                pos_ += MAX_LINE;
                skip_rest_ = true;
            }
            nbytes_ += static_cast<long long>(pos_ - before);
            if (len > 0 && s[len - 1] == '\r') --len;
            line = std::string_view(s, len);
            ++nlines_;
            return true;
        }
        fill();
    }
}

bool LineWriter::open(const std::string& path) {
    close();
    fp_ = std::fopen(path.c_str(), "wb");
    buf_.clear();
    failed_ = false;
    return fp_ != nullptr;
}

void LineWriter::flush() {
    if (buf_.empty()) return;
    if (fp_ != nullptr) {
        if (std::fwrite(buf_.data(), 1, buf_.size(), fp_) != buf_.size()) failed_ = true;
    } else if (os_ != nullptr) {
        if (!os_->write(buf_.data(), static_cast<std::streamsize>(buf_.size()))) failed_ = true;
    } else {
        return;
    }
    buf_.clear();
}

bool LineWriter::close() {
    flush();
    if (os_ != nullptr) {
        if (!os_->flush()) failed_ = true;
        os_ = nullptr;
    }
    if (fp_ == nullptr) return !failed_;
    if (std::fclose(fp_) != 0) failed_ = true;
    fp_ = nullptr;
    return !failed_;
}

IoStat decode_line(std::string_view line, const FortranFormat& f, int32_t* v, int cnt) {
    return decode_numbers(line, f, v, cnt);
}
IoStat decode_line(std::string_view line, const FortranFormat& f, float* v, int cnt) {
    return decode_numbers(line, f, v, cnt);
}
IoStat decode_line(std::string_view line, const FortranFormat& f, double* v, int cnt) {
    return decode_numbers(line, f, v, cnt);
}

IoStat decode_line(std::string_view line, const FortranFormat& f, char* v, int len, int cnt) {
    if (!f.ok() || cnt > f.per_line() || len < 1) return IoStat::BAD;
    for (int j = 0; j < cnt; ++j) {
        const EditField& fd = f.field(j);
        if (fd.kind != 'A') return IoStat::BAD;
        const int w = fd.w == 0 ? len : fd.w;
        decode_chars(field_text(line, fd.col, w), w, v + static_cast<ptrdiff_t>(j) * len, len);
    }
    return IoStat::OK;
}

bool blank_field(std::string_view line, const EditField& fd) {
    return field_text(line, fd.col, fd.w).find_first_not_of(' ') == std::string_view::npos;
}

IoStat read_list(LineReader& in, float* v, int n) { return read_list_t(in, v, n); }
IoStat read_list(LineReader& in, double* v, int n) { return read_list_t(in, v, n); }

IoStat read_group(LineReader& in, const FortranFormat& f, int32_t* v, int n) { return read_numbers(in, f, v, n); }
IoStat read_group(LineReader& in, const FortranFormat& f, float* v, int n) { return read_numbers(in, f, v, n); }
IoStat read_group(LineReader& in, const FortranFormat& f, double* v, int n) { return read_numbers(in, f, v, n); }

IoStat read_group(LineReader& in, const FortranFormat& f, char* v, int len, int n) {
    if (!f.ok() || n < 0 || len < 1) return IoStat::BAD;
    return read_lines(in, f, n, [&](std::string_view line, int first, int cnt) {
        return decode_line(line, f, v + static_cast<ptrdiff_t>(first) * len, len, cnt);
    });
}

void write_group(std::string& out, const FortranFormat& f, const int32_t* v, int n) { write_numbers(out, f, v, n); }
void write_group(std::string& out, const FortranFormat& f, const float* v, int n) { write_numbers(out, f, v, n); }
void write_group(std::string& out, const FortranFormat& f, const double* v, int n) { write_numbers(out, f, v, n); }

void write_group(std::string& out, const FortranFormat& f, const char* v, int len, int n) {
    if (!f.ok() || n <= 0 || len < 1) {
        out.push_back('\n');
        return;
    }
    const int k = f.per_line();
    for (int done = 0; done < n;) {
        const int cnt = std::min(k, n - done);
        const size_t start = out.size();
        out.append(static_cast<size_t>(used_width(f, cnt, len)), ' ');
        char* line = out.data() + start;
        for (int j = 0; j < cnt; ++j) {
            const EditField& fd = f.field(j);
            const char* item = v + static_cast<ptrdiff_t>(done + j) * len;
            char* dst = line + fd.col;
            if (fd.kind != 'A') {
                stars(dst, fd.w);
                continue;
            }
            // Output: w > len right-justifies the item; w < len writes its first w characters.
            const int w = fd.w == 0 ? len : fd.w;
            if (w >= len) {
                std::memcpy(dst + (w - len), item, static_cast<size_t>(len));
            } else {
                std::memcpy(dst, item, static_cast<size_t>(w));
            }
        }
        out.push_back('\n');
        done += cnt;
    }
}

namespace {

template <class T>
std::string edit_line_t(const FortranFormat& f, const T* v, int cnt) {
    std::string out;
    write_numbers(out, f, v, std::max(1, std::min(cnt, f.per_line())));
    out.pop_back();
    return out;
}

}  // namespace

std::string edit_line(const FortranFormat& f, const int32_t* v, int cnt) { return edit_line_t(f, v, cnt); }
std::string edit_line(const FortranFormat& f, const float* v, int cnt) { return edit_line_t(f, v, cnt); }
std::string edit_line(const FortranFormat& f, const double* v, int cnt) { return edit_line_t(f, v, cnt); }

std::string edit_value(std::string_view fmt, double v) { return edit_line(FortranFormat(fmt), &v, 1); }
std::string edit_value(std::string_view fmt, int32_t v) { return edit_line(FortranFormat(fmt), &v, 1); }

void edit_int(char* dst, const EditField& fd, int64_t v) {
    const int w = fd.w;
    if (fd.kind != 'I') return stars(dst, w);
    char tmp[FortranFormat::MAX_WIDTH + 24];
    int n = 0;
    uint64_t a = v < 0 ? static_cast<uint64_t>(-(v + 1)) + 1 : static_cast<uint64_t>(v);
    do {
        tmp[n++] = static_cast<char>('0' + a % 10);
        a /= 10;
    } while (a != 0);
    while (n < fd.d && n < FortranFormat::MAX_WIDTH) tmp[n++] = '0';   // Iw.m: leading zeros
    const int len = n + (v < 0 ? 1 : 0);
    if (len > w) return stars(dst, w);
    char* p = dst;
    std::memset(p, ' ', static_cast<size_t>(w - len));
    p += w - len;
    if (v < 0) *p++ = '-';
    for (int k = n - 1; k >= 0; --k) *p++ = tmp[k];
}

void edit_real(char* dst, const EditField& fd, float v) { edit_real_t(dst, fd, v); }
void edit_real(char* dst, const EditField& fd, double v) { edit_real_t(dst, fd, v); }

}  // namespace zelk::fio

// Fixed-column fields of the model data files and listings.
#include "models/textfields.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace zelk::models {

namespace {

// The characters of the field with the blanks removed.
std::string fieldtext(std::string_view line, int col, int width) {
    std::string s;
    for (int i = col - 1; i < col - 1 + width && i < static_cast<int>(line.size()); ++i) {
        const char ch = line[static_cast<size_t>(i)];
        if (ch != ' ' && ch != '\t' && ch != '\r' && ch != '\n') s.push_back(ch);
    }
    return s;
}

}  // namespace

bool FIELDBLANK(std::string_view line, int col, int width) {
    return fieldtext(line, col, width).empty();
}

bool FIELDINT(std::string_view line, int col, int width, int& v) {
    std::string s = fieldtext(line, col, width);
    if (s.empty()) {
        v = 0;
        return true;
    }
    if (s[0] == '+') s.erase(0, 1);
    int x = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), x);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
    v = x;
    return true;
}

bool FIELDREAL(std::string_view line, int col, int width, int d, float& v) {
    std::string s = fieldtext(line, col, width);
    if (s.empty()) {
        v = 0.0f;
        return true;
    }
    if (s[0] == '+') s.erase(0, 1);
    // Split off the exponent (E or D, or a sign after the first digit as in 1.0+05).
    std::string mant = s;
    std::string expo;
    for (size_t i = 1; i < s.size(); ++i) {
        const char ch = s[i];
        if (ch == 'E' || ch == 'e' || ch == 'D' || ch == 'd') {
            mant = s.substr(0, i);
            expo = s.substr(i + 1);
            break;
        }
        if ((ch == '+' || ch == '-') && s[i - 1] != 'E' && s[i - 1] != 'e') {
            mant = s.substr(0, i);
            expo = s.substr(i);
            break;
        }
    }
    // A mantissa without a decimal point carries d implied decimals.
    if (mant.find('.') == std::string::npos && d > 0) {
        const bool neg = !mant.empty() && mant[0] == '-';
        std::string digits = neg ? mant.substr(1) : mant;
        const size_t nd = static_cast<size_t>(d);
        if (digits.size() <= nd) digits = std::string(nd + 1 - digits.size(), '0') + digits;
        const size_t nint = digits.size() - nd;
        mant = (neg ? std::string("-") : std::string()) + digits.substr(0, nint) + '.' +
               digits.substr(nint);
    }
    std::string text = mant;
    if (!expo.empty()) {
        if (expo[0] == '+') expo.erase(0, 1);
        text.push_back('e');
        text.append(expo);
    }
    float x = 0.0f;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), x);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    v = x;
    return true;
}

std::string FMTF(float v, int w, int d) {
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%*.*f", w, d, static_cast<double>(v));
    if (n < 0 || n > w || !std::isfinite(v)) return std::string(static_cast<size_t>(w), '*');
    return buf;
}

std::string FMTI(int v, int w) {
    char buf[32];
    const int n = std::snprintf(buf, sizeof buf, "%*d", w, v);
    if (n < 0 || n > w) return std::string(static_cast<size_t>(w), '*');
    return buf;
}

}  // namespace zelk::models

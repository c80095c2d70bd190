// Reading a run report back: its embedded data, its plots, and runs of the batch program that
// write one, for the report tests.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ztest.hpp"

namespace ztest {

inline std::string slurp_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The items of the column NAME of the report's embedded records, as written ("null" for a
// missing value, strings with their quotes); empty when there is no such column.
inline std::vector<std::string> data_column(const std::string& page, const std::string& name) {
    std::vector<std::string> items;
    const auto records = page.find("\"records\":{");
    if (records == std::string::npos) return items;
    const std::string key = "\"" + name + "\":[";
    const auto at = page.find(key, records);
    if (at == std::string::npos) return items;
    const auto begin = at + key.size();
    const auto end = page.find(']', begin);
    std::string item;
    std::istringstream in(page.substr(begin, end - begin));
    while (std::getline(in, item, ',')) items.push_back(item);
    return items;
}

// The number given in the attribute data-n of the series plot of quantity q of station st
// (the n-th plot of that quantity, counting stations in page order), -1 when absent.
inline long series_points(const std::string& page, const std::string& q, int nth) {
    const std::string key = "<svg class=\"series\" data-q=\"" + q + "\"";
    size_t at = 0;
    for (int k = 0; k <= nth; ++k) {
        at = page.find(key, k == 0 ? 0 : at + 1);
        if (at == std::string::npos) return -1;
    }
    const auto n = page.find("data-n=\"", at);
    return std::strtol(page.c_str() + n + 8, nullptr, 10);
}

// The path data of the dots of that plot: one "M x y h0" per point drawn.
inline size_t series_dots(const std::string& page, const std::string& q, int nth) {
    const std::string key = "<svg class=\"series\" data-q=\"" + q + "\"";
    size_t at = 0;
    for (int k = 0; k <= nth; ++k) {
        at = page.find(key, k == 0 ? 0 : at + 1);
        if (at == std::string::npos) return 0;
    }
    const auto d = page.find("<path class=\"dots\" d=\"", at);
    const auto e = page.find('"', d + 22);
    const std::string path = page.substr(d + 22, e - d - 22);
    size_t n = 0;
    for (char c : path) n += c == 'M';
    return n;
}

// Counts the occurrences of text in page.
inline size_t count_of(const std::string& page, const std::string& text) {
    size_t n = 0;
    for (size_t at = page.find(text); at != std::string::npos; at = page.find(text, at + 1)) ++n;
    return n;
}

// Runs a shell command line; returns its exit status.
inline int shell(const std::string& cmd) {
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

}  // namespace ztest

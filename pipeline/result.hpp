// The result of one record, built once after the record update from the data areas: what
// every per-record output (the summaries, and any format added beside them) reports. The
// rules of what a record carries when its inversion failed live here and nowhere else.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "inversion/inversion.hpp"

#include "inversion/inversion.hpp"

namespace zelk {
struct Zelk;
}

namespace zelk::pipeline {

// The inversion status ISTAT (IQUALE(2)) and its meaning.
enum class Status : int16_t {
    NO_TRACE = inversion::ISTAT_NO_TRACE,       // no usable trace points
    INVERTED = inversion::ISTAT_OK,             // profile inverted
    E_RANGE = inversion::ISTAT_E_RANGE,         // E region frequency range error
    F2_RANGE = inversion::ISTAT_F2_RANGE,       // F2 region frequency range error
    F1_RANGE = inversion::ISTAT_F1_RANGE,       // F1 region frequency range error
    E_UNREASONABLE = inversion::ISTAT_E_BAD,    // E trace physically unreasonable
    F2_UNREASONABLE = inversion::ISTAT_F2_BAD,  // F2 trace unreasonable
    F1_UNREASONABLE = inversion::ISTAT_F1_BAD,  // F1 trace unreasonable
    F1_THICK = inversion::ISTAT_F1_THICK,       // F1 layer solution too thick
    F1_OSCILLATES = inversion::ISTAT_F1_OSC,    // F1 layer solution oscillates
    F2_FEW = inversion::ISTAT_F2_FEW,           // too few F2 points
    F2_OSCILLATES = inversion::ISTAT_F2_OSC,    // F2 solution oscillates or fits badly
    F1_ROOTS = inversion::ISTAT_F1_ROOTS,       // F1 layer roots too severe to correct
    F2_ROOTS = inversion::ISTAT_F2_ROOTS,       // F2 layer roots too severe to correct
};

// The word for the method that made a record's result (see RecordResult::mode).
const char* made_by_text(inversion::MadeBy m);

// Words for an inversion status ("unknown status" for a value without a meaning).
const char* status_text(int16_t ISTAT);

// A characteristic of the record: absent when it was not determined (never 9999).
struct Value {
    std::optional<double> v;
    int decimals = 3;         // decimals it is reported with
};

// The description of one solved region as the output record carries it (groups 39, 38,
// 37): the frequencies where the region starts and ends (MHz), its peak height (km), the
// mean residual of its fit (km) and the coefficients of its polynomial (3 for E, 5 for F1
// and F2).
struct RegionDescription {
    float start = 0.0f, end = 0.0f, peak_height = 0.0f, residual = 0.0f;
    int ncoef = 0;
    float coef[5] = {};
};

// One quasi-parabolic segment (group 40): lower and upper radius (km from the Earth's
// centre), the coefficients of fN^2 = a/r^2 + b/r + c (MHz^2, r in km) and the largest
// relative error of fN^2 in the segment.
struct QpSegment {
    double bottom = 0.0, top = 0.0, a = 0.0, b = 0.0, c = 0.0, error = 0.0;
};

// Which regions the record is described with, by the inversion status: E unless its trace
// was found unreasonable (or, for a model or scaled foE without trace, only for an inverted
// profile); F1 and F2 only for an inverted profile whose root checks passed, F1 only with an
// F1 layer. The record update writes these groups; the results report the same.
struct RegionDescriptions {
    std::optional<RegionDescription> E, F1, F2;
};
RegionDescriptions region_descriptions(const Zelk& z);

// The quasi-parabolic segments of the record (none without a fit).
std::vector<QpSegment> qp_segments(const Zelk& z);

struct RecordResult {
    std::string station;      // station name, trailing blanks removed
    int16_t station_code = 0;
    std::string time;         // ISO 8601 UTC; empty when the stamp holds no valid time
    int16_t istat = 0;        // the inversion status as a number
    const char* status = "";  // and in words

    // Characteristics, in the order of the summaries (MHz, km).
    static constexpr int NCHAR = 13;
    static constexpr const char* CHAR_NAMES[NCHAR] = {
        "foE", "hmE", "foF1", "hmF1", "foF2", "hmF2", "hhalf", "yF2", "B0", "B1", "D1", "TEC", "H_top"};
    Value characteristic[NCHAR];
    int16_t n_qp = 0;         // quasi-parabolic segments
    // Which method made the result, in a refined run ("refined", "refined-f1-merged",
    // "fallback": the standard result after the refined mode failed, "standard": neither
    // inverted the record); nullptr in the standard mode.
    const char* mode = nullptr;
    Value er_F2;              // mean F2 fit residual (km)

    RegionDescriptions regions;     // as the output record describes them
    std::vector<QpSegment> qp;      // the quasi-parabolic segments (n_qp of them)
};

// The result of the record in z, as the record update left it.
RecordResult record_result(const Zelk& z);

}  // namespace zelk::pipeline

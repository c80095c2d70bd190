// The result of one record, built once after the record update from the data areas: what
// every per-record output (the summaries, and any format added beside them) reports. The
// rules of what a record carries when its inversion failed live here and nowhere else.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "inversion/inversion.hpp"

namespace zelk {
struct Zelk;
}

namespace zelk::pipeline {

// The inversion status ISTAT (IQUALE(2)) and its meaning.
enum class Status : int16_t {
    NO_TRACE = 0,          // no usable trace points
    INVERTED = 2,          // profile inverted
    E_RANGE = 4,           // E region frequency range error
    F2_RANGE = 5,          // F2 region frequency range error
    F1_RANGE = 6,          // F1 region frequency range error
    E_UNREASONABLE = 7,    // E trace physically unreasonable
    F2_UNREASONABLE = 8,   // F2 trace unreasonable
    F1_UNREASONABLE = 9,   // F1 trace unreasonable
    F1_THICK = 10,         // F1 layer solution too thick
    F1_OSCILLATES = 11,    // F1 layer solution oscillates
    F2_FEW = 12,           // too few F2 points
    F2_OSCILLATES = 18,    // F2 solution oscillates or fits badly
    F1_ROOTS = 25,         // F1 layer roots too severe to correct
    F2_ROOTS = 26,         // F2 layer roots too severe to correct
};

// The word for the method that made a record's result (see RecordResult::mode).
const char* MADE_BY_TEXT(inversion::MadeBy m);

// Words for an inversion status ("unknown status" for a value without a meaning).
const char* STATUS_TEXT(int16_t ISTAT);

// A characteristic of the record: absent when it was not determined (never 9999).
struct Value {
    std::optional<double> v;
    int decimals = 3;         // decimals it is reported with
};

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
};

// The result of the record in z, as the record update left it.
RecordResult RECORD_RESULT(const Zelk& z);

}  // namespace zelk::pipeline

// Standard-format input: a free-format text of stations, times, critical frequencies and
// trace points, converted record by record into a VXO file of layout version 0 that the
// VXO reader reads back.
//
// A Standard record is
//   [station line]                a line that is not six integers: the station name
//   [lat lon gyro dip ssn]        five numbers, after a station line only (degrees, MHz,
//                                 degrees, sunspot number)
//   year month day hour min sec   six integers (two-digit years: 50..99 -> 19xx, 0..49 -> 20xx)
//   three trace blocks, E, F1, F2, each:
//     fc                          critical frequency (MHz; 99 = not scaled, its points unused)
//     f h'                        one pair per line (MHz, km), as many as there are
//     END                         any line that does not begin with two numbers ends the block
// Items are separated by blanks, tabs or commas; blank lines are passed over.
//
// Glossary: DATETODAY checks a calendar date and gives its day of year, GRIDDATA puts a trace
// point on the nearest frequency and height grid, WRTADEP writes a converted record in the
// old layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/fortran_io.hpp"
#include "iondata/record.hpp"

namespace zelk::iondata {

using fio::FortranFormat;
using fio::IoStat;
using fio::LineReader;
using fio::LineWriter;

// DATETODAY: the 4-digit year and day of year of a date, and whether the date exists.
//
// Given year (0..49 -> 20xx, 50..999 -> 19xx, from 1000 on as it is), month and day.
// Returns year4, the day of year DOY (1..366; 0 when the date is refused) and the error code:
// 1 the month is not 1..12, 2 a February day beyond 28 (29 in a leap year: divisible by 400,
// or by 4 and not by 100), 3 a day beyond the length of another month or a day below 1,
// 0 for a valid date.
void DATETODAY(int32_t year, int32_t month, int32_t day, int32_t& year4, int32_t& DOY,
               int32_t& error);

// GRIDDATA: moves a trace point to the nearest grid frequency and whole kilometre.
//
// freq (MHz) above 0: the candidates are the multiples g, g-1, g-2 of each step 0.1, 0.05,
// 0.025 MHz (g = integer part of freq/step, plus 1), each rounded to 0.001 MHz; the nearest
// replaces freq (the first one tried wins a tie) and fstep becomes its step when that is
// smaller. height (km) above 0: the same with the single step 1 km (halves go up); hstep
// becomes 1 when larger. Values of 0 or less are left alone.
void GRIDDATA(float& freq, float& height, float& fstep, float& hstep);

// WRTADEP: writes the record in layout version 0, groups 1 to 42 only.
//
// The index with "(40I3)" (element 80 = 0, counts of groups 43..60 = 0, every count held
// within the old-layout capacity of its group), then each group of 1..42 with a count
// above 0 in the old formats: heights "(40I3)" (integer forms), frequencies "(20F6.3)",
// amplitudes and flags "(60I2)", digits "(120I1)", coefficients "(13E9.4E1)", the time stamp
// one character per field. Changes the index of the record as written.
void WRTADEP(LineWriter& unit, IonogramRecord& rec);

// What a conversion did.
struct StandardOutcome {
    int32_t records = 0;     // records met (each date line starts one)
    int32_t written = 0;     // records written to the VXO file
    int32_t dropped = 0;     // records met but not written (each with a notice)
    bool stopped = false;    // the conversion ended before the end of the file
    std::vector<std::string> notices;   // plain-language lines about dropped records, points
                                        // and where the conversion stopped, in order
};

// Most notices kept for one file; the rest are counted in a last line.
static constexpr int MAXNOTICES = 50;

// NONVXO_VXO's reading of a Standard file: reads the Standard records of in and writes
// each accepted one with WRTADEP to out.
//
// The converted record is the caller's (a fresh one per file): its station name and
// geophysical constants carry over to records without a station line. A record is dropped
// (notice, reading goes on) when
//   - no station line came before it in the file (it has no geophysical constants),
//   - a scaled foE is not at least 0.0001 MHz below a scaled foF1 and foF2, or a scaled foF1
//     not at least 0.0001 MHz below a scaled foF2,
//   - its year cannot be held by the two-digit year of the time stamp (1970..2069),
//   - a critical frequency lies beyond the 800-line frequency grid.
// Points are dropped at frequency 0 or less, within 0.001 MHz of the point kept before,
// and (counted in a notice) at a height of 0 km or less or above 999 km; a trace longer than
// its group (150, 150, 400 lines) keeps its highest lines, next to the critical frequency.
// A western longitude (-360 to 0) is stored as east longitude (+360). The conversion stops (stopped = true, the records before kept) at a date or time
// out of range (hour 24 is taken as 0 h of the next day), at a value that is not a number
// where one is needed or a station constant the old layout cannot hold, and at the end of the file inside a record, except within the
// F2 points of its last record, where the end of the file ends the block.
StandardOutcome standard_to_vxo(LineReader& in, LineWriter& out, IonogramRecord& rec);

}  // namespace zelk::iondata

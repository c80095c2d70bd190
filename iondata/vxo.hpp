// VXO files: the format texts of each layout version, the reader READVXO and the writer
// WRITVXO of the Ionogram record.
#pragma once

#include <cstdint>
#include <string>

#include "core/fortran_io.hpp"
#include "iondata/record.hpp"

namespace zelk::iondata {

// The VXO files are read and written through the formatted text I/O of core/.
using fio::FortranFormat;
using fio::IoStat;
using fio::LineReader;
using fio::LineWriter;

// The format texts of one layout version, one per class of data group, parsed once.
struct VxoFormats {
    FortranFormat index;            // "(40I3)": the data file index
    FortranFormat heights;          // "(40I3)" old, "(15F8.3)" new
    FortranFormat constants;        // "(16F7.3)"
    FortranFormat text;             // "(A120)"
    FortranFormat characters;       // "(120A1)"
    FortranFormat characteristics;  // "(15F8.3)"
    FortranFormat flags;            // "(60I2)"
    FortranFormat digits;           // "(120I1)"
    FortranFormat frequencies;      // "(20F6.3)" old, "(15F8.3)" new
    FortranFormat coefficients;     // "(13E9.4E1)" version 0, "(10E11.6E1)" later
    FortranFormat amplitudes;       // "(60I2)" old, "(40I3)" new
    FortranFormat profile;          // "(15E8.3E1)"
    FortranFormat segments;         // "(6E20.12)"
};

// The formats of layout version `version`: 0, 1, or 2 and later (negative: as 0).
const VxoFormats& vxo_formats(int version);

// Capacity of the record array that holds group g (1..60) in a record of layout `version`:
// the largest valid count. Groups 8, 13 and 18 hold integers (400, 150, 150) in the old
// layouts and reals (1000) in the new one; group 40 goes to the valley storage (20) in the
// old layouts; groups 53 and 60 are read into scratch storage of 999 and discarded.
int vxo_capacity(int g, int version);

// Why READVXO refused a record (or found it cut), and where the record began.
enum class VxoRefusal : int8_t {
    NONE,      // read whole
    ELEMENT1,  // index element 1 outside 1..16
    VERSION,   // negative layout version
    COUNT,     // a group count beyond its array (group)
    GROUP,     // a group does not decode (group)
    CUT,       // the file ends inside the record (group being read)
};
struct VxoPlace {
    long line = 0;   // line of the file (1-based) where the record's index begins; 0: none found
    VxoRefusal why = VxoRefusal::NONE;
    int group = 0;
    // Records after a refused one that have an acceptable index but do not read whole
    // either, passed over on the way to the next record that does (the first one's line).
    int passed = 0;
    long passed_line = 0;
};
// The reason in words, for messages: "index element 1 outside 1 to 16", ...
std::string vxo_refusal_text(const VxoPlace& place);

// READVXO: reads the next record of an open VXO file into the Ionogram record.
//
// Given the input unit positioned at a line of the file. Lines are skipped one at a time
// (each skipped line is left in SYSDSC1) until two lines decode as the 80 integers of an
// index, which go to IDX. The record is refused (LBAD = 1, nothing more read) when index
// element 1 is outside 1..16, element 80 (the layout version) is negative, or any group
// count is negative or above its capacity (vxo_capacity). Otherwise the groups 1..60 present
// in the index are read with the formats of the record's version: the O-ray virtual heights
// (7, 12, 17) in both forms (old layouts: integer read, real = integer except 999 -> 9999.0;
// new: real read, integer = real truncated toward zero), the other height groups in the form
// of the layout; group 40 as doubles (new) or into VALLEY (old); 51-53 together when element
// 51 >= 1, 58-60 together when element 58 >= 1, the densities of 53 and 60 decoded and
// discarded. Before group 4, SCALED is set to 9999.0 throughout when any of its entries is 0
// or negative or 999.0.
//
// Old layouts (version 0, 1) also fill the real form of the X-ray and Es virtual heights
// (22, 26, 30, 43) and read group 47 as integers into reals, with 999 -> 9999.0 as for the
// O-ray heights, and mirror group 40 into QPSEGS, so that a record written out in layout 5
// keeps every value. Their profile groups (51-53, 58-60), which have no format of their own
// in the old layouts, are read with the profile format "(15E8.3E1)".
//
// A refused record costs that record only: the unit is left at the next line after the
// refused record's first index line where a record reads whole (or is cut only by the end of
// the file), found by trying each candidate index and the groups it announces on a scratch
// record; at the end of the file when there is none. Damaged records passed over on the way
// (an acceptable index whose groups do not decode) are counted in `place`. (A stream that
// cannot be repositioned is left after the failing line.) Files without a refused record
// read as they always did.
//
// Status values:
//   IEOF  -1 at the end of the file (before an index or inside a record), 0 after a whole
//         record, unchanged otherwise;
//   LREAD 1 after a whole record, never reset here;
//   LBAD  1 when no index was accepted or a group did not decode, 0 otherwise (also at an
//         end of file inside a record).
// `place`, when given, receives where the record began and why it was refused or cut.
// Arrays of groups the record does not carry keep their values. No input (truncated,
// binary, overlong lines) makes the reader write outside an array; only the search after a
// refused record allocates (its scratch record).
void READVXO(int32_t& IEOF, LineReader& unit, IonogramRecord& rec, int16_t& LREAD, int16_t& LBAD,
             VxoPlace* place = nullptr);

// WRITVXO: writes the Ionogram record in layout version 5.
//
// Writes the index (two lines of "(40I3)") and every group with a count above 0 in group
// order with its version-5 format: group 2 as one or two 120-character lines, 3, 54, 55 one
// character per field, 40 as doubles "(6E20.12)", 51 and 52 with "(15F8.3)", 58 and 59 with
// "(15E8.3E1)". Groups 51-53 are written together when element 51 is above 0 and 58-60 when
// element 58 is above 0, each with its own count (a count of 0 is one empty line), as the
// reader reads them back. Group 53 is 12380 f^2 of the first (count of 53) plasma frequencies
// of group 52 and group 60 the same of group 59, both "(15E8.3E1)".
//
// Changes the record: counts are clamped to 0..capacity (so nothing beyond an array is
// written and the index agrees with the lines), index element 80 = 5, groups 8, 13 and 18 are
// not written and carry count 0, and the first element of their integer and real arrays
// is 0 afterwards. The text goes to the unit's pending output; write errors show in the
// unit's close().
void WRITVXO(LineWriter& unit, IonogramRecord& rec);

}  // namespace zelk::iondata

// What the time stamp and the system description of a record say: layout, station, time and
// sounder settings, decoded without changing the record.
#pragma once

#include <cstdint>
#include <string>

#include "iondata/record.hpp"

namespace zelk::iondata {

// Outcome of the stamp decoding and of the record preparation. PREP_STATION costs the record
// only; every other value other than PREP_OK ends the processing of the file.
enum PrepStatus : int16_t {
    PREP_OK = 0,
    PREP_LAYOUT = 1,     // time-stamp layout not recognised
    PREP_TIME = 2,       // day, hour, minute or second out of range
    PREP_SOUNDER = 3,    // zero frequency step or height step, or no range start
    PREP_FOF2 = 4,       // an F2 trace with foF2 above 99 MHz
    PREP_STATION = 5,    // a station constant that no station can have (station_fault)
};

// The station constants of group 1 that the models and the inversion use, checked before
// them: gyrofrequency 0 (not given) to 5 MHz, dip and latitude within -90 to 90 degrees,
// longitude within -360 to 360 degrees, sunspot number within 0 to 1000, all finite. Returns
// "" when they are possible, else the first impossible one in words ("longitude 3.4e+38
// outside -360 to 360"). A record that does not carry a constant (count of group 1 below
// its position) is judged on the value its array holds, as the inversion would use it.
std::string station_fault(const IonogramRecord& rec);

// Words for a PrepStatus, for messages to the user.
const char* prep_text(int16_t status);

// Digit value of a time-stamp character: its code minus the code of '0' (any character is
// accepted; a non-digit gives a value outside 0..9, as the stamp decoding has always done).
inline int CHAR_NUM(char c) { return static_cast<int>(c) - static_cast<int>('0'); }

// What the time stamp of a record says: layout, station, time and sounder settings.
struct StampInfo {
    int16_t LAYOUT = 0;        // 1, 2 or 3; 0 = not recognised
    int16_t IOFF = 0;          // character offset of the layout
    int16_t ISTNCODE = 0;      // station code
    int16_t IYR = 0, IDAY = 0, IHR = 0, MINU = 0, ISEC = 0;   // year (2 digits), day of year, time
    float FQINCR = 0.0f;       // frequency step (MHz)
    float HGRID = 0.0f;        // height step of the range bins (km)
    float BASEHT = -999.0f;    // range start minus HGRID (km); -999.0 = no range start
};

// Decodes the time stamp of rec (index element 3 and TSTAMP) without changing anything.
// Returns PREP_OK, PREP_LAYOUT (nothing decoded), PREP_TIME (time out of range; the other
// fields are decoded) or PREP_SOUNDER (no step, bin size or range start).
int16_t decode_stamp(const IonogramRecord& rec, StampInfo& st);

// Station name from a system-description line: the word after the first "NAME " found at
// positions 1..114, up to the first blank or comma, at most 20 characters, left-justified
// and blank-padded to 20; "NO NAME" (padded) when there is none.
void station_name(const F1<char, 120>& SYSDSC1, char (&STNAME)[21]);

// Four-digit year of a one-, two- or four-digit year field: below 70 -> 20xx, 70..999 ->
// 19xx (a three-digit value counts from 1900), from 1000 on the value itself.
int full_year(int IYR);

// ISO 8601 UTC date-time "YYYY-MM-DDThh:mm:ssZ" of a year, day of year and time; an empty
// string when the day does not exist in that year (0, or 366 in a common year).
std::string iso_time(int IYR, int IDAY, int IHR, int MINU, int ISEC);

}  // namespace zelk::iondata

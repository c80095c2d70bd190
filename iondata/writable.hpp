// Values of a record that its layout-5 output cannot hold. The reader accepts values their
// output field cannot hold (-9999.99 or 1e38 in an F8.3 field, a NaN the inversion made);
// written as they stand they would come out as asterisks or "NaN", and the output record
// would not read back. The record is made writable first, value by value.
#pragma once

#include <string>
#include <vector>

#include "iondata/record.hpp"

namespace zelk::iondata {

// One value that its output field cannot hold.
struct Unwritable {
    int group = 0;     // data group (1..60)
    int element = 0;   // 1-based element of the group
    double value = 0.0;
};

// "group 4 value 3 (1e+38)"
std::string unwritable_text(const Unwritable& u);

// Checks every value WRITVXO would write (the same groups, counts and formats) and decides:
//  - a station constant or Doppler table value (groups 1 and 6, "F7.3", which has no room
//    for the missing value) makes the record unusable: returns false with the first such
//    value in `fatal`, changing nothing;
//  - any other real is set to the missing value 9999.0 (plasma frequencies of the profile
//    groups 52 and 59, whose densities 53 and 60 follow from them, to 0);
//  - an integer (amplitudes, flags, digits) is set to 0;
// each changed value is appended to `missing` with the value it had. Returns true when the
// record can be written; every value it then holds reads back as written.
bool make_writable(IonogramRecord& rec, std::vector<Unwritable>& missing, Unwritable& fatal);

}  // namespace zelk::iondata

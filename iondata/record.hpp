// The Ionogram record: the data file index IDX and one array per VXO data group.
//
// One record lives in the run context for the whole run and is overwritten record by
// record by READVXO; record preparation reads it, the record update fills it with the
// results and WRITVXO writes it. Arrays are 1-based (element 0 unused) with the capacities
// below; a group count above its capacity is refused by the reader. Arrays of groups that
// a record does not carry keep the values of earlier records.
//
// Height forms: the O-ray virtual-height groups 7, 12 and 17 keep both an integer and a
// real form. For the true-height groups 8, 13, 18 and the virtual-height groups 22, 26, 30
// and 43 the old layouts (version 0 and 1) fill the integer form only and the new layout
// (version 2 and later) the real form only. Group 47 is always held as reals.
//
// Text groups are blank-padded character fields indexed from 1 like the other arrays:
// SYSDSC1(p) is character p of the system description.
#pragma once

#include <cstdint>

#include "core/farray.hpp"

namespace zelk::iondata {

// Number of data groups of a record, and of elements of the index.
static constexpr int NGROUPS = 60;
static constexpr int NIDX = 80;
// Layout version written by the program (index element 80).
static constexpr int VXO_VERSION_OUT = 5;

// Capacity of the record array of each group (index 1..60); 0 for the groups that are
// read and discarded (53 and 60: the densities are recomputed on output). Group 2 counts
// 120-character lines (at most 2). For groups 8, 13 and 18 it is the capacity of the
// integer form, the smaller of the two.
inline constexpr int16_t GROUP_CAPACITY[NGROUPS + 1] = {
    0,
    16, 2, 120, 120, 60, 16,                  // 1..6
    400, 400, 400, 400, 400,                  // 7..11   O-ray F2
    150, 150, 150, 150, 150,                  // 12..16  O-ray F1
    150, 150, 150, 150, 150,                  // 17..21  O-ray E
    400, 400, 400, 400,                       // 22..25  X-ray F2
    150, 150, 150, 150,                       // 26..29  X-ray F1
    150, 150, 150, 150,                       // 30..33  X-ray E
    20, 20, 20,                               // 34..36  median amplitudes
    20, 20, 20,                               // 37..39  profile descriptions
    153,                                      // 40      quasi-parabolic segments
    120, 20,                                  // 41, 42
    150, 150, 150, 150,                       // 43..46  O-ray Es
    150, 150, 150, 150,                       // 47..50  O-ray auroral E
    999, 999, 999,                            // 51..53  profile (53 not kept)
    120, 120, 120, 20,                        // 54..57
    999, 999, 999,                            // 58..60  auxiliary profile (60 not kept)
};

struct IonogramRecord {
    F1<int32_t, 80> IDX;        // data file index: counts of groups 1..60, 61..79 carried, 80 version

    F1<float, 16> GCONST;       // 1  geophysical constants
    F1<char, 120> SYSDSC1;      // 2  system description (first line)
    F1<char, 120> SYSDSC2;      // 2  operator message (second line)
    F1<char, 120> TSTAMP;       // 3  time stamp and sounder settings, one character each
    F1<float, 120> SCALED;      // 4  scaled characteristics; 9999.0 = not scaled
    F1<int32_t, 60> AFLAGS;     // 5  analysis flags
    F1<float, 16> DOPTAB;       // 6  Doppler translation table

    // O-ray F2 trace, groups 7..11 (heights km, frequencies MHz)
    F1<int32_t, 400> IVHOF2;    // 7  virtual heights, integer form
    F1<float, 400> VHOF2;       // 7  virtual heights, real form
    F1<int32_t, 400> ITHOF2;    // 8  true heights, integer form
    F1<float, 1000> THOF2;      // 8  true heights, real form
    F1<int32_t, 400> IAMOF2;    // 9  amplitudes
    F1<int32_t, 400> IDNOF2;    // 10 Doppler numbers
    F1<float, 400> FQOF2;       // 11 frequencies

    // O-ray F1 trace, groups 12..16
    F1<int32_t, 150> IVHOF1;    // 12
    F1<float, 150> VHOF1;       // 12
    F1<int32_t, 150> ITHOF1;    // 13
    F1<float, 1000> THOF1;      // 13
    F1<int32_t, 150> IAMOF1;    // 14
    F1<int32_t, 150> IDNOF1;    // 15
    F1<float, 150> FQOF1;       // 16

    // O-ray E trace, groups 17..21
    F1<int32_t, 150> IVHOE;     // 17
    F1<float, 150> VHOE;        // 17
    F1<int32_t, 150> ITHOE;     // 18
    F1<float, 1000> THOE;       // 18
    F1<int32_t, 150> IAMOE;     // 19
    F1<int32_t, 150> IDNOE;     // 20
    F1<float, 150> FQOE;        // 21

    // X-ray F2 trace, groups 22..25
    F1<int32_t, 400> IVHXF2;    // 22 virtual heights, integer form (old layouts)
    F1<float, 400> VHXF2;       // 22 virtual heights, real form (new layout)
    F1<int32_t, 400> IAMXF2;    // 23
    F1<int32_t, 400> IDNXF2;    // 24
    F1<float, 400> FQXF2;       // 25

    // X-ray F1 trace, groups 26..29
    F1<int32_t, 150> IVHXF1;    // 26
    F1<float, 150> VHXF1;       // 26
    F1<int32_t, 150> IAMXF1;    // 27
    F1<int32_t, 150> IDNXF1;    // 28
    F1<float, 150> FQXF1;       // 29

    // X-ray E trace, groups 30..33
    F1<int32_t, 150> IVHXE;     // 30
    F1<float, 150> VHXE;        // 30
    F1<int32_t, 150> IAMXE;     // 31
    F1<int32_t, 150> IDNXE;     // 32
    F1<float, 150> FQXE;        // 33

    F1<int32_t, 20> MAMPF;      // 34 median amplitudes of F echoes
    F1<int32_t, 20> MAMPE;      // 35 median amplitudes of E echoes
    F1<int32_t, 20> MAMPES;     // 36 median amplitudes of Es echoes
    F1<float, 20> PCOEF2;       // 37 F2 profile description
    F1<float, 20> PCOEF1;       // 38 F1 profile description
    F1<float, 20> PCOEFE;       // 39 E profile description
    F1<double, 153> QPSEGS;     // 40 quasi-parabolic segments (new layout)
    F1<int32_t, 120> EDITCH;    // 41 edit flags of the characteristics
    F1<float, 20> VALLEY;       // 42 valley description (also group 40 of old layouts)

    // O-ray Es trace, groups 43..46
    F1<int32_t, 150> IVHOES;    // 43
    F1<float, 150> VHOES;       // 43
    F1<int32_t, 150> IAMOES;    // 44
    F1<int32_t, 150> IDNOES;    // 45
    F1<float, 150> FQOES;       // 46

    // O-ray auroral E trace, groups 47..50
    F1<float, 150> VHOEA;       // 47 virtual heights, always real
    F1<int32_t, 150> IAMOEA;    // 48
    F1<int32_t, 150> IDNOEA;    // 49
    F1<float, 150> FQOEA;       // 50

    F1<float, 999> PRFHT;       // 51 true-height profile: heights (km)
    F1<float, 999> PRFFN;       // 52 true-height profile: plasma frequencies (MHz)
                                // 53 densities: not kept, 12380 f^2 on output
    F1<char, 120> QUALL;        // 54 URSI qualifying letters
    F1<char, 120> DESCL;        // 55 URSI descriptive letters
    F1<int32_t, 120> EDITFL;    // 56 profile edit flags
    F1<float, 20> VALDSC;       // 57 second profile description
    F1<float, 999> AUXHT;       // 58 auxiliary profile: heights (km)
    F1<float, 999> AUXFN;       // 59 auxiliary profile: plasma frequencies (MHz)
                                // 60 densities: not kept, 12380 f^2 on output

    IonogramRecord() {
        SYSDSC1.fill(' ');
        SYSDSC2.fill(' ');
        TSTAMP.fill(' ');
        QUALL.fill(' ');
        DESCL.fill(' ');
    }
};

}  // namespace zelk::iondata

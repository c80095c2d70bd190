// Record preparation: turns the Ionogram record just read into the inputs of the inversion
// (time, station, sounder settings, scaled characteristics, frequency-line trace tables).
#pragma once

#include <cstdint>

#include "iondata/stamp.hpp"

namespace zelk {
struct Zelk;
}

namespace zelk::pipeline {

using iondata::PrepStatus;
using iondata::PREP_OK;
using iondata::PREP_LAYOUT;
using iondata::PREP_TIME;
using iondata::PREP_SOUNDER;
using iondata::PREP_FOF2;
using iondata::PREP_STATION;
using iondata::station_fault;

// Prepares the inversion's inputs from z.rec.
// Given:   the record as READVXO left it; the trace tables cleared by the run loop
//          (TRACEL/ITRCF = 9999, VHMIN = 9999.0).
// Writes:  Inversion inputs (HMISS, LAYOUT, IOFF, STNAME, ISTNCODE, time, FQINCR, HGRID,
//          BASEHT, the characteristics and their line indices, IQUALE(1,4,10), MINHF, NE,
//          NF, REALIN, TRACEL, ITRCF); in Models ISSN and the model start values
//          FOEPRE/FOF1PRE (and FOF2PRE and, in Products, the earlier results when the
//          record carries characteristics 32 to 43);
//          the record itself: 999 -> 9999 in old-layout integer heights, groups 58/59.
// Returns: PREP_OK; PREP_STATION when station_fault finds an impossible station constant
//          (checked after the time stamp, before anything is tabulated); or the reason why
//          the file must end here (no message is written).
// Trace points whose frequency line falls outside 1..MAXLIN cannot be tabulated and are
// left out; a line index that would exceed 9999 is stored as 9999 (not usable).
int16_t prepare(Zelk& z);

}  // namespace zelk::pipeline

// The record pipeline: what happens to one record between reading and writing, sequenced
// over the data areas of the run context. Below this layer no routine sees the run context;
// the pipeline hands each one the areas it uses.
//
// Life of one record (the record loop of driver/ calls these in this order):
//   READVXO -> prepare -> [frame, existing profiles] -> PROFIL1 -> [model bottomside]
//   -> update_record -> WRITVXO (and the summary row)
// PROFIL1 -> SETRCE -> DECIDE: EPROF, MAHAGULY, F1PROF, FPROF (-> bottomside_products),
//   QPFIT, NHTABLE, EAPROF, ea_table -> TOTOLMIR.
#pragma once

#include <cstdint>

#include "inversion/inversion.hpp"
#include "iondata/record.hpp"
#include "profile/profile.hpp"

namespace zelk {
struct Zelk;
}

namespace zelk::pipeline {

// The true-height inversion of one record, from the prepared Inversion inputs to the results
// arranged for output (see invert.cpp for the steps).
void PROFIL1(Zelk& z);

// The regions of the record from the bottom up, the products where the profile they need is
// complete, and the auroral-E fit. IOK: 1 when SETRCE accepted trace points.
void DECIDE(Zelk& z, int16_t& IOK);

// The 1 km N(h) table, the bottomside shape parameters and the electron content of an
// accepted F2 layer.
void bottomside_products(Zelk& z);

// What a context that ran ahead of the records (Zelk::ahead) left of the record's inversion,
// made in the record's own copy of it: the shape search and the quasi-parabolic fit. The
// search writes its diagnostics, which belong at z.left.shape_at of the inversion's.
void make_left(Zelk& z);

// The solved profile of the Inversion area as a read-only value (regions E, F1, F2 from FC,
// the peak heights and coefficients; the valley; whether an F1 layer is scaled).
profile::SolvedProfile solved_profile(const inversion::Inversion& inv);

// The record's inversion in the mode of the run (the Inversion area's refine options):
// PROFIL1 itself in the standard mode; in the refined mode PROFIL1 with the refined parts,
// and, when that gives no profile, PROFIL1 again in the standard mode on the areas as they
// were before (made_by says which made the record's result).
void invert_record(Zelk& z);
// The same with the refined run given: refined_run stands in for PROFIL1 with the refined
// parts (tests use it to make the refined run fail; the standard run is always PROFIL1).
void invert_record(Zelk& z, void (*refined_run)(Zelk&));

// The X-wave trace of the F layer that the record carries (groups 22-25, then 26-29).
inversion::XTrace x_trace(const iondata::IonogramRecord& rec);

// Puts the results of the inversion into the form in which the record keeps them for output.
void TOTOLMIR(Zelk& z);

}  // namespace zelk::pipeline

// The record pipeline: what happens to one record between reading and writing, sequenced
// over the data areas of the run context. Below this layer no routine sees the run context;
// the pipeline hands each one the areas it uses.
//
// Life of one record (the record loop of driver/ calls these in this order):
//   READVXO -> PREPARE -> [frame, existing profiles] -> PROFIL1 -> [model bottomside]
//   -> UPDATE_RECORD -> WRITVXO (and the summary row)
// PROFIL1 -> SETRCE -> DECIDE: EPROF, MAHAGULY, F1PROF, FPROF (-> BOTTOMSIDE_PRODUCTS),
//   QPFIT, NHTABLE, EAPROF, EATABLE -> TOTOLMIR.
#pragma once

#include <cstdint>

#include "inversion/inversion.hpp"
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
void BOTTOMSIDE_PRODUCTS(Zelk& z);

// The solved profile of the Inversion area as a read-only value (regions E, F1, F2 from FC,
// the peak heights and coefficients; the valley; whether an F1 layer is scaled).
profile::SolvedProfile SOLVED_PROFILE(const inversion::Inversion& inv);

// Puts the results of the inversion into the form in which the record keeps them for output.
void TOTOLMIR(Zelk& z);

}  // namespace zelk::pipeline

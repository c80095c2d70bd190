// One run of the program: the data areas that persist from record to record, owned
// together. Two Zelk objects share nothing, so tests build a fresh one and independent
// files can be processed in parallel. Only the pipeline (and the programs above it) see the
// whole run context; every routine below takes the areas it uses.
#pragma once

#include <cstdint>
#include <string>

#include "core/diag.hpp"
#include "inversion/inversion.hpp"
#include "iondata/record.hpp"
#include "models/b0b1d1.hpp"
#include "models/models.hpp"
#include "pipeline/plot_hooks.hpp"
#include "products/products.hpp"

namespace zelk {

// The job of the run, as the job dialog or the batch command line fills it.
struct RunSettings {
    std::string VERSID = "VS.04.31";   // version identifier shown by the dialogs
    char FMTVXO = 'Y';                 // 'Y' when the input format is VXO
    bool NOCONV = true;                // non-VXO input is in the Standard format
    std::string PROG;                  // external conversion program (format OTHER)
    std::string INFILE;                // input path, possibly with a wildcard name
    std::string OUTFILE = "NONE";      // output path, or "NONE"
    float HSTEP = 0.0f;                // height step of the N(h) table (km); 0: no table
    float QPACC = 0.0f;                // accuracy of the quasi-parabolic fit; 0: no fit
    int record_jobs = 1;               // threads that make the records of one file (batch --jobs)
};

// What a context that runs ahead left for the record's own copy of it to make: the shape
// search of an accepted F2 layer and the quasi-parabolic fit, each with what it would have
// been given at its place in the inversion.
struct LeftToMake {
    bool shape = false;                         // the shape search (CALB0B1D1)
    profile::SolvedProfile shape_profile;       // the profile it compares with the 1 km table
    long long shape_at = -1;                    // where in the record's diagnostics its own go
    bool qp = false;                            // the quasi-parabolic fit (QPFIT)
    profile::SolvedProfile qp_profile;
    int16_t qp_rows = 0;                        // the N(h) table it fits (the final pass
    F1<float, products::MAXROW> qp_heights;     // replaces it later in the inversion)
    F1<float, products::MAXROW> qp_freqs;
};

struct Zelk {
    RunSettings run;                 // the job: written by the front end, read by the pipeline
    iondata::IonogramRecord rec;     // the record being processed (reader, preparation, update)
    inversion::Inversion inv;        // inputs and working data of the inversion
    models::Models mod;              // model predictions and sunspot lookup
    models::Bottomside bot;          // bottomside shape parameters and their model
    products::Products prod;         // N(h) table, electron content, quasi-parabolic segments
    Log log;                         // diagnostics
    PlotHooks* plot = &headless;     // display stages; the headless default draws nothing
    // A context that only runs ahead of the records' own contexts, to carry the run's state
    // from record to record: it inverts and updates every record, but leaves the shape
    // search and the quasi-parabolic fit, whose results no later record reads, to the copy
    // that makes the record's results (in `left`; see the record loop of the batch program).
    bool ahead = false;
    LeftToMake left;                 // what running ahead left of the last record

    static inline PlotHooks headless{};

    // What an inversion routine is given besides its areas: the log and the display stages.
    inversion::Context context() { return inversion::Context{log, *plot}; }
};

}  // namespace zelk

// One run of the program: the data areas that persist from record to record, owned
// together. Two Zelk objects share nothing, so tests build a fresh one and independent
// files can be processed in parallel.
#pragma once

#include <cstdint>
#include <string>

#include "core/diag.hpp"
#include "core/plotter.hpp"
#include "inversion/inversion.hpp"
#include "iondata/record.hpp"
#include "models/models.hpp"
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
};

struct Zelk {
    RunSettings run;
    iondata::IonogramRecord rec;
    inversion::Inversion inv;
    models::Models mod;
    products::Products prod;
    Log log;
    Plotter* plot = &headless;

    static inline Plotter headless{};
};

}  // namespace zelk

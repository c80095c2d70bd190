// The representation of a true-height profile: inside one region from plasma frequency FS
// (height HSTART) to FE (peak height ZM), h(fN) = ZM + sqrt(u) sum_k A(k) T*_{k-1}(u) with
// u = ln(fN/FE) / ln(FS/FE). Its evaluation (height at a frequency and the inverse), the
// change of start frequency of a coefficient vector, and the capacity of an N(h) table.
// Used by the inversion, the models and the products alike; depends on core/ only.
#pragma once

#include "core/farray.hpp"

namespace zelk::profile {

static constexpr int MAXROW = 999;   // rows of an N(h) table

// A region of the solved profile, for direct evaluation of height against plasma frequency:
// h(f) = ZM + sqrt(u) * sum_k A(k) T*_{k-1}(u), u = ln(f/FE) / ln(FS/FE).
struct RegionProfile {
    float FS = 0.0f, FE = 0.0f, ZM = 0.0f;  // start and end plasma frequency, peak height
    F1<float, 5> A;
    int NN = 5;
};

// The region from plasma frequency FS to FE (MHz) with peak height ZM (km) and the NN (1..5)
// coefficients A[1..NN] (A points at element 0; the coefficients beyond NN are 0).
inline RegionProfile make_region(float FS, float FE, float ZM, const float* A, int NN = 5) {
    RegionProfile r;
    r.FS = FS;
    r.FE = FE;
    r.ZM = ZM;
    r.NN = NN;
    for (int k = 1; k <= NN; ++k) r.A(k) = A[k];
    return r;
}

// The solved profile of one record as the inversion hands it over: read-only for every
// product. Frequencies in MHz, heights in km.
struct SolvedProfile {
    RegionProfile E;          // FC(1)..FC(2), peak ZME, three coefficients
    RegionProfile F1;         // FC(2)..FC(3), peak ZMF1 (FS = FE when there is no F1 layer)
    RegionProfile F2;         // FC(3)..FC(4), peak ZMF2
    float VW = 0.0f;          // valley width above the E peak (km)
    float VD = 0.0f;          // valley depth below foE (MHz)
    bool LF1 = false;         // an F1 layer is scaled
    bool inverted = false;    // the whole profile up to the F2 peak was inverted
};

// P and S are 5 x 5 work matrices; A and AP point at element 0 of 1-based vectors.
void SETLAMPT(int NN, float LAMBDA, F2<float, 5, 5>& P);
void SETS(int NN, const F2<float, 5, 5>& P, F2<float, 5, 5>& S);
void ATOAP(int NN, const F2<float, 5, 5>& S, const float* A, float* AP);
void CONTPRFL(int NN, float FOLD, float FTOP, const float* A, float FNEW, float* AP);
float profile_height(const RegionProfile& r, float fN);   // real height at plasma frequency
float profile_fn(const RegionProfile& r, float h);        // plasma frequency at real height
float profile_fn(const RegionProfile& r, float h, float FLOW);  // same, searched in [FLOW, FE]

}  // namespace zelk::profile

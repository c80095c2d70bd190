// Profile representation: the height of reflection as a function of plasma frequency inside
// one region, and the one transformation applied to a coefficient vector (re-expressing the
// same curve for a different start frequency).
//
// Inside a region from plasma frequency FS (height HSTART) to FE (height HTOP):
//     u(fN) = ln(fN/FE) / ln(FS/FE)                  (u = 1 at FS, u = 0 at FE)
//     PHI_i(u) = sqrt(u) T*_{i-1}(u)                 (T*_k the shifted Chebyshev polynomial)
//     h(fN) = HTOP + sum_i A(i) PHI_i(u(fN)),        HTOP = HSTART - sum_i A(i).
// Everything that needs h(fN) or its inverse (plots, N(h) table, electron content, shape
// parameters) goes through RegionProfile / profile_height / profile_fn below.
#include <cmath>

#include "profile/profile.hpp"

namespace zelk::profile {

namespace {

// Largest number of terms the transformation handles (the tables are 5 x 5).
constexpr int NNMAX5 = 5;

// CTP(k,j): coefficient of u^{k-1} in T*_{j-1}(u); column j is polynomial j, constant term
// first, zeros below its degree.
constexpr float CTP[NNMAX5 + 1][NNMAX5 + 1] = {
    {0, 0, 0, 0, 0, 0},
    {0, 1.0f, -1.0f, 1.0f, -1.0f, 1.0f},
    {0, 0.0f, 2.0f, -8.0f, 18.0f, -32.0f},
    {0, 0.0f, 0.0f, 8.0f, -48.0f, 160.0f},
    {0, 0.0f, 0.0f, 0.0f, 32.0f, -256.0f},
    {0, 0.0f, 0.0f, 0.0f, 0.0f, 128.0f},
};

// PTC(j,k): coefficient of T*_{j-1} in the power u^{k-1}; the inverse of CTP.
constexpr float PTC[NNMAX5 + 1][NNMAX5 + 1] = {
    {0, 0, 0, 0, 0, 0},
    {0, 1.0f, 0.5f, 0.375f, 0.3125f, 0.2734375f},
    {0, 0.0f, 0.5f, 0.5f, 0.46875f, 0.4375f},
    {0, 0.0f, 0.0f, 0.125f, 0.1875f, 0.21875f},
    {0, 0.0f, 0.0f, 0.0f, 0.03125f, 0.0625f},
    {0, 0.0f, 0.0f, 0.0f, 0.0f, 0.0078125f},
};

// Number of terms the transformation works on: NN limited to 0..5. NN above 5 is a caller
// error (the F-region drivers never go beyond 5); the terms above the fifth are then left
// alone rather than written past the 5 x 5 work matrices.
int clampNN(int NN) { return NN < 0 ? 0 : (NN > NNMAX5 ? NNMAX5 : NN); }

// Iteration cap of the frequency search in profile_fn: the bracket halves each step, so 60
// steps take any region narrower than 1e6 MHz below the 1e-5 MHz stopping width.
constexpr int MAXBISECT = 60;
// Stopping rules of that search: height match (km) and bracket width (MHz).
constexpr float HTOL = 0.0001f;
constexpr float FTOL = 1.0e-5f;

}  // namespace

// SETLAMPT: diagonal scaling matrix of the change of variable u_old = LAMBDA u_new.
// Given NN (terms) and LAMBDA (> 0); returns P with P(k,k) = LAMBDA^{k-1} sqrt(LAMBDA),
// k = 1..NN, every other entry 0. The powers are built by repeated multiplication.
// NN above 5 is treated as 5.
void SETLAMPT(int NN, float LAMBDA, F2<float, 5, 5>& P) {
    const int n = clampNN(NN);
    P.fill(0.0f);
    const float root = std::sqrt(LAMBDA);
    float power = 1.0f;
    for (int k = 1; k <= n; ++k) {
        P(k, k) = power * root;
        power *= LAMBDA;
    }
}

// SETS: upper-triangular matrix S = PTC x P x CTP (leading NN x NN block) that carries the
// coefficients of the basis in u_old = LAMBDA u_new to those of the basis in u_new:
// PHI_i(LAMBDA u) = sum_J S(J,i) PHI_J(u). Given NN and P from SETLAMPT; every other entry
// of S is 0. NN above 5 is treated as 5.
void SETS(int NN, const F2<float, 5, 5>& P, F2<float, 5, 5>& S) {
    const int n = clampNN(NN);
    S.fill(0.0f);
    for (int J = 1; J <= n; ++J) {
        for (int i = J; i <= n; ++i) {
            float sum = 0.0f;
            for (int k = J; k <= i; ++k) sum += PTC[J][k] * P(k, k) * CTP[k][i];
            S(J, i) = sum;
        }
    }
}

// ATOAP: AP(J) = sum over i = J..NN of S(J,i) A(i), J = 1..NN. A and AP point at element 0
// of 1-based vectors. AP(J) needs A(J..NN) only and J rises, so AP may be the same vector
// as A. NN above 5 is treated as 5.
void ATOAP(int NN, const F2<float, 5, 5>& S, const float* A, float* AP) {
    const int n = clampNN(NN);
    for (int J = 1; J <= n; ++J) {
        float sum = 0.0f;
        for (int i = J; i <= n; ++i) sum += S(J, i) * A[i];
        AP[J] = sum;
    }
}

// CONTPRFL: re-expresses a region's height curve for the start frequency FNEW instead of
// FOLD, the end frequency FTOP (MHz) unchanged. Given NN (1..5), FOLD, FTOP, FNEW (MHz,
// positive, different from FTOP) and A(1..NN) (km); returns AP(1..NN) (km) with
//     sum A(i) PHI_i(u_old(fN)) = sum AP(J) PHI_J(u_new(fN))
// for every fN, so HTOP is unchanged and the new start height is HTOP + sum AP(J).
// FNEW equal to FOLD returns A bit for bit. A and AP point at element 0 of 1-based
// vectors and may be the same vector. NN above 5: only the first five terms are carried.
void CONTPRFL(int NN, float FOLD, float FTOP, const float* A, float FNEW, float* AP) {
    const int n = clampNN(NN);
    if (FNEW == FOLD) {
        for (int i = 1; i <= n; ++i) AP[i] = A[i];
        return;
    }
    const float LAMBDA = std::log(FNEW / FTOP) / std::log(FOLD / FTOP);
    F2<float, 5, 5> P, S;
    SETLAMPT(n, LAMBDA, P);
    SETS(n, P, S);
    ATOAP(n, S, A, AP);
}

namespace {

// profile_height with ln(FS/FE) given (LDEN): the search below evaluates one region many
// times, and its denominator once.
float height_at(const RegionProfile& r, float fN, float LDEN) {
    if (!(fN < r.FE)) return r.ZM;
    const float f = fN < r.FS ? r.FS : fN;
    const float u = std::log(f / r.FE) / LDEN;
    const float x2 = 2.0f * (2.0f * u - 1.0f);
    const int n = r.NN < 0 ? 0 : (r.NN > 5 ? 5 : r.NN);
    if (n == 0) return r.ZM;
    float sum = r.A(1);               // T*_0 = 1
    float tPrev = 1.0f;
    float tCur = 0.5f * x2;           // T*_1 = 2u - 1
    for (int k = 2; k <= n; ++k) {
        sum += r.A(k) * tCur;
        const float tNext = x2 * tCur - tPrev;
        tPrev = tCur;
        tCur = tNext;
    }
    return r.ZM + std::sqrt(u) * sum;
}

}  // namespace

// profile_height: real height (km) of the region r at plasma frequency fN (MHz),
//     h = ZM + sqrt(u) sum_k A(k) T*_{k-1}(u),  u = ln(fN/FE) / ln(FS/FE),
// with T*_k from the recurrence T*_{k+1} = 2(2u - 1) T*_k - T*_{k-1}. fN is clamped to
// [FS, FE]: below FS the start height, at or above FE the peak height ZM. A region whose
// frequencies do not satisfy 0 < FS < FE has no extent and gives ZM.
float profile_height(const RegionProfile& r, float fN) {
    if (!(r.FS > 0.0f && r.FE > r.FS)) return r.ZM;
    return height_at(r, fN, std::log(r.FS / r.FE));
}

// profile_fn: plasma frequency (MHz) at which the region r reaches the real height h (km),
// searched by bisection in [FLOW, FE] (FLOW = FS when not given): the midpoint replaces the
// upper end when its height is above h, else the lower end; the search stops when the
// midpoint's height is within 0.0001 km of h or the bracket is 1e-5 MHz wide or less, and
// returns the last midpoint. h at or below the height at FLOW gives FLOW; h at or above ZM gives
// FE. The profile is assumed to rise with frequency (the solver rejects oscillating ones).
float profile_fn(const RegionProfile& r, float h, float FLOW) {
    if (!(r.FS > 0.0f && r.FE > r.FS)) return r.FE;
    const float lden = std::log(r.FS / r.FE);
    float lo = FLOW < r.FS ? r.FS : (FLOW > r.FE ? r.FE : FLOW);
    float hi = r.FE;
    if (!(h > height_at(r, lo, lden))) return lo;
    if (!(h < r.ZM)) return hi;
    float mid = lo;
    for (int it = 0; it < MAXBISECT; ++it) {
        mid = 0.5f * (lo + hi);
        const float hm = height_at(r, mid, lden);
        if (std::fabs(hm - h) < HTOL) break;
        if (hm > h) hi = mid; else lo = mid;
        if (hi - lo <= FTOL) break;
    }
    return mid;
}

float profile_fn(const RegionProfile& r, float h) { return profile_fn(r, h, r.FS); }

}  // namespace zelk::profile

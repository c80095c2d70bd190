// Bottomside shape parameters: CALB0B1D1 and its routines CALTIJ, PROFILE_H_F, CALB0B1,
// CAL_IRI_FIT_ERROR, CALHSTHZ, CALD1, ADUJST_B0B1D1, the IRI bottomside IRI_F2_BASIC1/2, XE,
// XH, XE4, and the parsed copy of the shape table B0B1DT.
//
// IRI F2 bottomside: fN(h) = foF2 sqrt(exp(-x^B1)/cosh(x)), x = (hmF2 - h)/B0, h <= hmF2.
// The computed F2 layer is first matched against the tabulated shapes of B0B1DT (each the
// coefficient form of the bottomside with B0 = 1 km for one B1, see tools/gen_b0b1dt.cpp): the
// best least-squares scale of a shape is B0. A coordinate search then refines B0, B1 and, with
// an F1 layer, D1 against the 1 km N(h) table.
#include "core/markers.hpp"
#include "models/b0b1d1.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>

#include "core/rounding.hpp"
#include "core/simd.hpp"
#include "core/fortran_io.hpp"
#include "models/lanes.hpp"

namespace zelk::models {

namespace {

constexpr float X0LOW = 0.4882682f;  // lowest fN/foF2 of the part compared with the table
constexpr float FTOL = 1.0e-5f;      // frequency match that ends a height search (MHz)
constexpr float HTOL = 0.0001f;      // bracket width that ends a height search (km)
constexpr int MAXBISECT = 100;       // cap on the halvings of a search
constexpr int BATCHLEVELS = 4;      // halvings per batch of model values (15 of them)
static_assert((1 << BATCHLEVELS) - 1 <= 64);
constexpr float BIG = 1.0e10f;       // "no error yet"
constexpr float XBMAX1 = 80.0f;      // limit of x^B1 in IRI_F2_BASIC1
constexpr float XBMAX = 10.0f;       // limit of x^B1 in XE and XE4
constexpr float D1MAX = 5.0f;        // range of the D1 scan
constexpr float B0STEP = 4.0f, B1STEP = 0.2f, D1STEP = 0.2f;  // first steps of the search
constexpr float B0STEPMIN = 0.1f;    // the search ends when the B0 step is at most this (km)
constexpr int MAXSEARCH = 2000;      // cap on the rounds of the coordinate search


// F2 bottomside at height H with x^B1 limited to XBM (no limit when XBM <= 0). Heights above
// the peak give foF2.
float F2BOT(const Bottomside& P, float H, float XBM) {
    double x = (static_cast<double>(P.HMF2) - H) / P.B0;
    if (!(x > 0.0)) return P.FOF2;
    double xb = std::pow(x, static_cast<double>(P.B1));
    if (XBM > 0.0f && xb > XBM) xb = XBM;
    return static_cast<float>(P.FOF2 * std::sqrt(std::exp(-xb) / std::cosh(x)));
}

bool F1ACTIVE(const Bottomside& P) { return P.D1 > 0.0f && P.D1 < 90.0f; }

// The F1 modification of the height scale: hF1 (1 - ((hF1 - h)/hF1)^(1 + D1)), h <= hF1.
float F1MAP(const Bottomside& P, float H) {
    if (!(P.HF1 > 0.0f) || H >= P.HF1) return H;
    const double r = (static_cast<double>(P.HF1) - H) / P.HF1;
    return static_cast<float>(P.HF1 * (1.0 - std::pow(r, 1.0 + P.D1)));
}

// The height XE4 carries H to before the F1 mapping (HST >= 0).
float XE4HEIGHT(const Bottomside& P, float H) {
    float hp = H;
    if (P.HST != P.HVT) {
        if (P.T > 0.0f) {
            const double arg = static_cast<double>(P.T) * (P.HZ - H + P.T / 4.0);
            hp = static_cast<float>(P.HZ + P.T / 2.0 - std::sqrt(std::fmax(arg, 0.0)));
        } else if (P.T < 0.0f) {
            const double q = (static_cast<double>(P.HZ) - H) / (P.HZ - P.HVT);
            hp = static_cast<float>(H - (P.HVT - P.HST) * q * q);
        }
    }
    return hp;
}

// One halving of the bracket [LO, HI] towards the height where the model, rising with height,
// reaches T, at the midpoint MID with the model value FM there: the upper end comes down where
// the value is above T, else the lower end comes up. True when the search ends: the value
// MATCHes, or the bracket is narrower than HTOL.
bool halve_toward(float T, float FM, float MID, bool MATCH, float& LO, float& HI) {
    if (FM > T) HI = MID;
    else LO = MID;
    return MATCH || HI - LO < HTOL;
}

// The bisection of IRI_F2_BASIC2 and CALHSTHZ: the height in [LO, HI] where the model, rising
// with height, reaches T, by halvings at the midpoints (halve_toward, with MATCH(value) saying
// whether the value there ends the search). Returns the last midpoint; at most MAXBISECT
// halvings. VALUE(h) is the model at one height,
// VALUES(h, n, out) at n heights at once (the lanes, each value the one VALUE gives): with
// lanes, the values of BATCHLEVELS levels are evaluated as one batch, at the midpoints of the
// subtree below the bracket (each formed from its own bracket, so the same floats as the
// plain loop's), and the halvings are then taken one by one.
template <class Value, class Values, class Match>
float BISECT(float LO, float HI, float T, Value VALUE, Values VALUES, Match MATCH) {
    auto halve = [&](float mid, float fm) { return halve_toward(T, fm, mid, MATCH(fm), LO, HI); };
    float mid = HI;
    if (!simd::lanes()) {
        for (int it = 0; it < MAXBISECT; ++it) {
            mid = 0.5f * (LO + HI);
            if (halve(mid, VALUE(mid))) break;
        }
        return mid;
    }
    constexpr int N = (1 << BATCHLEVELS) - 1;
    int it = 0;
    while (it < MAXBISECT) {
        float lo[N], hi[N], h[N], v[N];
        lo[0] = LO;
        hi[0] = HI;
        for (int n = 0; n < N; ++n) {
            h[n] = 0.5f * (lo[n] + hi[n]);
            if (2 * n + 2 < N) {
                lo[2 * n + 1] = lo[n];
                hi[2 * n + 1] = h[n];
                lo[2 * n + 2] = h[n];
                hi[2 * n + 2] = hi[n];
            }
        }
        VALUES(h, N, v);
        for (int node = 0, level = 0; level < BATCHLEVELS && it < MAXBISECT; ++level, ++it) {
            mid = h[node];
            if (halve(mid, v[node])) return mid;
            node = 2 * node + (v[node] > T ? 1 : 2);
        }
    }
    return mid;
}

// Parses B0B1DT.BIN (records of six 4-byte reals) or B0B1DT.ASC (list-directed text, six
// numbers per record, each record starting on a new line) into P.B0REC. Usable when at least
// one whole record was read; a text record that holds something other than numbers ends the
// table there.
bool PARSEB0B1DT(Bottomside& P, const std::string& PATH, bool BINARY) {
    P.NB0REC = 0;
    float v[6];
    if (BINARY) {
        std::ifstream in(PATH, std::ios::binary);
        if (!in) return false;
        while (P.NB0REC < MAXB0REC && in.read(reinterpret_cast<char*>(v), sizeof v)) {
            ++P.NB0REC;
            for (int k = 0; k < 6; ++k) P.B0REC(P.NB0REC, k + 1) = v[k];
        }
    } else {
        fio::LineReader in;
        if (!in.open(PATH)) return false;
        while (P.NB0REC < MAXB0REC && fio::read_list(in, v, 6) == fio::IoStat::OK) {
            ++P.NB0REC;
            for (int k = 0; k < 6; ++k) P.B0REC(P.NB0REC, k + 1) = v[k];
        }
    }
    return P.NB0REC > 0;
}

bool FITERR(Bottomside& P, float& E1, float& E2, float LIMSUM, float LIM1);

// One trial of the coordinate search: the parameters as they stand. False when they give no
// usable model (hF1 or HZ zero) or no misfit below LIMIT; else the misfit in E.
bool TRIAL(Bottomside& P, int MODE, float LIMIT, float& E) {
    if (MODE == 1) {
        P.HF1 = IRI_F2_BASIC2(P, P.FOF1);
        if (P.HF1 == 0.0f) return false;
    }
    CALHSTHZ(P, MODE == 1 ? 1 : 2);
    if (P.HZ == 0.0f) return false;
    float e1 = 0.0f, e2 = 0.0f;
    if (!FITERR(P, e1, e2, LIMIT, HUGE_VALF)) return false;
    E = e1 + e2;
    return true;
}

}  // namespace

// CALTIJ: TIJ(j,k) = integral_0^1 u T*_{j-1}(u) T*_{k-1}(u) du, the inner products of the
// profile basis functions sqrt(u) T*_{j-1}(u) (PGRAM of the valley fit), from the power
// coefficients of the shifted Chebyshev polynomials; X0 = 0.4882682.
void CALTIJ(Bottomside& P) {
    static constexpr double CTP[5][5] = {{1, 0, 0, 0, 0},
                                         {-1, 2, 0, 0, 0},
                                         {1, -8, 8, 0, 0},
                                         {-1, 18, -48, 32, 0},
                                         {1, -32, 160, -256, 128}};
    for (int j = 0; j < 5; ++j)
        for (int k = 0; k < 5; ++k) {
            double s = 0.0;
            for (int a = 0; a < 5; ++a)
                for (int b = 0; b < 5; ++b) s += CTP[j][a] * CTP[k][b] / (a + b + 2);
            P.TIJ(j + 1, k + 1) = static_cast<float>(s);
        }
    P.X0 = X0LOW;
}

// PROFILE_H_F: plasma frequency (MHz) at height H (km) of the region with start and end
// frequencies FS, FE, peak height HM and coefficients A(1..5) (A points at element 0), by the
// profile evaluator's search. The region's start height is implied by A.
float PROFILE_H_F(float FS, float FE, float HM, const float* A, float H) {
    return profile::profile_fn(profile::make_region(FS, FE, HM, A), H);
}

// CALB0B1: S = <C, R>/<R, R>, E = sqrt(<C - S R, C - S R>) with <u, v> = sum u(j) v(k) TIJ(j,k)
// (C, R point at element 0 of 1-based vectors of 5). A zero shape gives S = 0, E = |C|.
void CALB0B1(const Bottomside& P, const float* C, const float* R, float& S, float& E) {
    auto dot = [&P](const float* u, const float* v) {
        double s = 0.0;
        for (int j = 1; j <= 5; ++j)
            for (int k = 1; k <= 5; ++k) s += static_cast<double>(u[j]) * v[k] * P.TIJ(j, k);
        return s;
    };
    const double rr = dot(R, R);
    S = rr > 0.0 ? static_cast<float>(dot(C, R) / rr) : 0.0f;
    float D[6] = {0.0f};
    for (int k = 1; k <= 5; ++k) D[k] = C[k] - S * R[k];
    E = static_cast<float>(std::sqrt(std::fmax(dot(D, D), 0.0)));
}

// IRI_F2_BASIC1: the F2 bottomside at height H (km), x^B1 limited to 80.
float IRI_F2_BASIC1(const Bottomside& P, float H) { return F2BOT(P, H, XBMAX1); }

// IRI_F2_BASIC2: the height (km) between 0 and hmF2 where the F2 bottomside reaches F (MHz),
// by bisection until the frequency is within 1e-5 MHz or the bracket below 0.0001 km.
// Frequencies below fN(0) or above foF2 give 0.
float IRI_F2_BASIC2(const Bottomside& P, float F) {
    if (F > P.FOF2 || F < IRI_F2_BASIC1(P, 0.0f)) return 0.0f;
    const auto value = [&P](float h) { return IRI_F2_BASIC1(P, h); };
    const auto values = [&P, value](const float* h, int n, float* out) {
        std::array<uint8_t, 64> ok;
        lanes::f2bot(h, n, P.HMF2, P.B0, P.B1, XBMAX1, P.FOF2, out, ok.data());
        for (std::size_t k = 0; k < static_cast<std::size_t>(n); ++k)
            if (!ok[k]) out[k] = value(h[k]);
    };
    return BISECT(0.0f, P.HMF2, F, value, values,
                  [F](float fm) { return std::fabs(fm - F) < FTOL; });
}

// XE4: the intermediate region below HZ. HST < 0: foE. Otherwise the height is carried to the
// F2 bottomside by h' = h (HST = valley top), h' = HZ + T/2 - sqrt(T (HZ - h + T/4)) (T > 0),
// or, when T < 0 (the F2 shape reaches foE below the valley top, HST < hVT), by the quadratic
// h' = h - (hVT - HST) ((HZ - h)/(HZ - hVT))^2, which like the first maps hVT to HST and joins
// the F2 bottomside at HZ with slope 1, and is monotonic. With the F1 modification h' is
// mapped again. x^B1 limited to 10.
float XE4(const Bottomside& P, float H) {
    if (P.HST < 0.0f) return P.FOE;
    float hp = XE4HEIGHT(P, H);
    if (F1ACTIVE(P)) hp = F1MAP(P, hp);
    return F2BOT(P, hp, XBMAX);
}

// XE: the full IRI bottomside at height H (km); 0 outside 0..hmF2. The F1 modification is
// active when 0 < D1 < 90.
float XE(const Bottomside& P, float H) {
    if (H < 0.0f || H > P.HMF2) return 0.0f;
    if (!F1ACTIVE(P)) return H >= P.HZ ? F2BOT(P, H, XBMAX) : XE4(P, H);
    if (H >= P.HF1) return F2BOT(P, H, XBMAX);
    if (H >= P.HZ) return F2BOT(P, F1MAP(P, H), XBMAX);
    return XE4(P, H);
}

lanes::XeModel xe_model(const Bottomside& P) {
    return {P.HMF2, P.HF1, P.HZ, P.HST, P.HVT, P.T, P.FOE,
            P.B0, P.B1, XBMAX, P.FOF2, 1.0 + P.D1, F1ACTIVE(P)};
}

namespace {

// XE at the heights H(0..N-1) into OUT, N <= lanes::MAXLANES: on SIMD lanes (lanes::xe),
// the values the lanes cannot vouch for by XE itself. Each value is the one XE gives.
[[gnu::noinline]] void XEBATCH(const Bottomside& P, const float* H, int N, float* OUT) {
    if (N <= 0) return;
    if (!simd::lanes()) {
        for (int k = 0; k < N; ++k) OUT[k] = XE(P, H[k]);
        return;
    }
    std::array<uint8_t, lanes::MAXLANES> ok;
    lanes::xe(H, N, xe_model(P), OUT, ok.data());
    for (int k = 0; k < N; ++k)
        if (!ok[static_cast<std::size_t>(k)]) OUT[k] = XE(P, H[k]);
}

// One height search of XH: the bracket, the last midpoint (the result once DONE) and the
// halvings done. The result, when not yet DONE, lies in [LO, HI].
struct XHSTATE {
    float LO, HI, MID;
    int IT;
    bool DONE;
};

XHSTATE XHSTART(const Bottomside& P, float F) {
    XHSTATE S{P.HVT, P.HMF2, P.HMF2, 0, false};
    if (F > P.FOF2 || F < P.FOE) {
        S.MID = 0.0f;
        S.DONE = true;
    } else if (F == P.FOF2) {
        S.DONE = true;
    }
    return S;
}

// One halving of the bracket [LO, HI] of frequency F at its midpoint MID, with the model
// value FM there: the upper end comes down where the model is above F. True when the search
// ends: the model within FTOL of F, or the bracket narrower than HTOL.
bool halve_bracket(float F, float FM, float MID, float& LO, float& HI) {
    return halve_toward(F, FM, MID, std::fabs(FM - F) < FTOL, LO, HI);
}

// How far the height H lies outside the bracket [LO, HI] (0 inside): the least by which a
// height found in the bracket misses H.
float outside(float H, float LO, float HI) {
    return H < LO ? H - LO : (H > HI ? H - HI : 0.0f);
}

// The search of XH to its end: halvings until one ends it or MAXBISECT are done.
float XHSEARCH(const Bottomside& P, float F) {
    XHSTATE S = XHSTART(P, F);
    while (!S.DONE && S.IT < MAXBISECT) {
        ++S.IT;
        S.MID = 0.5f * (S.LO + S.HI);
        S.DONE = halve_bracket(F, XE(P, S.MID), S.MID, S.LO, S.HI);
    }
    return S.MID;
}

}  // namespace

// XH: the height (km) between the valley top and hmF2 where XE reaches F (MHz), by bisection
// (frequency within 1e-5 MHz or bracket below 0.0001 km); foF2 gives hmF2, frequencies above
// foF2 or below foE give 0.
float XH(const Bottomside& P, float F) { return XHSEARCH(P, F); }

// CALHSTHZ: the intermediate region between the valley top and the F2 (MODE 2) or F1 (MODE 1)
// bottomside. HST, the height where the F2 bottomside (F1-mapped in MODE 1, x^B1 unlimited)
// reaches foE, by bisection on [0, hs] (hs = hF1 or hmF2); HZ = (hs + HST)/2; T = (HZ - HST)^2/
// (HST - hVT), 0 when HST = hVT. A negative T is kept (XE4 then uses its quadratic), but an
// HZ that is not above the valley top leaves no intermediate region: HZ = 0 marks the set
// unusable. foE not positive: HZ = 0.
void CALHSTHZ(Bottomside& P, int MODE) {
    if (!(P.FOE > 0.0f)) {
        P.HZ = 0.0f;
        return;
    }
    const float hs = MODE == 1 ? P.HF1 : P.HMF2, foe = P.FOE;
    const auto height = [&P, MODE](float h) { return MODE == 1 ? F1MAP(P, h) : h; };
    const auto value = [&P, height](float h) { return F2BOT(P, height(h), 0.0f); };
    const auto values = [&P, MODE, height](const float* h, int n, float* out) {
        std::array<float, 64> hm;
        std::array<uint8_t, 64> ok;
        const auto N = static_cast<std::size_t>(n);
        std::copy(h, h + n, hm.begin());
        if (MODE == 1 && P.HF1 > 0.0f) {
            // The lanes map the heights below hF1; above it the height stays.
            lanes::f1map(h, n, P.HF1, 1.0 + P.D1, hm.data(), ok.data());
            for (std::size_t k = 0; k < N; ++k)
                if (h[k] >= P.HF1 || !ok[k]) hm[k] = height(h[k]);
        }
        lanes::f2bot(hm.data(), n, P.HMF2, P.B0, P.B1, 0.0, P.FOF2, out, ok.data());
        for (std::size_t k = 0; k < N; ++k)
            if (!ok[k]) out[k] = F2BOT(P, hm[k], 0.0f);
    };
    const float mid = BISECT(0.0f, hs, foe, value, values,
                             [foe](float fm) { return fm > foe && fm - foe < FTOL; });
    P.HST = mid;
    P.HZ = 0.5f * (hs + P.HST);
    P.T = P.HST == P.HVT ? 0.0f : (P.HZ - P.HST) * (P.HZ - P.HST) / (P.HST - P.HVT);
    if (P.T < 0.0f && !(P.HZ > P.HVT)) P.HZ = 0.0f;
}

namespace {

// The sums of CAL_IRI_FIT_ERROR, given up as soon as E1 + E2 reaches LIMSUM or E1 reaches
// LIM1: the sums only grow, so a caller that needs a misfit below such a limit learns that it
// cannot have one without the rest of the rows. Returns false when it gave up (E1, E2 and
// HIRI then hold partial values).
// The height searches of all rows advance together, one halving at a time, each making the
// halvings it would make alone (XHSEARCH): the same midpoints, so the same heights. The
// searches still running are kept packed, one array per quantity, so that a halving of all
// of them is one pass on SIMD lanes (lanes::halve). The model values of one level are
// evaluated as one batch (XEBATCH), once for each run of rows with the same midpoint: all
// searches start from the same bracket, so on the first levels whole runs of rows (which
// come in order of frequency) share their midpoints, and the model, a function of the height
// alone, has one value there. With a finite limit the sums are bounded from below in double:
// the IRI height of a row lies in its search bracket, so the row adds at least the squared
// distance of its table height from the bracket. A bound above the limit by 0.1 % (far more
// than the rounding of any sum of 999 terms in single precision) settles the outcome early,
// whatever the order in which the bound was summed. Otherwise the sums are formed in the
// canonical order, top down, from the heights found, so the misfit is the same to the last
// bit.
bool FITERR(Bottomside& P, float& E1, float& E2, float LIMSUM, float LIM1) {
    static constexpr double MARGIN = 1.001;
    E1 = 0.0f;
    E2 = 0.0f;
    P.HIRI.fill(0.0f);
    const bool f1 = F1ACTIVE(P);
    auto infirst = [&P, f1](int i) {
        return f1 && (P.PRFFN1(i) < P.FOF1 || P.PRFHT1(i) < P.HF1);
    };
    int ilo = P.NPROW1 + 1;
    while (ilo > 1 && P.PRFFN1(ilo - 1) >= P.FOE) --ilo;
    constexpr std::size_t NR = profile::MAXROW + 1;
    // The searches still running, packed: frequency, table height, bracket, midpoint, model
    // value there, the row's smallest square so far, whether it counts in E1, whether it has
    // ended, and its row.
    std::array<float, NR> F, H, LO, HI, MID, FM;
    std::array<double, NR> LB;
    std::array<uint8_t, NR> FIRST, DONE;
    std::array<int16_t, NR> ROW, LEAD;
    std::array<float, NR> RES;                  // the height found, by row
    std::array<float, lanes::MAXLANES> hq, vq;  // the distinct midpoints of a level, values
    static_assert(lanes::MAXLANES >= static_cast<int>(NR));
    const double cut = MARGIN * LIMSUM, cut1 = MARGIN * LIM1;
    double s = 0.0, s1 = 0.0;
    int nact = 0;
    for (int i = ilo; i <= P.NPROW1; ++i) {
        const auto n = static_cast<std::size_t>(i);
        const XHSTATE S0 = XHSTART(P, P.PRFFN1(i));
        const float h = P.PRFHT1(i);
        const bool fi = infirst(i);
        const float d = S0.DONE ? h - S0.MID : outside(h, S0.LO, S0.HI);
        const double l = static_cast<double>(d) * d;
        if (S0.DONE) {
            RES[n] = S0.MID;
        } else {
            const auto k = static_cast<std::size_t>(nact++);
            F[k] = P.PRFFN1(i);
            H[k] = h;
            LO[k] = S0.LO;
            HI[k] = S0.HI;
            MID[k] = S0.MID;
            LB[k] = l;
            FIRST[k] = fi;
            ROW[k] = static_cast<int16_t>(i);
        }
        s += l;
        if (fi) s1 += l;
    }
    if (s >= cut || s1 >= cut1) return false;
    bool shared = true;
    for (int level = 0; nact > 0; ++level) {
        const auto na = static_cast<std::size_t>(nact);
        if (level >= MAXBISECT) {
            // The cap: the searches end at their last midpoint.
            for (std::size_t k = 0; k < na; ++k) RES[static_cast<std::size_t>(ROW[k])] = MID[k];
            break;
        }
        for (std::size_t k = 0; k < na; ++k) MID[k] = 0.5f * (LO[k] + HI[k]);
        // The model values, one per run of equal midpoints: the runs' first midpoints packed
        // into hq, and each search's index there in LEAD.
        // Searches whose brackets have parted never share a midpoint again: once every run
        // is a single search, the runs are not looked for any more.
        std::size_t nq = na;
        if (shared) {
            nq = 0;
            for (std::size_t k = 0; k < na; ++k) {
                const bool lead = k == 0 || std::bit_cast<uint32_t>(MID[k]) !=
                                                std::bit_cast<uint32_t>(MID[k - 1]);
                hq[nq] = MID[k];
                nq += lead;
                LEAD[k] = static_cast<int16_t>(nq - 1);
            }
            shared = nq < na;
        }
        if (nq == na) {
            XEBATCH(P, MID.data(), nact, FM.data());
        } else {
            XEBATCH(P, hq.data(), static_cast<int>(nq), vq.data());
            for (std::size_t k = 0; k < na; ++k) FM[k] = vq[static_cast<std::size_t>(LEAD[k])];
        }
        // The halvings and the rows' new bounds.
        double ds = 0.0, ds1 = 0.0;
        int ended = 0;
        if (simd::lanes()) {
            ended = lanes::halve(nact, F.data(), FM.data(), MID.data(), H.data(), LO.data(),
                                 HI.data(), LB.data(), FIRST.data(), DONE.data(), FTOL, HTOL, ds, ds1);
        } else {
            for (std::size_t k = 0; k < na; ++k) {
                const float mid = MID[k];
                const bool done = halve_bracket(F[k], FM[k], mid, LO[k], HI[k]);
                DONE[k] = done;
                ended += done;
                const float d = done ? H[k] - mid : outside(H[k], LO[k], HI[k]);
                const double l = static_cast<double>(d) * d;
                const double inc = l - LB[k];
                LB[k] = l;
                ds += inc;
                ds1 += FIRST[k] ? inc : 0.0;
            }
        }
        s += ds;
        s1 += ds1;
        if (s >= cut || s1 >= cut1) return false;
        // The searches that ended leave the packed arrays (those before the first of them
        // stay where they are).
        if (ended == 0) continue;
        std::size_t keep = 0;
        while (!DONE[keep]) ++keep;
        for (std::size_t k = keep; k < na; ++k) {
            if (DONE[k]) {
                RES[static_cast<std::size_t>(ROW[k])] = MID[k];
                continue;
            }
            F[keep] = F[k];
            H[keep] = H[k];
            LO[keep] = LO[k];
            HI[keep] = HI[k];
            MID[keep] = MID[k];   // the result of a search that reaches the cap next level
            LB[keep] = LB[k];
            FIRST[keep] = FIRST[k];
            ROW[keep] = ROW[k];
            ++keep;
        }
        nact = static_cast<int>(keep);
    }
    for (int i = ilo; i <= P.NPROW1; ++i) P.HIRI(i) = RES[static_cast<std::size_t>(i)];
    for (int i = P.NPROW1; i >= ilo; --i) {
        const float d = P.PRFHT1(i) - P.HIRI(i);
        if (infirst(i)) E1 += d * d;
        else E2 += d * d;
        if (!(E1 + E2 < LIMSUM) || !(E1 < LIM1)) return false;
    }
    return true;
}

}  // namespace

// shape_misfit: one trial of the search without a limit.
float shape_misfit(Bottomside& P, int MODE) {
    float e = BIG;
    if (!TRIAL(P, MODE, HUGE_VALF, e)) return BIG;
    return e;
}

// CAL_IRI_FIT_ERROR: for the rows of the 1 km table from the F2 peak down while fN >= foE, the
// IRI height XH of the row's frequency (kept in HIRI for the display) and its difference d
// from the row's height. E1 sums d^2 over the F1 part (F1 modification active and the row
// below foF1 or below hF1), E2 over the rest. Rows not compared have HIRI 0.
void CAL_IRI_FIT_ERROR(Bottomside& P, float& E1, float& E2) {
    FITERR(P, E1, E2, HUGE_VALF, HUGE_VALF);
}

namespace {

// CALD1, also returning E2 of the best D1 (when its misfit was formed to the end, FULL).
// The scans of successive rounds meet the same D1 values again (the best one and its
// neighbours of the round before): what a value gave is kept, either its F1-part misfit, or,
// when it was given up against a limit, that limit, below which it cannot come (a limit
// that is no larger gives it up again).
void CALD1X(Bottomside& P, float& D1, float& E1, float& E2, bool& FULL) {
    struct SEEN {
        uint32_t D;
        bool EXACT;
        float E1, E2;   // EXACT: the misfits; else E1 is the limit it was given up against
    };
    static constexpr int NSEEN = 128;
    std::array<SEEN, NSEEN> seen;
    int nseen = 0;
    float lo = 0.0f, hi = D1MAX, step = D1STEP;
    float best = BIG, bestD = 0.0f, bestE2 = 0.0f;
    FULL = false;
    for (int round = 0; round < 32 && step > 0.005f; ++round) {
        float sbest = BIG;
        for (int k = 0; k < 1000; ++k) {
            const float d = round2(lo + static_cast<float>(k) * step);
            if (d > hi + 1e-4f) break;
            P.D1 = d;
            CALHSTHZ(P, 1);
            if (P.HZ == 0.0f) continue;
            const uint32_t key = std::bit_cast<uint32_t>(d);
            SEEN* hit = nullptr;
            for (int n = 0; n < nseen; ++n)
                if (seen[static_cast<std::size_t>(n)].D == key) hit = &seen[static_cast<std::size_t>(n)];
            float e1 = 0.0f, e2 = 0.0f;
            if (hit != nullptr && (hit->EXACT || sbest <= hit->E1)) {
                if (!hit->EXACT) break;
                e1 = hit->E1;
                e2 = hit->E2;
            } else {
                const bool ok = FITERR(P, e1, e2, HUGE_VALF, sbest);
                SEEN entry{key, ok, ok ? e1 : sbest, e2};
                if (hit != nullptr) *hit = entry;
                else if (nseen < NSEEN) seen[static_cast<std::size_t>(nseen++)] = entry;
                if (!ok) break;
            }
            if (!(e1 < sbest)) break;
            sbest = e1;
            if (e1 < best) {
                best = e1;
                bestD = d;
                bestE2 = e2;
                FULL = true;
            }
        }
        lo = std::fmax(0.0f, bestD - step);
        hi = bestD + step;
        step *= 0.5f;
    }
    P.D1 = bestD;
    D1 = bestD;
    E1 = best;
    E2 = bestE2;
}

}  // namespace

// CALD1: D1 on [0, 5] minimising the F1-part misfit E1: scans at step 0.2 (values rounded to
// 0.01), each scan walking upwards while the misfit keeps falling, then around the best value
// +- the step with the step halved, while the step is above 0.005. Parameter sets whose HZ is
// 0 are skipped. Returns the best D1 and its E1 (1e10 when none was usable). Leaves P.D1 at
// the best value.
void CALD1(Bottomside& P, float& D1, float& E1) {
    float e2 = 0.0f;
    bool full = false;
    CALD1X(P, D1, E1, e2, full);
}

// ADUJST_B0B1D1: coordinate search from the misfit ERR: B0 +- 4 km, B1 +- 0.2 (values above
// 1.0 only), and in MODE 1 D1 +- 0.2 (within [0, 90)), each trial accepted when its misfit
// e1 + e2 is below the current one; when nothing moves all steps are halved, until the B0 step
// is 0.1 km or less. Trials with B0 not positive, or giving hF1 = 0 or HZ = 0, are rejected.
// Ends with B0, B1, D1 rounded to 0.01 and ERR the misfit reached.
void ADUJST_B0B1D1(Bottomside& P, int MODE, float& ERR) {
    float step[3] = {B0STEP, B1STEP, D1STEP};
    float* par[3] = {&P.B0, &P.B1, &P.D1};
    const int npar = MODE == 1 ? 3 : 2;
    // The parameter sets tried most recently (the starting set first). A set's misfit depends
    // on the set alone and ERR never grows, so a set met again cannot be accepted: it was
    // rejected against an ERR at least the present one, or accepted and then beaten. A step
    // that returns to the set just left (B0 + s - s) is the common case.
    static constexpr int NSEEN = 64;
    std::array<std::array<uint32_t, 3>, NSEEN> seen{};
    int nseen = 0;
    auto key = [&P] {
        return std::array<uint32_t, 3>{std::bit_cast<uint32_t>(P.B0), std::bit_cast<uint32_t>(P.B1),
                                       std::bit_cast<uint32_t>(P.D1)};
    };
    auto known = [&](const std::array<uint32_t, 3>& k) {
        for (int n = 0; n < std::min(nseen, NSEEN); ++n)
            if (seen[static_cast<std::size_t>(n)] == k) return true;
        return false;
    };
    seen[static_cast<std::size_t>(nseen++ % NSEEN)] = key();
    for (int round = 0; round < MAXSEARCH && step[0] > B0STEPMIN; ++round) {
        bool moved = false;
        for (int p = 0; p < npar; ++p) {
            for (float sign : {1.0f, -1.0f}) {
                const float old = *par[p], trial = old + sign * step[p];
                if ((p == 0 && !(trial > 0.0f)) || (p == 1 && !(trial > 1.0f)) ||
                    (p == 2 && !(trial >= 0.0f && trial < 90.0f)))
                    continue;
                const float keep[4] = {P.HF1, P.HST, P.HZ, P.T};
                *par[p] = trial;
                const auto k = key();
                if (known(k)) {
                    *par[p] = old;
                    continue;
                }
                seen[static_cast<std::size_t>(nseen++ % NSEEN)] = k;
                float e = 0.0f;
                if (TRIAL(P, MODE, ERR, e) && e < ERR) {
                    ERR = e;
                    moved = true;
                    break;
                }
                *par[p] = old;
                P.HF1 = keep[0];
                P.HST = keep[1];
                P.HZ = keep[2];
                P.T = keep[3];
            }
        }
        if (!moved)
            for (float& s : step) s *= 0.5f;
    }
    P.B0 = round2(P.B0);
    P.B1 = round2(P.B1);
    if (MODE == 1) P.D1 = round2(P.D1);
}

// CALB0B1D1: B0, B1 and (with an F1 layer) D1 of the computed bottomside.
// Reads of S the E peak and foE, the valley width, the F1 peak, the F2 region; the 1 km table NPROW1/PRFHT1/PRFFN1 and IDEBUG;
// writes B0, B1, D1 (9999.0 when not determined, else rounded to 0.01), the model state and
// HIRI of P. Without B0B1DT (binary or text form) the message
// " CANNOT FIND THE FILE "B0B1DT.ASC"!" is written and B0, B1, D1 stay 9999.0. Nothing is
// fitted when foF2 is not above FC(3) or no table shape gives a finite misfit.
bool B0B1DT_current(Bottomside& P, const std::vector<std::string>& DIRS, const Log& log) {
    if (!platform::load_data_file(P.B0FILE, P.FILESEQ, DIRS, "B0B1DT", [&P](const std::string& path, bool binary) {
            return PARSEB0B1DT(P, path, binary);
        })) {
        log.os() << " CANNOT FIND THE FILE \"B0B1DT.ASC\"!\n";
        return false;
    }
    return true;
}

void CALB0B1D1(Bottomside& P, const profile::SolvedProfile& S, const std::vector<std::string>& DIRS,
               const Log& log) {
    P.B0 = P.B1 = P.D1 = NO_VALUE;
    P.HVT = S.E.ZM + S.VW;
    P.HMF2 = S.F2.ZM;
    P.FOF2 = S.F2.FE;
    P.FOE = S.E.FE;
    P.FOF1 = 0.0f;
    P.HF1 = 0.0f;
    P.HIRI.fill(0.0f);
    CALTIJ(P);
    if (!B0B1DT_current(P, DIRS, log)) return;
    if (!(S.F2.FE > S.F2.FS)) return;
    float CF[6] = {0.0f};
    for (int k = 1; k <= 5; ++k) CF[k] = S.F2.A(k);

    // The compared part of the F2 layer starts halfway up from the valley top, or at the F1
    // peak when there is an F1 layer.
    const int mode = S.F2.FS <= S.E.FE ? 0 : 1;
    float hstart = P.HVT + (P.HMF2 - P.HVT) / 2.0f;
    if (mode == 1) {
        P.FOF1 = S.F2.FS;
        hstart = S.F1.ZM;
    }
    const float f0 = PROFILE_H_F(S.F2.FS, S.F2.FE, P.HMF2, CF, hstart);
    float C[6] = {0.0f};
    profile::CONTPRFL(5, S.F2.FS, S.F2.FE, CF, f0, C);
    const float flow = P.X0 * P.FOF2;
    const bool reexpress = f0 / P.FOF2 > P.X0;
    if (!reexpress) profile::CONTPRFL(5, f0, P.FOF2, C, flow, C);

    // Every tabulated shape, carried to the compared interval when that starts above X0 foF2.
    // The carrying matrix is the same for all records.
    F2<float, 5, 5> PM, SM;
    if (reexpress) {
        const float LAMBDA = std::log(f0 / P.FOF2) / std::log(flow / P.FOF2);
        profile::SETLAMPT(5, LAMBDA, PM);
        profile::SETS(5, PM, SM);
    }
    float best = BIG, keptS = NO_VALUE, keptB1 = NO_VALUE;
    for (int n = 1; n <= P.NB0REC; ++n) {
        float R[6] = {0.0f};
        for (int k = 1; k <= 5; ++k) R[k] = P.B0REC(n, k + 1);
        if (reexpress) profile::ATOAP(5, SM, R, R);
        float s = 0.0f, e = 0.0f;
        CALB0B1(P, C, R, s, e);
        if (e < best) {
            best = e;
            keptS = s;
            keptB1 = P.B0REC(n, 1);
        }
    }
    if (!(best < BIG)) return;
    P.B0 = round2(keptS);
    P.B1 = keptB1;
    P.FASTDONE = false;
    if (P.FAST) {
        // The fast fit, when it improves on the table match; else the search below.
        float ferr = 0.0f;
        if (fastb0b1d1(P, mode, ferr)) {
            P.FASTDONE = true;
            return;
        }
    }

    float err = BIG;
    if (mode == 0) {
        CALHSTHZ(P, 2);
        if (P.HZ != 0.0f) {
            float e1 = 0.0f, e2 = 0.0f;
            CAL_IRI_FIT_ERROR(P, e1, e2);
            err = e1 + e2;
        }
    } else {
        P.D1 = 0.0f;
        P.HF1 = IRI_F2_BASIC2(P, P.FOF1);
        if (P.HF1 != 0.0f) {
            float d1 = 0.0f, e1 = 0.0f, e2 = 0.0f;
            bool full = false;
            CALD1X(P, d1, e1, e2, full);
            CALHSTHZ(P, 1);
            // The misfit of the best D1 was formed to the end by the scan: the same sums.
            if (full) {
                err = e1 + e2;
            } else if (P.HZ != 0.0f) {
                CAL_IRI_FIT_ERROR(P, e1, e2);
                err = e1 + e2;
            }
        }
    }
    ADUJST_B0B1D1(P, mode, err);

    // The model as finally rounded, for the display: its intermediate region and the IRI
    // height of every compared row.
    if (log.IDEBUG > 0) {
        if (mode == 1) P.HF1 = IRI_F2_BASIC2(P, P.FOF1);
        CALHSTHZ(P, S.E.FE == S.F2.FS ? 2 : 1);
        float e1 = 0.0f, e2 = 0.0f;
        CAL_IRI_FIT_ERROR(P, e1, e2);
    }
}

}  // namespace zelk::models

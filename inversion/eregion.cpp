// E region: the E layer is a parabolic layer of fixed shape whose base height and
// semi-thickness are fitted to the E trace (EPROF, ECHAPMAN); ZEROPROF supplies the shape
// as profile coefficients of a unit-thickness parabola; FEWTERM retries an F solution with
// fewer terms; EAPROF fits the same model to the auroral-E profile carried in the record.
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>

#include "core/rounding.hpp"
#include "inversion/inversion.hpp"
#include "core/fortran_io.hpp"
#include "models/models.hpp"

namespace zelk::inversion {

namespace {

// Model E layer used when the trace has too few points to fit (km).
static constexpr float YE_MODEL = 20.0f;    // semi-thickness
static constexpr float ZME_MODEL = 110.0f;  // peak height
// Limits of the fitted base height of the E layer (km), and its value when the data
// cannot fix it (all model virtual heights equal).
static constexpr float C0_MIN = 75.0f;
static constexpr float C0_MAX = 90.0f;
static constexpr float C0_FIXED = 80.0f;
// Bounds of an acceptable E solution: coefficients (km) and peak height (km).
static constexpr float AMAX = 999.0f;
static constexpr float ZME_LOW = 50.0f;
static constexpr float ZME_HIGH = 180.0f;
// Number of auroral-E profile pairs read from the record.
static constexpr int NEAMAX = 150;

// Unit-parabola table: for the ratio r = FSTART/FEND (column 0) the five coefficients
// (km) of a parabolic layer of semi-thickness 1 km that starts at r; their sum is
// -sqrt(1 - r^2) up to the truncation to five terms.
static constexpr int NZP = 33;
static constexpr float ZPTAB[NZP][6] = {
    {0.005f, -1.7351f, 1.00112f, -0.356869f, 0.118043f, -0.0340243f},
    {0.010f, -1.68882f, 0.921015f, -0.304325f, 0.091402f, -0.0234393f},
    {0.015f, -1.65822f, 0.869209f, -0.272222f, 0.076418f, -0.0180728f},
    {0.020f, -1.63456f, 0.829849f, -0.248885f, 0.0661831f, -0.0146768f},
    {0.030f, -1.59785f, 0.770172f, -0.215329f, 0.05249f, -0.0105087f},
    {0.040f, -1.56893f, 0.724456f, -0.191175f, 0.043418f, -0.00800623f},
    {0.050f, -1.5445f, 0.68683f, -0.172339f, 0.0368208f, -0.00632885f},
    {0.060f, -1.52301f, 0.654554f, -0.156949f, 0.0317524f, -0.00512835f},
    {0.070f, -1.50361f, 0.626112f, -0.143983f, 0.0277139f, -0.00423064f},
    {0.080f, -1.48578f, 0.600571f, -0.13282f, 0.0244113f, -0.00353787f},
    {0.090f, -1.46916f, 0.577314f, -0.123053f, 0.0216571f, -0.00299035f},
    {0.100f, -1.45351f, 0.555909f, -0.114399f, 0.0193251f, -0.00254949f},
    {0.120f, -1.42444f, 0.517471f, -0.0996703f, 0.0155959f, -0.00189095f},
    {0.140f, -1.3976f, 0.483538f, -0.0875325f, 0.0127576f, -0.00143134f},
    {0.160f, -1.37237f, 0.453047f, -0.0773155f, 0.0105394f, -0.0010998f},
    {0.180f, -1.34835f, 0.425292f, -0.06858f, 0.00877137f, -0.000854673f},
    {0.200f, -1.32527f, 0.399777f, -0.0610217f, 0.00734085f, -0.00066996f},
    {0.250f, -1.27034f, 0.343629f, -0.0459653f, 0.00478053f, -0.00037402f},
    {0.300f, -1.21782f, 0.295746f, -0.0348153f, 0.00315148f, -0.000213244f},
    {0.350f, -1.16641f, 0.254045f, -0.0263532f, 0.00208264f, -0.000122432f},
    {0.400f, -1.11521f, 0.217235f, -0.0198383f, 0.00136925f, -7.00343e-05f},
    {0.450f, -1.06356f, 0.18446f, -0.0147854f, 0.000889547f, -3.95413e-05f},
    {0.500f, -1.01084f, 0.155125f, -0.0108588f, 0.000567107f, -2.18302e-05f},
    {0.550f, -0.956488f, 0.1288f, -0.00781671f, 0.000352033f, -1.16636e-05f},
    {0.600f, -0.899899f, 0.105173f, -0.00547832f, 0.000210747f, -5.95543e-06f},
    {0.650f, -0.840362f, 0.0840155f, -0.00370496f, 0.000120146f, -2.85865e-06f},
    {0.700f, -0.776983f, 0.0651647f, -0.00238748f, 6.4074e-05f, -1.26051e-06f},
    {0.750f, -0.708544f, 0.0485138f, -0.00143797f, 3.1111e-05f, -4.93051e-07f},
    {0.800f, -0.633239f, 0.0340105f, -0.000784042f, 1.31506e-05f, -1.61486e-07f},
    {0.850f, -0.548087f, 0.0216647f, -0.000364622f, 4.45177e-06f, -3.97775e-08f},
    {0.900f, -0.44734f, 0.0115758f, -0.000126577f, 1.00133e-06f, -5.79565e-09f},
    {0.950f, -0.316249f, 0.00402067f, -2.1445e-05f, 8.2545e-08f, -2.32427e-10f},
    {0.995f, -0.1f, 0.000125209f, -6.53656e-08f, 2.45754e-11f, -7.1956e-15f},
};
// Below this ratio the table is interpolated in the logarithm of the ratio, where the
// coefficients vary fastest.
static constexpr float ZP_LOGLIMIT = 0.2f;

// Least-squares line HV = c0 + c1 P through the points (P(K), HV(K)), K = 1..N.
// With LIMIT the intercept is held within [C0_MIN, C0_MAX] and the slope refitted with the
// intercept fixed; when the abscissae are all equal (D = 0) the intercept is C0_FIXED.
void fit_line(const float* P, const float* HV, int N, bool LIMIT, float& c0, float& c1) {
    float Sy = 0.0f, Sx = 0.0f, Sxy = 0.0f, Sxx = 0.0f;
    for (int K = 1; K <= N; ++K) {
        Sy += HV[K];
        Sx += P[K];
        Sxy += HV[K] * P[K];
        Sxx += P[K] * P[K];
    }
    const float n = static_cast<float>(N);
    const float D = n * Sxx - Sx * Sx;
    if (D == 0.0f) {
        c0 = C0_FIXED;
        c1 = (Sxy - C0_FIXED * Sx) / Sxx;
        return;
    }
    c0 = (Sy * Sxx - Sx * Sxy) / D;
    if (LIMIT && c0 < C0_MIN) {
        c0 = C0_MIN;
        c1 = (Sxy - C0_MIN * Sx) / Sxx;
    } else if (LIMIT && c0 > C0_MAX) {
        c0 = C0_MAX;
        c1 = (Sxy - C0_MAX * Sx) / Sxx;
    } else {
        c1 = (n * Sxy - Sy * Sx) / D;
    }
}

// Fits the parabolic layer of shape q(1..NN) (the unit parabola of the current FSTART/FEND)
// to FQ/HV: the unit layer's virtual heights P(K) = sum_j G(j,K) q(j) are computed with
// the kernels, and HV = c0 + c1 P is fitted by least squares. Returns c0 and c1; leaves
// the kernels G of the region in place.
void fit_parabola(Inversion& inv, const F1<float, MAXNN>& q, bool LIMIT, float& c0, float& c1) {
    CDO(inv);
    SIK(inv);
    F1<float, MAXTRC> P;
    for (int K = 1; K <= inv.NFQ; ++K) {
        float s = 0.0f;
        for (int j = 1; j <= inv.NN; ++j) s += inv.G(j, K) * q(j);
        P(K) = s;
    }
    fit_line(P.data(), inv.HV.data(), inv.NFQ, LIMIT, c0, c1);
}

// Mean absolute difference between HV and the virtual heights of the layer with base
// height HB and coefficients a(1..NN), through the current kernels G.
float mean_residual(const Inversion& inv, float HB, const float* a) {
    float s = 0.0f;
    for (int K = 1; K <= inv.NFQ; ++K) {
        float h = HB;
        for (int j = 1; j <= inv.NN; ++j) h += inv.G(j, K) * a[j];
        s += std::fabs(inv.HV(K) - h);
    }
    return s / static_cast<float>(inv.NFQ);
}

}  // namespace

// EPROF: the E-region stage. Prepares the E data (SETUP with IRGN = 1, DATAEFFE), fits the
// parabolic E layer (ECHAPMAN) and checks it.
// Returns: ER1, the mean absolute virtual-height residual of the fit (km).
// Writes A_E, HBASE(1), ZME, YE, IROOTE = 0, IRGN = 1 and the solver set-up; ISTAT = 4 when
// the E end frequency is not above its start (two messages, always written), ISTAT = 7 when
// a coefficient exceeds 999 km or ZME lies outside 50..180 km (message at IDEBUG >= 2).
void EPROF(Inversion& inv, models::Models& mod, const Context& cx, float& ER1) {
    for (int j = 1; j <= 3; ++j) inv.A_E(j) = 0.0f;
    inv.IROOTE = 0;
    ER1 = 0.0f;
    inv.IRGN = 1;
    SETUP(inv, mod, cx);
    std::ostream& os = cx.log.os();
    if (!(inv.FEND > inv.FSTART)) {
        inv.ISTAT() = ISTAT_E_RANGE;
        const float range[2] = {inv.FSTART, inv.FEND};
        os << " E LAYER: FSTART,FEND="
           << fio::edit_line(fio::FortranFormat("(2F10.3)"), range, 2) << '\n'
           << " DATA ERROR: E-REGION FREQUENCY RANGE ERROR!\n";
        return;
    }
    DATAEFFE(inv, cx);
    cx.plot.stage(Stage::DATA, inv);
    ECHAPMAN(inv, ER1);
    float amax = 0.0f;
    for (int j = 1; j <= inv.NN && j <= 3; ++j) amax = std::fmax(amax, std::fabs(inv.A_E(j)));
    if (amax <= AMAX && inv.ZME >= ZME_LOW && inv.ZME <= ZME_HIGH) return;
    if (cx.log.IDEBUG >= 2)
        os << " ZME=" << fio::edit_value("(F10.3)", inv.ZME)
           << " : E TRACE PHYSICALLY UNREASONABLE!\n";
    inv.ISTAT() = ISTAT_E_BAD;
}

// ECHAPMAN: fits the parabolic E layer to the E data FQ/HV of the current region (FSTART,
// FEND, NN = 3). The shape q is the unit parabola for FSTART/FEND (ZEROPROF); the virtual
// heights of the unit layer P(K) come from the kernels, and HV = c0 + c1 P is fitted by
// least squares with the base height c0 held within 75..90 km. Then HBASE(1) = c0 and
// YE = c1 (semi-thickness), A_E = A = round3(c1 q), ZME = HBASE(1) - sum A_E.
// With three points or fewer the model layer is used (YE = 20 km, ZME = 110 km, A_E =
// round3(20 q), HBASE(1) = 110 + sum A_E) and ERR stays 0.
// Returns: ERR, the mean absolute virtual-height residual (km).
// Writes A (with the shape q, or the fitted coefficients), A_E, HBASE(1), YE, ZME, G.
void ECHAPMAN(Inversion& inv, float& ERR) {
    ERR = 0.0f;
    ZEROPROF(inv, 0);
    F1<float, MAXNN> q;
    for (int j = 1; j <= inv.NN; ++j) q(j) = inv.A(j);

    if (inv.NFQ <= 3) {
        inv.YE = YE_MODEL;
        inv.ZME = ZME_MODEL;
        float sum = 0.0f;
        for (int j = 1; j <= 3; ++j) {
            inv.A_E(j) = round3(YE_MODEL * q(j));
            sum += inv.A_E(j);
        }
        inv.HBASE(1) = ZME_MODEL + sum;
        return;
    }

    float c0 = 0.0f, c1 = 0.0f;
    fit_parabola(inv, q, true, c0, c1);
    inv.HBASE(1) = round3(c0);
    inv.YE = c1;
    float sum = 0.0f;
    for (int j = 1; j <= 3; ++j) {
        inv.A_E(j) = round3(c1 * q(j));
        inv.A(j) = inv.A_E(j);
        sum += inv.A_E(j);
    }
    inv.ZME = inv.HBASE(1) - sum;
    ERR = mean_residual(inv, inv.HBASE(1), inv.A_E.data());
}

// ZEROPROF: coefficients of the parabolic layer of unit semi-thickness (km) into A(1..NN).
// K <= 0: interpolated in the table at the ratio x = FSTART/FEND (limited to 0.005..0.995),
// linearly between the bracketing rows, in ln x below x = 0.2; a ratio equal to a row's
// takes that row. 1 <= K <= 33: row K. K > 33: A unchanged.
void ZEROPROF(Inversion& inv, int K) {
    if (K > NZP) return;
    const int N = inv.NN < 5 ? inv.NN : 5;
    if (K >= 1) {
        for (int j = 1; j <= N; ++j) inv.A(j) = ZPTAB[K - 1][j];
        return;
    }
    float x = inv.FSTART / inv.FEND;
    if (!(x >= ZPTAB[0][0])) x = ZPTAB[0][0];  // also a NaN ratio
    if (x > ZPTAB[NZP - 1][0]) x = ZPTAB[NZP - 1][0];
    int k = 0;  // first row (0-based) with ratio >= x
    while (k < NZP - 1 && ZPTAB[k][0] < x) ++k;
    if (ZPTAB[k][0] == x) {
        for (int j = 1; j <= N; ++j) inv.A(j) = ZPTAB[k][j];
        return;
    }
    float xl = ZPTAB[k - 1][0], xh = ZPTAB[k][0], xx = x;
    if (x < ZP_LOGLIMIT) {
        xl = std::log(xl);
        xh = std::log(xh);
        xx = std::log(xx);
    }
    for (int j = 1; j <= N; ++j)
        inv.A(j) = (ZPTAB[k - 1][j] * (xh - xx) + ZPTAB[k][j] * (xx - xl)) / (xh - xl);
}

// FEWTERM: retries the region IRGN (2 = F1, 3 = F2) with fewer terms after a failed full
// solution: NN = 4, then 3 (and 2 for F2), each with A cleared, stopping at the first
// DENSTY that returns IROOT = 0. NN is restored afterwards; the unused coefficients are 0.
// ERR is handed to DENSTY (the residual of the last attempt).
void FEWTERM(Inversion& inv, const Context& cx, float& ERR) {
    const int16_t NNKEEP = inv.NN;
    const int lowest = inv.IRGN == 2 ? 3 : 2;
    for (int n = 4; n >= lowest; --n) {
        inv.A.fill(0.0f);
        inv.NN = static_cast<int16_t>(n);
        DENSTY(inv, cx, ERR);
        if (inv.IROOT == 0) break;
    }
    inv.NN = NNKEEP;
}

// EAPROF: fits the parabolic layer to the auroral-E profile of the record (frequencies of
// group 59, virtual heights of group 58; at most 150 pairs up to the first zero frequency),
// with critical frequency fcEA = last frequency + 0.2 step and no limits on the base
// height; the base is rounded to 0.1 km. The tabulation of the layer (and of the valley
// above it) is the products' ea_table, which the record sequence calls after this fit.
// Results in EAFIT: (1..3) coefficients, (4) base height, (5) peak height, (6) residual,
// (7) fcEA; (8) valley width and (9) valley depth are left to ea_table; NEAROW = rows of the
// tabulation. All are cleared first, so a record without an auroral-E profile carries none
// (fcEA = 0). AUXFN/AUXHT: the record's auroral-E profile (groups 59/58).
// Returns: ERR, the mean absolute residual (km) (the caller passes EAFIT(6)).
// Writes FQ, HV, NFQ, FSTART, FEND, NN, A, G.
void EAPROF(Inversion& inv, const F1<float, 999>& AUXFN, const F1<float, 999>& AUXHT, float& ERR) {
    inv.EAFIT.fill(0.0f);
    inv.NEAROW = 0;
    ERR = 0.0f;
    int n = 0;
    while (n < NEAMAX && AUXFN(n + 1) != 0.0f) {
        ++n;
        inv.FQ(n) = AUXFN(n);
        inv.HV(n) = AUXHT(n);
    }
    inv.NFQ = static_cast<int16_t>(n);
    if (n == 0) return;

    const float fcEA = inv.FQ(n) + 0.2f * inv.FQINCR;
    // A profile that ends at or below the start frequency has no layer to fit.
    if (!(fcEA > FSTART_E)) return;
    inv.FSTART = FSTART_E;
    inv.NN = 3;
    inv.FEND = fcEA;
    ZEROPROF(inv, 0);
    F1<float, MAXNN> q;
    for (int j = 1; j <= 3; ++j) q(j) = inv.A(j);
    float c0 = 0.0f, c1 = 0.0f;
    fit_parabola(inv, q, false, c0, c1);
    const float base = std::round(c0 * 10.0f) / 10.0f;
    float sum = 0.0f;
    for (int j = 1; j <= 3; ++j) {
        inv.A(j) = round3(c1 * q(j));
        inv.EAFIT(j) = inv.A(j);
        sum += inv.A(j);
    }
    const float peak = base - sum;
    ERR = mean_residual(inv, base, inv.A.data());
    inv.EAFIT(4) = base;
    inv.EAFIT(5) = peak;
    inv.EAFIT(6) = ERR;
    inv.EAFIT(7) = fcEA;
}

}  // namespace zelk::inversion

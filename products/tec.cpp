// Electron content of the solved profile: CALTEC with TECLAYER, TECVALLEY and CALSHFPEAK, the
// parsed copy of the coefficient file TECCOF, and load_data_file, which keeps the parsed copies
// of the coefficient files current.
//
// Contents are 0.001238 x fN^2 (MHz^2) x thickness (km), electrons per m^2 in units of 1e16.
// A layer's integral of fN^2 over height is fe^2 sum_k a(k) c(k)/1000, with c(k)(r), r = fs/fe,
// tabulated in TECCOF (see tools/gen_teccof.cpp).
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/markers.hpp"
#include "core/diag.hpp"
#include "core/fortran_io.hpp"
#include "platform/datafile.hpp"
#include "products/products.hpp"

namespace zelk::products {

namespace {

constexpr float TECUNIT = 0.001238f;     // content of 1 MHz^2 over 1 km (1e16 el/m^2)
constexpr float TECLAYUNIT = 1.238e-6f;  // the same for the tabulated integrals (x 1000)
constexpr float CHAPTOP = 2.821f;        // topside of an alpha-Chapman layer, in units of NmH
constexpr float FBOTTOM2 = 0.04f;        // square of the profile's start frequency 0.2 MHz
constexpr float ROWTOL = 0.0001f;        // height tolerance when matching table rows (km)
constexpr int MAXBISECT = 200;           // cap on the halvings of the scale-height search

// Parses TECCOF.BIN (rows of six little-endian 4-byte reals) or TECCOF.ASC (TECCOFFMT, one
// row per line, blank lines skipped) into P.TECROW. The table is usable when it has at least
// two rows with the ratio strictly ascending and, in the text form, no field that is not a
// number; rows beyond the capacity are ignored.
bool PARSETECCOF(Products& P, const std::string& PATH, bool BINARY) {
    P.NTECROW = 0;
    float v[6];
    if (BINARY) {
        std::ifstream in(PATH, std::ios::binary);
        if (!in) return false;
        while (P.NTECROW < MAXTECROW && in.read(reinterpret_cast<char*>(v), sizeof v)) {
            ++P.NTECROW;
            for (int k = 0; k < 6; ++k) P.TECROW(P.NTECROW, k + 1) = v[k];
        }
    } else {
        fio::LineReader in;
        if (!in.open(PATH)) return false;
        const fio::FortranFormat f(TECCOFFMT);
        std::string_view line;
        while (P.NTECROW < MAXTECROW && in.next(line)) {
            if (line.find_first_not_of(' ') == std::string_view::npos) continue;
            if (fio::decode_line(line, f, v, 6) != fio::IoStat::OK) return false;
            ++P.NTECROW;
            for (int k = 0; k < 6; ++k) P.TECROW(P.NTECROW, k + 1) = v[k];
        }
    }
    if (P.NTECROW < 2) return false;
    for (int i = 2; i <= P.NTECROW; ++i)
        if (!(P.TECROW(i, 1) > P.TECROW(i - 1, 1))) return false;
    return true;
}

// One step of the scale-height search: the bisection of CALSHFPEAK for target T, integral
// I, factor Q and bracket [L, U]. The first midpoint is always evaluated, so a bracket that
// starts narrower than 0.0005 km (or inverted) returns its midpoint (raised to I + eps).
float SHFBISECT(float T, float I, float Q, float L, float U) {
    float eps = 1.0e-6f;
    float m = L;
    for (int it = 0; it < MAXBISECT; ++it) {
        m = 0.5f * (L + U);
        if (m < I) m = I + eps;
        const float r = 1.0f - I / m;
        if (r <= 0.0f) {
            eps *= 2.0f;
            return I + eps;
        }
        const float G = (1.0f - std::log(r)) * Q * Q * m * r;
        if (G <= T) L = m; else U = m;
        if (!(U - L >= 0.0005f)) break;
    }
    return m;
}

}  // namespace

// TECLAYER: content of one layer from start FS to peak FE (MHz) with coefficients A(1..5)
// (A points at element 0). CONTENT = 1.238e-6 FE^2 sum c(k) A(k), c(k) interpolated linearly
// in r = FS/FE between the bracketing rows of TECCOF (the first or last pair of rows outside
// the table's range). ITECST: 0 good; 1 FE not positive (" CANNOT CALCULATE ITEC BECAUSE OF
// WRONG PROFILE!"); 2 no usable TECCOF ("MISSING THE DATA FILE TECCOF.ASC AND CANNOT
// CALCULATE ITEC!"). Both messages are always written. FS = FE: a layer of no thickness, 0.
// Reads and refreshes the parsed TECCOF of P.
void TECLAYER(Products& P, const std::vector<std::string>& DIRS, const Log& log, float FS, float FE, const float* A, float& CONTENT, int16_t& ITECST) {
    ITECST = 0;
    CONTENT = 0.0f;
    if (!(FE > 0.0f)) {
        ITECST = 1;
        log.os() << " CANNOT CALCULATE ITEC BECAUSE OF WRONG PROFILE!\n";
        return;
    }
    if (FS == FE) return;
    if (!platform::load_data_file(P.TECFILE, P.FILESEQ, DIRS, "TECCOF", [&P](const std::string& path, bool binary) {
            return PARSETECCOF(P, path, binary);
        })) {
        ITECST = 2;
        log.os() << "MISSING THE DATA FILE TECCOF.ASC AND CANNOT CALCULATE ITEC!\n";
        return;
    }
    const float X = FS / FE;
    // The pair (i-1, i) with r(i-1) <= X < r(i); rows ascend, so bisect.
    int lo = 1, hi = P.NTECROW;
    if (X < P.TECROW(1, 1)) hi = 2;
    else if (!(X < P.TECROW(hi, 1))) lo = hi - 1;
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        if (P.TECROW(mid, 1) <= X) lo = mid; else hi = mid;
    }
    const float RP = P.TECROW(lo, 1), RC = P.TECROW(hi, 1);
    float sum = 0.0f;
    for (int k = 1; k <= 5; ++k) {
        const float c = (P.TECROW(hi, k + 1) * (X - RP) + P.TECROW(lo, k + 1) * (RC - X)) /
                        (RC - RP);
        sum += c * A[k];
    }
    CONTENT = TECLAYUNIT * FE * FE * sum;
}

// TECVALLEY: content of the valley above the E-type layer (FS, FE, A(1..3)) of width VW (km)
// and depth VD (MHz): the falling side (the layer's top between FV = FE - VD and FE stretched
// to VW/3) through TECLAYER, the flat bottom at FV and the side rising linearly in plasma
// frequency, each VW/3 wide. VD = 0: a slab at FE. VW = 0: no valley, 0.
void TECVALLEY(Products& P, const std::vector<std::string>& DIRS, const Log& log, float FS, float FE, const float* A, float VW, float VD, float& CONTENT,
               int16_t& ITECST) {
    CONTENT = 0.0f;
    ITECST = 0;
    if (VW == 0.0f) return;
    if (VD == 0.0f) {
        CONTENT = TECUNIT * FE * FE * VW;
        return;
    }
    const float W1 = VW / 3.0f, FV = FE - VD;
    float C[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    profile::CONTPRFL(3, FS, FE, A, FV, C);
    const float CSUM = -(C[1] + C[2] + C[3]);
    float S[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    for (int k = 1; k <= 3; ++k) S[k] = CSUM != 0.0f ? W1 * C[k] / CSUM : 0.0f;
    if (CSUM == 0.0f) S[1] = -W1;
    float fall = 0.0f;
    TECLAYER(P, DIRS, log, FV, FE, S, fall, ITECST);
    CONTENT = fall + TECUNIT * W1 * (FV * FV + FV * FE + FE * FE) / 3.0f + TECUNIT * W1 * FV * FV;
}

// CALSHFPEAK: scale height H (km) at the F2 peak from the 1 km N(h) table (K = 2): the E
// layer's integral of (N/Nm)^2 gives the shape factor T_E, and the F layer's integral from the
// valley top to the peak, matched to T_E, gives H (rounded to 0.001 km). H = 9999.0 when the
// table is empty, foF2 is not within (0, 99] MHz or the table has no row at the E peak.
// Reads NPROW1/PRFHT1/PRFFN1 and of S the E peak, the valley width and foF2; writes H.
void CALSHFPEAK(Products& P, const profile::SolvedProfile& S, int16_t K) {
    P.H = NO_VALUE;
    if (K != 2 || P.NPROW1 <= 0 || !(S.F2.FE > 0.0f && S.F2.FE <= 99.0f)) return;
    const int N = P.NPROW1;

    int iE = 0;
    for (int i = 1; i <= N && iE == 0; ++i)
        if (std::fabs(P.PRFHT1(i) - S.E.ZM) <= ROWTOL) iE = i;
    if (iE == 0) return;
    float P0 = P.PRFFN1(iE) * P.PRFFN1(iE);
    float IE = 0.0f;
    for (int i = 2; i <= iE; ++i) {
        const float g0 = P.PRFFN1(i - 1) * P.PRFFN1(i - 1) / P0;
        const float g1 = P.PRFFN1(i) * P.PRFFN1(i) / P0;
        IE += 0.5f * (g0 * g0 + g1 * g1) * (P.PRFHT1(i) - P.PRFHT1(i - 1));
    }
    const float TE = round3(SHFBISECT(3.0f, IE, P0 / FBOTTOM2, 3.0f, 10.0f * IE));

    const float HVT = S.E.ZM + S.VW;
    int i0 = 0;
    for (int i = 1; i <= N && i0 == 0; ++i)
        if (P.PRFHT1(i) >= HVT - ROWTOL) i0 = i;
    if (i0 == 0) return;
    P0 = P.PRFFN1(N) * P.PRFFN1(N);
    float IF = 0.0f;
    for (int i = i0 + 1; i <= N; ++i) {
        const float g0 = P.PRFFN1(i - 1) * P.PRFFN1(i - 1) / P0;
        const float g1 = P.PRFFN1(i) * P.PRFFN1(i) / P0;
        IF += 0.5f * (g0 * g0 + g1 * g1) * (P.PRFHT1(i) - P.PRFHT1(i - 1));
    }
    const float Q = P0 / (P.PRFFN1(i0) * P.PRFFN1(i0));
    P.H = round3(SHFBISECT(TE, IF, Q, TE, 2.0f * IF));
}

// CALTEC: electron content of the solved profile. BTEC = E layer + valley + F1 layer + F2
// layer up to the peak; TTEC = the topside of an alpha-Chapman layer of scale height H above
// the peak; ITEC = BTEC + TTEC. Computed only for an inverted profile (ISTAT 2) with foF2 above
// the F1/F2 boundary frequency; otherwise, and when a layer integral fails, BTEC = TTEC = 0 and
// ITEC = 9999.0. When H could not be determined the topside is unknown: TTEC = 0 and
// ITEC = 9999.0, BTEC is kept.
// Reads of S whether it was inverted, its regions and valley, and the 1 km table; writes ITEC, BTEC, TTEC,
// H, ITECST of P.
void CALTEC(Products& P, const profile::SolvedProfile& S, const std::vector<std::string>& DIRS,
            const Log& log) {
    P.H = NO_VALUE;
    auto fail = [&P] {
        P.BTEC = 0.0f;
        P.TTEC = 0.0f;
        P.ITEC = NO_VALUE;
    };
    if (!(S.inverted && S.F2.FE > S.F2.FS)) {
        fail();
        return;
    }
    CALSHFPEAK(P, S, 2);
    P.BTEC = 0.0f;
    float c = 0.0f;
    const float AE[6] = {0.0f, S.E.A(1), S.E.A(2), S.E.A(3), 0.0f, 0.0f};
    TECLAYER(P, DIRS, log, S.E.FS, S.E.FE, AE, c, P.ITECST);
    if (P.ITECST >= 1) return fail();
    P.BTEC += c;
    TECVALLEY(P, DIRS, log, S.E.FS, S.E.FE, AE, S.VW, S.VD, c, P.ITECST);
    if (P.ITECST >= 1) return fail();
    P.BTEC += c;
    TECLAYER(P, DIRS, log, S.E.FE, S.F2.FS, S.F1.A.data(), c, P.ITECST);
    if (P.ITECST >= 1) return fail();
    P.BTEC += c;
    TECLAYER(P, DIRS, log, S.F2.FS, S.F2.FE, S.F2.A.data(), c, P.ITECST);
    if (P.ITECST >= 1) return fail();
    P.BTEC += c;
    if (P.H == NO_VALUE) {
        P.TTEC = 0.0f;
        P.ITEC = NO_VALUE;
        return;
    }
    P.TTEC = CHAPTOP * TECUNIT * S.F2.FE * S.F2.FE * P.H;
    P.ITEC = P.BTEC + P.TTEC;
}

}  // namespace zelk::products

// Trace set-up of the inversion: SETCV (the derivative table of the profile basis), SETRCE
// (the trace list of the record) and month_day (calendar date of a day of year). The entry
// PROFIL1 that calls them is in pipeline/invert.cpp.
#include <cmath>
#include <cstring>
#include <ostream>

#include "core/markers.hpp"
#include "inversion/inversion.hpp"
#include "core/fortran_io.hpp"
#include "models/models.hpp"

namespace zelk::inversion {

using fio::edit_value;

namespace {

// Rows of the derivative table: coefficients, highest power first, of
// DTST_i(u) = 2 sqrt(u) d/du [sqrt(u) T*_{i-1}(u)] = sum_k c_k (2k + 1) u^k
// when T*_{i-1}(u) = sum_k c_k u^k (shifted Chebyshev polynomials on [0,1]).
constexpr float CVROWS[8][8] = {
    {1},
    {6, -1},
    {40, -24, 1},
    {224, -240, 54, -1},
    {1152, -1792, 800, -96, 1},
    {5632, -11520, 7840, -2000, 150, -1},
    {26624, -67584, 62208, -25088, 4200, -216, 1},
    {122880, -372736, 433664, -241920, 65856, -7840, 294, -1},
};

// Frequency tolerance (MHz) of the trace consistency checks.
constexpr float FTOL = 0.0001f;
// Markers of values that are not scaled: line index, foF2 (MHz), lowest E and F frequencies
// (MHz), and the line index limit of the F2 trace.
constexpr float FOF2_UNSCALED = 100.0f;
constexpr float FMINE_LIMIT = 900.0f;
constexpr int MINFE_LIMIT = 900;
constexpr float FMINF_LIMIT = 100.0f;
constexpr int IFOM_LIMIT = 999;
// Scaled foE above this (MHz) is not used as the lower limit of the F trace.
constexpr float FOE_FLOW_LIMIT = 10.0f;
// Amplitude numbers at or above this mark an F point that is not an echo.
constexpr int ITRCF_LIMIT = 512;
// Virtual heights at or above this (km) mark an E line without an echo.
constexpr float HNOECHO = 999.0f;

// Days before month m (m = 1..12) and to its end (m + 1) in a common year.
constexpr int CUMDAYS[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

// Values v[first..last] on one line, each under (1X,F8.3).
void writeValues(std::ostream& os, const float* v, int first, int last) {
    const fio::FortranFormat f("(1X,F8.3)");
    for (int k = first; k <= last; ++k) os << fio::edit_line(f, v + k, 1);
    os << '\n';
}

// The trace listing of SETRCE (IDEBUG >= 5).
void writeTraceList(std::ostream& os, const Inversion& inv) {
    auto I = [](int32_t n) { return edit_value("(I6)", n); };
    const float* trf = inv.TRF.data();
    const float* trh = inv.TRH.data();
    os << " ZELK INPUT DATA (IN 71X: SETRCE) :\n";
    os << " MINFE=" << I(inv.MINFE) << " IFOE=" << I(inv.IFOE) << '\n';
    os << " MINFF=" << I(inv.MINFF) << " IFOF1=" << I(inv.IFOF1) << '\n';
    os << " IFOM=" << I(inv.IFOM) << '\n';
    const int e1 = 1, e2 = inv.NFQE;
    const int f11 = e2 + 1, f12 = e2 + inv.NFQF1;
    const int f21 = f12 + 1, f22 = f12 + inv.NFQF;
    if (inv.NFQE > 0) {
        os << " E LAYER : NFQE=" << edit_value("(I5)", inv.NFQE) << '\n';
        writeValues(os, trh, e1, e2);
        writeValues(os, trf, e1, e2);
    } else {
        os << " NO E TRACE\n";
    }
    if (inv.NFQF1 > 0) {
        os << " F1 TRACE : NFQF1=" << edit_value("(I5)", inv.NFQF1) << '\n';
        writeValues(os, trh, f11, f12);
        writeValues(os, trf, f11, f12);
    } else {
        os << " NO F1 LAYER\n";
    }
    os << " F2 TRACE : NFQF=" << edit_value("(I5)", inv.NFQF) << '\n';
    writeValues(os, trh, f21, f22);
    writeValues(os, trf, f21, f22);
}

}  // namespace

// SETCV: fills CV(i, 1..i), i = 1..8, with the coefficients of DTST_i (highest power first);
// the other entries are 0. Writes CV.
void SETCV(Inversion& inv) {
    inv.CV.fill(0.0f);
    for (int i = 1; i <= 8; ++i)
        for (int k = 1; k <= i; ++k) inv.CV(i, k) = CVROWS[i - 1][k - 1];
}

// month_day: calendar date of the record. IYR is a 2-digit year (below 70: 20xx, 70..999:
// 19xx) or a 4-digit year; IDAY the day of year. Returns the 4-digit year IYEAR, the month
// IMON and the day of month IDOM, with the leap day (Gregorian rule) counted from February
// on. A day of year beyond the year's end is taken as 31 December, one below 1 as 1 January,
// so that the sunspot lookup always gets a month of the record's year.
void month_day(int16_t IYR, int16_t IDAY, int16_t& IYEAR, int16_t& IMON, int16_t& IDOM) {
    int year = IYR;
    if (IYR < 70) {
        year = IYR + 2000;
    } else if (IYR < 1000) {
        year = IYR + 1900;
    }
    IYEAR = static_cast<int16_t>(year);
    const int leap = (year % 400 == 0 || (year % 4 == 0 && year % 100 != 0)) ? 1 : 0;
    const int day = IDAY < 1 ? 1 : (IDAY > 365 + leap ? 365 + leap : IDAY);
    for (int m = 1; m <= 12; ++m) {
        const int before = CUMDAYS[m - 1] + (m > 2 ? leap : 0);
        const int end = CUMDAYS[m] + (m >= 2 ? leap : 0);
        if (day > before && day <= end) {
            IMON = static_cast<int16_t>(m);
            IDOM = static_cast<int16_t>(day - before);
            return;
        }
    }
}

// SETRCE: builds the trace list TRF/TRH of the record (E points, then F1, then F2) and the
// counts NFQE, NFQF1, NFQF. Reads the scaled values and their line indices, FQINCR, TRACEL,
// ITRCF, LF1 and the model foE (FOEPRE); draws the trace list (plot code 0) when it is good.
//   E: lines MINFE..IFOE at f = FMINE + (K - MINFE) FQINCR, when the E trace is scaled; an
//      E point is accepted when 0 < TRACEL(K,3) < 999.
//   F1: lines MINFF..IFOF1 from FMINF, when an F1 layer is scaled (LF1 = 1); F2: lines from
//      the one after the F1 trace (or MINFF) to IFOM, frequencies continuing from the last F1
//      frequency + FQINCR (or FMINF). An F point is accepted when 0 < ITRCF(K,2) < 512.
//   A frequency above its layer's critical frequency + 0.0001 MHz, or an F frequency at or
//   below FLOW - 0.0001 MHz (FLOW: the E critical frequency, or the model foE, lowered to
//   FMINF - FQINCR; after an F1 trace foF1), is an inconsistent record.
// IOK (out) = 1 when at least one point was accepted and no check failed; else 0 and
// ISTAT = 0. Lines outside the trace tables (1..2048) carry no echo and are not read. The
// list holds at most 1024 points: further points are dropped (their frequencies are still
// checked) and, with IDEBUG >= 2, " TRACE LIST CUT AT 1024 POINTS" is written.
void SETRCE(Inversion& inv, const Context& cx, float FOEPRE, int16_t& IOK) {
    std::ostream& os = cx.log.os();
    int J = 0;
    bool cut = false;
    inv.NFQE = 0;
    inv.NFQF1 = 0;
    inv.NFQF = 0;
    // Stores an accepted point unless the list is full.
    auto store = [&](float f, float h, int16_t& count) {
        if (J >= MAXTRC) {
            cut = true;
            return;
        }
        ++J;
        inv.TRF(J) = f;
        inv.TRH(J) = h;
        ++count;
    };
    auto fail = [&]() {
        inv.ISTAT() = ISTAT_NO_TRACE;
        IOK = 0;
    };
    auto firstLine = [](int k) { return k < 1 ? 1 : k; };
    auto lastLine = [](int k) { return k > MAXLIN ? MAXLIN : k; };

    // 1. E trace.
    if (inv.MINFE >= 1 && inv.MINFE <= MINFE_LIMIT && inv.FMINE <= FMINE_LIMIT && inv.FOE > 0.0f &&
        inv.FOE <= FOF2_UNSCALED && inv.MINFE <= inv.IFOE) {
        for (int K = inv.MINFE; K <= lastLine(inv.IFOE); ++K) {
            const float f = inv.FMINE + static_cast<float>(K - inv.MINFE) * inv.FQINCR;
            if (f > inv.FOE + FTOL) return fail();
            const float h = inv.TRACEL(K, 3);
            if (h > 0.0f && h < HNOECHO) store(f, h, inv.NFQE);
        }
    }

    // 2. Lower limit of the F trace and the start of the F2 frequencies.
    float FLOW = (inv.FOE > 0.0f && inv.FOE <= FOE_FLOW_LIMIT) ? inv.FOE : FOEPRE;
    if (inv.FMINF - inv.FQINCR < FLOW) FLOW = inv.FMINF - inv.FQINCR;
    float FBASE = inv.FMINF;
    int KFIRST = inv.MINFF;

    // 3. F1 trace.
    if (inv.MINFF < NO_LINE && inv.FMINF <= FMINF_LIMIT && inv.LF1() == 1 && inv.MINFF <= inv.IFOF1) {
        float f = FBASE;
        for (int K = firstLine(inv.MINFF); K <= lastLine(inv.IFOF1); ++K) {
            f = inv.FMINF + static_cast<float>(K - inv.MINFF) * inv.FQINCR;
            if (f <= FLOW - FTOL || f > inv.FOF1 + FTOL) return fail();
            const int16_t amp = inv.ITRCF(K, 2);
            if (amp > 0 && amp < ITRCF_LIMIT) store(f, inv.TRACEL(K, 2), inv.NFQF1);
        }
        FLOW = inv.FOF1;
        FBASE = f + inv.FQINCR;
        KFIRST = inv.IFOF1 + 1;
    }

    // 4. F2 trace.
    if (inv.IFOM < IFOM_LIMIT && KFIRST < NO_LINE && !(inv.FOF2 < FOF2_UNSCALED && KFIRST > inv.IFOM)) {
        for (int K = firstLine(KFIRST); K <= lastLine(inv.IFOM); ++K) {
            const float f = FBASE + static_cast<float>(K - KFIRST) * inv.FQINCR;
            if (f <= FLOW - FTOL || f > inv.FOF2 + FTOL) return fail();
            const int16_t amp = inv.ITRCF(K, 2);
            if (amp > 0 && amp < ITRCF_LIMIT) store(f, inv.TRACEL(K, 2), inv.NFQF);
        }
    }

    // 5. Nothing usable.
    if (J == 0) return fail();

    // 6. A good trace list.
    IOK = 1;
    if (cut && cx.log.IDEBUG >= 2) os << " TRACE LIST CUT AT 1024 POINTS\n";
    cx.plot.stage(Stage::TRACE_LIST, inv);
    if (cx.log.IDEBUG >= 5) writeTraceList(os, inv);
}

}  // namespace zelk::inversion

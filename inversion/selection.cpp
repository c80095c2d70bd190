// Trace data selection and smoothing: which of a region's trace points the layer solver fits.
// DATAEFFE drops points that cannot be echoes of the region, DATAUSED thins dense data below
// the critical frequency, smooths the kept heights (THSMOOTH) and appends the extra
// low-frequency points offered by the valley code.
#include <cmath>
#include <ostream>

#include "inversion/inversion.hpp"
#include "core/fortran_io.hpp"

namespace zelk::inversion {

namespace {

// Tolerance (MHz) for matching frequencies of the fit data, the trace list and FLOW.
constexpr float FTOL = 0.0001f;
// Virtual height (km) that marks a missing point in the old input layouts.
constexpr float HMISS_OLD = 999.0f;
// Slope returned by THSMOOTH when no fit was possible (km/MHz).
constexpr float NOSLOPE = 9999.9f;
// Thinning: the frequency step grows by one line and the height step by 5 km (at most 30 km)
// for every 20 points of the region.
constexpr int THINBLOCK = 20;
constexpr float DHSTEP = 5.0f;
constexpr float DHMAX = 30.0f;
// Fraction of the region's frequency span skipped at its bottom when an F2 region has neither
// an E nor an F1 trace below it.
constexpr float F2SKIP = 0.03f;

// Lowest acceptable virtual height (km) for the region IRGN: the range start for E, the start
// height of the region for F1 and F2, never below the range start or 0.
float hfloor(const Inversion& inv) {
    const float rangestart = inv.BASEHT + inv.HGRID;
    float h = rangestart;
    if (inv.IRGN == 2) h = inv.HBASE(2);
    if (inv.IRGN == 3) h = inv.HBASE(3);
    if (h < rangestart) h = rangestart;
    if (h < 0.0f) h = 0.0f;
    return h;
}

// One diagnostic line of values.
void writeValues(std::ostream& os, const float* v, int n) {
    const fio::FortranFormat f("(1X,F8.3)");
    for (int k = 1; k <= n; ++k) os << fio::edit_line(f, v + k, 1);
    os << '\n';
}

// The heading line and the two value lines of the fit data.
void writeFitData(std::ostream& os, const char* label, const Inversion& inv) {
    const int n = inv.NFQ < 0 ? 0 : (inv.NFQ > MAXTRC ? MAXTRC : inv.NFQ);
    os << label << fio::edit_value("(I4)", inv.IRGN) << " NFQ="
       << fio::edit_value("(I5)", inv.NFQ) << '\n';
    writeValues(os, inv.FQ.data(), n);
    writeValues(os, inv.HV.data(), n);
}

}  // namespace

// DATAEFFE: removes the fit points that cannot be echoes of the region IRGN: heights below
// the region floor and heights equal to the missing-value marker HMISS (999.0 when HMISS is
// below 9999). Reads IRGN, BASEHT, HGRID, HBASE, HMISS, IDEBUG; rewrites FQ, HV (entries
// beyond the kept points are zeroed) and NFQ. A height exactly at the floor stays.
void DATAEFFE(Inversion& inv, const Context& cx) {
    if (inv.NFQ <= 0) return;
    if (cx.log.IDEBUG >= 5) writeFitData(cx.log.os(), " BEFORE 77X.FOR DATAEFFE: IRGN=", inv);
    const float floorh = hfloor(inv);
    const float hmiss = inv.HMISS < 9999.0f ? HMISS_OLD : inv.HMISS;
    const int nfq = inv.NFQ > MAXTRC ? MAXTRC : inv.NFQ;
    // Kept points move down in place: the write index never passes the read index.
    int n = 0;
    for (int K = 1; K <= nfq; ++K) {
        if (inv.HV(K) >= floorh && inv.HV(K) != hmiss) {
            ++n;
            inv.FQ(n) = inv.FQ(K);
            inv.HV(n) = inv.HV(K);
        }
    }
    for (int K = n + 1; K <= MAXTRC; ++K) {
        inv.FQ(K) = 0.0f;
        inv.HV(K) = 0.0f;
    }
    inv.NFQ = static_cast<int16_t>(n);
    if (cx.log.IDEBUG >= 5) writeFitData(cx.log.os(), "  AFTER 77X.FOR DATAEFFE: IRGN=", inv);
}

// DATAUSED: the data set the solver fits for an F1 or F2 region. From the first point at or
// above the start frequency FLOW (FSTART, or 3% of the region into it for an F2 region with no
// E or F1 trace), a point is kept when it lies more than DFTHIN above the last kept frequency
// or its raw height differs from the last kept height by DHTHIN or more; the last four points
// (those nearest the critical frequency) are always kept. Kept heights are smoothed by
// THSMOOTH, except the first of the last four. For E and F1 (IRGN < 3) nothing is thinned.
// Then the extra points XF/XH of the valley code (when NXTRA is non-zero) are appended from
// slot 100 down, each at least DFTHIN (or DFTHIN/2 near FLOW) below the previous one, and
// NXTRA is cleared.
// Reads IRGN, FSTART, FEND, FQINCR, NFQE, NFQF1, the trace list, IDEBUG; rewrites FQ, HV and
// NFQ; NFQ = 0 when no point is at or above FLOW. More than 1024 points: " ARRAY DIMENSION IS
// TOO SMALL!" and the rest is dropped.
void DATAUSED(Inversion& inv, const Context& cx) {
    if (inv.NFQ <= 0) return;
    std::ostream& os = cx.log.os();
    if (cx.log.IDEBUG >= 5) writeFitData(os, " BEFORE 77X.FOR DATAUSED: IRGN=", inv);
    const int nfq = inv.NFQ > MAXTRC ? MAXTRC : inv.NFQ;

    // Thinning thresholds (MHz, km), from the number of points of the region.
    float DFTHIN = static_cast<float>(nfq / THINBLOCK + 1) * inv.FQINCR;
    float DHTHIN = static_cast<float>(nfq / THINBLOCK) * DHSTEP;
    if (DHTHIN > DHMAX) DHTHIN = DHMAX;
    if (inv.IRGN < 3) {
        DFTHIN = 0.0f;
        DHTHIN = 0.0f;
    }

    float FLOW = inv.FSTART;
    if (inv.IRGN == 3 && inv.NFQE + inv.NFQF1 < 1) FLOW = inv.FSTART + F2SKIP * (inv.FEND - inv.FSTART);

    int K0 = 0;
    for (int K = 1; K <= nfq; ++K) {
        if (inv.FQ(K) >= FLOW) {
            K0 = K;
            break;
        }
    }
    if (K0 == 0) {
        inv.NFQ = 0;
        return;
    }

    F1<float, MAXTRC> SF, SH;
    float H = 0.0f, DHDF = 0.0f;
    THSMOOTH(inv, K0, H, DHDF);
    SF(1) = inv.FQ(K0);
    SH(1) = H;
    int N = 1;
    bool full = false;
    // Appends a point unless the arrays are full (reported once).
    auto append = [&](float f, float h) {
        if (N >= MAXTRC) {
            if (!full) os << " ARRAY DIMENSION IS TOO SMALL!\n";
            full = true;
            return;
        }
        ++N;
        SF(N) = f;
        SH(N) = h;
    };

    // Body: thinned, up to the fifth point from the top.
    int KT = K0 + 1;
    if (K0 + 1 < nfq - 4) {
        for (int K = K0 + 1; K <= nfq - 4; ++K) {
            if (inv.FQ(K) - SF(N) > DFTHIN || std::fabs(inv.HV(K) - SH(N)) >= DHTHIN) {
                THSMOOTH(inv, K, H, DHDF);
                append(inv.FQ(K), H);
            }
        }
        KT = nfq - 3;
    }
    // Tail: every point; the first keeps its raw height.
    for (int K = KT; K <= nfq; ++K) {
        if (K == KT) {
            H = inv.HV(K);
        } else {
            THSMOOTH(inv, K, H, DHDF);
        }
        append(inv.FQ(K), H);
    }

    // Extra low-frequency points of the valley code, walked from the last slot down.
    if (inv.NXTRA != 0) {
        auto below = [&](float f) {
            const float t = f - DFTHIN;
            return t < FLOW + FTOL ? f - 0.5f * DFTHIN : t;
        };
        float THR = below(SF(1));
        for (int m = 100; m >= 1; --m) {
            const float xf = inv.XF(m);
            if (xf != 0.0f && xf <= THR) {
                append(xf, inv.XH(m));
                THR = below(xf);
            }
        }
        inv.NXTRA = 0;
    }

    inv.FQ.fill(0.0f);
    inv.HV.fill(0.0f);
    for (int K = 1; K <= N; ++K) {
        inv.FQ(K) = SF(K);
        inv.HV(K) = SH(K);
    }
    inv.NFQ = static_cast<int16_t>(N);
    if (cx.log.IDEBUG >= 5) writeFitData(os, "  AFTER 77X.FOR DATAUSED: IRGN=", inv);
}

// THSMOOTH: smoothed virtual height H (km) and slope DHDF (km/MHz) at the fit point FQ(K),
// from a least-squares quadratic in the line offset m = -3..3 through the trace-list points
// around it (J + m, where TRF(J) is FQ(K) within 0.0001 MHz). A neighbour is used when its
// frequency is above FSTART and below FEND + FQINCR/2 and its height is below 999 km and not
// below the region floor. With four or more such points and a non-singular fit H is the fitted
// height at the point and DHDF the fitted slope; otherwise H is the raw height and DHDF
// 9999.9. A fit point that is not in the trace list keeps HV(K). Reads FQ, HV, the trace list,
// IRGN, FSTART, FEND, FQINCR, BASEHT, HGRID, HBASE.
void THSMOOTH(Inversion& inv, int K, float& H, float& DHDF) {
    const float floorh = hfloor(inv);
    DHDF = NOSLOPE;
    H = inv.HV(K);
    int J = 0;
    for (int i = 1; i <= MAXTRC; ++i) {
        if (std::fabs(inv.TRF(i) - inv.FQ(K)) < FTOL) {
            J = i;
            break;
        }
    }
    if (J == 0) return;
    H = inv.TRH(J);

    // Sums of m^0..m^4 and of y, m y, m^2 y over the usable neighbours.
    float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f, s4 = 0.0f;
    float y0 = 0.0f, y1 = 0.0f, y2 = 0.0f;
    int used = 0;
    const float ftop = inv.FEND + 0.5f * inv.FQINCR;
    for (int m = -3; m <= 3; ++m) {
        const int i = J + m;
        if (i < 1 || i > MAXTRC) continue;
        const float f = inv.TRF(i), h = inv.TRH(i);
        if (!(f < ftop && f > inv.FSTART && h < HMISS_OLD && h >= floorh)) continue;
        const float x = static_cast<float>(m);
        ++used;
        s0 += 1.0f;
        s1 += x;
        s2 += x * x;
        s3 += x * x * x;
        s4 += x * x * x * x;
        y0 += h;
        y1 += x * h;
        y2 += x * x * h;
    }
    if (used < 4) return;

    // Normal equations [s0 s1 s2; s1 s2 s3; s2 s3 s4] (a b c)' = (y0 y1 y2)', Cramer's rule.
    const float det = s0 * (s2 * s4 - s3 * s3) - s1 * (s1 * s4 - s3 * s2) + s2 * (s1 * s3 - s2 * s2);
    if (det == 0.0f) return;
    const float deta = y0 * (s2 * s4 - s3 * s3) - s1 * (y1 * s4 - s3 * y2) + s2 * (y1 * s3 - s2 * y2);
    const float detb = s0 * (y1 * s4 - s3 * y2) - y0 * (s1 * s4 - s3 * s2) + s2 * (s1 * y2 - y1 * s2);
    H = deta / det;
    DHDF = detb / det / inv.FQINCR;
}

}  // namespace zelk::inversion

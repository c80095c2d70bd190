// Quasi-parabolic fit of the N(h) table: QPFIT, DOFITTING, the segment fits QPFIT11, QPFIT12,
// QPFIT13, QPFIT21, QPFIT22, QPFIT3V, QPFIT3, and the rounding TRNKV.
//
// Within a segment fN^2 = QA x^2 + QB x + QC with x = 1/r, r = 6370 km + h. Each segment is
// fitted by weighted least squares of the relative error of fN^2 (weights 1/fN^4) under two
// constraints: it takes the value and the slope dfN^2/dx of its neighbour at the joint it grows
// from, so the chain is continuous with a continuous slope. A chain starts at a layer peak with
// the data value there and slope 0, and so does the part of a chain below a ledge of the
// profile (the F1 peak, the foot of the E layer), where fN^2 flattens so abruptly that no
// segment with the slope of the one above can follow the table (see GROW and JOINT); the
// value stays continuous there.
// The stages: the F chain from the F2 peak down to the valley's second third, the chain up
// from the E peak to the valley's first third, the straight valley segment between them, and
// the chain down from the E peak to the profile's base. Without a valley in the table the F
// chain runs down to the E peak; without an E peak, down to the base.
#include <algorithm>
#include <cmath>

#include "products/products.hpp"

namespace zelk::products {

namespace {

constexpr double REARTH = 6370.0;    // Earth radius of the geocentric radius (km)
constexpr float ACCMAX = 0.1f;       // no retry once the accuracy has reached this
constexpr int MAXTRY = 32;           // cap on accuracy doublings (reached only for tiny ACC)
constexpr int MAXSTEP = 200000;      // cap on the search steps of one chain
constexpr float ROWTOL = 0.0001f;    // height tolerance when matching table rows (km)

// Largest relative error |YQ - fit|/YQ over the points LO..HI of the segment (QA, QB, QC),
// rounded to 3 significant digits. The anchor point enters with the value Y0 the segment was
// forced through, so the error there is the joint's mismatch with the data.
double SEGERR(const Products& P, int LO, int HI, double QA, double QB, double QC) {
    double e = 0.0;
    for (int j = LO; j <= HI; ++j) {
        const double x = P.XQ(j);
        const double y = (QA * x + QB) * x + QC;
        e = std::max(e, std::fabs(P.YQ(j) - y) / P.YQ(j));
    }
    TRNKV(3, e);
    return e;
}

// The constrained weighted least-squares segment through (XQ(K0), Y0) with slope S0, over the
// points from K0 (exclusive) to J (inclusive), either direction.
void SEGFIT(const Products& P, int K0, double Y0, double S0, int J, double& QA, double& QB,
            double& QC) {
    const int DIR = J < K0 ? -1 : 1;
    const double x0 = P.XQ(K0);
    double S1 = 0.0, S2 = 0.0, S3 = 0.0;
    for (int i = K0 + DIR; i != J + DIR; i += DIR) {
        const double d = x0 - P.XQ(i), d2 = d * d, w = P.WQ(i);
        S1 += w * (P.YQ(i) - Y0) * d2;
        S2 += w * d2 * d;
        S3 += w * d2 * d2;
    }
    QA = (S0 * S2 + S1) / S3;
    QB = S0 - 2.0 * QA * x0;
    QC = (QA * x0 - S0) * x0 + Y0;
}

// True when the largest relative error over the points from I to K0, rounded to 3 significant
// digits, is within ERRMAX (compared in the precision of ERRMAX, single, so that 0.01 allows an
// error of 0.01). The scan starts at the newest point I and gives up as soon as one point is
// off by more than 1.01 ERRMAX: rounding to 3 digits moves a value by less than 0.5 %, so
// such a point decides the outcome and the result is that of the full scan.
bool ERRWITHIN(const Products& P, int I, int K0, double QA, double QB, double QC,
               float ERRMAX) {
    const double cut = 1.01 * static_cast<double>(ERRMAX);
    const int DIR = I < K0 ? 1 : -1;
    double e = 0.0;
    for (int j = I; j != K0 + DIR; j += DIR) {
        const double x = P.XQ(j);
        const double y = (QA * x + QB) * x + QC;
        const double ej = std::fabs(P.YQ(j) - y) / P.YQ(j);
        if (!(ej <= cut)) return false;
        e = std::max(e, ej);
    }
    TRNKV(3, e);
    return static_cast<float>(e) <= ERRMAX;
}

// The shape checks that let a segment end at point i: the fitted slope keeps the sign of a
// layer flank (not positive going down from a peak, not negative going up) and the parabola's
// vertex does not fall strictly inside the segment.
bool SHAPEOK(const Products& P, int K0, double S0, int i, double QA, double QB) {
    const double x0 = P.XQ(K0), xi = P.XQ(i);
    const double slope = 2.0 * QA * xi + QB;
    if (i < K0 ? !(slope <= 0.0) : !(slope >= 0.0)) return false;
    if (S0 != 0.0 && QA != 0.0) {
        const double xv = -QB / (2.0 * QA);
        if (xv > std::min(x0, xi) && xv < std::max(x0, xi)) return false;
    }
    return true;
}

// All the checks that let a segment end at point i: its shape, and its largest relative
// error within ERRMAX.
bool SEGOK(const Products& P, int K0, double S0, int i, double QA, double QB, double QC,
           float ERRMAX) {
    return SHAPEOK(P, K0, S0, i, QA, QB) && ERRWITHIN(P, i, K0, QA, QB, QC, ERRMAX);
}

// One segment grown from the fixed end K0 (value Y0, slope S0) towards the limit KLIM, point by
// point. The coefficients for every reach are kept in look-ahead level LEV (WA/WB/WC) and WOK
// marks the reaches where the segment may end (2: where its shape turned, see JOINT). A point whose value is not below Y0 stays in
// the sums but is not a place to stop (it may end a segment only as the stage limit, when its
// error is within ERRMAX). At a point below Y0 the growth stops at the first point where the
// largest relative error exceeds ERRMAX (the segment cannot reach it), or at the first point
// where the shape turns: the slope changes sign or the vertex comes inside (the segment may
// end there, which lets a chain pass a ledge such as the F1 peak, where the profile
// flattens, but it goes no further).
// Returns the farthest reach; K0 when no segment can leave K0.
// KEEP false: only the reach is wanted (the last look-ahead level, whose segments nothing
// reads): the coefficients are not stored and QC is formed only where the error scan needs it.
template <bool KEEP = true>
int GROW(Products& P, int LEV, int K0, double Y0, double S0, int KLIM, float ERRMAX) {
    const int DIR = KLIM < K0 ? -1 : 1;
    const double x0 = P.XQ(K0);
    double S1 = 0.0, S2 = 0.0, S3 = 0.0;
    // With Y0 and S0 fixed, the relative error at point j is |a_j - QA b_j| with
    // a_j = (YQ(j) - Y0 - S0 (x_j - x0))/YQ(j) and b_j = (x_j - x0)^2/YQ(j), so the error
    // stays within E exactly for QA in [max (a_j - E)/b_j, min (a_j + E)/b_j]. Kept for E just
    // below and just above ERRMAX, these bounds settle most candidates without the scan over
    // the segment; only a QA between them is decided by the scan itself (ERRWITHIN). The
    // margin (1 %) is far above the rounding of either evaluation, so the outcome is the
    // scan's. Accuracies below 1e-5 always scan.
    const bool fast = ERRMAX >= 1.0e-5f;
    const double Ein = 0.99 * static_cast<double>(ERRMAX), Eout = 1.01 * static_cast<double>(ERRMAX);
    double LOin = -HUGE_VAL, HIin = HUGE_VAL, LOout = -HUGE_VAL, HIout = HUGE_VAL;
    double AFIX = std::fabs(P.YQ(K0) - Y0) / P.YQ(K0);   // error where QA does not act
    int reach = K0;
    for (int i = K0 + DIR; i != KLIM + DIR; i += DIR) {
        const double d = x0 - P.XQ(i), d2 = d * d, w = P.WQ(i);
        S1 += w * (P.YQ(i) - Y0) * d2;
        S2 += w * d2 * d;
        S3 += w * d2 * d2;
        const double QA = (S0 * S2 + S1) / S3;
        const double QB = S0 - 2.0 * QA * x0;
        auto QC = [&] { return (QA * x0 - S0) * x0 + Y0; };
        if constexpr (KEEP) {
            P.WA(LEV, i) = QA;
            P.WB(LEV, i) = QB;
            P.WC(LEV, i) = QC();
            P.WOK(LEV, i) = 0;
        }
        // (a -+ E)/b = c -+ E u with c = (YQ - Y0 + S0 d)/d^2 and u = YQ/d^2: one division
        // instead of four; the bounds move by a few units in the last place, nothing beside
        // the margin.
        const double y = P.YQ(i), num = y - Y0 + S0 * d;
        if (d2 > 0.0 && y > 0.0) {
            const double id2 = 1.0 / d2, c = num * id2, u = y * id2;
            LOin = std::max(LOin, c - Ein * u);
            HIin = std::min(HIin, c + Ein * u);
            LOout = std::max(LOout, c - Eout * u);
            HIout = std::min(HIout, c + Eout * u);
        } else if (!(d2 / y > 0.0)) {
            AFIX = std::max(AFIX, std::fabs(num / y));
        } else {
            const double a = num / y, b = d2 / y;
            LOin = std::max(LOin, (a - Ein) / b);
            HIin = std::min(HIin, (a + Ein) / b);
            LOout = std::max(LOout, (a - Eout) / b);
            HIout = std::min(HIout, (a + Eout) / b);
        }
        auto within = [&] {
            if (fast) {
                if (AFIX <= Ein && QA >= LOin && QA <= HIin) return true;
                if (AFIX > Eout || QA < LOout || QA > HIout) return false;
            }
            return ERRWITHIN(P, i, K0, QA, QB, QC(), ERRMAX);
        };
        if (!(P.YQ(i) < Y0)) {
            if (i == KLIM && within()) {
                if constexpr (KEEP) P.WOK(LEV, i) = 1;
                reach = i;
            }
            continue;
        }
        if (!within()) break;
        reach = i;
        if (!SHAPEOK(P, K0, S0, i, QA, QB)) {
            if constexpr (KEEP) P.WOK(LEV, i) = 2;
            break;
        }
        if constexpr (KEEP) P.WOK(LEV, i) = 1;
    }
    return reach;
}

// Value and slope dfN^2/dx at point J of the segment kept at level LEV for reach J. A segment
// that ended where its shape turned ends at a ledge of the profile: the next one starts from
// it as from a peak, with slope 0 (its vertex lies within the last step, so the slope there is
// that of one table step at most).
void JOINT(const Products& P, int LEV, int J, double& Y, double& S) {
    const double x = P.XQ(J);
    Y = (P.WA(LEV, J) * x + P.WB(LEV, J)) * x + P.WC(LEV, J);
    S = P.WOK(LEV, J) == 2 ? 0.0 : 2.0 * P.WA(LEV, J) * x + P.WB(LEV, J);
}

// First segment of a downward step (level 1).
int QPFIT11(Products& P, int K0, double Y0, double S0, int KL, float ERRMAX) {
    return GROW(P, 1, K0, Y0, S0, KL, ERRMAX);
}

// Second segment of the look-ahead, from joint J of the first (level 2).
int QPFIT12(Products& P, int J, int KL, float ERRMAX) {
    double Y, S;
    JOINT(P, 1, J, Y, S);
    return GROW(P, 2, J, Y, S, KL, ERRMAX);
}

// Third segment of the look-ahead, from joint K2 of the second (level 3): its reach only.
int QPFIT13(Products& P, int K2, int KL, float ERRMAX) {
    double Y, S;
    JOINT(P, 2, K2, Y, S);
    return GROW<false>(P, 3, K2, Y, S, KL, ERRMAX);
}

// The reaches of the third look-ahead level from the joints K2 = KB..J-1 of the second
// segment that may end a segment (WOK(2, K2)): true when one reaches KL (the caller takes J at
// once), else KC lowered to the lowest reach. One growth after the other, stopping at the first
// that reaches KL. (Running four growths at a time on SIMD lanes gave the same bits but was
// 15-20 % slower on an AVX-512 processor, in every build of the lanes.)
bool LOOKAHEAD3(Products& P, int J, int KB, int KL, float ERRMAX, int& KC) {
    for (int K2 = KB; K2 < J; ++K2) {
        if (!P.WOK(2, K2)) continue;
        const int k = QPFIT13(P, K2, KL, ERRMAX);
        if (k == KL) return true;
        KC = std::min(KC, k);
    }
    return false;
}

// Upward segment from the fixed lower end K0 (level 1).
int QPFIT21(Products& P, int K0, double Y0, double S0, int KU, float ERRMAX) {
    return GROW(P, 1, K0, Y0, S0, KU, ERRMAX);
}

// Look-ahead of the upward chain: among the valid joints J of the current segment (K0 < J <=
// KA, tried from the highest down), the one from which the next segment reaches highest; the
// first on ties, and at once a joint whose next segment reaches KU.
int QPFIT22(Products& P, int K0, int KA, int KU, float ERRMAX) {
    int best = KA, bestreach = -1;
    for (int J = KA; J > K0; --J) {
        if (!P.WOK(1, J)) continue;
        double Y, S;
        JOINT(P, 1, J, Y, S);
        const int KB = GROW(P, 2, J, Y, S, KU, ERRMAX);
        if (KB == KU) return J;
        if (KB > bestreach) {
            bestreach = KB;
            best = J;
        }
    }
    return best;
}

// Final coefficients of the segment KLO..KHI into SLOT: the constrained fit anchored at KANC
// (value Y0, slope S0), and its rounded largest relative error.
void QPFIT3(Products& P, int SLOT, int KLO, int KHI, int KANC, double Y0, double S0) {
    const int other = KANC == KHI ? KLO : KHI;
    double QA, QB, QC;
    SEGFIT(P, KANC, Y0, S0, other, QA, QB, QC);
    P.KJT(SLOT) = static_cast<int16_t>(KHI);
    P.QA(SLOT) = QA;
    P.QB(SLOT) = QB;
    P.QC(SLOT) = QC;
    P.QERR(SLOT) = static_cast<float>(SEGERR(P, KLO, KHI, QA, QB, QC));
}

// The valley segment: the straight line (QA = 0) from (XQ(I1), Y1) to (XQ(I2), Y2).
void QPFIT3V(Products& P, int SLOT, int I1, int I2, double Y1, double Y2) {
    const double X1 = P.XQ(I1), X2 = P.XQ(I2);
    const double QB = (Y1 - Y2) / (X1 - X2);
    P.KJT(SLOT) = static_cast<int16_t>(I2);
    P.QA(SLOT) = 0.0;
    P.QB(SLOT) = QB;
    P.QC(SLOT) = Y1 - X1 * QB;
    P.QERR(SLOT) = static_cast<float>(SEGERR(P, I1, I2, 0.0, QB, Y1 - X1 * QB));
}

// Chain of segments downwards from the peak KTOP to the stage limit KL (stages 1 and 4).
// Joints are chosen by the three-segment look-ahead; when no segment can leave a joint, the
// segment above it is shortened by one point at a time (dropped when nothing is left of it)
// and the search resumes from its new end. Segments go into the slots below NFREE.
// YLOW: the chain's fitted value at KL. Returns false when the chain cannot be built within
// the free slots.
bool CHAIN_DOWN(Products& P, int KTOP, int KL, float ERRMAX, int& NFREE, double& YLOW) {
    int JT[MAXQP + 1];
    double VT[MAXQP + 1], ST[MAXQP + 1];
    int n = 0;
    JT[0] = KTOP;
    VT[0] = P.YQ(KTOP);
    ST[0] = 0.0;
    bool stuck = false;
    for (int step = 0; JT[n] > KL; ++step) {
        if (step >= MAXSTEP || n >= MAXSEG) return false;
        const int U = JT[n];
        if (!stuck) {
            const int KA = QPFIT11(P, U, VT[n], ST[n], KL, ERRMAX);
            if (KA != U) {
                int J = KA;
                if (KA != KL) {
                    // Look ahead: the joint whose following two segments reach lowest.
                    int bestJ = -1, bestKC = MAXQP + 1;
                    for (J = KA; J < U; ++J) {
                        if (!P.WOK(1, J)) continue;
                        const int KB = QPFIT12(P, J, KL, ERRMAX);
                        if (KB == KL) break;
                        int KC = J;
                        if (LOOKAHEAD3(P, J, KB, KL, ERRMAX, KC)) break;
                        if (KC < bestKC) {
                            bestKC = KC;
                            bestJ = J;
                        }
                    }
                    if (J >= U) J = bestJ;
                }
                ++n;
                JT[n] = J;
                JOINT(P, 1, J, VT[n], ST[n]);
                continue;
            }
            stuck = true;
        }
        // No segment leaves JT[n]: shorten the segment above it.
        if (n == 0) return false;
        bool found = false;
        for (int J = JT[n] + 1; J < JT[n - 1]; ++J) {
            double QA, QB, QC;
            SEGFIT(P, JT[n - 1], VT[n - 1], ST[n - 1], J, QA, QB, QC);
            if (SEGOK(P, JT[n - 1], ST[n - 1], J, QA, QB, QC, ERRMAX)) {
                JT[n] = J;
                const double x = P.XQ(J);
                VT[n] = (QA * x + QB) * x + QC;
                ST[n] = 2.0 * QA * x + QB;
                found = true;
                break;
            }
        }
        if (found) stuck = false;
        else --n;
    }
    if (n > NFREE) return false;
    for (int s = 0; s < n; ++s) QPFIT3(P, NFREE--, JT[s + 1], JT[s], JT[s], VT[s], ST[s]);
    YLOW = VT[n];
    return true;
}

// Chain of segments upwards from the E peak IE to the valley's first third I1 (stage 2).
// YTOP: the chain's fitted value at I1. Returns false when a segment cannot leave its start.
bool CHAIN_UP(Products& P, int IE, int I1, float ERRMAX, int& NFREE, double& YTOP) {
    int K0 = IE;
    double Y0 = P.YQ(IE), S0 = 0.0;
    for (int step = 0; K0 < I1; ++step) {
        if (step >= MAXSEG || NFREE < 1) return false;
        const int KA = QPFIT21(P, K0, Y0, S0, I1, ERRMAX);
        if (KA == K0) return false;
        int J = KA;
        if (KA != I1) J = QPFIT22(P, K0, KA, I1, ERRMAX);
        QPFIT3(P, NFREE--, K0, J, K0, Y0, S0);
        JOINT(P, 1, J, Y0, S0);
        K0 = J;
    }
    YTOP = Y0;
    return true;
}

// One attempt at accuracy ERRMAX over the four stages. False when it fails.
bool FITONCE(Products& P, int IE, int I1, int I2, int NP, float ERRMAX) {
    int NFREE = MAXSEG;
    double y = 0.0, y1 = 0.0, y2 = 0.0;
    const bool valley = IE >= 1 && IE < I1 && I1 < I2 && I2 < NP;
    if (valley) {
        if (!CHAIN_DOWN(P, NP, I2, ERRMAX, NFREE, y2)) return false;
        if (!CHAIN_UP(P, IE, I1, ERRMAX, NFREE, y1)) return false;
        if (NFREE < 1) return false;
        QPFIT3V(P, NFREE--, I1, I2, y1, y2);
        if (IE > 1 && !CHAIN_DOWN(P, IE, 1, ERRMAX, NFREE, y)) return false;
    } else if (IE >= 1 && IE < NP) {
        // No valley between the E peak and the F layer: the F chain ends at the E peak and
        // the E layer below it is a chain of its own.
        if (!CHAIN_DOWN(P, NP, IE, ERRMAX, NFREE, y)) return false;
        if (IE > 1 && !CHAIN_DOWN(P, IE, 1, ERRMAX, NFREE, y)) return false;
    } else {
        if (!CHAIN_DOWN(P, NP, 1, ERRMAX, NFREE, y)) return false;
    }
    return true;
}

void CLEARSEG(Products& P) {
    P.NSEG = 0;
    P.R0 = 0.0;
    P.KJT.fill(0);
    P.RTOP.fill(0.0);
    P.QA.fill(0.0);
    P.QB.fill(0.0);
    P.QC.fill(0.0);
    P.QERR.fill(0.0f);
}

}  // namespace

// TRNKV: rounds X in place to NDIG significant digits (nearest, halves away from zero); 0 stays
// 0. The mantissa is formed as |X| x 10^(NDIG - e), with e the exponent that brings |X| into
// (0.1, 1], so that scaling by exact powers of ten does not move a half (-123.5 -> -124).
void TRNKV(int NDIG, double& X) {
    static constexpr double P10[13] = {1e0, 1e1, 1e2, 1e3, 1e4,  1e5, 1e6,
                                       1e7, 1e8, 1e9, 1e10, 1e11, 1e12};
    if (X == 0.0 || !std::isfinite(X)) return;
    NDIG = std::clamp(NDIG, 1, 12);
    const double a = std::fabs(X);
    int e = static_cast<int>(std::floor(std::log10(a))) + 1;
    if (a > std::pow(10.0, e)) ++e;
    if (a <= std::pow(10.0, e - 1)) --e;
    const int s = NDIG - e;   // a x 10^s has NDIG digits before the point
    const double scale = (s >= 0 && s <= 12) ? P10[s] : std::pow(10.0, std::abs(s));
    const double m = s >= 0 ? a * scale : a / scale;
    const double r = std::floor(m + 0.5);
    X = std::copysign(s >= 0 ? r / scale : r * scale, X);
}

// DOFITTING: builds the chain of segments over the fitting arrays at accuracy ACC, doubling
// ACC in place after each failed attempt until an attempt at 0.1 or more has failed too.
// Given: IE, I1, I2 (E peak and valley thirds, 0 when absent), NP points in P.RQ/XQ/YQ/WQ.
// Writes: P.NSEG, R0, KJT, RTOP, QA, QB, QC, QERR (slots 1..NSEG ascending in height); NSEG 0
// when no fit was found.
void DOFITTING(Products& P, int16_t IE, int16_t I1, int16_t I2, int16_t NP, float& ACC) {
    CLEARSEG(P);
    if (NP < 2 || !(ACC > 0.0f)) return;
    for (int attempt = 0; attempt < MAXTRY; ++attempt) {
        const float ERRMAX = ACC;
        CLEARSEG(P);
        if (FITONCE(P, IE, I1, I2, NP, ERRMAX)) {
            // Move the filled slots (from MAXSEG downwards) to 1.. in ascending height.
            int first = MAXSEG + 1;
            for (int k = MAXSEG; k >= 1 && P.KJT(k) != 0; --k) first = k;
            const int n = MAXSEG + 1 - first;
            struct Seg { int16_t k; double a, b, c; float e; } tmp[MAXSEG];
            for (int k = 0; k < n; ++k)
                tmp[k] = {P.KJT(first + k), P.QA(first + k), P.QB(first + k), P.QC(first + k),
                          P.QERR(first + k)};
            std::sort(tmp, tmp + n, [](const Seg& l, const Seg& r) { return l.k < r.k; });
            CLEARSEG(P);
            for (int k = 1; k <= n; ++k) {
                P.KJT(k) = tmp[k - 1].k;
                P.RTOP(k) = P.RQ(tmp[k - 1].k);
                P.QA(k) = tmp[k - 1].a;
                P.QB(k) = tmp[k - 1].b;
                P.QC(k) = tmp[k - 1].c;
                P.QERR(k) = tmp[k - 1].e;
            }
            P.NSEG = static_cast<int16_t>(n);
            P.R0 = P.RQ(1);
            TRNKV(7, P.R0);
            return;
        }
        if (ERRMAX >= ACCMAX) break;
        ACC = 2.0f * ACC;
    }
    CLEARSEG(P);
}

// QPFIT: quasi-parabolic fit of the N(h) table at the accuracy QPACC of the run.
// Reads QPACC, the table NPROW/PRFHT/PRFFN, of S the E and F1 peaks and the valley width. Writes the fitting arrays
// and the segments of P (NSEG = 0 when QPACC <= 0, the table is empty or has more than
// 500 rows, or no fit is found). The run's QPACC itself is never changed.
// Every row becomes a fitting point except the valley top (ZME + VW) and the F1 peak, where
// the profile has a kink that joins two layers.
void QPFIT(Products& P, const profile::SolvedProfile& S, float QPACC) {
    P.NSEG = 0;
    if (!(QPACC > 0.0f) || P.NPROW <= 0 || P.NPROW > MAXQP) return;

    const float VW = S.VW, ZME = S.E.ZM;
    const float ZMR = round3(ZME), W1 = VW / 3.0f;
    const float X1 = round3(ZMR + W1), X2 = round3(ZMR + 2.0f * W1), X3 = round3(ZMR + VW);
    const bool valley = VW > 0.0f;

    int16_t IE = 0, I1 = 0, I2 = 0, NP = 0;
    for (int i = 1; i <= P.NPROW; ++i) {
        const float h = P.PRFHT(i);
        const bool epeak = std::fabs(h - ZME) <= ROWTOL;
        if (!epeak && valley && std::fabs(h - X3) <= ROWTOL) continue;
        if (!epeak && std::fabs(h - S.F1.ZM) <= ROWTOL) continue;
        ++NP;
        if (epeak && IE == 0) IE = NP;
        if (valley && std::fabs(h - X1) <= ROWTOL) I1 = NP;
        if (valley && std::fabs(h - X2) <= ROWTOL) I2 = NP;
        const double r = std::round((REARTH + static_cast<double>(h)) * 1000.0) / 1000.0;
        const double f = P.PRFFN(i);
        P.RQ(NP) = r;
        P.XQ(NP) = 1.0 / r;
        P.YQ(NP) = f * f;
        P.WQ(NP) = 1.0 / (P.YQ(NP) * P.YQ(NP));
    }
    P.NQP = NP;
    float ACC = QPACC;
    DOFITTING(P, IE, I1, I2, NP, ACC);
}

}  // namespace zelk::products

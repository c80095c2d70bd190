// Quasi-parabolic fit of the N(h) table and the significant-digit rounding it uses.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "pipeline/zelk.hpp"
#include "zelk_calls.hpp"
#include "products/products.hpp"
#include "profile.hpp"
#include "synth.hpp"

using namespace zelk;
using products::TRNKV;

namespace {

double trnkv(int n, double x) {
    TRNKV(n, x);
    return x;
}

// Largest relative error of fN^2 of segment k over the fitting points it covers.
double segment_error(const products::Products& p, int k) {
    const int lo = k == 1 ? 1 : p.KJT(k - 1), hi = p.KJT(k);
    double e = 0.0;
    for (int j = lo; j <= hi; ++j) {
        const double x = p.XQ(j);
        const double y = (p.QA(k) * x + p.QB(k)) * x + p.QC(k);
        e = std::max(e, std::fabs(p.YQ(j) - y) / p.YQ(j));
    }
    return e;
}

}  // namespace

TEST(Trnkv, SignificantDigits) {
    EXPECT_DOUBLE_EQ(trnkv(3, 0.012345), 0.0123);
    EXPECT_DOUBLE_EQ(trnkv(3, -123.5), -124.0);
    EXPECT_DOUBLE_EQ(trnkv(3, 0.0), 0.0);
    EXPECT_DOUBLE_EQ(trnkv(3, 1.0), 1.0);        // exactly 1: mantissa 1.0 in (0.1, 1]
    EXPECT_DOUBLE_EQ(trnkv(3, 0.1), 0.1);
    EXPECT_DOUBLE_EQ(trnkv(3, 0.0099951), 0.01);  // rounding carries into a new digit
    EXPECT_DOUBLE_EQ(trnkv(7, 6453.1234567), 6453.123);
    EXPECT_DOUBLE_EQ(trnkv(7, 6371.00049), 6371.0);
}

TEST(Qpfit, NoFitWhenDisabledOrTableTooLong) {
    Zelk z;
    synth::table(z, synth::Layers{});
    for (float acc : {0.0f, -0.01f}) {
        z.run.QPACC = acc;
        z.prod.NSEG = 7;
        products::QPFIT(z);
        EXPECT_EQ(z.prod.NSEG, 0) << acc;
    }
    // A table of 501 rows is not fitted; the same profile cut to 500 rows is.
    z.run.QPACC = 0.01f;
    synth::Layers tall;
    tall.hmF2 = 600.0f;
    tall.HF = 90.0f;
    synth::table(z, tall);
    ASSERT_GT(z.prod.NPROW, 501);
    z.prod.NPROW = 501;
    products::QPFIT(z);
    EXPECT_EQ(z.prod.NSEG, 0);
    z.prod.NPROW = 500;
    products::QPFIT(z);
    EXPECT_GT(z.prod.NSEG, 0);
    EXPECT_EQ(z.run.QPACC, 0.01f);   // the run's accuracy is never changed
}

TEST(Qpfit, ReproducesTableWithinReportedAccuracy) {
    Zelk z;
    synth::table(z, synth::Layers{});
    z.run.QPACC = 0.01f;
    products::QPFIT(z);
    const auto& p = z.prod;
    ASSERT_GT(p.NSEG, 3);
    ASSERT_LE(p.NSEG, 20);
    // Every fitting point but the two kinks (valley top and the F1 peak, here the same row).
    EXPECT_EQ(p.NQP, z.prod.NPROW - 1);
    EXPECT_EQ(p.KJT(p.NSEG), p.NQP);
    EXPECT_NEAR(p.RQ(1), 6370.0 + p.PRFHT(1), 0.0005);
    double r0 = p.RQ(1);
    TRNKV(7, r0);
    EXPECT_DOUBLE_EQ(p.R0, r0);
    for (int k = 1; k <= p.NSEG; ++k) {
        SCOPED_TRACE(k);
        if (k > 1) {
            EXPECT_LT(p.KJT(k - 1), p.KJT(k));
        }
        EXPECT_DOUBLE_EQ(p.RTOP(k), p.RQ(p.KJT(k)));
        // The reported error is that of the segment, rounded to 3 digits, and within 0.01.
        const double e = segment_error(p, k);
        EXPECT_NEAR(p.QERR(k), e, 0.0051 * e + 1e-7);
        EXPECT_LE(p.QERR(k), 0.01f);
        // Value continuity at the joint with the segment below (valley line included).
        if (k > 1) {
            const double x = p.XQ(p.KJT(k - 1));
            const double ya = p.QA(k) * x * x + p.QB(k) * x + p.QC(k);
            const double yb = p.QA(k - 1) * x * x + p.QB(k - 1) * x + p.QC(k - 1);
            EXPECT_NEAR(ya, yb, 1e-6 * std::fabs(yb));
        }
    }
}

TEST(Qpfit, AccuracyDoublesUntilTwentySegmentsSuffice) {
    // Ripples on the F layer need more than 20 segments at 0.01.
    Zelk z;
    synth::Layers L;
    L.bump = 0.25f;
    L.bumpkm = 8.0f;
    synth::table(z, L);
    z.run.QPACC = 0.01f;
    products::QPFIT(z);
    ASSERT_GT(z.prod.NSEG, 0);
    float worst = 0.0f;
    for (int k = 1; k <= z.prod.NSEG; ++k) worst = std::max(worst, z.prod.QERR(k));
    EXPECT_GT(worst, 0.01f);
    EXPECT_LE(worst, 0.16f);
    // DOFITTING reports the accuracy it settled on through its argument.
    float acc = 0.01f;
    products::Products& p = z.prod;
    int16_t ie = 0, i1 = 0, i2 = 0;
    for (int j = 1; j <= p.NQP; ++j) {
        const double h = p.RQ(j) - 6370.0;
        if (std::fabs(h - 110.0) < 1e-4) ie = static_cast<int16_t>(j);
        if (std::fabs(h - 120.0) < 1e-4) i1 = static_cast<int16_t>(j);
        if (std::fabs(h - 130.0) < 1e-4) i2 = static_cast<int16_t>(j);
    }
    products::DOFITTING(p, ie, i1, i2, p.NQP, acc);
    EXPECT_GT(acc, 0.01f);
    EXPECT_GE(worst, acc / 2.0f);
    EXPECT_LE(worst, acc);
}

TEST(Qpfit, ChainsPassTheF1LedgeAndTheFootOfTheELayer) {
    // The 1 km table of a profile with an F1 layer: fN^2 flattens at the F1 peak and at the
    // foot of the E layer, where no segment with a continuous slope can follow the table.
    for (bool f1 : {false, true}) {
        SCOPED_TRACE(f1 ? "with F1" : "without F1");
        Zelk z;
        prof::set(z, f1);
        z.run.HSTEP = 0.0f;
        z.run.QPACC = 0.01f;
        products::NHTABLE(z, 0);
        products::QPFIT(z);
        const auto& p = z.prod;
        ASSERT_GT(p.NSEG, 0);
        EXPECT_EQ(p.KJT(p.NSEG), p.NQP);
        for (int k = 1; k <= p.NSEG; ++k) {
            // 3-digit rounding, and 1e-7 for the evaluation of nearly exact segments.
            EXPECT_LE(segment_error(p, k), p.QERR(k) * 1.0051 + 1e-7) << k;
            EXPECT_LE(p.QERR(k), 0.16f) << k;
        }
    }
}


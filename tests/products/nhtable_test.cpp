// The N(h) table: row heights, rows on the profile, the passes and the topside.
#include <gtest/gtest.h>

#include <cmath>

#include "pipeline/zelk.hpp"
#include "zelk_calls.hpp"
#include "inversion/inversion.hpp"
#include "products/products.hpp"
#include "profile.hpp"

using namespace zelk;
using inversion::profile_height;
using inversion::REGION;

namespace {

// A row (f, h) lies on the region's profile when the profile reaches h within the stopping
// rules of the frequency search: 0.0001 km in height or 1e-5 MHz in frequency (which near a
// peak, where the height hardly changes with frequency, is the rule that ends the search).
::testing::AssertionResult on_profile(const inversion::RegionProfile& r, float f, float h) {
    const float lo = profile_height(r, f - 2e-5f) - 2e-4f;
    const float hi = profile_height(r, f + 2e-5f) + 2e-4f;
    if (h >= lo && h <= hi) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << f << ", " << h << ") off the profile: h(f) = "
                                         << profile_height(r, f);
}

bool on_grid(float h, float step) {
    const double n = std::round(h / step);
    return std::fabs(h - n * step) < 1e-3;
}

// Checks that every row of the table lies on the profile of z.inv; returns the index of the
// first topside row (NPROW + 1 when none).
int check_rows(Zelk& z, float step) {
    const auto& p = z.prod;
    auto& v = z.inv;
    const float hvt = v.ZME + v.VW, W1 = v.VW / 3.0f;
    const float FV = v.FC(2) - v.VD;
    int i = 1;
    for (; i <= p.NPROW && p.PRFHT(i) <= v.ZMF2; ++i) {
        SCOPED_TRACE(::testing::Message() << "row " << i << " h=" << p.PRFHT(i));
        if (i > 1) {
            EXPECT_GT(p.PRFHT(i), p.PRFHT(i - 1));
        }
        const float h = p.PRFHT(i), f = p.PRFFN(i);
        const bool boundary = i == 1 || h == v.ZME || h == v.ZMF1 || h == v.ZMF2 ||
                              std::fabs(h - (v.ZME + W1)) < 1e-3 ||
                              std::fabs(h - (v.ZME + 2 * W1)) < 1e-3 ||
                              std::fabs(h - hvt) < 1e-3;
        if (!boundary) {
            EXPECT_TRUE(on_grid(h, step));
        }
        if (h <= v.ZME) {
            EXPECT_TRUE(on_profile(REGION(v, 1), f, h));
        } else if (h < hvt - 1e-3) {
            EXPECT_GE(f, FV - 1e-5f);
            EXPECT_LE(f, v.FC(2) + 1e-5f);
        } else if (v.LF1() == 1 && h <= v.ZMF1) {
            EXPECT_TRUE(on_profile(REGION(v, 2), f, h));
        } else if (std::fabs(h - hvt) > 1e-3) {
            EXPECT_TRUE(on_profile(REGION(v, 3), f, h));
        }
    }
    return i;
}

}  // namespace

TEST(Nhtable, TenKilometreStepWithTopside) {
    for (bool f1 : {false, true}) {
        SCOPED_TRACE(f1 ? "with F1" : "without F1");
        Zelk z;
        prof::set(z, f1);
        z.run.HSTEP = 10.0f;
        z.prod.H = 50.0f;
        products::NHTABLE(z, 0);
        products::NHTABLE(z, 1);
        const auto& p = z.prod;
        const auto& v = z.inv;
        ASSERT_GT(p.NPROW, 10);
        // First row: the profile's bottom at 0.2 MHz.
        EXPECT_FLOAT_EQ(p.PRFFN(1), 0.2f);
        EXPECT_NEAR(p.PRFHT(1), 110.0f - 18.0f - 3.0f + 0.6f, 1e-4);
        EXPECT_FLOAT_EQ(p.PRFHT(2), 90.0f);
        const int top = check_rows(z, 10.0f);
        // The valley ends with (foE, ZME + VW); the layers end with their peaks.
        bool valley_top = false, epeak = false, f2peak = false, f1peak = !f1;
        for (int i = 1; i < top; ++i) {
            valley_top |= p.PRFHT(i) == 140.0f && p.PRFFN(i) == v.FC(2);
            epeak |= p.PRFHT(i) == v.ZME && p.PRFFN(i) == v.FC(2);
            f1peak |= p.PRFHT(i) == v.ZMF1 && p.PRFFN(i) == v.FC(3);
            f2peak |= p.PRFHT(i) == v.ZMF2 && p.PRFFN(i) == v.FC(4);
        }
        EXPECT_TRUE(valley_top && epeak && f1peak && f2peak);
        EXPECT_EQ(p.PRFHT(top - 1), v.ZMF2);
        // Topside: alpha-Chapman rows of scale height 1.6 H at 310, 320, ...
        ASSERT_LE(top, p.NPROW);
        EXPECT_FLOAT_EQ(p.PRFHT(top), 310.0f);
        for (int i = top; i <= p.NPROW; ++i) {
            const double zz = (p.PRFHT(i) - 300.0) / 80.0;
            EXPECT_NEAR(p.PRFFN(i), 8.0 * std::exp(0.5 * (1 - zz - std::exp(-zz))), 2e-5);
            EXPECT_GE(p.PRFFN(i), 0.2f);
        }
        // The topside stops where f drops below 0.2 MHz: the next step would be below it.
        const double zn = (p.PRFHT(p.NPROW) + 10.0 - 300.0) / 80.0;
        EXPECT_LT(8.0 * std::exp(0.5 * (1 - zn - std::exp(-zn))), 0.2);
        // The first pass kept its 1 km copy.
        EXPECT_GT(p.NPROW1, p.NPROW);
        EXPECT_EQ(p.PRFHT1(p.NPROW1), v.ZMF2);
    }
}

TEST(Nhtable, ZeroStepLeavesNoTableButKeepsFirstPass) {
    Zelk z;
    prof::set(z);
    z.run.HSTEP = 0.0f;
    products::NHTABLE(z, 0);
    EXPECT_GT(z.prod.NPROW, 200);
    const int n1 = z.prod.NPROW1;
    EXPECT_EQ(n1, z.prod.NPROW);
    check_rows(z, 1.0f);
    products::NHTABLE(z, 1);
    EXPECT_EQ(z.prod.NPROW, 0);
    EXPECT_EQ(z.prod.PRFHT(1), 0.0f);
    EXPECT_EQ(z.prod.NPROW1, n1);
    EXPECT_EQ(z.run.HSTEP, 0.0f);
}

TEST(Nhtable, OneKilometreStepReusesFirstPass) {
    Zelk z;
    prof::set(z, true);
    z.run.HSTEP = 1.0f;
    products::NHTABLE(z, 0);
    const int n1 = z.prod.NPROW1;
    // Damage the working table's layer rows: the final pass must keep them, not rebuild.
    z.prod.PRFFN(5) = 1.2345f;
    z.prod.H = 40.0f;
    products::NHTABLE(z, 1);
    EXPECT_EQ(z.prod.PRFFN(5), 1.2345f);
    ASSERT_GT(z.prod.NPROW, n1);
    EXPECT_FLOAT_EQ(z.prod.PRFHT(n1 + 1), 301.0f);
    EXPECT_EQ(z.prod.PRFHT(n1), z.inv.ZMF2);
}

TEST(Nhtable, UnknownScaleHeightRunsTo1000kmAndRowLimitHolds) {
    Zelk z;
    prof::set(z);
    z.run.HSTEP = 10.0f;
    z.prod.H = 9999.0f;
    products::NHTABLE(z, 0);
    products::NHTABLE(z, 1);
    EXPECT_FLOAT_EQ(z.prod.PRFHT(z.prod.NPROW), 1000.0f);
    // At 0.5 km the same profile needs more than 999 rows: the table stops at 999.
    z.run.HSTEP = 0.5f;
    products::NHTABLE(z, 1);
    EXPECT_EQ(z.prod.NPROW, 999);
    EXPECT_LT(z.prod.PRFHT(999), 1000.0f);
    EXPECT_GT(z.prod.PRFHT(999), z.prod.PRFHT(998));
}

TEST(Nhtable, LayerWithoutExtentAddsNothing) {
    F1<float, products::MAXROW> f, h;
    int16_t n = 0;
    const float a[6] = {0, -10, -1, 0, 0, 0};
    products::TABLYR(1.0f, 3.0f, 3.0f, 200.0f, a, n, f, h);
    products::TABLYR(1.0f, 0.0f, 3.0f, 200.0f, a, n, f, h);
    products::TABVAL(1.0f, 0.0f, 0.5f, 0.2f, 3.0f, 110.0f, a, n, f, h);
    EXPECT_EQ(n, 0);
}

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <sstream>

#include "pipeline/zelk.hpp"
#include "zelk_calls.hpp"
#include "inversion/inversion.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

// A region's data: n trace points at f = f0 + (k - 1) FQINCR with heights height(k), copied
// both into the trace list (after `offset` unrelated points) and into the fit arrays.
struct Selection : ::testing::Test {
    std::unique_ptr<Zelk> zp = std::make_unique<Zelk>();
    Zelk& z = *zp;
    Inversion& inv = z.inv;
    std::ostringstream log;

    void SetUp() override {
        z.log.out = &log;
        z.log.IDEBUG = 1;
        inv.FQINCR = 0.0625f;  // exact in binary, so frequency differences are exact
        inv.BASEHT = 60.0f;
        inv.HGRID = 5.0f;      // range start 65 km
        inv.HMISS = 9999.0f;
    }

    void load(int n, float f0, const std::function<float(int)>& height, int offset = 0) {
        for (int k = 1; k <= offset; ++k) {
            inv.TRF(k) = 1.0f + 0.0625f * static_cast<float>(k);
            inv.TRH(k) = 100.0f;
        }
        for (int k = 1; k <= n; ++k) {
            const float f = f0 + static_cast<float>(k - 1) * inv.FQINCR;
            inv.TRF(offset + k) = f;
            inv.TRH(offset + k) = height(k);
            inv.FQ(k) = f;
            inv.HV(k) = height(k);
        }
        inv.NFQ = static_cast<int16_t>(n);
    }

    // An F2 region above an E trace, wide enough for all the data.
    void f2Region(float fs, float fe) {
        inv.IRGN = 3;
        inv.FSTART = fs;
        inv.FEND = fe;
        inv.HBASE(3) = 150.0f;
        inv.NFQE = 5;
        inv.NFQF1 = 0;
    }

    bool kept(float f) const {
        for (int K = 1; K <= inv.NFQ; ++K)
            if (inv.FQ(K) == f) return true;
        return false;
    }
};

}  // namespace

TEST_F(Selection, DataeffeDropsLowAndMissingHeights) {
    inv.IRGN = 2;
    inv.HBASE(2) = 180.0f;
    const float h[7] = {179.9f, 180.0f, 999.0f, 9999.0f, 250.0f, 500.0f, 260.0f};
    load(7, 3.0f, [&](int k) { return h[k - 1]; });
    inv.HMISS = 9999.0f;  // new layouts: 999 is a real height, 9999 the marker
    DATAEFFE(z);
    ASSERT_EQ(inv.NFQ, 5);
    EXPECT_EQ(inv.HV(1), 180.0f);  // exactly at the floor: stays
    EXPECT_EQ(inv.HV(2), 999.0f);
    EXPECT_EQ(inv.HV(3), 250.0f);
    EXPECT_EQ(inv.FQ(5), 3.375f);
    EXPECT_EQ(inv.FQ(6), 0.0f);

    load(7, 3.0f, [&](int k) { return h[k - 1]; });
    inv.HMISS = 999.0f;
    DATAEFFE(z);
    EXPECT_EQ(inv.NFQ, 5);  // 999 goes, 9999 is an ordinary (if absurd) height here
    EXPECT_FALSE(kept(3.125f));

    load(7, 3.0f, [&](int k) { return h[k - 1]; });
    inv.HMISS = 500.0f;  // any marker below 9999 means 999
    DATAEFFE(z);
    EXPECT_EQ(inv.NFQ, 5);
    EXPECT_TRUE(kept(3.3125f));  // the 500 km point
    EXPECT_FALSE(kept(3.125f));

    // The floor of an F region is never below the range start.
    inv.HBASE(2) = 20.0f;
    load(3, 3.0f, [](int k) { return k == 1 ? 64.9f : 65.0f; });
    DATAEFFE(z);
    EXPECT_EQ(inv.NFQ, 2);
}

TEST_F(Selection, DataeffeListsTheDataAtLevelFive) {
    inv.IRGN = 1;
    load(2, 2.0f, [](int) { return 100.0f; });
    z.log.IDEBUG = 5;
    DATAEFFE(z);
    const std::string out = log.str();
    EXPECT_NE(out.find(" BEFORE 77X.FOR DATAEFFE: IRGN="), std::string::npos);
    EXPECT_NE(out.find("  AFTER 77X.FOR DATAEFFE: IRGN="), std::string::npos);
    EXPECT_NE(out.find("2.062"), std::string::npos);
}

// Up to 19 points nothing is thinned: the frequency step is one line and any height
// difference is enough.
TEST_F(Selection, NineteenPointsAreAllKept) {
    f2Region(2.9f, 5.0f);
    load(19, 3.0f, [](int k) { return 200.0f + 0.5f * static_cast<float>(k); });
    DATAUSED(z);
    EXPECT_EQ(inv.NFQ, 19);
    EXPECT_NEAR(inv.HV(10), 205.0f, 1e-3);
}

// 40 points: DFTHIN = 3 lines, DHTHIN = 10 km. A slowly rising trace keeps every fourth line
// up to the fifth point from the top, then the last four.
TEST_F(Selection, FortyPointsAreThinnedByFrequency) {
    f2Region(2.9f, 6.0f);
    load(40, 3.0f, [](int k) { return 200.0f + 0.5f * static_cast<float>(k); });
    DATAUSED(z);
    ASSERT_EQ(inv.NFQ, 13);
    const int keptLines[13] = {1, 5, 9, 13, 17, 21, 25, 29, 33, 37, 38, 39, 40};
    for (int i = 0; i < 13; ++i) {
        const float f = 3.0f + static_cast<float>(keptLines[i] - 1) * 0.0625f;
        EXPECT_EQ(inv.FQ(i + 1), f) << i;
        EXPECT_NEAR(inv.HV(i + 1), 200.0f + 0.5f * static_cast<float>(keptLines[i]), 1e-3) << i;
    }
}

// 200 points: DHTHIN is capped at 30 km (not 50) and DFTHIN is 11 lines. A 31 km jump at
// line 101 is kept out of the frequency rhythm and restarts it.
TEST_F(Selection, TwoHundredPointsCapTheHeightThreshold) {
    f2Region(2.9f, 20.0f);
    load(200, 3.0f, [](int k) { return 200.0f + 0.5f * static_cast<float>(k) + (k >= 101 ? 31.0f : 0.0f); });
    DATAUSED(z);
    auto line = [](int k) { return 3.0f + static_cast<float>(k - 1) * 0.0625f; };
    for (int k : {1, 13, 25, 97, 101, 113, 185, 197, 198, 199, 200}) EXPECT_TRUE(kept(line(k))) << k;
    for (int k : {100, 109, 196}) EXPECT_FALSE(kept(line(k))) << k;
    EXPECT_EQ(inv.NFQ, 21);
}

// A six-point F2 region keeps every point; the first point after the first is the start of
// the tail and keeps its raw height.
TEST_F(Selection, SixPointRegionKeepsAllPoints) {
    f2Region(2.9f, 4.0f);
    const float h[6] = {200.0f, 203.0f, 201.0f, 206.0f, 207.0f, 212.0f};
    load(6, 3.0f, [&](int k) { return h[k - 1]; });
    DATAUSED(z);
    ASSERT_EQ(inv.NFQ, 6);
    EXPECT_EQ(inv.HV(2), 203.0f);
    EXPECT_NE(inv.HV(3), 201.0f);  // smoothed
}

// An F2 region with no E or F1 trace starts 3% of its span above FSTART.
TEST_F(Selection, F2WithoutLowerTracesSkipsItsBottom) {
    f2Region(3.0f, 5.0f);  // FLOW = 3.06
    inv.NFQE = 0;
    load(8, 3.0f, [](int k) { return 200.0f + static_cast<float>(k); });
    DATAUSED(z);
    EXPECT_EQ(inv.NFQ, 7);
    EXPECT_EQ(inv.FQ(1), 3.0625f);
    // No point at or above FLOW at all.
    load(3, 2.0f, [](int) { return 200.0f; });
    inv.NFQE = 1;
    DATAUSED(z);
    EXPECT_EQ(inv.NFQ, 0);
}

// Extra points from the valley code are appended from slot 100 down, each at least DFTHIN
// (DFTHIN/2 close to FLOW) below the previous one; the table is used once.
TEST_F(Selection, ExtraPointsAreAppendedOnce) {
    f2Region(2.0f, 4.0f);
    load(6, 3.0f, [](int k) { return 220.0f + static_cast<float>(k); });
    inv.NXTRA = 1;
    inv.XF(100) = 2.95f;  inv.XH(100) = 210.0f;  // above THR = 3 - 0.0625
    inv.XF(99) = 2.9f;    inv.XH(99) = 209.0f;   // taken; THR = 2.8375
    inv.XF(98) = 2.85f;   inv.XH(98) = 208.0f;
    inv.XF(97) = 2.8f;    inv.XH(97) = 207.0f;   // taken
    inv.XF(95) = 2.05f;   inv.XH(95) = 200.0f;   // taken; THR near FLOW: 2.05 - 0.03125
    inv.XF(94) = 2.02f;   inv.XH(94) = 199.0f;
    inv.XF(93) = 2.01f;   inv.XH(93) = 198.0f;   // taken
    DATAUSED(z);
    ASSERT_EQ(inv.NFQ, 10);
    EXPECT_EQ(inv.FQ(7), 2.9f);
    EXPECT_EQ(inv.HV(7), 209.0f);
    EXPECT_EQ(inv.FQ(8), 2.8f);
    EXPECT_EQ(inv.FQ(9), 2.05f);
    EXPECT_EQ(inv.FQ(10), 2.01f);
    EXPECT_EQ(inv.NXTRA, 0);
    load(6, 3.0f, [](int k) { return 220.0f + static_cast<float>(k); });
    DATAUSED(z);
    EXPECT_EQ(inv.NFQ, 6);
}

// The quadratic fit over seven neighbours: a disturbance d of the centre point moves the
// smoothed height by 7d/21 and leaves the slope alone.
TEST_F(Selection, ThsmoothFitsAQuadraticThroughTheNeighbours) {
    f2Region(2.9f, 6.0f);
    // Heights along the lines 200 + 3k + k^2/4, the centre line k = 5 raised by 4.2 km; the
    // region's points follow 12 unrelated trace points.
    auto base = [](int k) { return 200.0f + 3.0f * static_cast<float>(k) + 0.25f * static_cast<float>(k * k); };
    load(9, 3.0f, [&](int k) { return k == 5 ? base(5) + 4.2f : base(k); }, 12);
    float H = 0.0f, DHDF = 0.0f;
    THSMOOTH(z, 5, H, DHDF);
    EXPECT_NEAR(H, base(5) + 4.2f * 7.0f / 21.0f, 1e-3);
    // dh/dk at k = 5 is 3 + 0.5 * 5 = 5.5 km per line.
    EXPECT_NEAR(DHDF, 5.5f / 0.0625f, 0.02);

    // Only three usable points (the region ends at the third line): raw height, no slope.
    inv.FEND = 3.1f;
    THSMOOTH(z, 1, H, DHDF);
    EXPECT_EQ(H, inv.HV(1));
    EXPECT_EQ(DHDF, 9999.9f);
    // Four usable points are enough.
    inv.FEND = 3.17f;
    THSMOOTH(z, 1, H, DHDF);
    EXPECT_NE(DHDF, 9999.9f);

    // Missing echoes (999) and heights below the floor are not neighbours.
    inv.FEND = 6.0f;
    inv.TRH(12 + 3) = 999.0f;
    inv.TRH(12 + 4) = 100.0f;
    inv.TRH(12 + 6) = 999.0f;
    inv.TRH(12 + 7) = 999.0f;
    THSMOOTH(z, 5, H, DHDF);  // only lines 2, 5 and 8 remain
    EXPECT_EQ(H, inv.TRH(12 + 5));
    EXPECT_EQ(DHDF, 9999.9f);
}

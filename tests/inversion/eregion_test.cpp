// E region: the unit-parabola shape table and its interpolation.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "core/zelk.hpp"
#include "inversion/inversion.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

// Rows 12, 13, 17 and 18 of the unit-parabola table (ratio, five coefficients).
const double ROW12[6] = {0.100, -1.45351, 0.555909, -0.114399, 0.0193251, -0.00254949};
const double ROW13[6] = {0.120, -1.42444, 0.517471, -0.0996703, 0.0155959, -0.00189095};
const double ROW17[6] = {0.200, -1.32527, 0.399777, -0.0610217, 0.00734085, -0.00066996};
const double ROW18[6] = {0.250, -1.27034, 0.343629, -0.0459653, 0.00478053, -0.00037402};

void zeroprof(Inversion& inv, float fstart, float fend, int nn = 5) {
    inv.A.fill(-7.0f);
    inv.FSTART = fstart;
    inv.FEND = fend;
    inv.NN = static_cast<int16_t>(nn);
    ZEROPROF(inv, 0);
}

}  // namespace

TEST(ZEROPROF, RatioOnARowTakesTheRow) {
    auto z = std::make_unique<Zelk>();
    zeroprof(z->inv, 0.2f, 2.0f);  // ratio 0.1 exactly
    for (int j = 1; j <= 5; ++j) EXPECT_EQ(z->inv.A(j), static_cast<float>(ROW12[j])) << j;
}

TEST(ZEROPROF, InterpolatesLinearlyAboveTwoTenths) {
    auto z = std::make_unique<Zelk>();
    zeroprof(z->inv, 0.21f, 1.0f);
    const double x = 0.21f;
    for (int j = 1; j <= 5; ++j) {
        const double c = (ROW17[j] * (ROW18[0] - x) + ROW18[j] * (x - ROW17[0])) / (ROW18[0] - ROW17[0]);
        EXPECT_NEAR(z->inv.A(j), c, 2e-6 * std::fabs(c) + 1e-9) << j;
    }
    // 0.21 lies a fifth of the way from row 17 to row 18.
    EXPECT_NEAR(z->inv.A(1), 0.8 * ROW17[1] + 0.2 * ROW18[1], 1e-5);
}

TEST(ZEROPROF, InterpolatesInTheLogarithmBelowTwoTenths) {
    auto z = std::make_unique<Zelk>();
    zeroprof(z->inv, 0.11f, 1.0f);
    const double x = 0.11f;
    const double w = (std::log(x) - std::log(ROW12[0])) / (std::log(ROW13[0]) - std::log(ROW12[0]));
    for (int j = 1; j <= 5; ++j) {
        const double c = ROW12[j] * (1.0 - w) + ROW13[j] * w;
        EXPECT_NEAR(z->inv.A(j), c, 2e-6 * std::fabs(c) + 1e-9) << j;
    }
    // Linear interpolation would give a visibly different first coefficient.
    EXPECT_GT(std::fabs(z->inv.A(1) - 0.5 * (ROW12[1] + ROW13[1])), 1e-4);
}

TEST(ZEROPROF, LimitsRowSelectionAndTermCount) {
    auto z = std::make_unique<Zelk>();
    Inversion& inv = z->inv;
    zeroprof(inv, 0.001f, 1.0f);                 // below the table: row 1
    EXPECT_EQ(inv.A(1), -1.7351f);
    zeroprof(inv, 3.0f, 3.0f);                   // ratio 1: row 33
    EXPECT_EQ(inv.A(1), -0.1f);
    zeroprof(inv, 0.2f, 2.0f, 3);                // three terms only
    EXPECT_EQ(inv.A(3), static_cast<float>(ROW12[3]));
    EXPECT_EQ(inv.A(4), -7.0f);
    inv.NN = 5;
    ZEROPROF(inv, 5);                            // explicit row
    EXPECT_EQ(inv.A(2), 0.770172f);
    ZEROPROF(inv, 34);                           // beyond the table: A unchanged
    EXPECT_EQ(inv.A(2), 0.770172f);
}

// Three E points or fewer: the model layer (peak 110 km, semi-thickness 20 km) with the
// shape of the unit parabola for FSTART/FEND, and no residual.
TEST(ECHAPMAN, ModelLayerBelowFourPoints) {
    auto z = std::make_unique<Zelk>();
    Inversion& inv = z->inv;
    inv.NFQ = 3;
    zeroprof(inv, 0.2f, 2.0f, 3);   // ratio 0.1: row 12
    float er = -1.0f;
    ECHAPMAN(*z, er);
    EXPECT_EQ(er, 0.0f);
    EXPECT_EQ(inv.YE, 20.0f);
    EXPECT_EQ(inv.ZME, 110.0f);
    EXPECT_EQ(inv.A_E(1), -29.070f);   // round3(20 x -1.45351)
    EXPECT_EQ(inv.A_E(2), 11.118f);    // round3(20 x 0.555909)
    EXPECT_EQ(inv.A_E(3), -2.288f);    // round3(20 x -0.114399)
    EXPECT_FLOAT_EQ(inv.HBASE(1), 110.0f - 29.070f + 11.118f - 2.288f);
}

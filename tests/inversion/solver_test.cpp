// Layer solver: the linear algebra and the root check that decide which solutions are kept.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "core/zelk.hpp"
#include "inversion/inversion.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

// Rows of the derivative table of the profile basis, highest power first.
void fill_cv(Inversion& inv) {
    static const float rows[8][8] = {
        {1},
        {6, -1},
        {40, -24, 1},
        {224, -240, 54, -1},
        {1152, -1792, 800, -96, 1},
        {5632, -11520, 7840, -2000, 150, -1},
        {26624, -67584, 62208, -25088, 4200, -216, 1},
        {122880, -372736, 433664, -241920, 65856, -7840, 294, -1}};
    for (int i = 1; i <= 8; ++i)
        for (int m = 1; m <= i; ++m) inv.CV(i, m) = rows[i - 1][m - 1];
}

struct Ctx {
    std::unique_ptr<Zelk> z = std::make_unique<Zelk>();
    std::ostringstream log;
    Ctx() { z->log.out = &log; }
};

int checkh(Inversion& inv, std::initializer_list<float> a) {
    fill_cv(inv);
    inv.NN = static_cast<int16_t>(a.size());
    int i = 1;
    for (float v : a) inv.A(i++) = v;
    int16_t ichk = -99;
    CHECKH(inv, ichk);
    return ichk;
}

}  // namespace

TEST(EQUTN, SolvesAGeneralSystem) {
    Ctx r;
    F2<float, 8, 9> neq;
    // 4x + y - 2z = 1, -3x + 5y + z = 15, 2x - y + 6z = 17  ->  (1, 3, 3)
    const float m[3][4] = {{4, 1, -2, 1}, {-3, 5, 1, 15}, {2, -1, 6, 17}};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 4; ++j) neq(i, j) = m[i - 1][j - 1];
    F1<float, 8> xs;
    EQUTN(*r.z, neq, 3, xs);
    EXPECT_NEAR(xs(1), 1.0f, 1e-5f);
    EXPECT_NEAR(xs(2), 3.0f, 1e-5f);
    EXPECT_NEAR(xs(3), 3.0f, 1e-5f);
    EXPECT_EQ(r.log.str(), "");
}

// Equal magnitudes in the pivot search: the first one met, rows outer and columns inner,
// is kept. Here |2| stands at (1,2) and (2,1); the pivot must be (1,2).
TEST(EQUTN, TieInThePivotSearchKeepsTheEarlierElement) {
    Ctx r;
    F2<float, 8, 9> neq;
    neq(1, 1) = 1; neq(1, 2) = 2; neq(1, 3) = 5;    // x + 2y = 5
    neq(2, 1) = -2; neq(2, 2) = 1; neq(2, 3) = 0;   // -2x + y = 0
    F1<float, 8> xs;
    EQUTN(*r.z, neq, 2, xs);
    EXPECT_EQ(r.z->inv.IR(1), 1);
    EXPECT_EQ(r.z->inv.IC(1), 2);
    EXPECT_NEAR(xs(1), 1.0f, 1e-6f);
    EXPECT_NEAR(xs(2), 2.0f, 1e-6f);

    // The same tie on one row: (1,1) before (1,2).
    F2<float, 8, 9> row;
    row(1, 1) = 2; row(1, 2) = -2; row(1, 3) = 0;   // 2x - 2y = 0
    row(2, 1) = 1; row(2, 2) = 1; row(2, 3) = 2;    // x + y = 2
    EQUTN(*r.z, row, 2, xs);
    EXPECT_EQ(r.z->inv.IC(1), 1);
    EXPECT_NEAR(xs(1), 1.0f, 1e-6f);
    EXPECT_NEAR(xs(2), 1.0f, 1e-6f);
}

// A singular system sets XS(1) = 0, leaves the rest and notes it unless IDEBUG is 0.
TEST(EQUTN, SingularSystemIsReportedAndLeavesStaleEntries) {
    for (int16_t idebug : {1, 0}) {
        Ctx r;
        r.z->log.IDEBUG = idebug;
        F2<float, 8, 9> neq;
        neq(1, 1) = 1; neq(1, 2) = 2; neq(1, 3) = 3;
        neq(2, 1) = 2; neq(2, 2) = 4; neq(2, 3) = 6;
        F1<float, 8> xs;
        xs(1) = 7.0f;
        xs(2) = 7.0f;
        EQUTN(*r.z, neq, 2, xs);
        EXPECT_EQ(xs(1), 0.0f);
        EXPECT_EQ(xs(2), 7.0f);
        EXPECT_EQ(r.log.str(), idebug > 0 ? "ILL-CONDITIONED\n" : "");
    }
}

// D(u) = sum A(i) DTST_i(u); the count is the number of its roots in (0,1).
TEST(CHECKH, CountsTurningPointsInsideTheRegion) {
    Ctx r;
    Inversion& inv = r.z->inv;
    EXPECT_EQ(checkh(inv, {-50.0f}), 0);                 // constant
    EXPECT_EQ(checkh(inv, {4.0f, 0.0f, 1.0f}), 0);       // 40u^2 - 24u + 5: no real root
    EXPECT_EQ(checkh(inv, {-11.0f, 1.0f}), 0);           // 6u - 12: root at u = 2
    EXPECT_EQ(checkh(inv, {0.0f, 1.0f}), 1);             // 6u - 1: root at 1/6
    EXPECT_EQ(checkh(inv, {0.0f, 0.0f, 1.0f}), 2);       // 40u^2 - 24u + 1: 0.045, 0.555
    // 224u^3 - 240u^2 + 54u - 1: roots near 0.019, 0.29 and 0.76.
    EXPECT_EQ(checkh(inv, {0.0f, 0.0f, 0.0f, 1.0f}), 3);
    // The Sturm sequence is kept: P0 of the last case, constant term first.
    EXPECT_EQ(inv.STURM(1, 1), -1.0f);
    EXPECT_EQ(inv.STURM(4, 1), 224.0f);
}

// A zero sign at an end counts as a change next to a non-zero neighbour: a root at u = 0
// (the peak end of the region) is counted, one at u = 1 (the start) is not.
TEST(CHECKH, ZeroSignAtAnEnd) {
    Ctx r;
    Inversion& inv = r.z->inv;
    const float sixth = 1.0f / 6.0f;
    EXPECT_EQ(checkh(inv, {sixth, sixth}), 1);           // D = u
    EXPECT_EQ(checkh(inv, {-5.0f, 1.0f}), 0);            // D = 6u - 6
    EXPECT_EQ(checkh(inv, {0.0f, 0.0f}), 0);             // D = 0
}

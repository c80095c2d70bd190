// The F1 and F2 stages.
#include <gtest/gtest.h>

#include <memory>

#include "core/zelk.hpp"
#include "inversion/inversion.hpp"

namespace {

using namespace zelk::inversion;
using zelk::Zelk;

// A scaled F1 layer without trace points is handed on to the F2 stage at once.
TEST(F1Prof, ScaledF1WithoutPointsIsLeftToTheF2Stage) {
    auto z = std::make_unique<Zelk>();
    Inversion& inv = z->inv;
    inv.FOF1 = 49.0f;
    inv.NFQF1 = 0;
    inv.FC(2) = 3.0f;
    inv.FC(3) = 4.0f;
    inv.ZME = 110.0f;
    inv.VW = 20.0f;
    inv.A_F1(2) = 5.0f;
    inv.IROOTF1 = 3;
    inv.ISTAT() = 2;
    float er2 = 7.0f;
    F1PROF(*z, er2);
    EXPECT_EQ(inv.KF1MODE, 2);
    EXPECT_EQ(inv.FC(3), 3.0f);
    EXPECT_EQ(inv.ZMF1, 130.0f);   // the valley top until an F1 layer is solved
    EXPECT_EQ(inv.A_F1(2), 0.0f);
    EXPECT_EQ(inv.IROOTF1, 0);
    EXPECT_EQ(er2, 0.0f);
    EXPECT_EQ(inv.ISTAT(), 2);
}

}  // namespace

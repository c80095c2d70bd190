// Result arrangement: which results a record keeps for output after a success, a failed
// region and a model-foE E layer.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "pipeline/zelk.hpp"
#include "zelk_calls.hpp"
#include "products/products.hpp"

using namespace zelk;

namespace {

// A record solved up to F2 with an F1 layer: E 0.2-3.0 MHz, F1 to 4.5, F2 to 9.0 MHz.
std::unique_ptr<Zelk> solved_record() {
    auto z = std::make_unique<Zelk>();
    auto& inv = z->inv;
    inv.ISTAT() = 2;
    inv.LF1() = 1;
    inv.IEFLAG = 1;
    inv.FOE = 2.95f;
    inv.FOF1 = 4.45f;
    inv.FOF2 = 8.95f;
    inv.FC(1) = 0.2f;
    inv.FC(2) = 3.0f;
    inv.FC(3) = 4.5f;
    inv.FC(4) = 9.0f;
    for (int j = 1; j <= 3; ++j) inv.A_E(j) = -10.0f * j;
    for (int j = 1; j <= 5; ++j) {
        inv.A_F1(j) = -20.0f * j;
        inv.A_F2(j) = -30.0f * j;
    }
    inv.VW = 12.5f;
    inv.VD = 0.6f;
    inv.ER(1) = 1.23456f;
    inv.ER(2) = 2.0005f;
    inv.ER(3) = -0.0005f;
    inv.NN = 3;
    return z;
}

}  // namespace

TEST(TOTOLMIR, SolvedProfileMovesValuesToTheirOutputPlaces) {
    auto z = solved_record();
    auto& inv = z->inv;
    pipeline::TOTOLMIR(*z);
    EXPECT_EQ(inv.FOE, 3.0f);
    EXPECT_EQ(inv.FOF1, 4.5f);
    EXPECT_EQ(inv.FOF2, 9.0f);
    EXPECT_EQ(inv.FMAX, 9.0f);
    EXPECT_EQ(inv.FOF2P, 9.0f);
    EXPECT_EQ(inv.FC(1), 0.2f);
    EXPECT_EQ(inv.FC(2), 4.5f);   // foF1
    EXPECT_EQ(inv.FC(3), 4.5f);
    EXPECT_EQ(inv.FC(4), 3.0f);   // foE
    EXPECT_EQ(inv.NN, 5);
    EXPECT_EQ(inv.NCOEF, 5);
    EXPECT_EQ(inv.VWOUT, 12.5f);
    EXPECT_EQ(inv.VDOUT, 0.6f);
    EXPECT_EQ(inv.VW, 0.0f);
    EXPECT_EQ(inv.VD, 0.0f);
    EXPECT_EQ(inv.A_F2(5), -150.0f);
    EXPECT_EQ(inv.ER(1), 1.235f);
    EXPECT_EQ(inv.ER(2), 2.001f);
    EXPECT_EQ(inv.ER(3), -0.001f);  // halves away from zero
}

// A failed F2 stage keeps foE and the E coefficients, clears the valley pair and the F
// coefficients, and leaves the scaled foF1/foF2 as they were.
TEST(TOTOLMIR, FailedF2StageClearsThePartialProfile) {
    auto z = solved_record();
    auto& inv = z->inv;
    inv.ISTAT() = 18;
    pipeline::TOTOLMIR(*z);
    EXPECT_EQ(inv.FOE, 3.0f);
    EXPECT_EQ(inv.FOF1, 4.45f);
    EXPECT_EQ(inv.FOF2, 8.95f);
    EXPECT_EQ(inv.A_E(3), -30.0f);
    for (int j = 1; j <= 5; ++j) {
        EXPECT_EQ(inv.A_F1(j), 0.0f);
        EXPECT_EQ(inv.A_F2(j), 0.0f);
    }
    EXPECT_EQ(inv.VWOUT, 0.0f);
    EXPECT_EQ(inv.VDOUT, 0.0f);
    EXPECT_EQ(inv.VW, 0.0f);
    EXPECT_EQ(inv.FC(4), 3.0f);
}

// An E layer from the model foE carries foE = 999.9; its coefficients survive only with an
// inverted profile.
TEST(TOTOLMIR, ModelFoELayer) {
    auto ok = solved_record();
    ok->inv.IEFLAG = 2;
    pipeline::TOTOLMIR(*ok);
    EXPECT_EQ(ok->inv.FOE, 999.9f);
    EXPECT_EQ(ok->inv.A_E(1), -10.0f);

    auto failed = solved_record();
    failed->inv.IEFLAG = 2;
    failed->inv.ISTAT() = 7;
    pipeline::TOTOLMIR(*failed);
    EXPECT_EQ(failed->inv.FOE, 999.9f);
    EXPECT_EQ(failed->inv.A_E(1), 0.0f);

    auto scaled = solved_record();
    scaled->inv.IEFLAG = 3;
    scaled->inv.ISTAT() = 7;
    pipeline::TOTOLMIR(*scaled);
    EXPECT_EQ(scaled->inv.FOE, 3.0f);
    EXPECT_EQ(scaled->inv.A_E(1), -10.0f);
}

// Without a scaled F1 layer, or after an F1 root failure, the foE cell FC(4) is 0; foF1 is
// taken from FC(3) only when it lies strictly between foE and foF2.
TEST(TOTOLMIR, NoF1Layer) {
    auto z = solved_record();
    auto& inv = z->inv;
    inv.LF1() = 0;
    inv.FC(3) = inv.FC(2);
    pipeline::TOTOLMIR(*z);
    EXPECT_EQ(inv.FC(4), 0.0f);
    EXPECT_EQ(inv.FC(2), 3.0f);
    EXPECT_EQ(inv.FOF1, 4.45f);

    auto r = solved_record();
    r->inv.IROOTF1 = 1;
    pipeline::TOTOLMIR(*r);
    EXPECT_EQ(r->inv.FC(4), 0.0f);
}

TEST(TOTOLMIR, SummaryLineAtDebugTwo) {
    auto z = solved_record();
    std::ostringstream log;
    z->log.out = &log;
    z->log.IDEBUG = 1;
    pipeline::TOTOLMIR(*z);
    EXPECT_EQ(log.str(), "");
    z->log.IDEBUG = 2;
    pipeline::TOTOLMIR(*z);
    EXPECT_EQ(log.str().rfind(" ******* ZELK  ZK 4.31  FLAGS :   0  2  0  1", 0), 0u) << log.str();
    EXPECT_NE(log.str().find(" *******\n"), std::string::npos);
}

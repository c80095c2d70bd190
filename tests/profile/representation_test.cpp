#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "pipeline/zelk.hpp"
#include "inversion/inversion.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

// The E region example: FSTART 3 MHz, FEND 6 MHz, HSTART 200 km, A = (-80, -10, 5).
RegionProfile exampleE() {
    RegionProfile r;
    r.FS = 3.0f;
    r.FE = 6.0f;
    r.ZM = 285.0f;  // HSTART - sum A
    r.NN = 3;
    r.A(1) = -80.0f;
    r.A(2) = -10.0f;
    r.A(3) = 5.0f;
    return r;
}

}  // namespace

TEST(ProfileHeight, ExampleRegionHeights) {
    const RegionProfile r = exampleE();
    EXPECT_NEAR(profile_height(r, 3.0f), 200.0f, 1e-4);
    EXPECT_NEAR(profile_height(r, 4.5f), 231.521f, 0.0015);
    EXPECT_NEAR(profile_height(r, 5.9f), 274.656f, 0.0015);
    EXPECT_EQ(profile_height(r, 6.0f), 285.0f);
    // Outside the region the height is held at its ends.
    EXPECT_NEAR(profile_height(r, 2.0f), 200.0f, 1e-4);
    EXPECT_EQ(profile_height(r, 7.0f), 285.0f);
}

TEST(ProfileHeight, RegionPicksTheSavedCoefficientsAndBoundaries) {
    Inversion inv;
    inv.FC(1) = 3.0f;
    inv.FC(2) = 6.0f;
    inv.FC(3) = 7.5f;
    inv.FC(4) = 11.0f;
    inv.ZME = 285.0f;
    inv.ZMF1 = 320.0f;
    inv.ZMF2 = 400.0f;
    inv.A_E(1) = -80.0f; inv.A_E(2) = -10.0f; inv.A_E(3) = 5.0f;
    for (int i = 1; i <= 5; ++i) {
        inv.A_F1(i) = -10.0f * static_cast<float>(i);
        inv.A_F2(i) = 2.0f * static_cast<float>(i);
    }
    const RegionProfile e = REGION(inv, 1);
    EXPECT_EQ(e.NN, 3);
    EXPECT_NEAR(profile_height(e, 4.5f), 231.521f, 0.0015);
    const RegionProfile f1 = REGION(inv, 2);
    EXPECT_EQ(f1.FS, 6.0f);
    EXPECT_EQ(f1.FE, 7.5f);
    EXPECT_EQ(f1.ZM, 320.0f);
    EXPECT_EQ(f1.A(5), -50.0f);
    // At its start the F1 region is at ZMF1 + sum A_F1 = 320 - 150.
    EXPECT_NEAR(profile_height(f1, 6.0f), 170.0f, 1e-3);
    const RegionProfile f2 = REGION(inv, 3);
    EXPECT_EQ(f2.FS, 7.5f);
    EXPECT_EQ(f2.FE, 11.0f);
    EXPECT_EQ(f2.A(3), 6.0f);
    EXPECT_EQ(REGION(inv, 4).NN, 0);
}

TEST(ProfileFn, InvertsTheHeightAndClampsAtTheEnds) {
    const RegionProfile r = exampleE();
    for (float f = 3.05f; f < 5.99f; f += 0.1f) {
        const float h = profile_height(r, f);
        const float fn = profile_fn(r, h);
        // The search stops on a 0.0001 km height match or a 1e-5 MHz bracket.
        EXPECT_LT(std::fabs(profile_height(r, fn) - h), 2e-4) << f;
        EXPECT_NEAR(fn, f, 2e-4) << f;
    }
    EXPECT_EQ(profile_fn(r, 150.0f), 3.0f);
    EXPECT_EQ(profile_fn(r, 285.0f), 6.0f);
    EXPECT_EQ(profile_fn(r, 300.0f), 6.0f);
    // A search that starts above the answer returns its lower end.
    EXPECT_EQ(profile_fn(r, 231.521f, 5.0f), 5.0f);
    EXPECT_NEAR(profile_fn(r, 274.656f, 5.0f), 5.9f, 2e-4);
}

TEST(Contprfl, SameStartFrequencyCopiesBitForBit) {
    F1<float, 5> A, AP;
    A(1) = -81.123456f; A(2) = 3.3333333f; A(3) = -0.1f; A(4) = 1e-7f; A(5) = 17.77f;
    CONTPRFL(5, 4.1f, 7.3f, A.data(), 4.1f, AP.data());
    EXPECT_EQ(std::memcmp(A.data() + 1, AP.data() + 1, 5 * sizeof(float)), 0);
}

TEST(Contprfl, OneAndTwoTermForms) {
    const float FOLD = 2.0f, FTOP = 5.0f, FNEW = 3.0f;
    const double lambda = std::log(3.0 / 5.0) / std::log(2.0 / 5.0);
    F1<float, 5> A, AP;
    A(1) = -60.0f;
    CONTPRFL(1, FOLD, FTOP, A.data(), FNEW, AP.data());
    EXPECT_NEAR(AP(1), std::sqrt(lambda) * -60.0, 1e-4);

    F2<float, 5, 5> P, S;
    SETLAMPT(2, static_cast<float>(lambda), P);
    SETS(2, P, S);
    EXPECT_NEAR(S(1, 1), std::sqrt(lambda), 1e-6);
    EXPECT_NEAR(S(1, 2), std::sqrt(lambda) * (lambda - 1.0), 1e-6);
    EXPECT_NEAR(S(2, 2), std::pow(lambda, 1.5), 1e-6);
    EXPECT_EQ(S(2, 1), 0.0f);
    EXPECT_EQ(P(3, 3), 0.0f);

    // LAMBDA = 1 makes S the identity.
    SETLAMPT(5, 1.0f, P);
    SETS(5, P, S);
    for (int i = 1; i <= 5; ++i)
        for (int j = 1; j <= 5; ++j) EXPECT_NEAR(S(i, j), i == j ? 1.0f : 0.0f, 1e-6) << i << j;

    // The output may be the input vector.
    A(1) = -50.0f; A(2) = 4.0f; A(3) = -2.0f;
    F1<float, 5> ref;
    CONTPRFL(3, FOLD, FTOP, A.data(), FNEW, ref.data());
    CONTPRFL(3, FOLD, FTOP, A.data(), FNEW, A.data());
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(A(i), ref(i));
}

// Re-expressing a five-term profile for another start frequency keeps the curve: both forms
// give the same heights over their common interval and the same peak.
TEST(Contprfl, RebasedProfileEvaluatesToTheSameHeights) {
    std::mt19937 gen(20261207u);
    std::uniform_real_distribution<float> a1(-150.0f, -40.0f), ak(-20.0f, 20.0f),
        fs(1.5f, 4.0f), width(1.0f, 6.0f), shift(-0.45f, 0.45f);
    for (int trial = 0; trial < 40; ++trial) {
        RegionProfile old;
        old.NN = 5;
        old.FS = fs(gen);
        old.FE = old.FS + width(gen);
        old.ZM = 300.0f;
        old.A(1) = a1(gen);
        for (int k = 2; k <= 5; ++k) old.A(k) = ak(gen);
        RegionProfile rebased = old;
        rebased.FS = old.FS + shift(gen) * (old.FE - old.FS);
        CONTPRFL(5, old.FS, old.FE, old.A.data(), rebased.FS, rebased.A.data());

        const float lo = std::max(old.FS, rebased.FS);
        float worst = 0.0f;
        for (int k = 0; k <= 200; ++k) {
            const float f = lo + (old.FE - lo) * static_cast<float>(k) / 200.0f;
            worst = std::max(worst, std::fabs(profile_height(old, f) - profile_height(rebased, f)));
        }
        EXPECT_LT(worst, 0.001f) << "trial " << trial;
        // The new start height is HTOP + sum AP.
        if (rebased.FS > old.FS) {
            float hs = rebased.ZM;
            for (int k = 1; k <= 5; ++k) hs += rebased.A(k);
            EXPECT_NEAR(hs, profile_height(old, rebased.FS), 0.001) << "trial " << trial;
        }
    }
}

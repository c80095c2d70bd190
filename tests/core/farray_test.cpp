#include <gtest/gtest.h>

#include "core/farray.hpp"

// Arrays keep the 1-based notation of the data areas; element N is the last valid one.
TEST(FArray, OneBasedIndexingReachesTheLastElement) {
    zelk::F1<float, 4> a;
    for (int i = 1; i <= 4; ++i) a(i) = static_cast<float>(i);
    EXPECT_EQ(a(4), 4.0f);
    zelk::F2<int, 3, 2> b;
    b.fill(7);
    b(3, 2) = 1;
    EXPECT_EQ(b(3, 2), 1);
    EXPECT_EQ(b(1, 1), 7);
}

#ifdef ZELK_CHECKED
TEST(FArrayDeathTest, IndexPastTheCapacityAborts) {
    zelk::F1<float, 4> a;
    EXPECT_DEATH(a(5) = 1.0f, "OUTSIDE 0..4");
}
#endif

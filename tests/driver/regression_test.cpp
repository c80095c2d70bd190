// Faults found in whole runs of the batch program, each pinned by the run that showed it.
#include <gtest/gtest.h>


#include <filesystem>
#include <string>

#include "fake_steps.hpp"
#include "scratch_test.hpp"

namespace {

namespace fs = std::filesystem;
using ztest::slurp;

const std::string SAMPLES = std::string(ZELK_TEST_DATA) + "/samples";

class BatchRegression : public ztest::ScratchTest {};

// The dip constants of the group index were kept from the first record of the run, so a
// mid-latitude record inverted after an equatorial one came out 20 km too high.
TEST_F(BatchRegression, RecordOfAnotherStationDoesNotChangeTheProfile) {
    fs::create_directory(path("together"));
    fs::create_directory(path("alone"));
    ASSERT_EQ(batch("--hstep 10 -o " + path("together") + " " + SAMPLES + "/equatorial-day.VXO " +
                    SAMPLES + "/midlat-day.VXO"),
              0);
    ASSERT_EQ(batch("--hstep 10 -o " + path("alone/midlat-day.VXO.430") + " " + SAMPLES +
                    "/midlat-day.VXO"),
              0);
    const std::string together = slurp(path("together/midlat-day.VXO.430"));
    ASSERT_FALSE(together.empty());
    EXPECT_EQ(together, slurp(path("alone/midlat-day.VXO.430")));
}

}  // namespace

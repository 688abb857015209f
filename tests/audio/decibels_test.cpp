#include "brumlis/audio/decibels.h"

#include <gtest/gtest.h>

namespace brumlis {
namespace {

TEST(Decibels, OfAmplitudesAndPowersWithAndWithoutAFloor) {
    EXPECT_DOUBLE_EQ(amplitudeToDb(1.0), 0.0);
    EXPECT_NEAR(amplitudeToDb(0.5), -6.0206, 1e-4);
    EXPECT_NEAR(powerToDb(0.5), -3.0103, 1e-4);
    EXPECT_NEAR(dbToAmplitude(-20.0), 0.1, 1e-12);
    EXPECT_NEAR(dbToPower(-20.0), 0.01, 1e-12);
    for (const double nothing : {0.0, -0.0}) {
        EXPECT_EQ(amplitudeToDb(nothing), -HUGE_VAL);
        EXPECT_EQ(powerToDb(nothing), -HUGE_VAL);
        EXPECT_EQ(amplitudeToDb(nothing, -60.0), -60.0);
    }
    EXPECT_EQ(amplitudeToDb(1e-4, -60.0), -60.0) << "-80 dB is shown at the floor";
    EXPECT_NEAR(amplitudeToDb(0.1, -60.0), -20.0, 1e-12);
}

} // namespace
} // namespace brumlis

#include "tools/synth/SynthCalibration.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace synth;

namespace {

// Where the product's table puts a sample: the radiance times 1000, truncated.
long IndexOf(float sample) { return static_cast<long>(std::trunc(static_cast<long double>(sample) * 1000.0L)); }
long RangeStart(const TInfraredBand& b, int raw) { return std::lround(1000.0 * RadianceOfRawCount(b, raw)); }

class InfraredBandTest : public ::testing::TestWithParam<int> {};

TEST_P(InfraredBandTest, EverySampleFallsInsideItsRawCountsRange)
{
    const auto b = InfraredBand(GetParam());
    ASSERT_TRUE(b);
    for (int raw = FirstRawCount(*b); raw <= b->LastRawCount; ++raw) {
        const long index = IndexOf(SampleOfRawCount(*b, raw));
        EXPECT_GE(index, RangeStart(*b, raw)) << "raw " << raw;
        EXPECT_LT(index, RangeStart(*b, raw + 1)) << "raw " << raw;
    }
}

TEST_P(InfraredBandTest, TemperatureOfARawCountLeadsBackToIt)
{
    const auto b = InfraredBand(GetParam());
    ASSERT_TRUE(b);
    for (int raw = FirstRawCount(*b) + 1; raw <= b->LastRawCount; ++raw) {
        const double kelvin = TemperatureOfRadiance(*b, RadianceOfRawCount(*b, raw));
        EXPECT_EQ(RawCountOfTemperature(*b, kelvin), raw) << "raw " << raw << " at " << kelvin << " K";
    }
}

TEST_P(InfraredBandTest, TemperaturesOutsideTheRangeAreClamped)
{
    const auto b = InfraredBand(GetParam());
    ASSERT_TRUE(b);
    EXPECT_EQ(RawCountOfTemperature(*b, 3.0), FirstRawCount(*b));
    EXPECT_EQ(RawCountOfTemperature(*b, std::nan("")), FirstRawCount(*b));
    EXPECT_EQ(RawCountOfTemperature(*b, 500.0), b->LastRawCount);
    EXPECT_GT(SampleOfRawCount(*b, FirstRawCount(*b)), 0.0f);
}

TEST_P(InfraredBandTest, ModeACountFallsWithTemperature)
{
    const auto b = InfraredBand(GetParam());
    ASSERT_TRUE(b);
    int previous = 255;
    for (int raw = FirstRawCount(*b); raw <= b->LastRawCount; ++raw) {
        const int c = ModeACountOfRawCount(*b, raw);
        EXPECT_LE(c, previous);
        EXPECT_GE(c, 0);
        previous = c;
    }
}

INSTANTIATE_TEST_SUITE_P(Bands, InfraredBandTest, ::testing::Values(2, 3, 4, 6));

// The count the product's table gives a few index ranges (known values of the tables):
// the raw count whose range begins at that index must calibrate to that count.
struct RangeCase {
    int band;
    long rangeStart;
    int count;
};

class RangeCountTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RangeCountTest, RawCountStartingAtIndexHasTheTablesCount)
{
    const auto& c = GetParam();
    const auto b = InfraredBand(c.band);
    ASSERT_TRUE(b);
    bool found = false;
    for (int raw = FirstRawCount(*b); raw <= b->LastRawCount; ++raw) {
        if (RangeStart(*b, raw) == c.rangeStart) {
            EXPECT_EQ(ModeACountOfRawCount(*b, raw), c.count);
            found = true;
        }
    }
    EXPECT_TRUE(found) << "no raw count starts at index " << c.rangeStart;
}

INSTANTIATE_TEST_SUITE_P(Tables, RangeCountTest,
                         ::testing::Values(RangeCase{2, 3, 213}, RangeCase{2, 8, 203}, RangeCase{2, 52, 176},
                                           RangeCase{2, 2814, 1}, RangeCase{3, 254, 238}, RangeCase{3, 280, 236},
                                           RangeCase{3, 5095, 176}, RangeCase{3, 25127, 71}, RangeCase{4, 5607, 238},
                                           RangeCase{4, 37356, 176}, RangeCase{4, 62028, 128},
                                           RangeCase{4, 166265, 1}, RangeCase{6, 12552, 238},
                                           RangeCase{6, 57944, 176}, RangeCase{6, 87782, 128},
                                           RangeCase{6, 180554, 17}));

TEST(InfraredBand, OnlyTheFourInfraredBandsHaveConstants)
{
    EXPECT_FALSE(InfraredBand(1));
    EXPECT_FALSE(InfraredBand(5));
    EXPECT_FALSE(InfraredBand(7));
    EXPECT_TRUE(InfraredBand(6));
}

TEST(InfraredBand, BrightnessTemperatureRoundTripsThroughPlanck)
{
    for (int band : {2, 3, 4, 6})
        for (double k : {190.0, 230.0, 288.0, 310.0})
            EXPECT_NEAR(TemperatureOfRadiance(*InfraredBand(band), RadianceOfTemperature(*InfraredBand(band), k)), k, 1e-9);
}

TEST(VisibleSample, IsAReflectanceInTenthsWithinZeroToHundred)
{
    EXPECT_FLOAT_EQ(VisibleSample(20.04), 20.0f);
    EXPECT_FLOAT_EQ(VisibleSample(79.96), 80.0f);
    EXPECT_FLOAT_EQ(VisibleSample(130.0), 100.0f);
    EXPECT_FLOAT_EQ(VisibleSample(-3.0), 0.0f);
    EXPECT_FLOAT_EQ(VisibleSample(std::nan("")), 0.0f);
}

} // namespace

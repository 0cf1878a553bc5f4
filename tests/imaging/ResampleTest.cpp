#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "imaging/Resample.h"

namespace {

std::vector<std::uint8_t> resample(const std::vector<std::uint8_t>& src, int sw, int sh, int dw, int dh,
                                   TInterpolation mode, int channels = 1)
{
    std::vector<std::uint8_t> dst(static_cast<std::size_t>(dw) * dh * channels, 0xCD);
    ResamplePlane(src.data(), sw * channels, sw, sh, dst.data(), dw * channels, dw, dh, channels, mode);
    return dst;
}

using SizeCase = std::tuple<TInterpolation, int, int, int, int>;

class ResampleSizes : public ::testing::TestWithParam<SizeCase> {};

// Whatever the mode and direction, every destination pixel is written and a flat image
// stays flat.
TEST_P(ResampleSizes, FillsTheWholeTargetAndKeepsFlatImagesFlat)
{
    const auto [mode, sw, sh, dw, dh] = GetParam();
    for (int channels : {1, 3}) {
        std::vector<std::uint8_t> src(static_cast<std::size_t>(sw) * sh * channels, 77);
        const auto dst = resample(src, sw, sh, dw, dh, mode, channels);
        for (std::uint8_t v : dst)
            ASSERT_EQ(v, 77);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllModes, ResampleSizes,
    ::testing::Combine(::testing::Values(TInterpolation::Nearest, TInterpolation::Linear,
                                         TInterpolation::Cubic, TInterpolation::SuperSample),
                       ::testing::Values(1, 7, 100), ::testing::Values(3, 100),
                       ::testing::Values(1, 13, 250), ::testing::Values(2, 99)));

TEST(Resample, SuperSamplingAveragesAreas)
{
    // 4 x 2 -> 2 x 1: each output is the mean of a 2 x 2 block.
    const std::vector<std::uint8_t> src{0, 10, 100, 200, 20, 30, 0, 100};
    EXPECT_EQ(resample(src, 4, 2, 2, 1, TInterpolation::SuperSample), (std::vector<std::uint8_t>{15, 100}));
    // 3 -> 2: the middle pixel is shared half and half.
    const std::vector<std::uint8_t> row{0, 90, 180};
    EXPECT_EQ(resample(row, 3, 1, 2, 1, TInterpolation::SuperSample), (std::vector<std::uint8_t>{30, 150}));
}

TEST(Resample, NearestDuplicatesAndLinearBlends)
{
    const std::vector<std::uint8_t> src{0, 100};
    EXPECT_EQ(resample(src, 2, 1, 4, 1, TInterpolation::Nearest), (std::vector<std::uint8_t>{0, 0, 100, 100}));
    EXPECT_EQ(resample(src, 2, 1, 4, 1, TInterpolation::Linear), (std::vector<std::uint8_t>{0, 25, 75, 100}));
}

TEST(Resample, CubicFollowsARampAndClampsOvershoot)
{
    std::vector<std::uint8_t> ramp(10);
    for (int i = 0; i < 10; ++i)
        ramp[i] = static_cast<std::uint8_t>(10 * i);
    const auto up = resample(ramp, 10, 1, 20, 1, TInterpolation::Cubic);
    for (int i = 4; i < 16; ++i) {
        const double ideal = 10.0 * ((i + 0.5) * 0.5 - 0.5);
        EXPECT_NEAR(up[i], ideal, 1.0) << i;
    }
    // A hard edge overshoots in a cubic; the bytes must saturate, not wrap.
    const std::vector<std::uint8_t> edge{0, 0, 0, 255, 255, 255};
    const auto sharp = resample(edge, 6, 1, 24, 1, TInterpolation::Cubic);
    for (int i = 0; i < 12; ++i)
        EXPECT_LE(sharp[i], 128) << i;
    for (int i = 12; i < 24; ++i)
        EXPECT_GE(sharp[i], 127) << i;
}

TEST(Resample, ChannelsStayApart)
{
    // Two BGR pixels -> one: each channel averaged on its own.
    const std::vector<std::uint8_t> src{10, 20, 30, 50, 60, 70};
    EXPECT_EQ(resample(src, 2, 1, 1, 1, TInterpolation::SuperSample, 3), (std::vector<std::uint8_t>{30, 40, 50}));
}

TEST(Resample, RecordRowsAreAlignedAndOversizeRequestsGetNoBlock)
{
    PIplImage img = CreateIplImage(3, 5, 4);
    ASSERT_TRUE(img->imageData);
    EXPECT_EQ(img->widthStep, 16);
    EXPECT_EQ(img->width, 5);
    EXPECT_EQ(img->height, 4);
    EXPECT_FALSE(CreateIplImage(3, 100000, 100000)->imageData);
    EXPECT_FALSE(CreateIplImage(1, INT32_MAX, 2)->imageData);
}

} // namespace

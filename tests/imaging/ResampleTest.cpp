#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

// The exact result in float64: per axis, every output pixel's source pixels and weights as
// the mode defines them (pixel centres aligned, edges repeated), then rounded once.
using Taps = std::vector<std::pair<int, double>>;

double keys(double x)
{
    x = std::fabs(x);
    return x < 1 ? (1.5 * x - 2.5) * x * x + 1 : x < 2 ? ((-0.5 * x + 2.5) * x - 4) * x + 2 : 0;
}

std::vector<Taps> exactTaps(int nIn, int nOut, TInterpolation mode)
{
    std::vector<Taps> taps(static_cast<std::size_t>(nOut));
    const auto edge = [nIn](long j) { return static_cast<int>(std::clamp<long>(j, 0, nIn - 1)); };
    for (int i = 0; i < nOut; ++i) {
        Taps& t = taps[static_cast<std::size_t>(i)];
        const double centre = (i + 0.5) * nIn / nOut, at = centre - 0.5;
        const long j0 = static_cast<long>(std::floor(at));
        if (nIn == nOut) {
            t = {{i, 1.0}};
        } else if (mode == TInterpolation::Nearest) {
            t = {{edge(static_cast<long>(std::floor(centre))), 1.0}};
        } else if (mode == TInterpolation::Linear) {
            t = {{edge(j0), 1 - (at - j0)}, {edge(j0 + 1), at - j0}};
        } else if (mode == TInterpolation::Cubic) {
            for (long j = j0 - 1; j <= j0 + 2; ++j)
                t.emplace_back(edge(j), keys(at - j));
        } else {
            // Output i covers [i, i + 1) * nIn / nOut of the source.
            const double lo = static_cast<double>(i) * nIn / nOut, hi = static_cast<double>(i + 1) * nIn / nOut;
            for (long j = static_cast<long>(lo); j < hi && j < nIn; ++j)
                t.emplace_back(static_cast<int>(j), (std::min<double>(hi, j + 1) - std::max<double>(lo, j)) / (hi - lo));
        }
    }
    return taps;
}

std::vector<std::uint8_t> exactResample(const std::vector<std::uint8_t>& src, int sw, int sh, int dw, int dh,
                                        TInterpolation mode, int channels)
{
    const auto tx = exactTaps(sw, dw, mode), ty = exactTaps(sh, dh, mode);
    std::vector<double> rows(static_cast<std::size_t>(sh) * dw * channels);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < dw; ++x)
            for (int c = 0; c < channels; ++c) {
                double v = 0;
                for (const auto& [j, w] : tx[static_cast<std::size_t>(x)])
                    v += w * src[(static_cast<std::size_t>(y) * sw + j) * channels + c];
                rows[(static_cast<std::size_t>(y) * dw + x) * channels + c] = v;
            }
    std::vector<std::uint8_t> out(static_cast<std::size_t>(dw) * dh * channels);
    for (int y = 0; y < dh; ++y)
        for (std::size_t s = 0; s < static_cast<std::size_t>(dw) * channels; ++s) {
            double v = 0;
            for (const auto& [j, w] : ty[static_cast<std::size_t>(y)])
                v += w * rows[static_cast<std::size_t>(j) * dw * channels + s];
            out[static_cast<std::size_t>(y) * dw * channels + s] =
                static_cast<std::uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
        }
    return out;
}

using ExactCase = std::tuple<TInterpolation, std::array<int, 4>>;

class ResampleExact : public ::testing::TestWithParam<ExactCase> {};

// Reductions up to 10000:1 and enlargements stay within one grey level of the exact result.
TEST_P(ResampleExact, WithinOneGreyLevelOfTheExactResult)
{
    const auto [mode, size] = GetParam();
    const auto [sw, sh, dw, dh] = size;
    for (int channels : {1, 3}) {
        std::vector<std::uint8_t> src(static_cast<std::size_t>(sw) * sh * channels);
        std::uint32_t state = 12345;
        for (auto& v : src) {
            state = state * 1664525u + 1013904223u;
            v = static_cast<std::uint8_t>(state >> 24);
        }
        const auto got = resample(src, sw, sh, dw, dh, mode, channels);
        const auto exact = exactResample(src, sw, sh, dw, dh, mode, channels);
        for (std::size_t i = 0; i < got.size(); ++i)
            ASSERT_LE(std::abs(got[i] - exact[i]), 1) << "sample " << i << " of " << channels << " channel(s)";
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllModes, ResampleExact,
    ::testing::Combine(::testing::Values(TInterpolation::Nearest, TInterpolation::Linear, TInterpolation::Cubic,
                                         TInterpolation::SuperSample),
                       ::testing::Values(std::array{20000, 3, 2, 3}, std::array{10000, 4, 1, 4},
                                         std::array{801, 5, 1, 5}, std::array{5212, 3, 2976, 3},
                                         std::array{3, 10000, 3, 1}, std::array{997, 601, 3, 2},
                                         std::array{7, 5, 31, 17}, std::array{5, 3, 5000, 3},
                                         std::array{3, 4, 3, 4000}, std::array{10, 10, 900, 700})));

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

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "NcFixture.h"
#include "imaging/BMPExtImage.h"
#include "netcdf/NetCdfG15.h"
#include "netcdf/RadianceToModeAlookup.h"
#include "netcdf/VisibleLookup.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// gamma, sample, count
using VisibleCase = std::tuple<float, float, int>;
class Visible : public ::testing::TestWithParam<VisibleCase> {};

TEST_P(Visible, Count)
{
    const auto [gamma, sample, count] = GetParam();
    EXPECT_EQ(VisibleToCount(sample, gamma), count);
    EXPECT_EQ(TVisibleLookup(gamma).count(sample), count);
}

INSTANTIATE_TEST_SUITE_P(
    Linear, Visible,
    ::testing::Values(VisibleCase{1.0f, 20.0f, 63}, VisibleCase{1.0f, 40.0f, 127}, VisibleCase{1.0f, 79.9f, 254},
                      VisibleCase{1.0f, 80.0f, 255}, VisibleCase{1.0f, 100.0f, 255}, VisibleCase{1.0f, -3.0f, 0},
                      // the linear band around 1.05, seen through single precision
                      VisibleCase{0.96f, 40.0f, 127}, VisibleCase{1.15f, 40.0f, 127}));
INSTANTIATE_TEST_SUITE_P(
    Gamma, Visible,
    ::testing::Values(VisibleCase{1.8f, 1.0f, 19}, VisibleCase{1.8f, 10.0f, 70}, VisibleCase{1.8f, 25.0f, 118},
                      VisibleCase{1.8f, 50.0f, 173}, VisibleCase{1.8f, 100.0f, 255}, VisibleCase{1.8f, 0.002f, 0},
                      VisibleCase{1.8f, 0.0f, 0}, VisibleCase{1.8f, -1.0f, 0}, VisibleCase{1.8f, 0.001f, 0},
                      VisibleCase{0.95f, 40.0f, 97}, VisibleCase{1.16f, 40.0f, 115}));
// Samples that are no measurement give black instead of stopping the scan.
INSTANTIATE_TEST_SUITE_P(
    NotANumber, Visible,
    ::testing::Values(VisibleCase{1.0f, kNaN, 0}, VisibleCase{1.8f, kNaN, 0}, VisibleCase{1.0f, kInf, 0},
                      VisibleCase{1.8f, kInf, 0}, VisibleCase{1.0f, -kInf, 0}, VisibleCase{1.0f, 9.96921e36f, 0},
                      VisibleCase{1.8f, 9.96921e36f, 0}, VisibleCase{1.8f, 1e30f, 255}));

// The lookup must agree with the plain conversion everywhere: at every step, one float
// either side of it, and over the whole float range.
TEST(VisibleLookup, AgreesWithTheConversionEverywhere)
{
    std::mt19937 rng(11);
    for (float gamma : {1.0f, 1.8f, 0.95f, 1.16f, 3.0f, 0.3f, 1e-30f, 0.0f, -1.0f, kNaN, kInf}) {
        const TVisibleLookup lookup(gamma);
        std::vector<float> samples{0.0f, -0.0f, kNaN, -kNaN, kInf, -kInf, std::numeric_limits<float>::max(),
                                   std::numeric_limits<float>::denorm_min(), 0.001f, 80.0f, 100.0f};
        // Steps: search them with the conversion itself.
        for (float v = 0.0005f; v < 200.0f; v *= 1.01f) {
            samples.push_back(v);
            samples.push_back(std::nextafter(v, 0.0f));
        }
        for (int n = 0; n < 200000; ++n)
            samples.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(rng())));
        std::uniform_real_distribution<float> plausible(-5.0f, 110.0f);
        for (int n = 0; n < 200000; ++n)
            samples.push_back(plausible(rng));
        std::vector<std::uint8_t> counts(samples.size());
        lookup.convert(samples, counts.data());
        for (std::size_t i = 0; i < samples.size(); ++i)
            ASSERT_EQ(counts[i], VisibleToCount(samples[i], gamma)) << "gamma " << gamma << " sample " << samples[i];
    }
}

TEST(VisibleLookup, EveryStepIsExact)
{
    for (float gamma : {1.0f, 1.8f}) {
        const TVisibleLookup lookup(gamma);
        int last = 0;
        for (std::uint32_t bits = 0; bits < 0x43000000u; bits += 97) { // 0 to 128, coarse walk
            const float v = std::bit_cast<float>(bits);
            const int c = VisibleToCount(v, gamma);
            if (c != last) {
                // Walk back to the exact float where the count changes, and check both sides.
                std::uint32_t b = bits;
                while (VisibleToCount(std::bit_cast<float>(b - 1), gamma) == c)
                    --b;
                ASSERT_EQ(lookup.count(std::bit_cast<float>(b)), c);
                ASSERT_EQ(lookup.count(std::bit_cast<float>(b - 1)), VisibleToCount(std::bit_cast<float>(b - 1), gamma));
                last = c;
            }
        }
        EXPECT_EQ(last, 255);
    }
}

// band, first index, last index, count
using TableCase = std::tuple<int, std::int64_t, std::int64_t, int>;
class ModeA : public ::testing::TestWithParam<TableCase> {};

TEST_P(ModeA, IndexRangesGiveTheirCount)
{
    const auto [band, first, last, count] = GetParam();
    for (std::int64_t index : {first, (first + last) / 2, last}) {
        // Half way inside the index (truncation is toward zero), so radiance x 1000 lands on it.
        const double radiance = (static_cast<double>(index) + (index < 0 ? -0.5 : 0.5)) / 1000.0;
        EXPECT_EQ(RadianceToModeA(band, radiance), count) << "index " << index;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Band2, ModeA,
    ::testing::Values(TableCase{2, 0, 2, 255}, TableCase{2, 3, 7, 213}, TableCase{2, 8, 11, 203},
                      TableCase{2, 52, 55, 176}, TableCase{2, 2814, 2861, 1}, TableCase{2, 2862, 2862, 0},
                      TableCase{2, 1850, 1850, 25}));
INSTANTIATE_TEST_SUITE_P(
    Band3, ModeA,
    ::testing::Values(TableCase{3, 0, 253, 255}, TableCase{3, 254, 279, 238}, TableCase{3, 280, 305, 236},
                      TableCase{3, 5095, 5222, 176}, TableCase{3, 25127, 25460, 71}, TableCase{3, 25461, 25461, 0}));
INSTANTIATE_TEST_SUITE_P(
    Band4, ModeA,
    ::testing::Values(TableCase{4, 0, 5606, 255}, TableCase{4, 5607, 5797, 238}, TableCase{4, 37356, 37929, 176},
                      TableCase{4, 62028, 62601, 128}, TableCase{4, 166265, 167220, 1},
                      TableCase{4, 167221, 2000000, 0}, TableCase{4, -1, -1, 0}, TableCase{4, 72547, 72547, 112},
                      TableCase{4, 113094, 113094, 57}));
INSTANTIATE_TEST_SUITE_P(
    Band6, ModeA,
    ::testing::Values(TableCase{6, 0, 12551, 255}, TableCase{6, 12552, 12732, 238}, TableCase{6, 57944, 58847, 176},
                      TableCase{6, 87782, 88505, 128}, TableCase{6, 180554, 181638, 17},
                      TableCase{6, 181639, 181639, 0}, TableCase{6, 142577, 142577, 59},
                      TableCase{6, 146013, 146013, 55}, TableCase{6, 164278, 164278, 35}));
INSTANTIATE_TEST_SUITE_P(
    NoTable, ModeA,
    ::testing::Values(TableCase{1, 0, 100, 0}, TableCase{5, 0, 100000, 0}, TableCase{7, 0, 100, 0},
                      TableCase{-4, 0, 100, 0}));

TEST(ModeA, SingleIndicesSitBetweenTheirNeighbours)
{
    // Each exception moves a range boundary by one index; its neighbours keep their counts.
    EXPECT_EQ(RadianceToModeA(2, 1.8495), 26);
    EXPECT_EQ(RadianceToModeA(2, 1.8515), 25);
    EXPECT_EQ(RadianceToModeA(4, 72.5465), 112);
    EXPECT_EQ(RadianceToModeA(4, 72.5485), 111);
    EXPECT_EQ(RadianceToModeA(6, 164.2775), 35);
    EXPECT_EQ(RadianceToModeA(6, 164.2795), 34);
}

TEST(ModeA, TablesFallStrictlyOverTheirRanges)
{
    for (auto [band, ranges, end] : {std::tuple{2, 173, 2862}, std::tuple{3, 167, 25461}, std::tuple{4, 239, 167221},
                                     std::tuple{6, 223, 181639}}) {
        const auto table = ModeATable(band);
        ASSERT_EQ(table.size(), static_cast<std::size_t>(end));
        int runs = 1;
        for (std::size_t i = 1; i < table.size(); ++i) {
            ASSERT_LE(table[i], table[i - 1]) << "band " << band << " index " << i;
            runs += table[i] != table[i - 1];
        }
        EXPECT_EQ(runs, ranges) << "band " << band;
        EXPECT_EQ(table.front(), 255);
        EXPECT_GT(table.back(), 0);
    }
}

TEST(ModeA, OddRadiancesGiveZero)
{
    for (double r : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, 9.96921e36, 4294967.296, 2147483.648, -0.0015})
        EXPECT_EQ(RadianceToModeA(4, r), 0) << r;
    EXPECT_EQ(RadianceToModeA(4, -0.0005), 255); // truncates to index 0
}

TEST(ModeA, RowConversionMatchesTheSampleConversion)
{
    std::mt19937 rng(5);
    std::vector<float> samples{kNaN, kInf, -kInf, -0.0f, 0.0f, 9.96921e36f, 2147483.75f, 1e-40f};
    std::uniform_real_distribution<float> radiance(-1.0f, 200.0f);
    for (int n = 0; n < 100000; ++n)
        samples.push_back(radiance(rng));
    for (int n = 0; n < 20000; ++n)
        samples.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(rng())));
    for (int band : {1, 2, 3, 4, 5, 6}) {
        std::vector<std::uint8_t> counts(samples.size(), 99);
        RadiancesToModeA(band, samples, counts.data());
        for (std::size_t i = 0; i < samples.size(); ++i)
            ASSERT_EQ(counts[i], RadianceToModeA(band, samples[i])) << band << " " << samples[i];
    }
}

// A file with the given band and samples, calibrated into an image.
TExtBitmap calibrate(int band, const std::vector<double>& samples, std::size_t width, float gamma,
                     TExtBitmap bmp = TExtBitmap(), nc_type type = NC_FLOAT)
{
    TempDir dir;
    ScanFile file;
    file.dataType = type;
    file.scalars["bands"] = band;
    file.width = width;
    file.height = samples.size() / width;
    file.data = samples;
    writeScanFile(dir / "scan.nc", file);
    TNetCdfGoes15 nc;
    EXPECT_TRUE(nc.Open(dir / "scan.nc"));
    EXPECT_TRUE(nc.ReadHeader());
    EXPECT_TRUE(nc.MakeBitmap(&bmp, gamma));
    return bmp;
}

std::vector<int> pixels(const TExtBitmap& bmp)
{
    std::vector<int> out;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x)
            out.push_back(bmp.ScanLine(y)[x]);
    return out;
}

TEST(MakeBitmap, VisibleAndInfraredRowsTopFirst)
{
    const TExtBitmap vis = calibrate(1, {1, 10, 25, 50, 100, 0}, 3, 1.8f);
    EXPECT_EQ(vis.Width(), 3);
    EXPECT_EQ(vis.Height(), 2);
    EXPECT_EQ(pixels(vis), (std::vector<int>{19, 70, 118, 173, 255, 0}));
    EXPECT_EQ(vis.Palette()[200], (TRGBQuad{200, 200, 200, 0}));

    const TExtBitmap linear = calibrate(1, {20, 40, 79.9, 80}, 2, 1.0f);
    EXPECT_EQ(pixels(linear), (std::vector<int>{63, 127, 254, 255}));

    const TExtBitmap ir = calibrate(4, {0.0005, 5.6075, 37.5, 62.3, 167.2205, 200.0}, 2, 1.0f);
    EXPECT_EQ(pixels(ir), (std::vector<int>{255, 238, 176, 128, 1, 0}));
}

TEST(MakeBitmap, SamplesThatAreNoMeasurementBecomeBlack)
{
    const double nan = std::nan("");
    EXPECT_EQ(pixels(calibrate(1, {nan, 50, HUGE_VAL, 50}, 2, 1.8f)), (std::vector<int>{0, 173, 0, 173}));
    EXPECT_EQ(pixels(calibrate(4, {nan, 37.5, -HUGE_VAL, 9.96921e36}, 2, 1.0f)), (std::vector<int>{0, 176, 0, 0}));
    // Stored as doubles beyond single precision: the library reports a range error, but the
    // other samples of the scan are kept.
    EXPECT_EQ(pixels(calibrate(4, {1e300, 37.5, 62.3, -1e300}, 2, 1.0f, TExtBitmap(), NC_DOUBLE)),
              (std::vector<int>{0, 176, 128, 0}));
}

TEST(MakeBitmap, OtherBandsResizeButWriteNoPixel)
{
    TExtBitmap bmp(2, 2);
    bmp.Fill(7);
    const TExtBitmap out = calibrate(5, {1, 2, 3, 4}, 2, 1.0f, bmp);
    EXPECT_EQ(out.Width(), 2);
    EXPECT_EQ(out.Height(), 2);
    EXPECT_EQ(pixels(out), (std::vector<int>{7, 7, 7, 7}));
    EXPECT_EQ(out.Palette()[9], (TRGBQuad{9, 9, 9, 0}));
}

TEST(MakeBitmap, RefusesMissingOrNonGreyImages)
{
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(writeScanFile(dir / "scan.nc", ScanFile{}));
    TNetCdfGoes15 nc;
    ASSERT_TRUE(nc.Open(dir / "scan.nc"));
    ASSERT_TRUE(nc.ReadHeader());
    EXPECT_FALSE(nc.MakeBitmap(nullptr, 1.0f));
    TExtBitmap colour(3, 3, TPixelFormat::pf24bit);
    colour.SetModified(false);
    EXPECT_FALSE(nc.MakeBitmap(&colour, 1.0f));
    EXPECT_EQ(colour.Width(), 3);
    EXPECT_FALSE(colour.Modified());
}

TEST(MakeBitmap, MissingDataGivesABlackImage)
{
    TempDir dir;
    // Without "data" the image is black, although a radiance of 0 would be white.
    for (bool define : {false, true}) {
        ScanFile file;
        file.defineData = define;
        file.writeData = false; // defined but never written: the library's fill values
        ASSERT_NO_FATAL_FAILURE(writeScanFile(dir / "scan.nc", file));
        TNetCdfGoes15 nc;
        ASSERT_TRUE(nc.Open(dir / "scan.nc"));
        ASSERT_TRUE(nc.ReadHeader());
        TExtBitmap bmp(4, 3);
        bmp.Fill(9);
        ASSERT_TRUE(nc.MakeBitmap(&bmp, 1.0f));
        EXPECT_EQ(pixels(bmp), std::vector<int>(12, 0));
        EXPECT_EQ(nc.SampleProblem().empty(), define);
    }
}

TEST(MakeBitmap, AnEmptyGridGivesAnEmptyImage)
{
    TempDir dir;
    ScanFile file;
    file.heightUnlimited = true; // no line written: "yc" has length 0
    ASSERT_NO_FATAL_FAILURE(writeScanFile(dir / "scan.nc", file));
    TNetCdfGoes15 nc;
    ASSERT_TRUE(nc.Open(dir / "scan.nc"));
    EXPECT_FALSE(nc.ReadHeader());
    TExtBitmap bmp(4, 4);
    EXPECT_TRUE(nc.MakeBitmap(&bmp, 1.0f));
    EXPECT_EQ(bmp.Width(), 4);
    EXPECT_EQ(bmp.Height(), 0);
}

} // namespace

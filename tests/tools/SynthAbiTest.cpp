#include "SynthTestSupport.h"

#include "tools/synth/SynthAbiFiles.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <stdexcept>

using namespace synth;
namespace fs = std::filesystem;

namespace {

std::int64_t Utc(const char* text) { return ParseUtc(text).value_or(0); }

// The first pixel's scan angles of every resolution, and of the sectors whose windows are
// fixed, as NOAA's files carry them.
struct GridCase {
    int satellite;
    TAbiSectorKind sector;
    int band;
    int width, height;
    double xOffset, yOffset, xStep;
};

class SynthAbiGridTest : public ::testing::TestWithParam<GridCase> {};

TEST_P(SynthAbiGridTest, FirstPixelAndSizeAreTheRealFilesOwn)
{
    const auto& c = GetParam();
    const TAbiGrid g = AbiBandGrid(AbiSectorWindow(c.satellite, c.sector), AbiBand(c.band)->Factor);
    EXPECT_EQ(g.Width, c.width);
    EXPECT_EQ(g.Height, c.height);
    EXPECT_NEAR(g.XOffset, c.xOffset, 1e-9);
    EXPECT_NEAR(g.YOffset, c.yOffset, 1e-9);
    EXPECT_NEAR(g.XStep, c.xStep, 1e-12);
    EXPECT_NEAR(g.YStep, -c.xStep, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    Sectors, SynthAbiGridTest,
    ::testing::Values(GridCase{16, TAbiSectorKind::Full, 13, 5424, 5424, -0.151844, 0.151844, 56e-6},
                      GridCase{16, TAbiSectorKind::Full, 1, 10848, 10848, -0.151858, 0.151858, 28e-6},
                      GridCase{18, TAbiSectorKind::Full, 2, 21696, 21696, -0.151865, 0.151865, 14e-6},
                      GridCase{16, TAbiSectorKind::Conus, 13, 2500, 1500, -0.101332, 0.128212, 56e-6},
                      GridCase{19, TAbiSectorKind::Conus, 3, 5000, 3000, -0.101346, 0.128226, 28e-6},
                      GridCase{18, TAbiSectorKind::Conus, 2, 10000, 6000, -0.075033, 0.126553, 14e-6},
                      GridCase{18, TAbiSectorKind::Conus, 7, 2500, 1500, -0.075012, 0.126532, 56e-6}),
    [](const auto& info) {
        return "G" + std::to_string(info.param.satellite) + AbiSectorCode(info.param.sector) + "C" +
               std::to_string(info.param.band);
    });

TEST(SynthAbiNavigation, AgreesWithTheWorkedExampleAndTheLimb)
{
    double lon = 0, lat = 0;
    // NOAA's worked example for a satellite at 75 W.
    ASSERT_TRUE(AbiScanToGeo(-0.024052, 0.095340, -75.0, lon, lat));
    EXPECT_NEAR(lat, 33.846162, 1e-5);
    EXPECT_NEAR(lon, -84.690932, 1e-5);
    ASSERT_TRUE(AbiScanToGeo(0.0, 0.0, -137.0, lon, lat));
    EXPECT_NEAR(lon, -137.0, 1e-9);
    EXPECT_NEAR(lat, 0.0, 1e-9);
    // West of the date line the longitude wraps into -180..180.
    ASSERT_TRUE(AbiScanToGeo(-0.15, 0.0, -137.0, lon, lat));
    EXPECT_GT(lon, 100.0);
    // The Earth's edge lies 0.1517 rad out at the equator, a little less towards the poles.
    EXPECT_FALSE(AbiScanToGeo(0.1525, 0.0, -75.2, lon, lat));
    EXPECT_FALSE(AbiScanToGeo(0.0, 0.1515, -75.2, lon, lat));
}

TEST(SynthAbiNames, NameAndTimesAreSpacedAsTheRealFiles)
{
    const std::int64_t start = Utc("2026-12-08T12:00:21") * 10;
    const TAbiTimes t = AbiScanTimes(TAbiSectorKind::Full, start);
    EXPECT_EQ(AbiFileName(18, TAbiSectorKind::Full, 13, t.Start, t.End, t.Created),
              "OR_ABI-L1b-RadF-M6C13_G18_s20263421200210_e20263421209518_c20263421209524.nc");
    const TAbiTimes m = AbiScanTimes(TAbiSectorKind::Meso2, start + 3);
    EXPECT_EQ(AbiFileName(16, TAbiSectorKind::Meso2, 2, m.Start, m.End, m.Created),
              "OR_ABI-L1b-RadM2-M6C02_G16_s20263421200213_e20263421200271_c20263421200275.nc");
}

struct ScheduleCase {
    std::vector<std::string_view> args;
    std::size_t scans;
    std::int64_t firstTenths; // start of the first scan after 21:00
};

class SynthAbiScheduleTest : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(SynthAbiScheduleTest, ScansOfEachSectorAtItsCadence)
{
    const auto& c = GetParam();
    std::vector<std::string_view> args{"--out", "x", "--start", "2019-06-21T21:04"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto jobs = MakeAbiSchedule(ParseOptions(args));
    ASSERT_EQ(jobs.size(), c.scans);
    EXPECT_EQ(jobs.front().StartTenths, Utc("2019-06-21T21:00") * 10 + c.firstTenths);
    for (std::size_t i = 1; i < jobs.size(); ++i)
        EXPECT_LE(jobs[i - 1].StartTenths, jobs[i].StartTenths);
}

INSTANTIATE_TEST_SUITE_P(
    Cadences, SynthAbiScheduleTest,
    ::testing::Values(ScheduleCase{{"--abi", "G18"}, 1, 204},
                      ScheduleCase{{"--abi", "G18", "--abi", "g16,19", "--hours", "1"}, 18, 204},
                      ScheduleCase{{"--abi", "16", "--abi-sectors", "C,M1,M2", "--hours", "0.5"}, 66, 245}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(SynthAbiOptions, UnknownOrStrayOptionsAreRefused)
{
    for (std::vector<std::string_view> args : {std::vector<std::string_view>{"--abi", "G17"},
                                               {"--abi", "G16", "--abi-bands", "17"},
                                               {"--abi", "G16", "--abi-sectors", "M3"},
                                               {"--abi-sectors", "M1", "--bands", "1"},
                                               {"--abi", "G16", "--sectors", "nh"}}) {
        args.insert(args.begin(), {"--out", "x"});
        EXPECT_THROW(ParseOptions(args), std::invalid_argument) << args[2] << " " << args[3];
    }
}

// Scene values into counts and back by NOAA's formulas, as any reader calibrates them.
struct CalibrationCase {
    int band;
    double value;
    double tolerance;
};

class SynthAbiCalibrationTest : public ::testing::TestWithParam<CalibrationCase> {};

TEST_P(SynthAbiCalibrationTest, CountsCalibrateBackToTheSceneValue)
{
    const auto& c = GetParam();
    const TAbiBand b = *AbiBand(c.band);
    const double d = EarthSunDistance(Utc("2019-06-21T21:00"));
    int count = -1;
    ASSERT_TRUE(AbiCount(b, AbiRadiance(b, c.value, d), count));
    const double radiance = count * static_cast<double>(b.Scale) + b.Offset;
    const double back = b.Reflective() ? radiance * M_PI * static_cast<float>(d) * static_cast<float>(d) / b.Esun
                                       : (b.Fk2 / std::log(b.Fk1 / radiance + 1) - b.Bc1) / b.Bc2;
    EXPECT_NEAR(back, c.value, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(Bands, SynthAbiCalibrationTest,
                         ::testing::Values(CalibrationCase{1, 0.05, 0.002}, CalibrationCase{2, 0.9, 0.0005},
                                           CalibrationCase{5, 0.4, 0.002}, CalibrationCase{7, 300.0, 0.04},
                                           CalibrationCase{8, 230.0, 0.05}, CalibrationCase{13, 200.0, 0.1},
                                           CalibrationCase{13, 310.0, 0.02}, CalibrationCase{16, 250.0, 0.1}),
                         [](const auto& info) {
                             return "C" + std::to_string(info.param.band) + "_" + std::to_string(info.index);
                         });

TEST(SynthAbiCalibration, RadiancesBeyondTheCountsAreFlagged)
{
    const TAbiBand b = *AbiBand(2);
    int count = 0;
    EXPECT_FALSE(AbiCount(b, AbiRadiance(b, 1.5, 1.0), count));
    EXPECT_EQ(count, b.FillValue() - 1);
}

int VarId(int nc, const char* name)
{
    int v = -1;
    EXPECT_EQ(nc_inq_varid(nc, name, &v), NC_NOERR) << name;
    return v;
}

TEST(SynthAbiFile, FillDropoutsAndCountsAgreeWithTheFlags)
{
    TTempDir dir;
    TLandMask land;
    auto options = ParseOptions({"--out", dir.Path().c_str(), "--abi", "G16", "--abi-bands", "13", "--abi-sectors",
                                 "M2", "--jobs", "2", "--seed", "3"});
    const auto result = TAbiGenerator(options, land, nullptr).Run();
    ASSERT_EQ(result.Files.size(), 1u);
    int nc = -1;
    ASSERT_EQ(nc_open(result.Files[0].c_str(), NC_NOWRITE, &nc), NC_NOERR);
    std::vector<short> rad(500 * 500);
    std::vector<signed char> dqf(rad.size());
    ASSERT_EQ(nc_get_var_short(nc, VarId(nc, "Rad"), rad.data()), NC_NOERR);
    ASSERT_EQ(nc_get_var_schar(nc, VarId(nc, "DQF"), dqf.data()), NC_NOERR);
    int shuffle = 0, deflate = 0, level = 0, storage = 0;
    std::size_t chunks[2] = {};
    ASSERT_EQ(nc_inq_var_deflate(nc, VarId(nc, "Rad"), &shuffle, &deflate, &level), NC_NOERR);
    ASSERT_EQ(nc_inq_var_chunking(nc, VarId(nc, "Rad"), &storage, chunks), NC_NOERR);
    EXPECT_TRUE(shuffle && deflate && storage == NC_CHUNKED);
    std::int64_t flagged[4] = {}, fills = 0;
    for (std::size_t i = 0; i < rad.size(); ++i) {
        ++flagged[dqf[i]];
        // A pixel has no value exactly where the count is the fill value.
        EXPECT_EQ(rad[i] == 4095, dqf[i] == 3) << i;
        fills += rad[i] == 4095;
    }
    int valid = 0, missing = 0, saturated = 0, under = 0;
    nc_get_var_int(nc, VarId(nc, "valid_pixel_count"), &valid);
    nc_get_var_int(nc, VarId(nc, "missing_pixel_count"), &missing);
    nc_get_var_int(nc, VarId(nc, "saturated_pixel_count"), &saturated);
    nc_get_var_int(nc, VarId(nc, "undersaturated_pixel_count"), &under);
    EXPECT_EQ(valid, flagged[0]);
    EXPECT_EQ(saturated + under, flagged[2]);
    // The mesoscale sector lies wholly on the disc: its no-value pixels are dropouts, a few.
    EXPECT_EQ(missing, flagged[3]);
    EXPECT_GT(fills, 0);
    EXPECT_LT(fills, 50);
    nc_close(nc);
}

} // namespace

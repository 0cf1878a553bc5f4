#include "SynthTestSupport.h"

#include "tools/synth/SynthGenerator.h"
#include "tools/synth/SynthLandMask.h"
#include "tools/synth/SynthScene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

using namespace synth;

namespace {

constexpr std::int64_t kNoonOverDisc = 1561150800; // 2019-06-21 21:00 UTC

TEST(SynthScene, SameSeedAndTimeGiveTheSameScene)
{
    TLandMask none;
    TScene a(7, none), b(7, none), c(8, none);
    for (TScene* s : {&a, &b, &c})
        s->SetTime(kNoonOverDisc);
    int differ = 0;
    for (float lat = -60; lat <= 60; lat += 7.5f)
        for (float lon = -170; lon <= -80; lon += 9.0f) {
            const auto x = a.At(lon, lat), y = b.At(lon, lat), z = c.At(lon, lat);
            EXPECT_EQ(x.Kelvin107, y.Kelvin107);
            EXPECT_EQ(x.Reflectance, y.Reflectance);
            differ += x.Kelvin107 != z.Kelvin107;
        }
    EXPECT_GT(differ, 10);
}

TEST(SynthScene, ValuesStayWithinWhatTheImagerSees)
{
    TLandMask none;
    TScene s(1, none);
    for (std::int64_t t : {kNoonOverDisc, kNoonOverDisc + 12 * 3600, kNoonOverDisc + 5 * 86400 + 3 * 3600}) {
        s.SetTime(t);
        for (float lat = -80; lat <= 80; lat += 2.5f)
            for (float lon = -180; lon < 180; lon += 5.0f) {
                const auto v = s.At(lon, lat);
                EXPECT_GE(v.Reflectance, 0.0f);
                EXPECT_LE(v.Reflectance, 100.0f);
                for (int band : {2, 3, 4, 6}) {
                    EXPECT_GT(v.KelvinOfBand(band), 170.0f) << band;
                    EXPECT_LT(v.KelvinOfBand(band), 345.0f) << band;
                }
            }
    }
}

TEST(SynthScene, NightIsDarkAndDayIsLit)
{
    TLandMask none;
    TScene s(1, none);
    s.SetTime(kNoonOverDisc - 12 * 3600); // 09:00 UTC: night over the sub-satellite point
    EXPECT_LT(s.CosSolarZenith(-128.0f, 0.0f), 0.0);
    EXPECT_FLOAT_EQ(s.At(-128.0f, 0.0f).Reflectance, 0.0f);
    s.SetTime(kNoonOverDisc);
    EXPECT_GT(s.CosSolarZenith(-135.0f, 23.0f), 0.99);
    EXPECT_GT(s.At(-128.0f, 0.0f).Reflectance, 3.0f);
}

TEST(SynthScene, TropicsAreWarmerThanPolesOnAverage)
{
    TLandMask none;
    TScene s(3, none);
    s.SetTime(kNoonOverDisc);
    double tropics = 0, polar = 0;
    int n = 0;
    for (float lon = -170; lon <= -90; lon += 1.0f, ++n) {
        tropics += s.At(lon, -15.0f).Kelvin107 + s.At(lon, 15.0f).Kelvin107;
        polar += s.At(lon, -65.0f).Kelvin107 + s.At(lon, 65.0f).Kelvin107;
    }
    EXPECT_GT(tropics / n, polar / n + 15.0);
}

TEST(SynthScene, SpaceIsColdAndDark)
{
    TLandMask none;
    TScene s(1, none);
    s.SetTime(kNoonOverDisc);
    const auto v = s.At(std::nanf(""), std::nanf(""));
    EXPECT_FLOAT_EQ(v.Reflectance, 0.0f);
    EXPECT_LT(v.Kelvin107, 10.0f);
    // The coldest radiance the calibration holds: mode-A white.
    EXPECT_EQ(SampleOfBand(4, v), SampleOfBand(4, TScene::Space()));
}

TEST(SynthScene, SamplesOfBandsAreReflectanceOrRadiance)
{
    TSceneSample v;
    v.Reflectance = 42.04f;
    v.Kelvin107 = 290.0f;
    EXPECT_FLOAT_EQ(SampleOfBand(1, v), 42.0f);
    // 290 K at 10.7 um is about 95 mW/(m2 sr cm-1).
    EXPECT_NEAR(SampleOfBand(4, v), 95.0f, 0.2f);
    EXPECT_EQ(SampleOfBand(5, v), 0.0f);
}

// The same places from the GSHHS polygons and from Debian's binned pieces of the same
// release, joined back into rings.
class SynthLandMaskTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        const std::string file = GetParam() == "binned" ? "/usr/share/gmt-gshhg/binned_GSHHS_l.nc" : ShorelineFile("gshhs_l.b");
        if (!std::filesystem::exists(file))
            GTEST_SKIP() << file << " not present";
        ASSERT_TRUE(mask_.Load(file));
    }
    TLandMask mask_;
};

INSTANTIATE_TEST_SUITE_P(Files, SynthLandMaskTest, ::testing::Values("gshhs", "binned"));

struct LandCase {
    const char* place;
    float lon, lat;
    bool land;
};

TEST_P(SynthLandMaskTest, KnownPlaces)
{
    const LandCase cases[] = {
        {"Kansas", -98.0f, 38.5f, true},
        {"Pacific off California", -135.0f, 30.0f, false},
        {"Hawaii, Big Island", -155.5f, 19.6f, true},
        {"Lake Superior (a lake)", -87.5f, 47.7f, false},
        {"Brazil", -55.0f, -10.0f, true},
        {"France (polygon across Greenwich)", 2.3f, 46.8f, true},
        {"England (polygon across Greenwich)", -1.5f, 52.5f, true},
        {"Bay of Biscay", -5.0f, 45.0f, false},
        {"Antarctic plateau", -120.0f, -85.0f, true},
        {"Ross Ice Shelf", -175.0f, -80.0f, true},
        {"Southern Ocean", -120.0f, -60.0f, false},
        {"Siberia past 180", 170.0f + 360.0f, 65.0f, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mask_.At(c.lon, c.lat) != 0, c.land) << c.place;
}

TEST(SynthLandMask, DamagedFilesAreRefused)
{
    TTempDir dir;
    const auto truncated = dir.Path() / "truncated.b";
    {
        // A header claiming 1000 points, followed by only two.
        std::ofstream out(truncated, std::ios::binary);
        const unsigned char header[44] = {0, 0, 0, 0, 0, 0, 0x03, 0xE8, 0, 0, 0x0F, 0x01};
        out.write(reinterpret_cast<const char*>(header), sizeof header);
        out.write("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16);
    }
    const auto negative = dir.Path() / "negative.b";
    {
        std::ofstream out(negative, std::ios::binary);
        const unsigned char header[44] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xF0, 0, 0, 0x0F, 0x01};
        out.write(reinterpret_cast<const char*>(header), sizeof header);
    }
    TLandMask mask;
    EXPECT_FALSE(mask.LoadGshhs(truncated.string()));
    EXPECT_TRUE(mask.Empty());
    EXPECT_FALSE(mask.LoadGshhs(negative.string()));
    EXPECT_FALSE(mask.LoadGshhs((dir.Path() / "missing.b").string()));
    EXPECT_EQ(mask.At(0, 0), 0);
}

TEST(SynthLandMask, ShorelineSearchSkipsBorderFiles)
{
    TTempDir dir;
    const auto borders = dir.Path() / "wdb_borders_i.b";
    const auto shore = dir.Path() / "gshhs_x.b";
    std::ofstream(borders) << "x";
    std::ofstream(shore) << "x";
    ::setenv("ORVANTA_GSHHS", (borders.string() + "|" + shore.string()).c_str(), 1);
    EXPECT_EQ(FindShorelineFile(""), shore.string());
    EXPECT_EQ(FindShorelineFile(borders.string()), borders.string()); // an explicit choice wins
    ::unsetenv("ORVANTA_GSHHS");
}

} // namespace

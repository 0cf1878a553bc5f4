// What the product's own reader and calibration make of the generated files.

#include "SynthTestSupport.h"

#include "imaging/BMPExtImage.h"
#include "mapping/SegmentStuff.h"
#include "netcdf/NetCdfG15.h"
#include "netcdf/VisibleLookup.h"
#include "netcdf/RadianceToModeAlookup.h"
#include "tools/synth/SynthCalibration.h"
#include "tools/synth/SynthGenerator.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace synth;

namespace {

class SynthTablesTest : public ::testing::TestWithParam<int> {};

// The generator's inversion against the product's radiance-to-count tables: every raw
// count's sample must calibrate to the count that raw count stands for.
TEST_P(SynthTablesTest, EveryRawCountsSampleCalibratesToItsCount)
{
    const int band = GetParam();
    const auto ir = InfraredBand(band);
    ASSERT_TRUE(ir);
    for (int raw = FirstRawCount(*ir); raw <= ir->LastRawCount; ++raw)
        ASSERT_EQ(RadianceToModeA(band, SampleOfRawCount(*ir, raw)), ModeACountOfRawCount(*ir, raw))
            << "band " << band << " raw " << raw;
}

TEST_P(SynthTablesTest, TemperaturesGiveTheirModeACount)
{
    const int band = GetParam();
    const auto ir = InfraredBand(band);
    // 418 - T up to 242 K, 660 - 2T above, within a count of the nearest raw count. The
    // 3.9 um band's raw counts are too coarse for cold scenes to hold that.
    const std::vector<double> temperatures =
        band == 2 ? std::vector<double>{250.0, 270.0, 290.0} : std::vector<double>{200.0, 225.0, 240.0, 250.0, 270.0};
    for (double k : temperatures) {
        const int expected = static_cast<int>(k <= 242.0 ? 418.0 - k : 660.0 - 2.0 * k);
        const int got = RadianceToModeA(band, SampleOfRawCount(*ir, RawCountOfTemperature(*ir, k)));
        EXPECT_NEAR(got, expected, 1.01) << "band " << band << " at " << k << " K";
    }
}

INSTANTIATE_TEST_SUITE_P(Bands, SynthTablesTest, ::testing::Values(2, 3, 4, 6));

struct ReaderCase {
    const char* sector;
    int band;
    std::uint8_t readerSector;
};

class SynthReaderTest : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(SynthReaderTest, ReaderSeesTheScanAndCalibratesItToTheIntendedCounts)
{
    const auto& c = GetParam();
    TTempDir dir;
    TLandMask land;
    const auto o = ParseOptions({"--out", dir.Path().string(), "--quiet", "--no-bz2", "--scale", "0.05", "--sectors",
                                 c.sector, "--bands", std::to_string(c.band), "--start", "2019-06-21T21:00"});
    auto mapping = [] {
        auto m = std::make_shared<TSegmentMapping>();
        m->SegmentIndex = 125;
        m->LongitudeOffset = 7.0f;
        return TPixelToGeo([m](int x, int y, float& lon, float& lat) { return m->PixelToGeo(x, y, lon, lat); });
    };
    TGenerator g(o, mapping, land, nullptr);
    const auto result = g.Run();
    ASSERT_EQ(result.Files.size(), 1u);

    const TScanLayout layout = MakeScanLayout(*ScanKindByName(c.sector), 0.05);
    TNetCdfGoes15 reader;
    ASSERT_TRUE(reader.Open(result.Files[0].string()));
    ASSERT_TRUE(reader.ReadHeader());
    EXPECT_EQ(reader.Band, c.band);
    EXPECT_EQ(reader.Width, static_cast<std::uint32_t>(layout.Elements));
    EXPECT_EQ(reader.Height, static_cast<std::uint32_t>(layout.Lines));
    EXPECT_EQ(reader.StartLine, layout.StartLine);
    EXPECT_EQ(reader.Sector, c.readerSector);
    TExtBitmap bitmap;
    ASSERT_TRUE(reader.MakeBitmap(&bitmap, 1.0f));
    ASSERT_EQ(bitmap.Width(), layout.Elements);

    TScene scene(o.Seed, land);
    scene.SetTime(MakeSchedule(o).front().Start); // southern sectors start 22 minutes in
    TScanGeolocator geo(layout, mapping());
    std::vector<float> lon(layout.Elements), lat(layout.Elements);
    const auto ir = InfraredBand(c.band);
    for (int l = 0; l < layout.Lines; ++l) {
        geo.Line(l, lon, lat);
        for (int e = 0; e < layout.Elements; ++e) {
            const TSceneSample s = scene.At(lon[e], lat[e]);
            const int intended = ir ? ModeACountOfRawCount(*ir, RawCountOfTemperature(*ir, s.KelvinOfBand(c.band)))
                                    : VisibleToCount(VisibleSample(s.Reflectance), 1.0f);
            ASSERT_EQ(bitmap.ScanLine(l)[e], intended) << "line " << l << " element " << e;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Scans, SynthReaderTest,
                         ::testing::Values(ReaderCase{"nh", 4, SectorNorthern}, ReaderCase{"sh", 2, SectorSouthern},
                                           ReaderCase{"sh-narrow", 6, SectorSouthern},
                                           ReaderCase{"nh", 1, SectorNorthern}, ReaderCase{"sh", 3, SectorSouthern}),
                         [](const auto& info) {
                             std::string name = info.param.sector;
                             for (char& ch : name)
                                 if (ch == '-')
                                     ch = '_';
                             return name + "_band" + std::to_string(info.param.band);
                         });

} // namespace

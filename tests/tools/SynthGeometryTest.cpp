#include "mapping/SegmentStuff.h"
#include "tools/synth/SynthGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

using namespace synth;

namespace {

TPixelToGeo CompositeMapping()
{
    auto m = std::make_shared<TSegmentMapping>();
    m->SegmentIndex = 125;
    m->LongitudeOffset = 7.0f;
    return [m](int x, int y, float& lon, float& lat) { return m->PixelToGeo(x, y, lon, lat); };
}

// The image reader's sector rule: full disk by height, else north or south by start line.
int ReaderSector(const TScanLayout& s)
{
    if (s.Lines == 2395 || s.Lines == 2704 || s.Lines == 2705)
        return SectorFullDisk;
    const auto start = static_cast<unsigned>(s.StartLine);
    if (start <= 5000)
        return SectorNorthern;
    if (start <= 10000)
        return SectorSouthern;
    return SectorUnknown;
}

struct LayoutCase {
    TScanKind kind;
    int lines, elements, sector;
};

class SynthLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(SynthLayoutTest, SizesAndSectorAreTheBroadcasts)
{
    const auto& c = GetParam();
    const TScanLayout s = MakeScanLayout(c.kind);
    EXPECT_EQ(s.Lines, c.lines);
    EXPECT_EQ(s.Elements, c.elements);
    EXPECT_EQ(s.Sector, c.sector);
    EXPECT_EQ(ReaderSector(s), c.sector);
    EXPECT_EQ(s.LineResolution, 4);
    EXPECT_EQ(s.ElementResolution, 4);
    // The product resamples the scan to the placement's width and copies lines one to one.
    EXPECT_DOUBLE_EQ(s.StepY, 1.0);
    EXPECT_DOUBLE_EQ(s.CompositeY(0), s.Placement.Y);
    EXPECT_NEAR(s.CompositeX(s.Elements - 0.5) + 0.5, s.Placement.X + s.Placement.NewWidth, 1e-9);
    EXPECT_NEAR(s.CompositeX(-0.5) + 0.5, s.Placement.X, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SynthLayoutTest,
                         ::testing::Values(LayoutCase{TScanKind::FullDisk, 2704, 5208, SectorFullDisk},
                                           LayoutCase{TScanKind::FullDiskWide, 2704, 5212, SectorFullDisk},
                                           LayoutCase{TScanKind::FullDiskShort, 2395, 5208, SectorFullDisk},
                                           LayoutCase{TScanKind::Northern, 1354, 3312, SectorNorthern},
                                           LayoutCase{TScanKind::Southern, 1062, 2760, SectorSouthern},
                                           LayoutCase{TScanKind::SouthernNarrow, 1062, 1021, SectorSouthern}));

TEST(SynthLayout, ScaledScansCoverTheSameArea)
{
    const TScanLayout full = MakeScanLayout(TScanKind::Northern);
    const TScanLayout small = MakeScanLayout(TScanKind::Northern, 0.1);
    EXPECT_EQ(small.Lines, 135);
    EXPECT_EQ(small.Elements, 331);
    EXPECT_EQ(small.StartLine, full.StartLine);
    EXPECT_NEAR(small.CompositeY(-0.5), full.CompositeY(-0.5), 1e-9);
    EXPECT_NEAR(small.CompositeY(small.Lines - 0.5), full.CompositeY(full.Lines - 0.5), 1e-9);
    EXPECT_NEAR(small.CompositeX(small.Elements - 0.5), full.CompositeX(full.Elements - 0.5), 1e-9);
    EXPECT_THROW(MakeScanLayout(TScanKind::FullDisk, 0.0), std::invalid_argument);
    EXPECT_THROW(MakeScanLayout(TScanKind::FullDisk, 1.01), std::invalid_argument);
}

TEST(SynthLayout, KindsAreKnownByTheirCommandLineNames)
{
    for (const char* name : {"fd", "fd-wide", "fd-short", "nh", "sh", "sh-narrow"}) {
        const auto k = ScanKindByName(name);
        ASSERT_TRUE(k) << name;
        EXPECT_STREQ(ScanKindInfo(*k).Name, name);
    }
    EXPECT_FALSE(ScanKindByName("FD"));
}

class SynthGeolocationTest : public ::testing::TestWithParam<TScanKind> {};

// Every on-disc sample, projected forward through the composite's mapping, must land
// where the product's placement puts it.
TEST_P(SynthGeolocationTest, GridAgreesWithTheCompositeMapping)
{
    const TScanLayout s = MakeScanLayout(GetParam());
    TScanGeolocator geo(s, CompositeMapping());
    TSegmentMapping m;
    m.SegmentIndex = 125;
    m.LongitudeOffset = 7.0f;
    std::vector<float> lon(s.Elements), lat(s.Elements);
    int onDisc = 0, offDisc = 0;
    double worst = 0;
    for (int l = 0; l < s.Lines; l += 37) {
        geo.Line(l, lon, lat);
        for (int e = 0; e < s.Elements; e += 11) {
            if (std::isnan(lon[e])) {
                EXPECT_TRUE(std::isnan(lat[e]));
                ++offDisc;
                continue;
            }
            ++onDisc;
            ASSERT_GE(lon[e], -180.0f);
            ASSERT_LT(lon[e], 180.0f);
            float x = 0, y = 0;
            ASSERT_TRUE(m.GeoToSegmentXY(x, y, lon[e], lat[e])) << "line " << l << " element " << e;
            worst = std::max({worst, std::fabs(x - s.CompositeX(e)), std::fabs(y - s.CompositeY(l))});
        }
    }
    EXPECT_GT(onDisc, 0);
    // Interpolating between whole composite pixels costs a little near the limb only.
    EXPECT_LT(worst, 0.35);
    if (s.Sector == SectorFullDisk && s.Lines == 2704) {
        EXPECT_GT(offDisc, 0); // the corners of a full disk are space
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SynthGeolocationTest,
                         ::testing::Values(TScanKind::FullDisk, TScanKind::FullDiskShort, TScanKind::Northern,
                                           TScanKind::SouthernNarrow));

TEST(SynthGeolocation, OffDiscPixelsOfTheCompositeStayOffTheScansDisc)
{
    const TScanLayout s = MakeScanLayout(TScanKind::FullDisk);
    TScanGeolocator geo(s, CompositeMapping());
    std::vector<float> lon(s.Elements), lat(s.Elements);
    geo.Line(0, lon, lat); // the top line lies above the north pole's limb
    for (int e = 0; e < s.Elements; ++e)
        EXPECT_TRUE(std::isnan(lon[e]));
    // The middle line crosses the whole disc: the sub-satellite point is on it.
    const int mid = static_cast<int>(std::lround(1625.67 - s.Placement.Y));
    geo.Line(mid, lon, lat);
    const int e = static_cast<int>(std::lround((1408.45 - s.OriginX) / s.StepX));
    EXPECT_NEAR(lon[e], -128.0f, 0.05f);
    EXPECT_NEAR(lat[e], 0.0f, 0.05f);
}

TEST(SynthGeolocation, DateLineNeighboursInterpolateOnOneSide)
{
    // A mapping whose longitudes jump across 180 between neighbouring columns.
    TScanLayout s = MakeScanLayout(TScanKind::FullDisk, 0.01);
    TScanGeolocator geo(s, [](int x, int, float& lon, float& lat) {
        lon = x % 2 ? -179.5f : 179.7f;
        lat = 10.0f;
        return true;
    });
    std::vector<float> lon(s.Elements), lat(s.Elements);
    geo.Line(0, lon, lat);
    for (float v : lon)
        EXPECT_TRUE(v >= 179.7f || v <= -179.5f) << v;
}

TEST(SynthGeolocation, SatelliteZenithGrowsTowardsTheLimb)
{
    EXPECT_NEAR(CosSatelliteZenith(-128.0f, 0.0f), 1.0, 1e-12);
    EXPECT_GT(CosSatelliteZenith(-128.0f, 30.0f), CosSatelliteZenith(-128.0f, 60.0f));
    EXPECT_LT(CosSatelliteZenith(52.0f, 0.0f), 0.0); // the far side
}

} // namespace

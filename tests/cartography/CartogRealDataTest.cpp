// The readers on published coastline, border and track files (skipped where the shared data
// folder isn't beside the project).

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "LineFiles.h"
#include "cartography/vrnCartography.h"

using linefiles::shared;

namespace {

#define REQUIRE_SHARED(rel)                                                       \
    if (!std::filesystem::exists(shared(rel))) GTEST_SKIP() << "no " << shared(rel)

struct Store : TCartogList {
    Store() : TCartogList(std::string()) {}
};

std::string fileTestName(std::string name)
{
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

int totalPoints(const TCartogList& s)
{
    int n = 0;
    for (int i = 0; i < s.Count(); ++i) n += s.Items(i)->Count;
    return n;
}

}  // namespace

struct GshhsFileCase {
    const char* file;
    int kept;
    int points;
    int maxPoints;
};

class RealGshhs : public ::testing::TestWithParam<GshhsFileCase> {};

TEST_P(RealGshhs, LevelFilterKeepsThePublishedPolygons)
{
    const auto c = GetParam();
    REQUIRE_SHARED(std::string("gshhs/") + c.file);
    Store s;
    s.LoadFile(shared(std::string("gshhs/") + c.file));
    EXPECT_EQ(s.Count(), c.kept);
    EXPECT_EQ(totalPoints(s), c.points);
    EXPECT_EQ(s.MaxPoints, c.maxPoints);
    EXPECT_FALSE(s.ClosePolygons);
    for (int i = 0; i < s.Count(); ++i) {
        const auto* seg = s.Items(i);
        ASSERT_EQ(static_cast<int>(seg->Points.size()), seg->Count);
        ASSERT_GE(seg->South, -90.0f);
        ASSERT_LE(seg->North, 90.0f);
        ASSERT_LE(seg->East, 180.0f);
        ASSERT_LE(seg->West, 180.0f);
    }
}

// Shorelines drop only ice fronts (5) and ponds (4); border files keep national (1) and
// maritime (3) lines, internal ones (2) having area 0.
INSTANTIATE_TEST_SUITE_P(Files, RealGshhs,
                         ::testing::Values(GshhsFileCase{"gshhs_c.b", 1777, 12829, 1028},
                                           GshhsFileCase{"gshhs_l.b", 10667, 91123, 6851},
                                           GshhsFileCase{"wdb_borders_c.b", 487, 2269, 60},
                                           GshhsFileCase{"wdb_borders_l.b", 487, 7371, 233},
                                           GshhsFileCase{"wdb_borders_i.b", 487, 25471, 788}),
                         [](const auto& info) { return fileTestName(info.param.file); });

TEST(RealGshhs, FirstCrudePolygonKeepsItsPointsAsRead)
{
    REQUIRE_SHARED("gshhs/gshhs_c.b");
    Store s;
    s.LoadFile(shared("gshhs/gshhs_c.b"));
    ASSERT_GT(s.Count(), 0);
    const auto* seg = s.Items(0);
    EXPECT_EQ(seg->Count, 1028);
    EXPECT_EQ(seg->Kind, 1);
    // The header's box (west -9.500444, east 190.359111) comes from the full-resolution
    // outline; the crude points of Eurasia-Africa run 0..359.819556, so the box taken from
    // them is West 0 and East 359.819556 - 360.
    EXPECT_FLOAT_EQ(seg->West, 0.0f);
    EXPECT_FLOAT_EQ(seg->East, 359.819556f - 360.0f);
    EXPECT_FLOAT_EQ(seg->South, 1.2695f);
    EXPECT_FLOAT_EQ(seg->North, 77.71625f);
    EXPECT_EQ(seg->Points.front(), (TGeoPoint{180.0f, 68.993778f}));
    EXPECT_EQ(seg->Points[1], (TGeoPoint{176.081639f, 69.883722f}));
    EXPECT_EQ(seg->Points.back(), seg->Points.front());
}

TEST(RealGshhs, ShorelinesAndBordersLoadTogether)
{
    REQUIRE_SHARED("gshhs/gshhs_l.b");
    REQUIRE_SHARED("gshhs/wdb_borders_i.b");
    Store s;
    s.LoadFromPathList(shared("gshhs/gshhs_l.b") + "|" + shared("gshhs/wdb_borders_i.b"));
    EXPECT_EQ(s.Count(), 10667 + 487);
    EXPECT_EQ(s.MaxPoints, 6851);
}

struct GpxFileCase {
    const char* file;
    int segments;
    int points;
};

class RealGpx : public ::testing::TestWithParam<GpxFileCase> {};

TEST_P(RealGpx, TrackSegmentsAndPoints)
{
    const auto c = GetParam();
    REQUIRE_SHARED(std::string("gpx/") + c.file);
    Store s;
    s.LoadFile(shared(std::string("gpx/") + c.file));
    EXPECT_EQ(s.Count(), c.segments);
    EXPECT_EQ(totalPoints(s), c.points);
    EXPECT_TRUE(s.ClosePolygons);
}

INSTANTIATE_TEST_SUITE_P(Files, RealGpx,
                         ::testing::Values(GpxFileCase{"togeojson_blue_hills.gpx", 14, 1243},
                                           GpxFileCase{"togeojson_osm.gpx", 3, 5000},
                                           GpxFileCase{"togeojson_run.gpx", 1, 206},
                                           GpxFileCase{"gpxpy_around-visnjan-with-car.gpx", 0, 0},
                                           GpxFileCase{"gpxpy_track-with-empty-segment.gpx", 1, 9}),
                         [](const auto& info) { return fileTestName(info.param.file); });

TEST(RealGpx, LongitudeWrittenBeforeLatitude)
{
    REQUIRE_SHARED("gpx/togeojson_run.gpx");
    Store s;
    s.LoadFile(shared("gpx/togeojson_run.gpx"));
    ASSERT_EQ(s.Count(), 1);
    EXPECT_EQ(s.Items(0)->Points[0], (TGeoPoint{-77.02016168273985f, 38.92747367732227f}));
}

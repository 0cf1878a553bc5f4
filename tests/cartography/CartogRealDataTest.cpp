// The readers on published coastline, border and track files (skipped where the shared data
// folder isn't beside the project).

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>
#include <vector>
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

// ---- Debian's binned GSHHG files -----------------------------------------------------

namespace {

std::string debianFile(const std::string& name) { return std::string(kBinnedGshhgDir) + name; }

#define REQUIRE_DEBIAN(name)                                                       \
    if (!std::filesystem::exists(debianFile(name))) GTEST_SKIP() << "no " << debianFile(name)

}  // namespace

struct BinnedFileCase {
    const char* file;
    int segments;
    int points;
    int maxPoints;
    float south, north;
};

class RealBinned : public ::testing::TestWithParam<BinnedFileCase> {};

TEST_P(RealBinned, PiecesPerResolution)
{
    const auto c = GetParam();
    REQUIRE_DEBIAN(c.file);
    Store s;
    s.LoadFile(debianFile(c.file));
    EXPECT_EQ(s.Count(), c.segments);
    EXPECT_EQ(totalPoints(s), c.points);
    EXPECT_EQ(s.MaxPoints, c.maxPoints);
    EXPECT_FALSE(s.ClosePolygons);
    float south = 90, north = -90;
    for (int i = 0; i < s.Count(); ++i) {
        const auto* seg = s.Items(i);
        ASSERT_EQ(static_cast<int>(seg->Points.size()), seg->Count);
        for (const auto& p : seg->Points) {
            ASSERT_GE(p.Lon, 0.0f);
            ASSERT_LE(p.Lon, 360.0f);
        }
        ASSERT_LE(seg->East, 180.0f);
        south = std::min(south, seg->South);
        north = std::max(north, seg->North);
    }
    EXPECT_FLOAT_EQ(south, c.south);
    EXPECT_FLOAT_EQ(north, c.north);
}

// Shorelines keep land, lakes, islands in lakes, the Antarctic grounding line and the Antarctic
// islands (4 crude, 40 low, 163 intermediate, 372 high pieces, once dropped with the ice
// front), as GMT does; borders the national ones, rivers the permanent major ones.
INSTANTIATE_TEST_SUITE_P(Files, RealBinned,
                         ::testing::Values(BinnedFileCase{"binned_GSHHS_c.nc", 2214, 13846, 116, -85.2358246f, 83.5304794f},
                                           BinnedFileCase{"binned_GSHHS_l.nc", 12229, 94911, 506, -85.2358246f, 83.6267624f},
                                           BinnedFileCase{"binned_GSHHS_i.nc", 45338, 466544, 1480, -85.2359009f, 83.6334f},
                                           BinnedFileCase{"binned_GSHHS_h.nc", 165210, 1973457, 2262, -85.2358856f, 83.6333847f},
                                           BinnedFileCase{"binned_border_c.nc", 574, 2370, 23, -54.8859406f, 70.0881958f},
                                           BinnedFileCase{"binned_border_l.nc", 728, 7748, 85, -54.885788f, 70.0883484f},
                                           BinnedFileCase{"binned_border_i.nc", 1028, 26414, 208, -54.8858643f, 70.0888824f},
                                           BinnedFileCase{"binned_border_h.nc", 2031, 73060, 291, -54.885849f, 70.0888977f},
                                           BinnedFileCase{"binned_river_l.nc", 2522, 8091, 13, -34.0569153f, 70.2024841f}),
                         [](const auto& info) { return fileTestName(info.param.file); });

// The low-resolution binned shoreline is the same release as gshhs_l.b, cut into bins: its
// points, the ones added where a line crosses a bin edge included, lie on the .b outline.
TEST(RealBinned, LowShorelineLiesOnTheGshhsShoreline)
{
    REQUIRE_SHARED("gshhs/gshhs_l.b");
    REQUIRE_DEBIAN("binned_GSHHS_l.nc");
    Store polygons, pieces;
    // The Antarctic islands are level 5 in the .b file, beside the continent's ice front
    // (polygon 4), and its reader leaves them out; the binned reader keeps them, as GMT does.
    // Here they count as land, so that their pieces have an outline to lie on.
    std::ifstream in(shared("gshhs/gshhs_l.b"), std::ios::binary);
    std::vector<std::uint8_t> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto word = [&](std::size_t at) {
        return static_cast<std::uint32_t>(b[at]) << 24 | static_cast<std::uint32_t>(b[at + 1]) << 16 |
               static_cast<std::uint32_t>(b[at + 2]) << 8 | b[at + 3];
    };
    for (std::size_t at = 0; at + 44 <= b.size(); at += 44 + 8 * std::size_t{word(at + 4)})
        if (word(at) != 4 && b[at + 11] == 5) b[at + 11] = 1;
    polygons.LoadFromMemory(b, "gshhs_l.b");
    pieces.LoadFile(debianFile("binned_GSHHS_l.nc"));
    ASSERT_GT(pieces.Count(), 0);

    constexpr double tolerance = 0.01;
    const auto wrap = [](double lon) { return lon - 360.0 * std::floor(lon / 360.0); };
    struct Edge {
        double x0, y0, x1, y1;
    };
    // Edges indexed by the one-degree cells their box (widened by the tolerance) touches.
    std::vector<Edge> edges;
    std::vector<std::vector<int>> cells(360 * 180);
    for (int i = 0; i < polygons.Count(); ++i) {
        const auto& pts = polygons.Items(i)->Points;
        for (std::size_t k = 1; k < pts.size(); ++k) {
            Edge e{wrap(pts[k - 1].Lon), pts[k - 1].Lat, 0, pts[k].Lat};
            e.x1 = e.x0 + (pts[k].Lon - pts[k - 1].Lon);
            edges.push_back(e);
            const int c0 = static_cast<int>(std::floor(std::min(e.x0, e.x1) - tolerance));
            const int c1 = static_cast<int>(std::floor(std::max(e.x0, e.x1) + tolerance));
            const int r0 = std::max(0, static_cast<int>(std::floor(std::min(e.y0, e.y1) + 90 - tolerance)));
            const int r1 = std::min(179, static_cast<int>(std::floor(std::max(e.y0, e.y1) + 90 + tolerance)));
            for (int c = c0; c <= c1; ++c)
                for (int r = r0; r <= r1; ++r) cells[static_cast<std::size_t>(r * 360 + ((c % 360) + 360) % 360)].push_back(static_cast<int>(edges.size() - 1));
        }
    }
    int checked = 0, off = 0;
    double worst = 0;
    for (int i = 0; i < pieces.Count(); ++i) {
        for (const auto& p : pieces.Items(i)->Points) {
            const double x = wrap(p.Lon), y = p.Lat;
            const int cell = std::min(179, static_cast<int>(std::floor(y + 90))) * 360 + std::min(359, static_cast<int>(std::floor(x)));
            double best = 1e9;
            for (int id : cells[static_cast<std::size_t>(cell)]) {
                const Edge& e = edges[static_cast<std::size_t>(id)];
                // The point moved by whole turns to the edge's side of Greenwich.
                const double px = x + 360.0 * std::round((e.x0 - x) / 360.0);
                const double dx = e.x1 - e.x0, dy = e.y1 - e.y0;
                const double len2 = dx * dx + dy * dy;
                const double t = len2 > 0 ? std::clamp(((px - e.x0) * dx + (y - e.y0) * dy) / len2, 0.0, 1.0) : 0.0;
                best = std::min(best, std::hypot(px - (e.x0 + t * dx), y - (e.y0 + t * dy)));
            }
            ++checked;
            if (best > tolerance) ++off;
            worst = std::max(worst, best);
        }
    }
    EXPECT_EQ(checked, 94911);
    // A few small islands (off Aalesund, Guam and some of the Northern Marianas) were
    // simplified a little differently in the two products; every other point is on the line.
    EXPECT_LE(off, 15);
    EXPECT_LT(worst, 0.05);
}

TEST(RealBinned, GshhsAndGpxFilesBesideThemStillLoad)
{
    REQUIRE_DEBIAN("binned_GSHHS_c.nc");
    REQUIRE_SHARED("gshhs/wdb_borders_c.b");
    REQUIRE_SHARED("gpx/togeojson_run.gpx");
    Store s;
    s.LoadFromPathList(debianFile("binned_GSHHS_c.nc") + "|" + shared("gshhs/wdb_borders_c.b") + "|" +
                       shared("gpx/togeojson_run.gpx"));
    EXPECT_EQ(s.Count(), 2214 + 487 + 1);
    s.LoadFromPathList(shared("gpx/togeojson_run.gpx") + "|" + debianFile("binned_GSHHS_c.nc"));
    EXPECT_EQ(s.Count(), 1 + 2214);
    EXPECT_FALSE(s.ClosePolygons);
}

TEST(RealBinned, TruncatedFileLoadsNothingAndKeepsWhatCameBefore)
{
    REQUIRE_DEBIAN("binned_GSHHS_c.nc");
    REQUIRE_SHARED("gshhs/wdb_borders_c.b");
    std::ifstream in(debianFile("binned_GSHHS_c.nc"), std::ios::binary);
    const std::vector<std::uint8_t> whole{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (const std::size_t keep : {whole.size() - 1, whole.size() / 2, std::size_t{600}}) {
        Store s;
        s.LoadFile(shared("gshhs/wdb_borders_c.b"));
        s.LoadFromMemory(std::span<const std::uint8_t>(whole.data(), keep), "binned_GSHHS_c.nc");
        EXPECT_EQ(s.Count(), 487) << keep;
    }
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

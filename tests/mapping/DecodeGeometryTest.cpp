#include "mapping/DecodeGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace {

// A regular grid: latitude falls by dLat per row from lat0, longitude rises by dLon per column.
TGeoDiagnostics RegularGrid(int xCount, int yCount, float lon0, float dLon, float lat0, float dLat)
{
    std::vector<float> lon, lat;
    for (int r = 0; r < yCount; ++r)
        for (int c = 0; c < xCount; ++c) {
            lon.push_back(lon0 + dLon * static_cast<float>(c));
            lat.push_back(lat0 - dLat * static_cast<float>(r));
        }
    TGeoDiagnostics d;
    d.SetGrids(xCount, yCount, lon, lat);
    return d;
}

// 21 rows (middle row 10, latitude 0 there) and 21 columns (middle column 10, longitude -128).
TGeoDiagnostics SmallGrid() { return RegularGrid(21, 21, -138.0f, 1.0f, 10.0f, 1.0f); }

struct SearchCase {
    const char* name;
    float target;
    int expected;
};

class RowSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(RowSearch, StopsAtTheFirstRowReachingTheTargetOrAtAnEdgeRow)
{
    const auto d = SmallGrid();
    EXPECT_EQ(d.FindRowOfLatitude(4, GetParam().target), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, RowSearch,
    ::testing::Values(SearchCase{"south_of_middle", -3.0f, 13}, SearchCase{"between_rows_south", -3.5f, 14},
                      SearchCase{"north_of_middle", 4.0f, 6}, SearchCase{"between_rows_north", 4.5f, 5},
                      // Equal to the middle's value: the walk goes north and the row above already qualifies.
                      SearchCase{"equal_to_middle", 0.0f, 9},
                      SearchCase{"beyond_the_bottom", -50.0f, 20}, SearchCase{"beyond_the_top", 50.0f, 1},
                      SearchCase{"top_row_value", 10.0f, 1}, SearchCase{"bottom_row_value", -10.0f, 20}),
    [](const auto& info) { return std::string(info.param.name); });

class ColumnSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(ColumnSearch, StopsAtTheFirstColumnReachingTheTargetOrAtAnEdge)
{
    const auto d = SmallGrid();
    EXPECT_EQ(d.FindColumnOfLongitude(3, GetParam().target), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ColumnSearch,
    ::testing::Values(SearchCase{"east_of_middle", -125.0f, 13}, SearchCase{"between_columns_east", -124.5f, 14},
                      SearchCase{"west_of_middle", -131.0f, 7}, SearchCase{"between_columns_west", -131.5f, 6},
                      SearchCase{"equal_to_middle", -128.0f, 9},
                      // No cell of the row reaches the target: the walk ends at the row's edge.
                      SearchCase{"beyond_the_east_edge", 100.0f, 20}, SearchCase{"beyond_the_west_edge", -170.0f, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GridSearch, FillValuesNeverStopAWalk)
{
    // Off-disc cells hold NaN in the broadcast files; they satisfy no comparison.
    std::vector<float> lon(21 * 21), lat(21 * 21);
    for (int r = 0; r < 21; ++r)
        for (int c = 0; c < 21; ++c) {
            lon[r * 21 + c] = c < 3 ? NAN : -138.0f + static_cast<float>(c);
            lat[r * 21 + c] = r > 15 ? NAN : 10.0f - static_cast<float>(r);
        }
    TGeoDiagnostics d;
    ASSERT_TRUE(d.SetGrids(21, 21, lon, lat));
    EXPECT_EQ(d.FindRowOfLatitude(10, -8.0f), 20);
    EXPECT_EQ(d.FindColumnOfLongitude(10, -140.0f), 1);
    EXPECT_EQ(d.FindColumnOfLongitude(10, -134.0f), 4);
}

TEST(GridSearch, EmptyOrOutOfRangeArgumentsNeverReadOutside)
{
    TGeoDiagnostics empty;
    EXPECT_EQ(empty.FindRowOfLatitude(0, 0.0f), 0);
    EXPECT_EQ(empty.FindColumnOfLongitude(0, 0.0f), 0);
    const auto d = SmallGrid();
    EXPECT_EQ(d.FindRowOfLatitude(-1, 0.0f), d.MiddleRow());
    EXPECT_EQ(d.FindRowOfLatitude(21, 0.0f), d.MiddleRow());
    EXPECT_EQ(d.FindColumnOfLongitude(21, 0.0f), d.MiddleColumn());
}

struct SizeCase {
    int x, y;
    bool usable;
};

class GridSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(GridSize, SampleOfSeventeenBySevenMustFit)
{
    const auto [x, y, usable] = GetParam();
    TGeoDiagnostics d;
    EXPECT_EQ(d.SetGrids(x, y, std::vector<float>(static_cast<std::size_t>(x * y)),
                         std::vector<float>(static_cast<std::size_t>(x * y))),
              usable)
        << x << " x " << y;
}

INSTANTIATE_TEST_SUITE_P(Sizes, GridSize,
                         ::testing::Values(SizeCase{7, 17, true}, SizeCase{6, 17, false}, SizeCase{7, 16, false},
                                           SizeCase{8, 18, true}, SizeCase{1, 1, false}, SizeCase{0, 0, false},
                                           SizeCase{180, 86, true}));

TEST(GridSize, MismatchedArraysAreRefused)
{
    TGeoDiagnostics d;
    EXPECT_FALSE(d.SetGrids(10, 20, std::vector<float>(200), std::vector<float>(199)));
    EXPECT_EQ(d.XCount(), 0);
    EXPECT_FALSE(d.SetGrids(10, 20, std::vector<float>(100), std::vector<float>(100)));
    EXPECT_EQ(d.YCount(), 0);
}

struct SectorCase {
    float middleLatitude;
    int sector;
};

class SectorOfMiddle : public ::testing::TestWithParam<SectorCase> {};

TEST_P(SectorOfMiddle, ThresholdsAreFifteenDegrees)
{
    const auto d = RegularGrid(21, 21, -138.0f, 1.0f, GetParam().middleLatitude + 10.0f, 1.0f);
    ASSERT_FLOAT_EQ(d.MiddleLatitude(), GetParam().middleLatitude);
    EXPECT_EQ(d.Sector(), GetParam().sector);
}

INSTANTIATE_TEST_SUITE_P(Latitudes, SectorOfMiddle,
                         ::testing::Values(SectorCase{0.0f, 1}, SectorCase{15.0f, 1}, SectorCase{-15.0f, 1},
                                           SectorCase{15.5f, 2}, SectorCase{20.0f, 2}, SectorCase{-15.5f, 3},
                                           SectorCase{-33.0f, 3}));

TEST(GridSample, SeventeenLinesOfSevenCellsThenTheMiddlePoint)
{
    const auto d = RegularGrid(21, 21, -138.0f, 1.0f, 10.0f, 1.0f);
    TLines lines;
    d.ReportGridSample(lines);
    ASSERT_EQ(lines.size(), 19u);
    // First sample row is middle row - 8 (latitude 8), columns 7 .. 13 (longitude -131 .. -125).
    EXPECT_EQ(lines[0], "Lon:-131.00 lat:  8.00   Lon:-130.00 lat:  8.00   Lon:-129.00 lat:  8.00   "
                        "Lon:-128.00 lat:  8.00   Lon:-127.00 lat:  8.00   Lon:-126.00 lat:  8.00   "
                        "Lon:-125.00 lat:  8.00   ");
    EXPECT_EQ(lines[16].substr(0, 25), "Lon:-131.00 lat: -8.00   ");
    EXPECT_EQ(lines[17], "");
    EXPECT_EQ(lines[18], "Mid-point (row:10 col:10)   lat:0.00  lon: -128.00");
}

TEST(FormatC, KeepsTheFullStopAndPrintfWidths)
{
    EXPECT_EQ(FormatC("Row: %.4d  ", 42), "Row: 0042  ");
    EXPECT_EQ(FormatC("Row: %.4d  ", -42), "Row: -0042  ");
    EXPECT_EQ(FormatC("Lon:%7.2f lat:%6.2f ", 5.0, -33.256), "Lon:   5.00 lat:-33.26 ");
    EXPECT_EQ(FormatC("V:%6.4f", 1.0), "V:1.0000");
    EXPECT_EQ(FormatC("%s", ""), "");
}

class AppendLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("orvanta-geo-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    static std::string Read(const std::filesystem::path& p)
    {
        std::ifstream in(p);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::filesystem::path dir_;
};

TEST_F(AppendLine, CreatesThenKeepsEarlierLines)
{
    const auto log = (dir_ / "orvanta-geo.log").string();
    ASSERT_TRUE(AppendLineToFile(log, "first"));
    ASSERT_TRUE(AppendLineToFile(log, "second"));
    EXPECT_EQ(Read(log), "first\nsecond\n");
}

TEST_F(AppendLine, CompletesAnUnterminatedLastLine)
{
    const auto log = dir_ / "g.log";
    std::ofstream(log) << "details line";
    ASSERT_TRUE(AppendLineToFile(log.string(), "summary"));
    EXPECT_EQ(Read(log), "details line\nsummary\n");
}

TEST_F(AppendLine, MissingDirectoryFailsWithoutLeftovers)
{
    EXPECT_FALSE(AppendLineToFile((dir_ / "no" / "such" / "g.log").string(), "x"));
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

} // namespace

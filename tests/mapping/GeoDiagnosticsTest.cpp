#include "mapping/DecodeGeometry.h"

#include "mapping/GeoFileWriter.h"
#include "mapping/SegmentStuff.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

TSegmentMapping PictureMapping(float longitudeOffset = 7.0f)
{
    TSegmentMapping mapping;
    mapping.SegmentIndex = 125;
    mapping.LongitudeOffset = longitudeOffset;
    return mapping;
}

struct Grid {
    int x = 0, y = 0;
    std::vector<float> lon, lat;
};

// A grid whose cell (r, c) lies on picture pixel (x0 + round(c * kx), y0 + round(r * ky)),
// positioned by the picture mapping's own inverse: the diagnostics must find (x0, y0) as the
// offsets, with a perfect fit.
Grid PictureGrid(int x, int y, double kx, double ky, int x0 = 0, int y0 = 0, float longitudeOffset = 7.0f)
{
    auto mapping = PictureMapping(longitudeOffset);
    Grid g{x, y, std::vector<float>(static_cast<std::size_t>(x) * y), std::vector<float>(static_cast<std::size_t>(x) * y)};
    for (int r = 0; r < y; ++r)
        for (int c = 0; c < x; ++c) {
            float lon = 0.0f, lat = 0.0f;
            const bool onDisc = mapping.PixelToGeo(x0 + static_cast<int>(std::lrint(c * kx)),
                                                   y0 + static_cast<int>(std::lrint(r * ky)), lon, lat);
            const std::size_t i = static_cast<std::size_t>(r) * x + c;
            g.lon[i] = onDisc ? lon : NAN; // off-disc cells hold NaN, as in the broadcast files
            g.lat[i] = onDisc ? lat : NAN;
        }
    return g;
}

// A regular grid: latitude falls by dLat per row from lat0, longitude rises by dLon per column.
Grid RegularGrid(int x, int y, float lon0, float dLon, float lat0, float dLat)
{
    Grid g{x, y, {}, {}};
    for (int r = 0; r < y; ++r)
        for (int c = 0; c < x; ++c) {
            g.lon.push_back(lon0 + dLon * static_cast<float>(c));
            g.lat.push_back(lat0 - dLat * static_cast<float>(r));
        }
    return g;
}

class TempDir {
public:
    TempDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() /
                (std::string("orvanta-geo-") + info->test_suite_name() + "-" + info->name() + "-" +
                 std::to_string(::getpid()));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

std::string ReadText(const fs::path& p)
{
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int IndexOf(const TLines& lines, const std::string& prefix, int from = 0)
{
    for (int i = from; i < static_cast<int>(lines.size()); ++i)
        if (lines[static_cast<std::size_t>(i)].rfind(prefix, 0) == 0)
            return i;
    return -1;
}

// Full disk: 2166 rows x 1800 columns at 1.5 picture rows and columns per cell, covering the
// picture's height and the disc's width far enough that no fit sample falls beyond the limb.
// Written once for the suite; it is the largest fixture here.
class PictureFullDisk : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = fs::temp_directory_path() / ("orvanta-geo-fulldisk-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        path_ = (dir_ / "goes15.2013.150.120000_geo.nc").string();
        const auto g = PictureGrid(1800, 2166, 1.5, 1.5);
        geotest::WriteGeoFile(path_, 1800, 2166, g.lon, g.lat);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static inline fs::path dir_;
    static inline std::string path_;
};

TEST_F(PictureFullDisk, FitsSuggestNoOffsetWithPerfectCorrelation)
{
    TGeoDiagnostics d;
    TLines lines;
    const std::string summary = d.DiagnoseGeoFile(path_, lines);

    EXPECT_EQ(lines[0], path_);
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "x-count: 1800  y-count: 2166");
    EXPECT_EQ(d.Sector(), 1);
    EXPECT_EQ(IndexOf(lines, "Inconsistency"), -1);
    EXPECT_NE(IndexOf(lines, "Mid-point theoretical mapping: lat 0.02, lon: -128.02"), -1);
    EXPECT_NE(IndexOf(lines, "SSP theoretical mapping (integer): X:1408  Y:1626"), -1);
    EXPECT_NE(IndexOf(lines, "SSP theoretical mapping (float): X:1408.45  Y:1625.67"), -1);

    const int vertical = IndexOf(lines, "Least squares fit:  ");
    ASSERT_NE(vertical, -1);
    const int horizontal = IndexOf(lines, "Least squares fit:  ", vertical + 1);
    ASSERT_NE(horizontal, -1);
    EXPECT_NE(lines[static_cast<std::size_t>(vertical)].find(",  correlation: 1.000"), std::string::npos);
    EXPECT_NE(lines[static_cast<std::size_t>(horizontal)].find(",  correlation: 1.000"), std::string::npos);
    EXPECT_NE(IndexOf(lines, "Suggest offsets:  row: 0,  column: 0"), -1);
    EXPECT_EQ(lines.back(), "");

    EXPECT_EQ(d.RowOffset, 0);
    EXPECT_EQ(d.ColumnOffset, 0);
    EXPECT_NEAR(d.VerticalSlope, 1.5, 0.002);
    EXPECT_NEAR(d.HorizontalSlope, 1.5, 0.002);
    // V carries the horizontal slope and H the vertical one.
    char tail[96];
    std::snprintf(tail, sizeof tail, "V:%6.4f H:%6.4f row:0 col:0", static_cast<double>(d.HorizontalSlope),
                  static_cast<double>(d.VerticalSlope));
    EXPECT_EQ(summary, "goes15.2013.150.120000_geo.nc FD  Xc:1800 Yc:2166, " + std::string(tail));
}

TEST_F(PictureFullDisk, ReportFollowsTheFixedLayout)
{
    TGeoDiagnostics d;
    TLines lines;
    d.DiagnoseGeoFile(path_, lines);
    // path, blank, counts, 17 sample rows, blank, middle point, then two blanks before the SSP.
    ASSERT_GT(lines.size(), 30u);
    EXPECT_EQ(lines[20], "");
    EXPECT_EQ(lines[21].rfind("Mid-point (row:1083 col:900)   lat:", 0), 0u) << lines[21];
    EXPECT_EQ(lines[22], "");
    EXPECT_EQ(lines[23], "");
    EXPECT_EQ(lines[24].rfind("Found SSP column (", 0), 0u);
    EXPECT_EQ(lines[25], "");
    EXPECT_EQ(lines[26].rfind("Find equator row (", 0), 0u);
    EXPECT_EQ(lines[27], "");
    EXPECT_EQ(lines[28].rfind("Found SSP column (", 0), 0u);
    EXPECT_EQ(lines[32], "");
    EXPECT_EQ(lines[33], "Fitting the vertical (latitude) pixels");
    EXPECT_EQ(lines[34].rfind("Row: 0", 0), 0u);
    EXPECT_NE(lines[34].find("  theoretical row 0"), std::string::npos) << lines[34];
    EXPECT_EQ(lines[55], "");
    EXPECT_EQ(lines[56].rfind("Least squares fit:  ", 0), 0u);
    EXPECT_EQ(lines[57], "");
    EXPECT_EQ(lines[58], "Fitting the horizontal (longitude) pixels");
    EXPECT_EQ(lines[59].rfind("Col: 0", 0), 0u);
    EXPECT_EQ(lines[80], "");
    EXPECT_EQ(lines[82], "");
    EXPECT_EQ(lines[83], "Suggest offsets:  row: 0,  column: 0");
    EXPECT_EQ(lines.size(), 85u);

    // The samples step YCount / 27 = 80 rows around the equator row.
    int first = 0, last = 0;
    ASSERT_EQ(std::sscanf(lines[34].c_str(), "Row: %d", &first), 1);
    ASSERT_EQ(std::sscanf(lines[54].c_str(), "Row: %d", &last), 1);
    EXPECT_EQ(last - first, 20 * 80);
}

// The satellite at 135 W, as it stood until 2018: set so, the diagnostics fit its full disk
// as perfectly as the default's, and the grids tell where it stands.
TEST(GeoDiagnostics, FollowTheSatelliteLongitude)
{
    // Centred on the satellite's column, as a full disk is.
    const auto g = PictureGrid(1800, 2166, 1.5, 1.5, 58, 0, 0.0f);
    TGeoDiagnostics d;
    d.SetSatelliteLongitude(-135.0);
    ASSERT_TRUE(d.SetGrids(g.x, g.y, g.lon, g.lat));
    TLines lines;
    ASSERT_TRUE(d.TestGeometry(lines)) << lines.back();
    EXPECT_NE(IndexOf(lines, "Mid-point theoretical mapping: lat 0.02, lon: -135.02"), -1);
    EXPECT_EQ(d.RowOffset, 0);
    EXPECT_NEAR(d.ColumnOffset, 58, 1);
    ASSERT_TRUE(d.GridSspLongitude().has_value());
    EXPECT_NEAR(*d.GridSspLongitude(), -135.0f, 0.05f);
}

TEST(GeoDiagnostics, FullDiskWithTooFewRowsIsReportedAndKeepsTheLastFit)
{
    TempDir dir;
    const auto path = (dir.Path() / "goes15.2013.150.120000_geo.nc").string();
    const auto g = RegularGrid(40, 1500, -148.0f, 1.0f, 15.0f, 0.02f);
    geotest::WriteGeoFile(path, 40, 1500, g.lon, g.lat);

    TGeoDiagnostics d;
    d.RowOffset = 3;
    d.ColumnOffset = -2;
    d.VerticalSlope = 1.25f;
    d.HorizontalSlope = 0.5f;
    TLines lines;
    const auto summary = d.DiagnoseGeoFile(path, lines);
    ASSERT_GE(lines.size(), 4u);
    const TLines tail(lines.end() - 4, lines.end());
    EXPECT_EQ(tail, (TLines{"", "Inconsistency in TestGeometry", "Too few rows for full hemisphere", ""}));
    EXPECT_EQ(IndexOf(lines, "Fitting"), -1);
    EXPECT_EQ(summary, "goes15.2013.150.120000_geo.nc FD  Xc:0040 Yc:1500, V:0.5000 H:1.2500 row:3 col:-2");
}

TEST(GeoDiagnostics, NorthernGridIsCentredOnItsMiddle)
{
    // Middle latitude 20: a northern sector, sampled around the middle row and column; the
    // grid reaches down to the equator and across the sub-satellite meridian.
    const auto g = RegularGrid(400, 401, -160.0f, 0.1f, 40.0f, 0.1f);
    TGeoDiagnostics d;
    ASSERT_TRUE(d.SetGrids(g.x, g.y, g.lon, g.lat));
    EXPECT_FLOAT_EQ(d.MiddleLatitude(), 20.0f);
    EXPECT_EQ(d.Sector(), 2);
    TLines lines;
    ASSERT_TRUE(d.TestGeometry(lines));
    EXPECT_NE(IndexOf(lines, "Find equator row (400) at col 320:  "), -1);
    const int rows = IndexOf(lines, "Row: ");
    ASSERT_NE(rows, -1);
    // step 401 / 27 = 14: rows 60 .. 340 around middle row 200, columns 60 .. 340 around 200.
    EXPECT_EQ(lines[static_cast<std::size_t>(rows)].rfind("Row: 0060  ", 0), 0u);
    EXPECT_EQ(lines[static_cast<std::size_t>(rows + 20)].rfind("Row: 0340  ", 0), 0u);
    const int columns = IndexOf(lines, "Col: ");
    ASSERT_NE(columns, -1);
    EXPECT_EQ(lines[static_cast<std::size_t>(columns)].rfind("Col: 0060  ", 0), 0u);
    EXPECT_EQ(lines[static_cast<std::size_t>(columns + 20)].rfind("Col: 0340  ", 0), 0u);
}

struct ShortSectorCase {
    const char* name;
    float edgeLatitude; // of the grid's row nearest the equator
    bool northern;
};

class SectorShortOfTheEquator : public ::testing::TestWithParam<ShortSectorCase> {};

TEST_P(SectorShortOfTheEquator, IsFittedAroundItsMiddle)
{
    // 300 x 400 cells of 3 x 3 picture pixels, the middle column on the sub-satellite
    // meridian; the edge row towards the equator stays 2.4 degrees short of it.
    const auto& c = GetParam();
    const auto mapping = PictureMapping();
    int sspX = 0, edgeY = 0;
    ASSERT_TRUE(mapping.GeoToPixel(sspX, edgeY, -128.0f, c.edgeLatitude));
    const int x0 = sspX - 3 * 150;
    const int y0 = c.northern ? edgeY - 3 * 399 : edgeY;
    const auto g = PictureGrid(300, 400, 3.0, 3.0, x0, y0);
    TGeoDiagnostics d;
    ASSERT_TRUE(d.SetGrids(g.x, g.y, g.lon, g.lat));
    EXPECT_EQ(d.Sector(), c.northern ? 2 : 3);
    TLines lines;
    ASSERT_TRUE(d.TestGeometry(lines)) << lines.back();
    EXPECT_EQ(d.RowOffset, y0);
    EXPECT_NEAR(d.ColumnOffset, x0, 1);
    EXPECT_NEAR(d.VerticalSlope, 3.0, 0.01);
    EXPECT_NEAR(d.HorizontalSlope, 3.0, 0.01);
}

INSTANTIATE_TEST_SUITE_P(Sectors, SectorShortOfTheEquator,
                         ::testing::Values(ShortSectorCase{"northern", 2.4f, true},
                                           ShortSectorCase{"southern", -2.4f, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GeoDiagnostics, GridAwayFromTheSubSatellitePointIsRefused)
{
    // A crop of the southern mid-latitudes: neither -128 nor the equator is in it.
    const auto g = RegularGrid(180, 86, -60.5f, 0.01f, -33.0f, 0.01f);
    TGeoDiagnostics d;
    d.RowOffset = 4;
    ASSERT_TRUE(d.SetGrids(g.x, g.y, g.lon, g.lat));
    TLines lines;
    EXPECT_FALSE(d.TestGeometry(lines));
    EXPECT_EQ(lines.back(), "Refused: the grid does not reach the sub-satellite meridian (lon -128.00)");
    EXPECT_EQ(IndexOf(lines, "Fitting"), -1);
    EXPECT_EQ(d.RowOffset, 4);
}

TEST(GeoDiagnostics, FullDiskShortOfTheEquatorIsRefused)
{
    // Middle latitude 13: a full disk, whose fits start at the equator it does not reach.
    const auto g = RegularGrid(40, 2000, -148.0f, 1.0f, 14.0f, 0.001f);
    TGeoDiagnostics d;
    ASSERT_TRUE(d.SetGrids(g.x, g.y, g.lon, g.lat));
    ASSERT_EQ(d.Sector(), 1);
    TLines lines;
    EXPECT_FALSE(d.TestGeometry(lines));
    EXPECT_EQ(lines.back(), "Refused: the grid does not reach the sub-satellite point (lon -128.00, lat 0.00)");
}

TEST(GeoDiagnostics, SummaryTagsFollowTheMiddleLatitude)
{
    TempDir dir;
    const struct {
        float lat0;
        const char* tag;
    } cases[] = {{33.5f, " NH  Xc:0400 Yc:0270, "}, {13.5f, " FD  Xc:0400 Yc:0270, "}, {-6.5f, " SH  Xc:0400 Yc:0270, "}};
    for (const auto& c : cases) {
        const auto path = (dir.Path() / "g_geo.nc").string();
        const auto g = RegularGrid(400, 270, -160.0f, 0.1f, c.lat0, 0.1f);
        geotest::WriteGeoFile(path, 400, 270, g.lon, g.lat);
        TGeoDiagnostics d;
        TLines lines;
        EXPECT_NE(d.DiagnoseGeoFile(path, lines).find(c.tag), std::string::npos) << c.tag;
    }
}

TEST(GeoDiagnostics, GridTooNarrowForTheFitSamplesIsRefused)
{
    // 270 rows give a step of 10, so the columns need 100 either side of the middle.
    const auto g = RegularGrid(150, 270, -135.0f, 0.1f, 40.0f, 0.15f);
    TGeoDiagnostics d;
    d.RowOffset = 7;
    ASSERT_TRUE(d.SetGrids(g.x, g.y, g.lon, g.lat));
    TLines lines;
    EXPECT_FALSE(d.TestGeometry(lines));
    EXPECT_EQ(lines.back(), "Refused: grid too small for the fit samples (step 10, rows 35..235, columns -25..175)");
    EXPECT_EQ(IndexOf(lines, "Fitting"), -1);
    EXPECT_EQ(d.RowOffset, 7);
}

TEST(GeoDiagnostics, GridTooShortForAStepIsRefused)
{
    // 20 rows hold the grid sample but give a step of 0: every fit sample would coincide.
    const auto g = RegularGrid(50, 20, -130.0f, 0.1f, 38.0f, 2.0f);
    TGeoDiagnostics d;
    ASSERT_TRUE(d.SetGrids(g.x, g.y, g.lon, g.lat));
    TLines lines;
    EXPECT_FALSE(d.TestGeometry(lines));
    EXPECT_EQ(lines.back().rfind("Refused: grid too small for the fit samples (step 0,", 0), 0u);
}

TEST(GeoDiagnostics, FitResultsCarryOverToARefusedFile)
{
    TempDir dir;
    const auto good = (dir.Path() / "good_geo.nc").string();
    const auto g = RegularGrid(400, 401, -160.0f, 0.1f, 40.0f, 0.1f);
    geotest::WriteGeoFile(good, 400, 401, g.lon, g.lat);
    const auto small = (dir.Path() / "small_geo.nc").string();
    const auto s = RegularGrid(5, 5, -160.0f, 0.1f, 33.5f, 0.1f);
    geotest::WriteGeoFile(small, 5, 5, s.lon, s.lat);

    TGeoDiagnostics d;
    TLines lines;
    const auto first = d.DiagnoseGeoFile(good, lines);
    ASSERT_NE(d.VerticalSlope, 0.0f);
    const auto tailOf = [](const std::string& summary) { return summary.substr(summary.find("V:")); };
    const auto second = d.DiagnoseGeoFile(small, lines);
    EXPECT_EQ(tailOf(first), tailOf(second));
    EXPECT_EQ(second.rfind("small_geo.nc NH  Xc:0005 Yc:0005, V:", 0), 0u) << second;
    EXPECT_EQ(lines.back(), "Refused: grid too small for the 17 x 7 sample around its middle");
}

struct DamagedCase {
    const char* name;
    geotest::GeoFileLayout layout;
    const char* countsLine;
    const char* summaryCounts;
};

class DamagedFile : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedFile, IsRefusedWithOneLine)
{
    TempDir dir;
    const auto path = (dir.Path() / "bad_geo.nc").string();
    const auto g = RegularGrid(30, 30, -160.0f, 0.1f, 33.5f, 0.1f);
    geotest::WriteGeoFile(path, 30, 30, g.lon, g.lat, GetParam().layout);
    TGeoDiagnostics d;
    TLines lines;
    const auto summary = d.DiagnoseGeoFile(path, lines);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], GetParam().countsLine);
    EXPECT_EQ(lines[3], "Refused: no longitude and latitude grids could be read");
    EXPECT_EQ(summary, std::string("bad_geo.nc FD  ") + GetParam().summaryCounts + "V:0.0000 H:0.0000 row:0 col:0");
}

geotest::GeoFileLayout Layout(auto change)
{
    geotest::GeoFileLayout layout;
    change(layout);
    return layout;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, DamagedFile,
    ::testing::Values(
        DamagedCase{"no_lon", Layout([](auto& l) { l.writeLon = false; }), "x-count: 30  y-count: 30", "Xc:0030 Yc:0030, "},
        DamagedCase{"no_lat", Layout([](auto& l) { l.latName = "latitude"; }), "x-count: 30  y-count: 30",
                    "Xc:0030 Yc:0030, "},
        DamagedCase{"no_xc", Layout([](auto& l) { l.xName = "x"; }), "x-count: 0  y-count: 30", "Xc:0000 Yc:0030, "},
        DamagedCase{"no_yc", Layout([](auto& l) { l.yName = "rows"; }), "x-count: 30  y-count: 0", "Xc:0030 Yc:0000, "},
        // Grids larger than "xc" x "yc" would overrun the block the counts size.
        DamagedCase{"grid_larger_than_counts", Layout([](auto& l) { l.lonRows = 31, l.lonColumns = 30; }),
                    "x-count: 30  y-count: 30", "Xc:0030 Yc:0030, "},
        DamagedCase{"grid_smaller_than_counts", Layout([](auto& l) { l.lonRows = 29, l.lonColumns = 30; }),
                    "x-count: 30  y-count: 30", "Xc:0030 Yc:0030, "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GeoDiagnostics, DoubleGridsAreReadAsFloats)
{
    TempDir dir;
    const auto path = (dir.Path() / "double_geo.nc").string();
    const auto g = RegularGrid(400, 270, -160.0f, 0.1f, 33.5f, 0.1f);
    geotest::GeoFileLayout layout;
    layout.type = NC_DOUBLE;
    geotest::WriteGeoFile(path, 400, 270, g.lon, g.lat, layout);
    TGeoDiagnostics d;
    TLines lines;
    EXPECT_TRUE(d.ReadGeoFile(path, lines));
    EXPECT_FLOAT_EQ(d.MiddleLatitude(), 20.0f);
}

TEST(GeoDiagnostics, NotANetCdfFileIsRefused)
{
    TempDir dir;
    const auto path = dir.Path() / "text_geo.nc";
    std::ofstream(path) << "this is not a netCDF file at all";
    TGeoDiagnostics d;
    TLines lines;
    const auto summary = d.DiagnoseGeoFile(path.string(), lines);
    EXPECT_EQ(lines[2], "x-count: 0  y-count: 0");
    EXPECT_EQ(summary, "text_geo.nc FD  Xc:0000 Yc:0000, V:0.0000 H:0.0000 row:0 col:0");
    EXPECT_FALSE(d.ReadGeoFile((dir.Path() / "missing_geo.nc").string(), lines));
}

TEST(GeoDiagnostics, HugeDeclaredGridIsRefusedWithoutAllocating)
{
    TempDir dir;
    const auto path = (dir.Path() / "huge_geo.nc").string();
    {
        geotest::NcFile file(path);
        int dim = 0;
        file.Check(nc_def_dim(file.Id(), "xc", 100000, &dim), "xc");
        file.Check(nc_def_dim(file.Id(), "yc", 100000, &dim), "yc");
        file.Check(nc_enddef(file.Id()), "enddef");
    }
    TGeoDiagnostics d;
    TLines lines;
    d.DiagnoseGeoFile(path, lines);
    EXPECT_EQ(lines.back(), "Refused: a grid of 100000 x 100000 cells is larger than this program reads");
}

TEST(GeoDiagnostics, RealGoes13CropsRunThrough)
{
    const fs::path data = fs::path(ORVANTA_SHARED_DATA) / "goes13-class";
    if (!fs::exists(data))
        GTEST_SKIP() << "no real data at " << data;
    int files = 0;
    TGeoDiagnostics d;
    for (const auto& entry : fs::directory_iterator(data)) {
        if (entry.path().extension() != ".nc")
            continue;
        ++files;
        TLines lines;
        const auto summary = d.DiagnoseGeoFile(entry.path().string(), lines);
        // 180 x 86 cells near 33 S, 60 W: a southern crop far from the sub-satellite point.
        EXPECT_EQ(lines[2], "x-count: 180  y-count: 86");
        EXPECT_NE(summary.find(" SH  Xc:0180 Yc:0086, V:"), std::string::npos) << summary;
        // The sub-satellite meridian is not in the crop: no fit is made.
        EXPECT_EQ(lines.back(), "Refused: the grid does not reach the sub-satellite meridian (lon -128.00)");
        EXPECT_NE(IndexOf(lines, "Mid-point (row:43 col:90)   lat:-33."), -1);
    }
    EXPECT_GT(files, 0);
}

// --- the geolocation route -------------------------------------------------------------

std::string Compress(const std::string& data)
{
    std::string out(data.size() + data.size() / 100 + 600, '\0');
    unsigned length = static_cast<unsigned>(out.size());
    if (BZ2_bzBuffToBuffCompress(out.data(), &length, const_cast<char*>(data.data()), static_cast<unsigned>(data.size()),
                                 9, 0, 0) != BZ_OK)
        throw std::runtime_error("bzip2 failed");
    out.resize(length);
    return out;
}

class GeoRoute : public ::testing::Test {
protected:
    void SetUp() override
    {
        incoming_ = dir_.Path() / "in";
        raw_ = dir_.Path() / "raw";
        fs::create_directories(incoming_);
        fs::create_directories(raw_);
        environment_.RawArchiveRoot = [this] { return raw_.string() + "/"; };
        environment_.SaveAsNetCdf = [this] { return saveAsNetCdf_; };
        environment_.IncomingDirectory = [this] { return incoming_.string() + "/"; };
        environment_.ParseFileName = [](const std::string& path, double& time) {
            if (path.find("goes15.2013.150.") == std::string::npos)
                return false;
            time = 41424.5; // 2013-05-30 12:00
            return true;
        };
        environment_.UtcNow = [] { return 41425.25; }; // 2013-05-31 06:00
        // In a state directory that does not exist yet.
        environment_.GeoLogPath = (dir_.Path() / "state" / "orvanta-geo.log").string();
    }

    fs::path PlainGeoFile(const std::string& name)
    {
        const auto path = incoming_ / name;
        const auto g = RegularGrid(400, 401, -160.0f, 0.1f, 40.0f, 0.1f);
        geotest::WriteGeoFile(path.string(), 400, 401, g.lon, g.lat);
        return path;
    }

    fs::path CompressedGeoFile(const std::string& name)
    {
        const auto plain = PlainGeoFile("plain.tmp");
        const auto path = incoming_ / name;
        std::ofstream(path, std::ios::binary) << Compress(ReadText(plain));
        fs::remove(plain);
        return path;
    }

    TempDir dir_;
    fs::path incoming_, raw_;
    bool saveAsNetCdf_ = false;
    TGeoRouteEnvironment environment_;
};

TEST_F(GeoRoute, CompressedFileIsArchivedDiagnosedAndLogged)
{
    const auto incoming = CompressedGeoFile("goes15.2013.150.120000_geo.nc.bz2");
    saveAsNetCdf_ = true;
    TGeoDiagnostics d;
    TLines lines{"old report"};
    ASSERT_TRUE(d.ProcessGeoFile(incoming.string(), environment_, lines));

    const auto archived = raw_ / "2013/05/30/goes15.2013.150.120000_geo.nc";
    EXPECT_FALSE(fs::exists(incoming));
    EXPECT_TRUE(fs::exists(archived));
    EXPECT_FALSE(fs::exists(raw_ / "2013/05/30/goes15.2013.150.120000_geo.nc.bz2"));
    EXPECT_EQ(lines[0], archived.string());
    const auto log = ReadText(environment_.GeoLogPath);
    EXPECT_EQ(log.rfind("goes15.2013.150.120000_geo.nc NH  Xc:0400 Yc:0401, V:", 0), 0u) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);

    // A second file adds a second line; not kept, its decompressed content never lands in
    // the archive.
    const auto next = CompressedGeoFile("goes15.2013.150.123000_geo.nc.bz2");
    saveAsNetCdf_ = false;
    ASSERT_TRUE(d.ProcessGeoFile(next.string(), environment_, lines));
    EXPECT_FALSE(fs::exists(raw_ / "2013/05/30/goes15.2013.150.123000_geo.nc"));
    EXPECT_EQ(lines[0], (raw_ / "2013/05/30/goes15.2013.150.123000_geo.nc").string());
    EXPECT_NE(IndexOf(lines, "Suggest offsets:"), -1);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n') + 1,
              [&] {
                  const auto again = ReadText(environment_.GeoLogPath);
                  return std::count(again.begin(), again.end(), '\n');
              }());
}

TEST_F(GeoRoute, ArchivedCopyGoesUnlessSavedAsNetCdf)
{
    const auto incoming = PlainGeoFile("goes15.2013.150.120000_geo.nc");
    TGeoDiagnostics d;
    TLines lines;
    ASSERT_TRUE(d.ProcessGeoFile(incoming.string(), environment_, lines));
    EXPECT_FALSE(fs::exists(incoming));
    EXPECT_TRUE(fs::exists(raw_ / "2013/05/30"));
    EXPECT_TRUE(fs::is_empty(raw_ / "2013/05/30"));
    EXPECT_NE(IndexOf(lines, "Suggest offsets:"), -1);
}

// A file named on the command line outside the incoming directory may be the only copy; a
// file cut short must be refused, never fitted from the fill values the library hands back.
TEST_F(GeoRoute, OnlyIncomingFilesAreRemovedAndCutFilesAreRefused)
{
    const auto elsewhere = dir_.Path() / "goes15.2013.150.120000_geo.nc.bz2";
    fs::rename(CompressedGeoFile("goes15.2013.150.120000_geo.nc.bz2"), elsewhere);
    TGeoDiagnostics d;
    TLines lines;
    ASSERT_TRUE(d.ProcessGeoFile(elsewhere.string(), environment_, lines));
    EXPECT_TRUE(fs::exists(elsewhere));

    const auto cut = PlainGeoFile("goes15.2013.150.123000_geo.nc");
    fs::resize_file(cut, fs::file_size(cut) * 3 / 4);
    EXPECT_FALSE(d.ProcessGeoFile(cut.string(), environment_, lines));
    EXPECT_EQ(lines.back(), "Refused: the file is shorter than its header declares");
    const auto log = ReadText(environment_.GeoLogPath);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

TEST_F(GeoRoute, UnparsedNameIsArchivedUnderTodaysDate)
{
    const auto incoming = PlainGeoFile("goes15.20xx_geo.nc");
    saveAsNetCdf_ = true;
    TGeoDiagnostics d;
    TLines lines;
    ASSERT_TRUE(d.ProcessGeoFile(incoming.string(), environment_, lines));
    EXPECT_TRUE(fs::exists(raw_ / "2013/05/31/goes15.20xx_geo.nc"));
}

TEST_F(GeoRoute, DamagedCompressedDataFailsAndKeepsTheCompressedCopy)
{
    const auto incoming = incoming_ / "goes15.2013.150.120000_geo.nc.bz2";
    auto bytes = Compress(std::string(50000, 'x'));
    bytes.resize(bytes.size() / 2);
    bytes += std::string(100, '\x55');
    std::ofstream(incoming, std::ios::binary) << bytes;

    TGeoDiagnostics d;
    TLines lines;
    EXPECT_FALSE(d.ProcessGeoFile(incoming.string(), environment_, lines));
    EXPECT_FALSE(fs::exists(incoming));
    EXPECT_TRUE(fs::exists(raw_ / "2013/05/30/goes15.2013.150.120000_geo.nc.bz2"));
    EXPECT_FALSE(fs::exists(environment_.GeoLogPath));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].rfind("Could not decompress ", 0), 0u) << lines[2];
}

TEST_F(GeoRoute, UnwritableArchiveLeavesTheIncomingFile)
{
    const auto incoming = PlainGeoFile("goes15.2013.150.120000_geo.nc");
    fs::remove_all(raw_);
    std::ofstream(raw_) << "a file where the archive root should be";
    TGeoDiagnostics d;
    TLines lines;
    EXPECT_FALSE(d.ProcessGeoFile(incoming.string(), environment_, lines));
    EXPECT_TRUE(fs::exists(incoming));
    EXPECT_EQ(lines[2].rfind("Could not archive the file in ", 0), 0u) << lines[2];
    EXPECT_FALSE(fs::exists(environment_.GeoLogPath));
}

} // namespace

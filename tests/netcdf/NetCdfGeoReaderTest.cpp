#include "netcdf/NetCdfG15.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "mapping/GeoFileWriter.h"

namespace {

namespace fs = std::filesystem;

class NetCdfGoesGeoTest : public ::testing::Test {
protected:
    NetCdfGoesGeoTest()
    {
        dir_ = fs::temp_directory_path() / ("orvanta-geo-reader-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    ~NetCdfGoesGeoTest() override { fs::remove_all(dir_); }

    // 3 columns, 2 rows: lon = 10 * row + column, lat = -(10 * row + column).
    std::string Write(const geotest::GeoFileLayout& layout = {})
    {
        const auto path = (dir_ / "g_geo.nc").string();
        std::vector<float> lon, lat;
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 3; ++c) {
                lon.push_back(static_cast<float>(10 * r + c));
                lat.push_back(-static_cast<float>(10 * r + c));
            }
        geotest::WriteGeoFile(path, 3, 2, lon, lat, layout);
        return path;
    }
    fs::path dir_;
};

// From the file, and from its content in memory, where the floats are taken without the
// library (also when stored as doubles, which only the library converts).
TEST_F(NetCdfGoesGeoTest, ReadsDimensionsAndGridsRowByRow)
{
    for (const nc_type type : {NC_FLOAT, NC_DOUBLE}) {
        geotest::GeoFileLayout layout;
        layout.type = type;
        const std::string path = Write(layout);
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        for (const bool inMemory : {false, true}) {
            TNetCdfGoesGeo reader;
            ASSERT_TRUE(inMemory ? reader.OpenMemory(path, {bytes.data(), bytes.size()}) : reader.Open(path));
            reader.ReadDimensions();
            EXPECT_EQ(reader.XCount, 3);
            EXPECT_EQ(reader.YCount, 2);
            std::vector<float> lon(6, -1.0f), lat(6, -1.0f);
            EXPECT_TRUE(reader.ReadVariable("lon", lon));
            EXPECT_TRUE(reader.ReadVariable("lat", lat));
            EXPECT_EQ(lon, (std::vector<float>{0, 1, 2, 10, 11, 12})) << type << inMemory;
            EXPECT_EQ(lat, (std::vector<float>{0, -1, -2, -10, -11, -12})) << type << inMemory;
        }
    }
}

TEST_F(NetCdfGoesGeoTest, NothingIsReadWithoutAnOpenFile)
{
    TNetCdfGoesGeo reader;
    EXPECT_FALSE(reader.Open((dir_ / "missing.nc").string()));
    EXPECT_EQ(reader.ncId(), 0);
    reader.ReadDimensions();
    EXPECT_EQ(reader.XCount, 0);
    EXPECT_EQ(reader.YCount, 0);
    std::vector<float> grid(6, 7.0f);
    EXPECT_FALSE(reader.ReadVariable("lon", grid));
    EXPECT_EQ(grid, std::vector<float>(6, 7.0f));
}

TEST_F(NetCdfGoesGeoTest, RefusesAGridOfTheWrongSizeAndLeavesItAlone)
{
    TNetCdfGoesGeo reader;
    ASSERT_TRUE(reader.Open(Write()));
    reader.ReadDimensions();
    std::vector<float> small(5, 7.0f), large(7, 7.0f);
    EXPECT_FALSE(reader.ReadVariable("lon", small));
    EXPECT_FALSE(reader.ReadVariable("lon", large));
    EXPECT_EQ(small, std::vector<float>(5, 7.0f));
    std::vector<float> grid(6, 7.0f);
    EXPECT_FALSE(reader.ReadVariable("longitude", grid));
    EXPECT_EQ(grid, std::vector<float>(6, 7.0f));
}

TEST_F(NetCdfGoesGeoTest, RefusesAVariableOfAnotherSize)
{
    geotest::GeoFileLayout layout;
    layout.lonRows = 4;
    layout.lonColumns = 3;
    TNetCdfGoesGeo reader;
    ASSERT_TRUE(reader.Open(Write(layout)));
    reader.ReadDimensions();
    std::vector<float> grid(6, 7.0f);
    EXPECT_FALSE(reader.ReadVariable("lon", grid));
    EXPECT_EQ(grid, std::vector<float>(6, 7.0f));
}

TEST_F(NetCdfGoesGeoTest, MissingDimensionLeavesItsCountAtZero)
{
    geotest::GeoFileLayout layout;
    layout.yName = "lines";
    TNetCdfGoesGeo reader;
    ASSERT_TRUE(reader.Open(Write(layout)));
    reader.YCount = 0;
    reader.ReadDimensions();
    EXPECT_EQ(reader.XCount, 3);
    EXPECT_EQ(reader.YCount, 0);
}

TEST_F(NetCdfGoesGeoTest, ReopeningClosesTheFileHeldBefore)
{
    const auto openDescriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
    };
    TNetCdfGoesGeo reader;
    const auto path = Write();
    ASSERT_TRUE(reader.Open(path));
    const auto held = openDescriptors();
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(openDescriptors(), held);
    EXPECT_EQ(reader.fileName(), path);
}

} // namespace

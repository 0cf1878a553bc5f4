#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "geotiff/GeoTiffFile.h"
#include "imaging/BMPExtImage.h"
#include "imaging/TempDir.h"
#include "mapping/CompositeLayout.h"
#include "mapping/DiscMask.h"
#include "mapping/AbiGrid.h"
#include "mapping/GeostationaryView.h"
#include "mapping/SegmentStuff.h"

namespace {

std::string RunCommand(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

TExtBitmap GreyPicture(int width, int height)
{
    TExtBitmap image(width, height);
    image.MakeGreyPalette();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.ScanLine(y)[x] = static_cast<std::uint8_t>((x * 7 + y * 3) & 0xFF);
    return image;
}

class GeoTiffFileTest : public TempDirTest {
protected:
    // The composite's own picture, georeferenced by its mapping.
    std::string WriteComposite(const std::string& name, const std::vector<TDiscRun>* valid = nullptr)
    {
        const auto view = GeostationaryView(CompositeMapping());
        EXPECT_TRUE(view.has_value());
        TGeoTiffContent content;
        content.Image = &picture;
        content.View = *view;
        content.Valid = valid;
        content.Metadata = {{"TIFFTAG_DATETIME", "2013:05:30 12:00:00"}, {"BAND", "4"}};
        const std::string file = path(name);
        EXPECT_EQ(WriteGeoTiff(file, content), "");
        return file;
    }

    TExtBitmap picture = GreyPicture(CompositeWidth, CompositeHeight);
};

// A GIS must put every pixel where the station's own conversion says it shows: a wrong
// sweep axis, ellipsoid, height or half-pixel shift moves the disc's edges by many pixels. The
// GOES-15 composite's rows, and the ABI's fixed grid of GOES-18 and GOES-19.
TEST_F(GeoTiffFileTest, GdalPlacesPixelCentresWhereTheMappingDoes)
{
    const TSegmentMapping composite = CompositeMapping();
    TAbiProjection west, east;
    west.SubLongitude = -137.0;
    east.SubLongitude = -75.2;
    const TAbiGridMapping abiWest(west), abiEast(east);
    const TExtBitmap abiPicture = GreyPicture(AbiGridSize, AbiGridSize);
    const struct {
        const char* name;
        const TMapping* mapping;
        std::optional<TGeostationaryView> view;
        const TExtBitmap* picture;
    } rows[] = {
        {"composite", &composite, GeostationaryView(composite), &picture},
        {"G18", &abiWest, AbiGeostationaryView(west), &abiPicture},
        {"G19", &abiEast, AbiGeostationaryView(east), &abiPicture},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(row.view.has_value());
        TGeoTiffContent content;
        content.Image = row.picture;
        content.View = *row.view;
        const std::string file = path(std::string(row.name) + ".tif");
        ASSERT_EQ(WriteGeoTiff(file, content), "");
        std::ostringstream points;
        std::vector<std::pair<int, int>> pixels;
        char line[96];
        const int step = row.picture->Width() / 44;
        for (int y = 8; y < row.picture->Height(); y += step)
            for (int x = 8; x < row.picture->Width(); x += step) {
                float lon = 0, lat = 0;
                if (!row.mapping->PixelToGeo(x, y, lon, lat))
                    continue;
                std::snprintf(line, sizeof line, "%.9f %.9f\n", lon, lat);
                points << line;
                pixels.emplace_back(x, y);
            }
        ASSERT_GE(pixels.size(), 1000u);
        const std::string input = path("points.txt");
        std::ofstream(input) << points.str();
        std::istringstream out(RunCommand("gdaltransform -i -t_srs EPSG:4326 -output_xy " + file + " < " + input));
        double worst = 0;
        for (const auto& [x, y] : pixels) {
            double column = 0, lineNumber = 0;
            ASSERT_TRUE(out >> column >> lineNumber) << "no answer for pixel " << x << ", " << y;
            // GDAL counts from the pixel's corner, the station from its centre.
            worst = std::max({worst, std::fabs(column - (x + 0.5)), std::fabs(lineNumber - (y + 0.5))});
        }
        EXPECT_LT(worst, 0.1);
    }
}

TEST_F(GeoTiffFileTest, GdalinfoShowsTheGeostationaryViewAndACloudOptimizedLayout)
{
    const std::vector<TDiscRun> valid = DiscRuns(CompositeMapping());
    const std::string info = RunCommand("gdalinfo -json " + WriteComposite("info.tif", &valid) + " 2>/dev/null");
    // The mapping's own Earth: 6378.140 and 6356.755 km, the satellite 42155 km from the
    // centre, above 128 W (135 W shifted 7 degrees east).
    for (const char* expected :
         {"METHOD[\\\"Geostationary Satellite (Sweep Y)\\\"]", "ELLIPSOID[\\\"unknown\\\",6378140,298.252981",
          "Longitude of natural origin\\\",-128,", "Satellite Height\\\",35776860,", "\"LAYOUT\":\"COG\"",
          "\"COMPRESSION\":\"DEFLATE\"", "\"block\":[\n        512,\n        512\n      ]", "\"overviews\":[",
          "PER_DATASET", "\"TIFFTAG_DATETIME\":\"2013:05:30 12:00:00\""})
        EXPECT_NE(info.find(expected), std::string::npos) << expected << "\n" << info;
    // GDAL's own judge of the layout: a file that only claims to be cloud optimized (overviews
    // after the picture, tiles out of order) reads slowly over HTTP.
    const std::string validator = "/usr/lib/python3/dist-packages/osgeo_utils/samples/validate_cloud_optimized_geotiff.py";
    ASSERT_TRUE(std::filesystem::exists(validator)) << "install python3-gdal (scripts/deps does)";
    const std::string verdict = RunCommand("/usr/bin/python3 " + validator + " " + path("info.tif") + " 2>&1");
    EXPECT_NE(verdict.find("is a valid cloud optimized GeoTIFF"), std::string::npos) << verdict;
}

TEST_F(GeoTiffFileTest, ReadsBackTheGreysAndRefusesAnotherSize)
{
    const std::string file = WriteComposite("back.tif");
    TExtBitmap back(CompositeWidth, CompositeHeight);
    std::string why;
    ASSERT_TRUE(ReadGeoTiffGrey(file, back, why)) << why;
    for (int y = 0; y < CompositeHeight; y += 97)
        ASSERT_TRUE(std::equal(back.ScanLine(y), back.ScanLine(y) + CompositeWidth, picture.ScanLine(y))) << y;
    TExtBitmap small(10, 10);
    EXPECT_FALSE(ReadGeoTiffGrey(file, small, why));
    EXPECT_EQ(why, "2816 x 3248, not 10 x 10");
}

// Complete or not at all: a file that cannot be made leaves the older file of that name
// untouched and says GDAL's reason.
TEST_F(GeoTiffFileTest, AFailedWriteKeepsTheOlderFileAndSaysWhy)
{
    const std::string file = WriteComposite("kept.tif");
    const auto before = std::filesystem::file_size(file);
    // A disk that takes no more than a few bytes of the new file.
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const struct rlimit small {4096, limit.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    TGeoTiffContent content;
    content.Image = &picture;
    content.View = *GeostationaryView(CompositeMapping());
    const std::string why = WriteGeoTiff(file, content);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(why, "cannot write the file: File too large");
    EXPECT_EQ(std::filesystem::file_size(file), before);
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(file).parent_path()))
        EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos) << entry.path();
}

} // namespace

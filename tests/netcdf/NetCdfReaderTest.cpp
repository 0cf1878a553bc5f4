#include <gtest/gtest.h>

#include <functional>

#include <netcdf.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <tuple>
#include <vector>

#include "NcFixture.h"
#include "imaging/BMPExtImage.h"
#include "netcdf/NetCdfG15.h"

namespace {

// height, start line, sector before, sector after
using SectorCase = std::tuple<std::uint32_t, std::int32_t, std::uint8_t, std::uint8_t>;
class SectorRule : public ::testing::TestWithParam<SectorCase> {};

TEST_P(SectorRule, DecidesFromHeightThenStartLine)
{
    const auto [height, startLine, before, after] = GetParam();
    EXPECT_EQ(DecideSector(height, startLine, before), after);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, SectorRule,
    ::testing::Values(SectorCase{2395, 6000, 0, 1}, SectorCase{2704, 20000, 0, 1}, SectorCase{2705, -7, 0, 1},
                      SectorCase{2703, 4000, 0, 2}, SectorCase{2706, 4000, 0, 2}, SectorCase{100, 5000, 0, 2},
                      SectorCase{100, 5001, 0, 3}, SectorCase{100, 10000, 0, 3}, SectorCase{100, 10001, 0, 0},
                      SectorCase{100, 10001, 3, 3}, SectorCase{100, -1, 0, 0}, SectorCase{0, 0, 0, 2}));

TEST(NetCdfGoes15, NoFileOpen)
{
    TNetCdfGoes15 nc;
    EXPECT_EQ(nc.ncId(), 0);
    EXPECT_FALSE(nc.Open("/nonexistent/goes15.nc"));
    EXPECT_EQ(nc.ncId(), 0);
    EXPECT_EQ(nc.fileName(), "/nonexistent/goes15.nc");
    EXPECT_FALSE(nc.ReadHeader());
    EXPECT_EQ(nc.Sector, SectorNorthern); // start line 0, height 0
    EXPECT_EQ(nc.Width, 0u);
    std::vector<float> buffer(4, 7.0f);
    EXPECT_FALSE(nc.ReadData(buffer));
    EXPECT_EQ(buffer[0], 7.0f);

    TExtBitmap bmp(5, 5);
    EXPECT_TRUE(nc.MakeBitmap(&bmp, 1.0f));
    EXPECT_EQ(bmp.Width(), 0);
    EXPECT_EQ(bmp.Height(), 0);
}

TEST(NetCdfGoes15, AFileThatIsNotNetCdfDoesNotOpen)
{
    TempDir dir;
    const auto path = dir / "junk.nc";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs("CDF\x01 but not really", f);
    std::fclose(f);
    TNetCdfGoes15 nc;
    EXPECT_FALSE(nc.Open(path));
    EXPECT_FALSE(nc.isOpen());
}

// netCDF-4?, data type, (time, yc, xc)?
using LayoutCase = std::tuple<bool, nc_type, bool>;
class FileLayouts : public ::testing::TestWithParam<LayoutCase> {
protected:
    ScanFile LayoutFile(std::size_t width, std::size_t height) const
    {
        ScanFile file;
        std::tie(file.netcdf4, file.dataType, file.withTime) = GetParam();
        file.width = width;
        file.height = height;
        return file;
    }
};

TEST_P(FileLayouts, HeaderAndDataAreRead)
{
    TempDir dir;
    ScanFile file = LayoutFile(5, 3);
    ASSERT_NO_FATAL_FAILURE(writeScanFile(dir / "scan.nc", file));

    TNetCdfGoes15 nc;
    ASSERT_TRUE(nc.Open(dir / "scan.nc"));
    ASSERT_TRUE(nc.ReadHeader());
    EXPECT_EQ(nc.StartLine, 4000);
    EXPECT_EQ(nc.StartElement, 2500);
    EXPECT_EQ(nc.GetLineResolution(), 4);
    EXPECT_EQ(nc.GetElementResolution(), 4);
    EXPECT_EQ(nc.Band, 4);
    EXPECT_EQ(nc.Width, 5u);
    EXPECT_EQ(nc.Height, 3u);
    EXPECT_EQ(nc.Sector, SectorNorthern);

    std::vector<float> buffer(15, -1.0f);
    ASSERT_TRUE(nc.ReadData(buffer));
    EXPECT_GT(nc.DataVarId, 0);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(buffer[i], static_cast<float>(i));
}

// Rows read and calibrated as the content arrives must give the image read whole, across
// several batches of rows; where the bytes stop coming, or the file is not a classic one whose
// samples come last, nothing is vouched for.
TEST_P(FileLayouts, RowsReadAsTheyArriveGiveTheWholeImage)
{
    TempDir dir;
    ScanFile file = LayoutFile(7, 75);
    for (std::size_t i = 0; i < file.width * file.height; ++i)
        file.data.push_back(static_cast<double>(i % 100));
    for (const double band : {1.0, 4.0}) {
        file.scalars["bands"] = band;
        ASSERT_NO_FATAL_FAILURE(writeScanFile(dir / "scan.nc", file));
        std::ifstream in(dir / "scan.nc", std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        TNetCdfGoes15 whole, arriving, cut;
        TExtBitmap wholeImage, arrivingImage, cutImage;
        ASSERT_TRUE(whole.OpenMemory("scan.nc", bytes) && whole.ReadHeader());
        ASSERT_TRUE(whole.MakeBitmap(&wholeImage, 1.8f));
        ASSERT_TRUE(arriving.OpenMemory("scan.nc", bytes) && arriving.ReadHeader());
        std::uint64_t asked = 0;
        const bool read = arriving.MakeBitmapAsArriving(&arrivingImage, 1.8f, [&](std::uint64_t end) {
            EXPECT_GT(end, asked);
            asked = end;
            return end <= bytes.size();
        });
        ASSERT_EQ(read, !file.netcdf4) << band;
        if (read) {
            // Up to the last sample, which may be followed by padding.
            EXPECT_LE(bytes.size() - asked, 3u);
            ASSERT_EQ(arrivingImage.Height(), wholeImage.Height());
            for (int y = 0; y < wholeImage.Height(); ++y)
                ASSERT_EQ(std::memcmp(arrivingImage.ScanLine(y), wholeImage.ScanLine(y), file.width), 0) << y;
        }
        ASSERT_TRUE(cut.OpenMemory("scan.nc", bytes) && cut.ReadHeader());
        EXPECT_FALSE(cut.MakeBitmapAsArriving(&cutImage, 1.8f, [&](std::uint64_t end) { return end < bytes.size() / 2; }));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Classic, FileLayouts,
    ::testing::Combine(::testing::Values(false), ::testing::Values(NC_FLOAT, NC_DOUBLE, NC_SHORT, NC_INT, NC_BYTE),
                       ::testing::Bool()));
INSTANTIATE_TEST_SUITE_P(
    Hdf5, FileLayouts,
    ::testing::Combine(::testing::Values(true),
                       ::testing::Values(NC_FLOAT, NC_DOUBLE, NC_USHORT, NC_UBYTE, NC_INT64, NC_UINT),
                       ::testing::Bool()));

TEST(NetCdfGoes15, ScalarsOfOtherTypesAndMissingOnesGiveZero)
{
    TempDir dir;
    ScanFile file;
    file.scalarType = NC_DOUBLE;
    file.scalars.erase("lineRes");
    file.scalars["startLine"] = 7000.0;
    ASSERT_NO_FATAL_FAILURE(writeScanFile(dir / "a.nc", file));
    ScanFile other;
    other.scalars["lineRes"] = 8;
    ASSERT_NO_FATAL_FAILURE(writeScanFile(dir / "b.nc", other));

    TNetCdfGoes15 nc;
    ASSERT_TRUE(nc.Open(dir / "b.nc"));
    ASSERT_TRUE(nc.ReadHeader());
    EXPECT_EQ(nc.LineResolution, 8);
    // The same reader on a file without "lineRes" must not keep the earlier value.
    ASSERT_TRUE(nc.Open(dir / "a.nc"));
    ASSERT_TRUE(nc.ReadHeader());
    EXPECT_EQ(nc.LineResolution, 0);
    EXPECT_EQ(nc.StartLine, 7000);
    EXPECT_EQ(nc.Sector, SectorSouthern);
}

// How many descriptors of this process have the file open.
int openCount(const std::filesystem::path& file)
{
    int n = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(fd.path(), ec) == file)
            ++n;
    }
    return n;
}

TEST(NetCdfGoes15, ReopeningAndFreeingCloseTheFile)
{
    TempDir dir;
    const auto a = std::filesystem::canonical(std::filesystem::path(dir / "a.nc").parent_path()) / "a.nc";
    const auto b = a.parent_path() / "b.nc";
    ASSERT_NO_FATAL_FAILURE(writeScanFile(a, ScanFile{}));
    ASSERT_NO_FATAL_FAILURE(writeScanFile(b, ScanFile{}));
    {
        TNetCdfGoes15 nc;
        ASSERT_TRUE(nc.Open(a));
        EXPECT_EQ(openCount(a), 1);
        ASSERT_TRUE(nc.Open(b));
        EXPECT_EQ(openCount(a), 0);
        EXPECT_EQ(openCount(b), 1);
        EXPECT_FALSE(nc.Open(a.parent_path() / "missing.nc"));
        EXPECT_EQ(openCount(b), 0);
        EXPECT_FALSE(nc.isOpen());
        ASSERT_TRUE(nc.Open(a));
    }
    EXPECT_EQ(openCount(a), 0);
}

TEST(NetCdfGoes15, DataThatDoesNotFitTheGridIsNotRead)
{
    TempDir dir;
    const auto path = dir / "odd.nc";
    int id = 0, yc = 0, xc = 0, other = 0, var = 0;
    NC_CHECK(nc_create(path.c_str(), NC_CLOBBER, &id));
    NC_CHECK(nc_def_dim(id, "yc", 3, &yc));
    NC_CHECK(nc_def_dim(id, "xc", 4, &xc));
    NC_CHECK(nc_def_dim(id, "big", 50, &other));
    const int dims[] = {other, xc}; // 200 values where the grid holds 12
    NC_CHECK(nc_def_var(id, "data", NC_FLOAT, 2, dims, &var));
    NC_CHECK(nc_close(id));

    TNetCdfGoes15 nc;
    ASSERT_TRUE(nc.Open(path));
    ASSERT_TRUE(nc.ReadHeader());
    std::vector<float> buffer(12, 5.0f);
    EXPECT_FALSE(nc.ReadData(buffer));
    EXPECT_EQ(buffer, std::vector<float>(12, 5.0f));
    // A buffer smaller than the grid is never written either.
    ScanFile plain;
    ASSERT_NO_FATAL_FAILURE(writeScanFile(dir / "plain.nc", plain));
    ASSERT_TRUE(nc.Open(dir / "plain.nc"));
    ASSERT_TRUE(nc.ReadHeader());
    std::vector<float> small(11, 5.0f);
    EXPECT_FALSE(nc.ReadData(small));
    EXPECT_EQ(small, std::vector<float>(11, 5.0f));
}

struct DamagedCase {
    const char* name;
    std::function<void(const std::filesystem::path&)> make;
    const char* problem;
};

class DamagedScans : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedScans, SamplesThatCannotAllBeReadAreReported)
{
    TempDir dir;
    const auto path = dir / "scan.nc";
    ASSERT_NO_FATAL_FAILURE(GetParam().make(path));
    TNetCdfGoes15 nc;
    ASSERT_TRUE(nc.Open(path));
    nc.ReadHeader();
    TExtBitmap bmp(2, 2);
    EXPECT_TRUE(nc.MakeBitmap(&bmp, 1.0f));
    EXPECT_EQ(nc.SampleProblem(), GetParam().problem);
}

void Sound(const std::filesystem::path& p)
{
    ScanFile f;
    f.width = 100;
    f.height = 50;
    writeScanFile(p, f);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedScans,
    ::testing::Values(
        DamagedCase{"sound", Sound, ""},
        DamagedCase{"noData", [](const auto& p) { ScanFile f; f.defineData = false; writeScanFile(p, f); },
                    "no \"data\" variable"},
        DamagedCase{"textData", [](const auto& p) { ScanFile f; f.dataType = NC_CHAR; f.writeData = false; writeScanFile(p, f); },
                    "\"data\" is not numeric"},
        DamagedCase{"otherShape",
                    [](const auto& p) {
                        int id = 0, yc = 0, xc = 0, other = 0, v = 0;
                        NC_CHECK(nc_create(p.c_str(), NC_CLOBBER, &id));
                        NC_CHECK(nc_def_dim(id, "yc", 3, &yc));
                        NC_CHECK(nc_def_dim(id, "xc", 4, &xc));
                        NC_CHECK(nc_def_dim(id, "other", 7, &other));
                        const int dims[] = {other, xc};
                        NC_CHECK(nc_def_var(id, "data", NC_FLOAT, 2, dims, &v));
                        NC_CHECK(nc_close(id));
                    },
                    "\"data\" does not match the grid"},
        // A file cut short inside its samples: the library would hand back whatever it held.
        DamagedCase{"cutShort",
                    [](const auto& p) {
                        Sound(p);
                        std::filesystem::resize_file(p, std::filesystem::file_size(p) - 400);
                    },
                    "file is shorter than its header declares"},
        // 32 KB that claim 10 000 x 10 000 samples.
        DamagedCase{"claimsTooMuch",
                    [](const auto& p) {
                        int id = 0, yc = 0, xc = 0, v = 0, old = 0;
                        NC_CHECK(nc_create(p.c_str(), NC_CLOBBER | NC_64BIT_OFFSET, &id));
                        NC_CHECK(nc_set_fill(id, NC_NOFILL, &old));
                        NC_CHECK(nc_def_dim(id, "yc", 10000, &yc));
                        NC_CHECK(nc_def_dim(id, "xc", 10000, &xc));
                        const int dims[] = {yc, xc};
                        NC_CHECK(nc_def_var(id, "data", NC_FLOAT, 2, dims, &v));
                        NC_CHECK(nc_close(id));
                        std::filesystem::resize_file(p, 32768);
                    },
                    "file is shorter than its header declares"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NetCdfGoes15, HugeGridsAreRefusedWithoutAllocating)
{
    TempDir dir;
    for (auto [w, h] : {std::pair<std::size_t, std::size_t>{65536, 65536}, {70000, 70000}, {20000, 20000},
                        {1, 100'000'001}}) {
        ScanFile file;
        file.netcdf4 = true; // chunked storage: nothing is written for the unwritten grid
        file.width = w;
        file.height = h;
        file.writeData = false;
        ASSERT_NO_FATAL_FAILURE(writeScanFile(dir / "huge.nc", file));
        TNetCdfGoes15 nc;
        ASSERT_TRUE(nc.Open(dir / "huge.nc"));
        EXPECT_FALSE(nc.ReadHeader()) << w << " x " << h;
        std::vector<float> buffer(4);
        EXPECT_FALSE(nc.ReadData(buffer));
        TExtBitmap bmp(2, 2);
        EXPECT_TRUE(nc.MakeBitmap(&bmp, 1.0f));
        EXPECT_EQ(bmp.Width(), 0);
        EXPECT_EQ(bmp.Height(), 0);
    }
}

TEST(NetCdfGoes15, RealGoes13FilesOpen)
{
    const auto folder = sharedData("goes13-class");
    if (!folder)
        GTEST_SKIP() << "shared data not present";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(*folder)) {
        if (entry.path().extension() != ".nc")
            continue;
        ++files;
        TNetCdfGoes15 nc;
        ASSERT_TRUE(nc.Open(entry.path())) << entry.path();
        ASSERT_TRUE(nc.ReadHeader());
        EXPECT_EQ(nc.Width, 180u);
        EXPECT_EQ(nc.Height, 86u);
        EXPECT_EQ(nc.Band, 1);
        EXPECT_GT(nc.StartLine, 0);
        EXPECT_GT(nc.StartElement, 0);
        EXPECT_GT(nc.LineResolution, 0);
        EXPECT_GT(nc.ElementResolution, 0);
        std::vector<float> buffer(180 * 86, -1.0f);
        ASSERT_TRUE(nc.ReadData(buffer));
        // Raw 10-bit counts times 32.
        for (float v : buffer) {
            ASSERT_GE(v, 0.0f);
            ASSERT_LT(v, 1024.0f * 32.0f);
            ASSERT_EQ(std::fmod(v, 32.0f), 0.0f);
        }
        TExtBitmap bmp;
        ASSERT_TRUE(nc.MakeBitmap(&bmp, 1.0f));
        EXPECT_EQ(bmp.Width(), 180);
        EXPECT_EQ(bmp.Height(), 86);
    }
    EXPECT_GT(files, 0);
}

} // namespace

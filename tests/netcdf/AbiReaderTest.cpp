#include <gtest/gtest.h>

#include <netcdf.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "NcFixture.h"
#include "support/AbiFile.h"
#include "netcdf/AbiL1b.h"
#include "netcdf/RadianceToModeAlookup.h"
#include "netcdf/VisibleLookup.h"

namespace {

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(AbiName, TakesOnlyNamesThatCanBe)
{
    struct Row {
        const char* name;
        const char* problem; // empty: taken
        TAbiSector sector = TAbiSector::FullDisk;
        int satellite = 0, band = 0, mode = 0;
        int day = 0, hour = 0, minute = 0, second = 0, msec = 0; // the start in December 2026; day 0: unchecked
    };
    const Row rows[] = {
        {"OR_ABI-L1b-RadF-M6C13_G18_s20263421200217_e20263421209518_c20263421209580.nc", "", TAbiSector::FullDisk, 18,
         13, 6, 8, 12, 0, 21, 700},
        {"/in/OR_ABI-L1b-RadC-M3C02_G16_s20263352359599_e20263360004372_c20263360004410.nc.bz2", "", TAbiSector::Conus,
         16, 2, 3, 1, 23, 59, 59, 900},
        {"OR_ABI-L1b-RadM1-M4C07_G19_s20263420000000_e20263420000000_c20263420000000.nc", "", TAbiSector::Meso1, 19, 7,
         4, 8, 0, 0, 0, 0},
        {"OR_ABI-L1b-RadM2-M6C01_G17_s20243661000000_e20243661000000_c20243661000000.nc", "", TAbiSector::Meso2, 17, 1,
         6, 0, 0, 0, 0, 0},
        {"OR_ABI-L1b-RadF-M6C13_G18_s20253661200210_e20253661209518_c20253661209580.nc", "day 366 of 2025"},
        {"OR_ABI-L1b-RadF-M6C13_G18_s20263422400000_e20263421209518_c20263421209580.nc", "is no time"},
        {"OR_ABI-L1b-RadF-M6C13_G15_s20263421200210_e20263421209518_c20263421209580.nc", "no satellite G16 to G19"},
        {"OR_ABI-L1b-RadF-M6C17_G18_s20263421200210_e20263421209518_c20263421209580.nc", "no band C01 to C16"},
        {"OR_ABI-L1b-RadF-M6C13_G18_s20263421200210_e20263421209518.nc", "no creation time"},
        {"goes15.2026.342.120021.BAND_04.nc", "does not start with OR_ABI-L1b-Rad"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto name = ParseAbiFileName(row.name);
        const std::string problem = AbiNameProblem(row.name);
        ASSERT_EQ(name.has_value(), problem.empty()) << problem;
        if (*row.problem != '\0') {
            EXPECT_NE(problem.find(row.problem), std::string::npos) << problem;
            continue;
        }
        EXPECT_EQ(name->Sector, row.sector);
        EXPECT_EQ(name->Satellite, row.satellite);
        EXPECT_EQ(name->Band, row.band);
        EXPECT_EQ(name->Mode, row.mode);
        if (row.day != 0) {
            const TDateTime start =
                *TryEncodeDate(2026, 12, row.day) + *TryEncodeTime(row.hour, row.minute, row.second, row.msec);
            EXPECT_NEAR(name->Start, start, 1e-9);
        }
    }
}

// The radiance a file's packed value stands for, in the reader's precision.
double Radiance(const AbiFile& f, std::uint16_t raw) { return raw * double{f.scale} + double{f.offset}; }

TEST(AbiReader, CalibratesOntoTheTwoKilometreGrid)
{
    struct Row {
        int band;
        std::size_t width, height;
        int column, row;
        float gamma;
    };
    // 8 x 6 pixels at 2 km, placed at 2 km pixel (1000, 500).
    const Row rows[] = {{13, 8, 6, 1000, 500, 1.0f}, {1, 16, 12, 2000, 1000, 1.0f}, {2, 32, 24, 4000, 2000, 1.8f}};
    for (const Row& row : rows) {
        SCOPED_TRACE("band " + std::to_string(row.band));
        AbiFile f;
        f.band = row.band;
        f.width = row.width;
        f.height = row.height;
        f.column = row.column;
        f.row = row.row;
        if (row.band < 7) {
            f.scale = 0.8121064f;
            f.offset = -25.93665f;
            f.fill = 1023;
        }
        const int factor = Factor(f);
        TAbiQuality quality;
        for (std::size_t j = 0; j < f.height; ++j) {
            for (std::size_t i = 0; i < f.width; ++i) {
                const std::size_t n = j * f.width + i;
                // The first 2 km pixel has no good native pixel; the others mix every kind.
                const bool firstBlock = i < static_cast<std::size_t>(factor) && j < static_cast<std::size_t>(factor);
                std::uint8_t flag = n % 5 == 1 ? 1 : n % 7 == 2 ? 2 : n % 11 == 3 ? 3 : 0;
                if (firstBlock)
                    flag = n % 2 == 0 ? 2 : 3;
                std::uint16_t raw = static_cast<std::uint16_t>(n == 1 ? 0 : 90 + (n * 37) % 900);
                if ((n % 13 == 4 && flag < 2) || (firstBlock && i == 0 && j == 0))
                    raw = f.fill;
                f.raw.push_back(raw);
                f.dqf.push_back(flag);
                const std::uint8_t kind = raw == f.fill ? 3 : flag;
                ++(kind == 0   ? quality.Good
                   : kind == 1 ? quality.Conditional
                   : kind == 2 ? quality.OutOfRange
                               : quality.NoValue);
            }
        }
        TempDir dir;
        const auto path = dir / AbiName(f);
        WriteAbiFile(path, f);
        const std::string content = ReadFile(path);
        for (const std::span<const char> bytes : {std::span<const char>{}, std::span<const char>(content)}) {
            SCOPED_TRACE(bytes.empty() ? "from the file" : "from memory");
            TAbiScan scan;
            ASSERT_EQ(ReadAbiScan(path.string(), bytes, row.gamma, scan), "");
            EXPECT_EQ(scan.X, 1000);
            EXPECT_EQ(scan.Y, 500);
            EXPECT_EQ(scan.Name.Band, row.band);
            EXPECT_DOUBLE_EQ(scan.Projection.SubLongitude, -137.2);
            EXPECT_EQ(scan.Quality.Good, quality.Good);
            EXPECT_EQ(scan.Quality.Conditional, quality.Conditional);
            EXPECT_EQ(scan.Quality.OutOfRange, quality.OutOfRange);
            EXPECT_EQ(scan.Quality.NoValue, quality.NoValue);
            EXPECT_FLOAT_EQ(scan.Quality.PercentGood, 0.75);
            ASSERT_EQ(scan.Grey.Width(), 8);
            ASSERT_EQ(scan.Grey.Height(), 6);
            ASSERT_EQ(scan.Valid.Width(), 8);
            const TVisibleLookup visible(row.gamma);
            for (int y = 0; y < 6; ++y) {
                for (int x = 0; x < 8; ++x) {
                    double sum = 0;
                    int count = 0;
                    for (int j = y * factor; j < (y + 1) * factor; ++j) {
                        for (int i = x * factor; i < (x + 1) * factor; ++i) {
                            const std::size_t n = static_cast<std::size_t>(j) * f.width + static_cast<std::size_t>(i);
                            if (f.raw[n] != f.fill && f.dqf[n] < 2) {
                                sum += Radiance(f, f.raw[n]);
                                ++count;
                            }
                        }
                    }
                    int grey = 0;
                    if (count != 0 && row.band < 7) {
                        grey = VisibleToCount(static_cast<float>(100.0 * double{f.kappa0} * (sum / count)), row.gamma);
                    } else if (count != 0) {
                        const double l = sum / count;
                        const double kelvin =
                            (double{f.fk2} / std::log(double{f.fk1} / l + 1.0) - double{f.bc1}) / double{f.bc2};
                        grey = l > 0 ? KelvinToCount(kelvin) : 255;
                    }
                    SCOPED_TRACE("pixel " + std::to_string(x) + ", " + std::to_string(y));
                    EXPECT_EQ(scan.Valid.ScanLine(y)[x], count != 0 ? 255 : 0);
                    EXPECT_EQ(scan.Grey.ScanLine(y)[x], grey);
                }
            }
            EXPECT_EQ(scan.Valid.ScanLine(0)[0], 0);
        }
    }
}

TEST(AbiReader, RefusesFilesItCannotPlaceOrCalibrate)
{
    struct Row {
        const char* what;
        std::function<void(AbiFile&)> change;
        const char* reason;
    };
    const Row rows[] = {
        {"no Rad", [](AbiFile& f) { f.missing = {"Rad"}; }, "no Rad variable"},
        {"Rad of floats", [](AbiFile& f) { f.radType = NC_FLOAT; }, "Rad is not 16-bit"},
        {"DQF across", [](AbiFile& f) { f.dqfSwapped = true; }, "DQF is not (y, x)"},
        {"x too long", [](AbiFile& f) { f.xLength = 9; }, "x is not one value per pixel of Rad"},
        {"larger than a full disk", [](AbiFile& f) { f.hugeSide = 100000; }, "larger than band 13's full disk"},
        {"sweep about y", [](AbiFile& f) { f.sweep = "y"; }, "sweep_angle_axis y, not the x of GOES"},
        {"longitude 400", [](AbiFile& f) { f.longitude = 400; }, "400 is not a longitude"},
        {"band_id of another band", [](AbiFile& f) { f.bandId = 7; }, "band_id 7 disagrees with the name's band 13"},
        {"no planck_fk1", [](AbiFile& f) { f.missing = {"planck_fk1"}; }, "no planck_fk1"},
        {"half a pixel off", [](AbiFile& f) { f.xShift = AbiGridStep / 2; }, "does not start on a whole pixel"},
        {"1 km window across 2 km pixels",
         [](AbiFile& f) {
             f.band = 3;
             f.width = 16;
             f.height = 12;
             f.column = 2001;
         },
         "does not start on a whole 2 km pixel"},
        {"not netCDF", [](AbiFile& f) { f.garbage = true; }, "not a netCDF file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        AbiFile f;
        row.change(f);
        TempDir dir;
        const auto path = dir / AbiName(f);
        WriteAbiFile(path, f);
        TAbiScan scan;
        const auto started = std::chrono::steady_clock::now();
        const std::string reason = ReadAbiScan(path.string(), {}, 1.0f, scan);
        EXPECT_NE(reason.find(row.reason), std::string::npos) << reason;
        // Refused from the header, never after reading what it declares.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    }
}

} // namespace

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
#include "netcdf/AbiL1b.h"
#include "netcdf/RadianceToModeAlookup.h"
#include "netcdf/VisibleLookup.h"

namespace {

// An ABI-like radiance file: a window of `width` x `height` pixels of the band's own
// resolution whose first pixel is (column, row) of the band's full disk.
struct AbiFile {
    int band = 13;
    std::size_t width = 8, height = 6;
    int column = 2000, row = 1000;
    double xShift = 0; // radians added to x's add_offset
    nc_type radType = NC_SHORT;
    bool dqfSwapped = false;
    std::size_t xLength = 0; // x along a dimension of its own of this length
    std::size_t hugeSide = 0; // dimensions of this length, nothing written
    std::string sweep = "x";
    double longitude = -137.2;
    int bandId = 0; // 0: the band
    std::set<std::string> missing; // variables left out
    bool garbage = false;
    std::uint16_t fill = 4095;
    float scale = 0.06145332f, offset = -1.6443f, kappa0 = 0.0015839f;
    float fk1 = 10803.3f, fk2 = 1392.74f, bc1 = 0.0755f, bc2 = 0.99975f;
    std::vector<std::uint16_t> raw; // width x height; empty: all 500
    std::vector<std::uint8_t> dqf; // width x height; empty: all 0
};

int Factor(const AbiFile& f) { return AbiBandFactor(f.band); }

std::string AbiName(const AbiFile& f)
{
    char band[3];
    std::snprintf(band, sizeof band, "%02d", f.band);
    return std::string("OR_ABI-L1b-RadM1-M6C") + band + "_G18_s20263421200210_e20263421200267_c20263421200301.nc";
}

void PutScalar(int id, const std::string& name, nc_type type, double value, const AbiFile& f)
{
    if (f.missing.count(name) != 0)
        return;
    int v = 0;
    NC_CHECK(nc_redef(id));
    NC_CHECK(nc_def_var(id, name.c_str(), type, 0, nullptr, &v));
    NC_CHECK(nc_enddef(id));
    NC_CHECK(nc_put_var_double(id, v, &value));
}

void PutPacking(int id, int v, double scale, double offset)
{
    const float s = static_cast<float>(scale), o = static_cast<float>(offset);
    NC_CHECK(nc_put_att_float(id, v, "scale_factor", NC_FLOAT, 1, &s));
    NC_CHECK(nc_put_att_float(id, v, "add_offset", NC_FLOAT, 1, &o));
}

void WriteAbiFile(const std::filesystem::path& path, const AbiFile& f)
{
    if (f.garbage) {
        std::ofstream(path) << "CDF? not really a file of any kind";
        return;
    }
    const std::size_t width = f.hugeSide != 0 ? f.hugeSide : f.width;
    const std::size_t height = f.hugeSide != 0 ? f.hugeSide : f.height;
    int id = 0, y = 0, x = 0, xOther = 0, one = 0;
    NC_CHECK(nc_create(path.c_str(), NC_CLOBBER | NC_NETCDF4, &id));
    NC_CHECK(nc_def_dim(id, "y", height, &y));
    NC_CHECK(nc_def_dim(id, "x", width, &x));
    NC_CHECK(nc_def_dim(id, "band", 1, &one));
    if (f.xLength != 0) {
        NC_CHECK(nc_def_dim(id, "x_other", f.xLength, &xOther));
    }
    const int yx[] = {y, x}, xy[] = {x, y};
    const std::size_t chunk[] = {std::min<std::size_t>(3, height), width};
    int rad = 0, dqf = 0, xv = 0, yv = 0, proj = 0;
    if (f.missing.count("Rad") == 0) {
        NC_CHECK(nc_def_var(id, "Rad", f.radType, 2, yx, &rad));
        NC_CHECK(nc_def_var_chunking(id, rad, NC_CHUNKED, chunk));
        NC_CHECK(nc_def_var_deflate(id, rad, 0, 1, 1));
        NC_CHECK(nc_put_att_text(id, rad, "_Unsigned", 4, "true"));
        const double fill = f.fill;
        NC_CHECK(nc_put_att_double(id, rad, "_FillValue", f.radType, 1, &fill));
        PutPacking(id, rad, f.scale, f.offset);
    }
    NC_CHECK(nc_def_var(id, "DQF", NC_BYTE, 2, f.dqfSwapped ? xy : yx, &dqf));
    const signed char dqfFill = -1;
    NC_CHECK(nc_put_att_schar(id, dqf, "_FillValue", NC_BYTE, 1, &dqfFill));
    NC_CHECK(nc_def_var(id, "x", NC_SHORT, 1, f.xLength != 0 ? &xOther : &x, &xv));
    NC_CHECK(nc_def_var(id, "y", NC_SHORT, 1, &y, &yv));
    const double step = AbiGridStep / Factor(f);
    const double origin = AbiGridOrigin - AbiGridStep / 2 + step / 2;
    PutPacking(id, xv, step, origin + f.xShift);
    PutPacking(id, yv, -step, -origin);
    NC_CHECK(nc_def_var(id, "goes_imager_projection", NC_INT, 0, nullptr, &proj));
    NC_CHECK(nc_put_att_text(id, proj, "sweep_angle_axis", f.sweep.size(), f.sweep.c_str()));
    for (auto [name, value] :
         {std::pair{"longitude_of_projection_origin", f.longitude}, std::pair{"perspective_point_height", 35786023.0},
          std::pair{"semi_major_axis", 6378137.0}, std::pair{"semi_minor_axis", 6356752.31414}})
        NC_CHECK(nc_put_att_double(id, proj, name, NC_DOUBLE, 1, &value));
    int bandVar = 0;
    NC_CHECK(nc_def_var(id, "band_id", NC_BYTE, 1, &one, &bandVar));
    NC_CHECK(nc_enddef(id));
    const signed char bandId = static_cast<signed char>(f.bandId != 0 ? f.bandId : f.band);
    NC_CHECK(nc_put_var_schar(id, bandVar, &bandId));
    if (f.band >= 7)
        for (auto [name, value] : {std::pair{"planck_fk1", f.fk1}, std::pair{"planck_fk2", f.fk2},
                                   std::pair{"planck_bc1", f.bc1}, std::pair{"planck_bc2", f.bc2}})
            PutScalar(id, name, NC_FLOAT, value, f);
    else
        PutScalar(id, "kappa0", NC_FLOAT, f.kappa0, f);
    PutScalar(id, "percent_good_pixel_qf", NC_FLOAT, 0.75, f);
    if (f.hugeSide == 0) {
        std::vector<std::uint16_t> raw = f.raw;
        raw.resize(width * height, 500);
        std::vector<std::uint8_t> flags = f.dqf;
        flags.resize(width * height, 0);
        const std::vector<double> values(raw.begin(), raw.end());
        if (f.missing.count("Rad") == 0) {
            NC_CHECK(f.radType == NC_SHORT ? nc_put_var(id, rad, raw.data())
                                           : nc_put_var_double(id, rad, values.data()));
        }
        NC_CHECK(nc_put_var(id, dqf, flags.data()));
        std::vector<short> columns(f.xLength != 0 ? f.xLength : width), rows(height);
        for (std::size_t i = 0; i < columns.size(); ++i)
            columns[i] = static_cast<short>(f.column + static_cast<int>(i));
        for (std::size_t j = 0; j < rows.size(); ++j)
            rows[j] = static_cast<short>(f.row + static_cast<int>(j));
        NC_CHECK(nc_put_var_short(id, xv, columns.data()));
        NC_CHECK(nc_put_var_short(id, yv, rows.data()));
    }
    NC_CHECK(nc_close(id));
}

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

#pragma once
// Small ABI-like radiance files written at test time with the netCDF library itself: a window
// of a band's own resolution, placed on its full disk, with knobs for every way a file can be
// wrong.

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "netcdf/AbiL1b.h"
#include "netcdf/RadianceToModeAlookup.h"

#ifndef NC_CHECK
#define NC_CHECK(call) ASSERT_EQ((call), NC_NOERR) << nc_strerror(call)
#endif

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

inline int Factor(const AbiFile& f) { return AbiBandFactor(f.band); }

inline std::string AbiName(const AbiFile& f)
{
    char band[3];
    std::snprintf(band, sizeof band, "%02d", f.band);
    return std::string("OR_ABI-L1b-RadM1-M6C") + band + "_G18_s20263421200210_e20263421200267_c20263421200301.nc";
}

inline void PutScalar(int id, const std::string& name, nc_type type, double value, const AbiFile& f)
{
    if (f.missing.count(name) != 0)
        return;
    int v = 0;
    NC_CHECK(nc_redef(id));
    NC_CHECK(nc_def_var(id, name.c_str(), type, 0, nullptr, &v));
    NC_CHECK(nc_enddef(id));
    NC_CHECK(nc_put_var_double(id, v, &value));
}

inline void PutPacking(int id, int v, double scale, double offset)
{
    const float s = static_cast<float>(scale), o = static_cast<float>(offset);
    NC_CHECK(nc_put_att_float(id, v, "scale_factor", NC_FLOAT, 1, &s));
    NC_CHECK(nc_put_att_float(id, v, "add_offset", NC_FLOAT, 1, &o));
}

inline void WriteAbiFile(const std::filesystem::path& path, const AbiFile& f)
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


// The grey a raw count of an infrared file's calibration stands for.
inline std::uint8_t AbiGrey(const AbiFile& f, std::uint16_t raw)
{
    const double radiance = raw * static_cast<double>(f.scale) + f.offset;
    const double kelvin = (f.fk2 / std::log(f.fk1 / radiance + 1.0) - f.bc1) / f.bc2;
    return static_cast<std::uint8_t>(KelvinToCount(kelvin));
}

// A mesoscale window of 200 x 150 of varied counts: large enough for a station to take it
// as a whole file (a few kilobytes of compressed constant would look cut short); the first
// pixel holds first.
inline AbiFile WholeAbiFile(std::uint16_t first, int band = 13)
{
    AbiFile f;
    f.band = band;
    f.width = 200;
    f.height = 150;
    f.raw.resize(f.width * f.height);
    for (std::size_t i = 0; i < f.raw.size(); ++i)
        f.raw[i] = static_cast<std::uint16_t>(300 + (i * 37) % 2000);
    f.raw[0] = first;
    return f;
}

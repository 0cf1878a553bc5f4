#include "netcdf/AbiL1b.h"

#include <hdf5.h>
#include <netcdf.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <tuple>
#include <vector>

#include "netcdf/NetCDFclass.h"
#include "netcdf/RadianceToModeAlookup.h"
#include "netcdf/VisibleLookup.h"

int AbiBandFactor(int band)
{
    if (band == 2)
        return 4;
    if (band == 1 || band == 3 || band == 5)
        return 2;
    return band >= 4 && band <= 16 ? 1 : 0;
}

std::string_view AbiBandWavelength(int band)
{
    static constexpr std::array<std::string_view, 16> wavelengths{"0.47", "0.64", "0.86", "1.37", "1.6", "2.2",
                                                                  "3.9",  "6.2",  "6.9",  "7.3",  "8.4", "9.6",
                                                                  "10.3", "11.2", "12.3", "13.3"};
    return band >= 1 && band <= 16 ? wavelengths[static_cast<std::size_t>(band - 1)] : std::string_view{};
}

// ---- names ---------------------------------------------------------------------------

namespace {

bool SameLetters(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Takes `prefix` off the front of text when it is there (in any case).
bool Take(std::string_view& text, std::string_view prefix)
{
    if (text.size() < prefix.size() || !SameLetters(text.substr(0, prefix.size()), prefix))
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

bool TakeDigits(std::string_view& text, std::size_t count, int& value)
{
    if (text.size() < count)
        return false;
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
        value = value * 10 + (text[i] - '0');
    }
    text.remove_prefix(count);
    return true;
}

// "s20263421200210": year, day of year, hours, minutes, seconds and tenths.
std::string TakeTime(std::string_view& text, char tag, const char* what, TDateTime& time)
{
    const std::string_view field = text.substr(0, std::min<std::size_t>(text.size(), 15));
    if (!Take(text, std::string_view(&tag, 1)))
        return std::string("no ") + what + " time '" + tag + "...'";
    int year = 0, day = 0, hour = 0, minute = 0, second = 0, tenth = 0;
    if (!TakeDigits(text, 4, year) || !TakeDigits(text, 3, day) || !TakeDigits(text, 2, hour) ||
        !TakeDigits(text, 2, minute) || !TakeDigits(text, 2, second) || !TakeDigits(text, 1, tenth))
        return std::string(what) + " time " + std::string(field) + " is not 14 digits";
    const auto date = TryEncodeDate(year, 1, 1);
    const auto clock = TryEncodeTime(hour, minute, second, tenth * 100);
    if (!date || !clock || day < 1 || day > (IsLeapYear(year) ? 366 : 365))
        return std::string(what) + " time " + std::string(field) + " is no time (day " + std::to_string(day) + " of " +
               std::to_string(year) + ", " + std::to_string(hour) + ":" + std::to_string(minute) + ":" +
               std::to_string(second) + ")";
    time = *date + (day - 1) + *clock;
    return {};
}

std::string ParseName(std::string_view path, TAbiName& name)
{
    if (const auto slash = path.find_last_of('/'); slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    std::string_view text = path;
    if (text.size() > 4 && SameLetters(text.substr(text.size() - 4), ".bz2"))
        text.remove_suffix(4);
    if (text.size() < 3 || !SameLetters(text.substr(text.size() - 3), ".nc"))
        return "name does not end in .nc or .nc.bz2";
    text.remove_suffix(3);
    if (!Take(text, "OR_ABI-L1b-Rad"))
        return "name does not start with OR_ABI-L1b-Rad";
    if (Take(text, "F"))
        name.Sector = TAbiSector::FullDisk;
    else if (Take(text, "C"))
        name.Sector = TAbiSector::Conus;
    else if (Take(text, "M1"))
        name.Sector = TAbiSector::Meso1;
    else if (Take(text, "M2"))
        name.Sector = TAbiSector::Meso2;
    else
        return "no sector F, C, M1 or M2 after Rad";
    if (!Take(text, "-M") || !TakeDigits(text, 1, name.Mode) || (name.Mode != 3 && name.Mode != 4 && name.Mode != 6))
        return "no scan mode M3, M4 or M6";
    if (!Take(text, "C") || !TakeDigits(text, 2, name.Band) || name.Band < 1 || name.Band > 16)
        return "no band C01 to C16";
    if (!Take(text, "_G") || !TakeDigits(text, 2, name.Satellite) || name.Satellite < 16 || name.Satellite > 19)
        return "no satellite G16 to G19";
    const std::array<std::tuple<char, const char*, TDateTime*>, 3> times{
        {{'s', "start", &name.Start}, {'e', "end", &name.End}, {'c', "creation", &name.Created}}};
    for (const auto& [tag, what, time] : times) {
        if (!Take(text, "_"))
            return std::string("no ") + what + " time";
        if (std::string problem = TakeTime(text, tag, what, *time); !problem.empty())
            return problem;
    }
    if (!text.empty())
        return "unexpected '" + std::string(text) + "' before .nc";
    return {};
}

} // namespace

std::optional<TAbiName> ParseAbiFileName(std::string_view path)
{
    TAbiName name;
    if (!ParseName(path, name).empty())
        return std::nullopt;
    return name;
}

std::string AbiNameProblem(std::string_view path)
{
    TAbiName name;
    return ParseName(path, name);
}

// ---- the file ------------------------------------------------------------------------

namespace {

constexpr double NominalHeight = 35786023.0;
constexpr double NominalSemiMajor = 6378137.0;
constexpr double NominalSemiMinor = 6356752.31414;
// Where a GOES imager can stand, degrees east; wider than any real position, narrow enough
// to refuse a longitude that is a mistake.
constexpr double WestmostGoes = -160.0, EastmostGoes = -50.0;
// How far from a whole pixel of its grid a window may start (in pixels of that grid).
constexpr double PlacementTolerance = 0.1;
// Rows read at once when the file does not say how it is chunked, at the band's resolution.
constexpr std::size_t PlainStripRows = 256;
constexpr std::size_t MaxStripRows = 2048;

std::string Number(double value)
{
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.6g", value);
    return text.data();
}

class TAbiFile : public TNetCdf {
public:
    using TNetCdf::classicVariableEnd;
    using TNetCdf::contentLength;
};

// A numeric attribute of one value, as a double; nullopt when missing, of another kind or
// not finite.
std::optional<double> NumberAttribute(int nc, int var, const char* name)
{
    nc_type type = NC_NAT;
    std::size_t length = 0;
    double value = 0;
    if (nc_inq_att(nc, var, name, &type, &length) != NC_NOERR || length != 1 || type == NC_CHAR || type == NC_STRING ||
        type > NC_STRING || nc_get_att_double(nc, var, name, &value) != NC_NOERR || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<std::string> TextAttribute(int nc, int var, const char* name)
{
    nc_type type = NC_NAT;
    std::size_t length = 0;
    if (nc_inq_att(nc, var, name, &type, &length) != NC_NOERR || type != NC_CHAR || length > 1024)
        return std::nullopt;
    std::string text(length, '\0');
    if (length != 0 && nc_get_att_text(nc, var, name, text.data()) != NC_NOERR)
        return std::nullopt;
    // Attributes written from C strings may carry their terminator.
    text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
    return text;
}

// The first value of a variable of any numeric shape, as a double; nullopt when missing,
// empty, not numeric or not finite.
std::optional<double> FirstValue(int nc, const char* name)
{
    int var = 0;
    nc_type type = NC_NAT;
    int dims = 0;
    if (nc_inq_varid(nc, name, &var) != NC_NOERR || nc_inq_vartype(nc, var, &type) != NC_NOERR || type == NC_CHAR ||
        type == NC_STRING || type > NC_STRING || nc_inq_varndims(nc, var, &dims) != NC_NOERR || dims < 0 ||
        dims > NC_MAX_VAR_DIMS)
        return std::nullopt;
    std::array<int, NC_MAX_VAR_DIMS> ids{};
    if (nc_inq_vardimid(nc, var, ids.data()) != NC_NOERR)
        return std::nullopt;
    for (int d = 0; d < dims; ++d) {
        std::size_t length = 0;
        if (nc_inq_dimlen(nc, ids[static_cast<std::size_t>(d)], &length) != NC_NOERR || length == 0)
            return std::nullopt;
    }
    const std::array<std::size_t, NC_MAX_VAR_DIMS> first{};
    double value = 0;
    if (nc_get_var1_double(nc, var, first.data(), &value) != NC_NOERR || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A variable with exactly the dimensions `dims`; why not, else.
std::string CheckShape(int nc, const char* name, std::span<const int> dims, const char* shape, int& var, nc_type& type)
{
    int count = 0;
    if (nc_inq_varid(nc, name, &var) != NC_NOERR)
        return std::string("no ") + name + " variable";
    if (nc_inq_vartype(nc, var, &type) != NC_NOERR || nc_inq_varndims(nc, var, &count) != NC_NOERR)
        return std::string(name) + " cannot be inquired";
    std::array<int, NC_MAX_VAR_DIMS> ids{};
    if (count != static_cast<int>(dims.size()) || nc_inq_vardimid(nc, var, ids.data()) != NC_NOERR ||
        !std::equal(dims.begin(), dims.end(), ids.begin()))
        return std::string(name) + " is not " + shape;
    return {};
}

struct TPacking {
    double Scale = 1, Offset = 0;
};

std::string ReadPacking(int nc, int var, const char* name, TPacking& packing)
{
    const auto scale = NumberAttribute(nc, var, "scale_factor");
    const auto offset = NumberAttribute(nc, var, "add_offset");
    if (!scale || *scale == 0)
        return std::string(name) + " has no scale_factor";
    if (!offset)
        return std::string(name) + " has no add_offset";
    packing = {*scale, *offset};
    return {};
}

// The band's grid along one side: its step, and the scan angle of the centre of its pixel 0,
// whose left (or top) edge is that of the 2 km grid's pixel 0.
struct TNativeGrid {
    int Factor = 1;
    double Step = AbiGridStep;
    double Origin = AbiGridOrigin;
};

TNativeGrid NativeGrid(int band)
{
    TNativeGrid grid;
    grid.Factor = AbiBandFactor(band);
    grid.Step = AbiGridStep / grid.Factor;
    grid.Origin = AbiGridOrigin - AbiGridStep / 2 + grid.Step / 2;
    return grid;
}

// Where a scan angle coordinate (x or y) puts the window on the 2 km grid; `sign` is -1 for
// y, counted from the north. Checks the file's step and that the values run evenly.
std::string PlaceAxis(int nc, const char* name, std::size_t length, double sign, const TNativeGrid& grid, int band,
                      int& first)
{
    int var = 0;
    TPacking packing;
    if (nc_inq_varid(nc, name, &var) != NC_NOERR)
        return std::string("no ") + name + " variable";
    if (std::string problem = ReadPacking(nc, var, name, packing); !problem.empty())
        return problem;
    const double step = sign * packing.Scale;
    if (std::fabs(step - grid.Step) > 0.01 * grid.Step)
        return std::string(name) + " step of " + Number(packing.Scale) + " rad is not the " + Number(sign * grid.Step) +
               " of band " + std::to_string(band);
    std::vector<double> raw(length);
    const std::size_t start = 0;
    if (nc_get_vara_double(nc, var, &start, &length, raw.data()) != NC_NOERR)
        return std::string(name) + " cannot be read";
    // The pixels in grid pixels of the band, from the full disk's first.
    const auto index = [&](std::size_t i) {
        return (sign * (raw[i] * packing.Scale + packing.Offset) - grid.Origin) / grid.Step;
    };
    const double index0 = index(0);
    for (std::size_t i = 0; i < length; ++i)
        if (!(std::fabs(index(i) - index0 - static_cast<double>(i)) <= PlacementTolerance))
            return std::string(name) + " does not run evenly pixel after pixel";
    const double whole = std::round(index0);
    if (!(std::fabs(index0 - whole) <= PlacementTolerance))
        return std::string("the window does not start on a whole pixel: ") + name + " " + Number(index0) +
               " of the full disk";
    if (std::fmod(whole, grid.Factor) != 0)
        return std::string("the window does not start on a whole 2 km pixel: ") + name + " " + Number(whole) +
               " at band " + std::to_string(band) + "'s resolution";
    const double first2km = whole / grid.Factor;
    const double pixels = static_cast<double>(length / static_cast<std::size_t>(grid.Factor));
    if (first2km < 0 || first2km + pixels > AbiGridSize)
        return std::string("the window lies outside the full disk: ") + name + " from " + Number(first2km) + " for " +
               Number(pixels) + " 2 km pixels";
    first = static_cast<int>(first2km);
    return {};
}

std::string CheckProjection(int nc, TAbiProjection& projection)
{
    int var = 0;
    if (nc_inq_varid(nc, "goes_imager_projection", &var) != NC_NOERR)
        return "no goes_imager_projection";
    const auto sweep = TextAttribute(nc, var, "sweep_angle_axis");
    if (!sweep)
        return "goes_imager_projection has no sweep_angle_axis";
    if (*sweep != "x")
        return "sweep_angle_axis " + *sweep + ", not the x of GOES";
    const auto longitude = NumberAttribute(nc, var, "longitude_of_projection_origin");
    if (!longitude)
        return "goes_imager_projection has no longitude_of_projection_origin";
    if (*longitude < -180 || *longitude > 180)
        return "longitude_of_projection_origin " + Number(*longitude) + " is not a longitude";
    if (*longitude < WestmostGoes || *longitude > EastmostGoes)
        return "longitude_of_projection_origin " + Number(*longitude) + " is no GOES position";
    projection.SubLongitude = *longitude;
    const std::array<std::tuple<const char*, double, double*>, 3> sizes{{
        {"perspective_point_height", NominalHeight, &projection.PerspectiveHeight},
        {"semi_major_axis", NominalSemiMajor, &projection.SemiMajorAxis},
        {"semi_minor_axis", NominalSemiMinor, &projection.SemiMinorAxis},
    }};
    for (const auto& [name, nominal, field] : sizes) {
        const auto value = NumberAttribute(nc, var, name);
        if (!value)
            return std::string("goes_imager_projection has no ") + name;
        if (std::fabs(*value - nominal) > 0.01 * nominal)
            return std::string(name) + " " + Number(*value) + " m is not the " + Number(nominal) + " m of GOES";
        *field = *value;
    }
    return {};
}

struct TCalibration {
    bool Infrared = false;
    double Fk1 = 0, Fk2 = 0, Bc1 = 0, Bc2 = 1;
    double ReflectancePercent = 0; // percent per radiance unit: 100 * kappa0
};

std::string ReadCalibration(int nc, int band, TCalibration& calibration)
{
    calibration.Infrared = band >= 7;
    const auto coefficient = [nc](const char* name, double& value) -> std::string {
        int var = 0;
        if (nc_inq_varid(nc, name, &var) != NC_NOERR)
            return std::string("no ") + name;
        const auto v = FirstValue(nc, name);
        if (!v)
            return std::string(name) + " is not a finite number";
        value = *v;
        return {};
    };
    if (!calibration.Infrared) {
        double kappa0 = 0;
        if (std::string problem = coefficient("kappa0", kappa0); !problem.empty())
            return problem;
        calibration.ReflectancePercent = 100.0 * kappa0;
        return {};
    }
    for (const auto& [name, value] : std::array<std::pair<const char*, double*>, 4>{{{"planck_fk1", &calibration.Fk1},
                                                                                     {"planck_fk2", &calibration.Fk2},
                                                                                     {"planck_bc1", &calibration.Bc1},
                                                                                     {"planck_bc2", &calibration.Bc2}}})
        if (std::string problem = coefficient(name, *value); !problem.empty())
            return problem;
    if (calibration.Fk1 <= 0 || calibration.Fk2 <= 0 || calibration.Bc2 == 0)
        return "the Planck coefficients give no temperatures";
    return {};
}

// Rad's values as 16-bit numbers whether the file stores them signed or not.
struct TRadiance {
    int Var = 0;
    bool Unsigned = true;
    std::uint16_t Fill = 0;
    TPacking Packing;

    int Value(std::uint16_t raw) const { return Unsigned ? raw : static_cast<std::int16_t>(raw); }
};

std::string CheckRadiance(int nc, std::span<const int> dims, TRadiance& rad)
{
    nc_type type = NC_NAT;
    if (std::string problem = CheckShape(nc, "Rad", dims, "(y, x)", rad.Var, type); !problem.empty())
        return problem;
    if (type != NC_SHORT && type != NC_USHORT)
        return "Rad is not 16-bit";
    const auto flag = TextAttribute(nc, rad.Var, "_Unsigned");
    rad.Unsigned = type == NC_USHORT || (flag && SameLetters(*flag, "true"));
    nc_type fillType = NC_NAT;
    std::size_t length = 0;
    if (nc_inq_att(nc, rad.Var, "_FillValue", &fillType, &length) != NC_NOERR || fillType != type || length != 1 ||
        nc_get_att(nc, rad.Var, "_FillValue", &rad.Fill) != NC_NOERR)
        return "Rad has no _FillValue";
    return ReadPacking(nc, rad.Var, "Rad", rad.Packing);
}

struct THeader {
    std::size_t Width = 0, Height = 0; // at the band's resolution
    TNativeGrid Grid;
    TRadiance Rad;
    int Dqf = 0;
    TCalibration Calibration;
};

std::string CheckHeader(TAbiFile& file, THeader& header, TAbiScan& scan)
{
    const int nc = file.ncId();
    const int band = scan.Name.Band;
    header.Grid = NativeGrid(band);
    const std::size_t fullDisk = static_cast<std::size_t>(AbiGridSize) * static_cast<std::size_t>(header.Grid.Factor);
    std::array<int, 2> dims{};
    for (auto [name, id, length] :
         {std::tuple{"y", &dims[0], &header.Height}, std::tuple{"x", &dims[1], &header.Width}}) {
        if (nc_inq_dimid(nc, name, id) != NC_NOERR || nc_inq_dimlen(nc, *id, length) != NC_NOERR)
            return std::string("no dimension ") + name;
        if (*length == 0)
            return std::string("dimension ") + name + " is empty";
        if (*length > fullDisk)
            return std::string("dimension ") + name + " of " + std::to_string(*length) + " is larger than band " +
                   std::to_string(band) + "'s full disk of " + std::to_string(fullDisk);
        if (*length % static_cast<std::size_t>(header.Grid.Factor) != 0)
            return std::string("dimension ") + name + " of " + std::to_string(*length) + " is not whole 2 km pixels";
    }
    if (std::string problem = CheckRadiance(nc, dims, header.Rad); !problem.empty())
        return problem;
    nc_type dqfType = NC_NAT;
    if (std::string problem = CheckShape(nc, "DQF", dims, "(y, x) like Rad", header.Dqf, dqfType); !problem.empty())
        return problem;
    if (dqfType != NC_BYTE && dqfType != NC_UBYTE)
        return "DQF is not 8-bit";
    for (auto [name, dim] : {std::pair{"x", dims[1]}, std::pair{"y", dims[0]}}) {
        int var = 0;
        nc_type type = NC_NAT;
        if (std::string problem =
                CheckShape(nc, name, std::span<const int>(&dim, 1), "one value per pixel of Rad", var, type);
            !problem.empty())
            return problem;
    }
    // A classic file's library reads past the end of a file cut short; netCDF-4 refuses.
    for (const char* name : {"Rad", "DQF", "x", "y"})
        if (const auto end = file.classicVariableEnd(name); end && *end > file.contentLength())
            return std::string("the file is shorter than its ") + name + " needs";
    if (std::string problem = CheckProjection(nc, scan.Projection); !problem.empty())
        return problem;
    const auto bandId = FirstValue(nc, "band_id");
    if (!bandId)
        return "no band_id";
    if (*bandId != band)
        return "band_id " + Number(*bandId) + " disagrees with the name's band " + std::to_string(band);
    if (std::string problem = ReadCalibration(nc, band, header.Calibration); !problem.empty())
        return problem;
    if (std::string problem = PlaceAxis(nc, "x", header.Width, 1, header.Grid, band, scan.X); !problem.empty())
        return problem;
    return PlaceAxis(nc, "y", header.Height, -1, header.Grid, band, scan.Y);
}

// Rows read at once: whole chunks of the file where it is chunked, and whole 2 km rows.
std::size_t StripRows(int nc, const THeader& header)
{
    const auto factor = static_cast<std::size_t>(header.Grid.Factor);
    int storage = 0;
    std::array<std::size_t, 2> chunk{};
    std::size_t rows = PlainStripRows;
    if (nc_inq_var_chunking(nc, header.Rad.Var, &storage, chunk.data()) == NC_NOERR && storage == NC_CHUNKED &&
        chunk[0] > 0 && chunk[0] <= MaxStripRows) {
        rows = std::lcm(chunk[0], factor);
        if (rows > MaxStripRows)
            rows = chunk[0];
    }
    return std::max(factor, rows / factor * factor);
}

class TCalibrator {
public:
    TCalibrator(const TCalibration& calibration, float gamma) : calibration_(calibration)
    {
        if (!calibration.Infrared)
            visible_.emplace(gamma);
    }

    std::uint8_t Grey(double radiance) const
    {
        if (visible_)
            return static_cast<std::uint8_t>(
                visible_->count(static_cast<float>(calibration_.ReflectancePercent * radiance)));
        if (!(radiance > 0) || !std::isfinite(radiance))
            return 255;
        const double kelvin =
            (calibration_.Fk2 / std::log(calibration_.Fk1 / radiance + 1.0) - calibration_.Bc1) / calibration_.Bc2;
        return static_cast<std::uint8_t>(KelvinToCount(kelvin));
    }

private:
    TCalibration calibration_;
    std::optional<TVisibleLookup> visible_;
};

// A pixel's quality flag: the fill value counts as no value whatever DQF says, and so does a
// flag DQF has no meaning for.
std::uint8_t PixelFlag(std::uint16_t raw, std::uint8_t dqf, std::uint16_t fill)
{
    return raw == fill ? 3 : std::min<std::uint8_t>(dqf, 3);
}

void CountFlag(TAbiQuality& quality, std::uint8_t flag)
{
    ++(flag == 0 ? quality.Good : flag == 1 ? quality.Conditional : flag == 2 ? quality.OutOfRange : quality.NoValue);
}

std::string ReadPixels(int nc, const THeader& header, float gamma, TAbiScan& scan)
{
    const std::size_t width = header.Width, height = header.Height;
    const auto factor = static_cast<std::size_t>(header.Grid.Factor);
    const std::size_t outWidth = width / factor, outHeight = height / factor;
    for (TExtBitmap* bitmap : {&scan.Grey, &scan.Valid}) {
        bitmap->SetPixelFormat(TPixelFormat::pf8bit);
        bitmap->MakeGreyPalette();
        bitmap->SetSize(static_cast<int>(outWidth), static_cast<int>(outHeight));
    }
    const TCalibrator calibrator(header.Calibration, gamma);
    const TRadiance& rad = header.Rad;
    const std::size_t stripRows = StripRows(nc, header);
    std::vector<std::uint16_t> raw(stripRows * width);
    std::vector<std::uint8_t> dqf(stripRows * width);
    std::vector<double> sum(outWidth);
    std::vector<int> count(outWidth);
    TAbiQuality& quality = scan.Quality;
    // At the band's own resolution every 2 km pixel is one count: its grey is looked up, not
    // worked out again through a logarithm for each of 29 million pixels. The same greys as
    // calibrating its radiance alone.
    std::vector<std::uint8_t> greyOfCount;
    if (factor == 1) {
        greyOfCount.resize(std::size_t{1} << 16);
        for (std::size_t v = 0; v < greyOfCount.size(); ++v)
            greyOfCount[v] = calibrator.Grey(
                0.0 + (rad.Value(static_cast<std::uint16_t>(v)) * rad.Packing.Scale + rad.Packing.Offset));
    }
    for (std::size_t first = 0; first < height; first += stripRows) {
        const std::size_t rows = std::min(stripRows, height - first);
        const std::array<std::size_t, 2> start{first, 0}, size{rows, width};
        for (auto [var, buffer, what] : {std::tuple{rad.Var, static_cast<void*>(raw.data()), "Rad"},
                                         std::tuple{header.Dqf, static_cast<void*>(dqf.data()), "DQF"}})
            if (const int status = nc_get_vara(nc, var, start.data(), size.data(), buffer); status != NC_NOERR)
                return std::string(what) + " cannot be read from row " + std::to_string(first) + ": " +
                       nc_strerror(status);
        if (factor == 1) {
            for (std::size_t row = 0; row < rows; ++row) {
                const std::uint16_t* values = raw.data() + row * width;
                const std::uint8_t* flags = dqf.data() + row * width;
                std::uint8_t* grey = scan.Grey.ScanLine(static_cast<int>(first + row));
                std::uint8_t* valid = scan.Valid.ScanLine(static_cast<int>(first + row));
                for (std::size_t i = 0; i < width; ++i) {
                    const std::uint8_t flag = PixelFlag(values[i], flags[i], rad.Fill);
                    CountFlag(quality, flag);
                    grey[i] = flag <= 1 ? greyOfCount[values[i]] : 0;
                    valid[i] = flag <= 1 ? 255 : 0;
                }
            }
            continue;
        }
        for (std::size_t row = 0; row < rows; row += factor) {
            std::fill(sum.begin(), sum.end(), 0.0);
            std::fill(count.begin(), count.end(), 0);
            for (std::size_t sub = row; sub < row + factor; ++sub) {
                const std::uint16_t* values = raw.data() + sub * width;
                const std::uint8_t* flags = dqf.data() + sub * width;
                for (std::size_t i = 0; i < width; ++i) {
                    const std::uint8_t flag = PixelFlag(values[i], flags[i], rad.Fill);
                    CountFlag(quality, flag);
                    if (flag <= 1) {
                        sum[i / factor] += rad.Value(values[i]) * rad.Packing.Scale + rad.Packing.Offset;
                        ++count[i / factor];
                    }
                }
            }
            const int y = static_cast<int>((first + row) / factor);
            std::uint8_t* grey = scan.Grey.ScanLine(y);
            std::uint8_t* valid = scan.Valid.ScanLine(y);
            for (std::size_t x = 0; x < outWidth; ++x) {
                grey[x] = count[x] != 0 ? calibrator.Grey(sum[x] / count[x]) : 0;
                valid[x] = count[x] != 0 ? 255 : 0;
            }
        }
    }
    return {};
}

} // namespace

std::string ReadAbiScan(const std::string& name, std::span<const char> content, float gamma, TAbiScan& scan)
{
    scan = TAbiScan{};
    if (std::string problem = ParseName(name, scan.Name); !problem.empty())
        return "file name: " + problem;
    // HDF5 reports what netCDF-C merely looks for (attributes a file need not have) on the
    // error stream of every thread that has not said otherwise: a worker's reading thread
    // would fill the station's log with them.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    TAbiFile file;
    if (!file.OpenMemory(name, content))
        return file.openProblem().empty() ? "not a netCDF file" : "not a netCDF file: " + file.openProblem();
    THeader header;
    if (std::string problem = CheckHeader(file, header, scan); !problem.empty())
        return problem;
    if (const auto percent = FirstValue(file.ncId(), "percent_good_pixel_qf"))
        scan.Quality.PercentGood = *percent;
    std::string problem = ReadPixels(file.ncId(), header, gamma, scan);
    scan.Grey.Changed();
    scan.Valid.Changed();
    return problem;
}

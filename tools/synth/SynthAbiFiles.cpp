#include "tools/synth/SynthAbiFiles.h"

#include "tools/synth/SynthFiles.h"

#include <netcdf.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <limits>
#include <memory>
#include <stdexcept>

namespace synth {
namespace fs = std::filesystem;
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::int64_t kJ2000 = 946728000; // 2000-01-01 12:00:00 UTC, the files' epoch
constexpr float kNoValue = -999.0f;

// One in this many pixels of the disc drops out (no value), as many again saturate.
constexpr std::uint64_t kDropoutRate = 40000;

std::string IsoTime(std::int64_t tenths)
{
    const std::time_t t = static_cast<std::time_t>(tenths / 10);
    std::tm p{};
    gmtime_r(&t, &p);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%dZ", p.tm_year + 1900, p.tm_mon + 1, p.tm_mday,
                  p.tm_hour, p.tm_min, p.tm_sec, static_cast<int>(tenths % 10));
    return buf;
}

// A scalar or one-dimensional variable of the file, with its attributes.
int DefineVar(int nc, const char* name, nc_type type, int dims, const int* dimIds, const char* longName,
              const char* units)
{
    int var = -1;
    CheckNc(nc_def_var(nc, name, type, dims, dimIds, &var), name);
    PutText(nc, var, "long_name", longName);
    if (units)
        PutText(nc, var, "units", units);
    return var;
}

void PutFloatAtt(int nc, int var, const char* name, std::initializer_list<float> values)
{
    CheckNc(nc_put_att_float(nc, var, name, NC_FLOAT, values.size(), values.begin()), name);
}

void PutFloat(int nc, int var, float value) { CheckNc(nc_put_var_float(nc, var, &value), "float"); }

// The pixels of one file by quality, counted while its strips are made.
struct TQuality {
    std::int64_t Good = 0, Saturated = 0, Undersaturated = 0, NoValue = 0, OffDisc = 0;
    double Sum = 0, SumSquares = 0;
    double Min = std::numeric_limits<double>::infinity(), Max = -std::numeric_limits<double>::infinity();

    void AddGood(double radiance)
    {
        ++Good;
        Sum += radiance;
        SumSquares += radiance * radiance;
        Min = std::min(Min, radiance);
        Max = std::max(Max, radiance);
    }
    void Merge(const TQuality& o)
    {
        Good += o.Good;
        Saturated += o.Saturated;
        Undersaturated += o.Undersaturated;
        NoValue += o.NoValue;
        OffDisc += o.OffDisc;
        Sum += o.Sum;
        SumSquares += o.SumSquares;
        Min = std::min(Min, o.Min);
        Max = std::max(Max, o.Max);
    }
    std::int64_t OutOfRange() const { return Saturated + Undersaturated; }
    std::int64_t Earth() const { return Good + OutOfRange() + NoValue; }
};

// One band's file of a scan, being written.
class TBandFile {
public:
    TBandFile(const fs::path& path, const TAbiBand& band, const TAbiGrid& grid, int satellite, TAbiSectorKind sector,
              const TAbiTimes& times, double earthSunDistance, int chunk, const std::string& name);
    // Rows [row0, row0 + rows) from the strip buffers.
    void PutStrip(int row0, int rows);
    // The quality counts and summary values; then the file is complete.
    void Finish();

    TAbiBand Band;
    TAbiGrid Grid;
    std::vector<std::int16_t> Rad;
    std::vector<std::uint8_t> Dqf;
    TQuality Quality;

private:
    TNcFile file_;
    int radVar_ = -1, dqfVar_ = -1;
    int validVar_ = -1, missingVar_ = -1, saturatedVar_ = -1, underVar_ = -1;
    int minVar_ = -1, maxVar_ = -1, meanVar_ = -1, stdVar_ = -1;
};

TBandFile::TBandFile(const fs::path& path, const TAbiBand& band, const TAbiGrid& grid, int satellite,
                     TAbiSectorKind sector, const TAbiTimes& times, double earthSunDistance, int chunk,
                     const std::string& name)
    : Band(band), Grid(grid), file_(path, true)
{
    const int nc = file_.Id();
    const double subLongitude = *AbiSatelliteLongitude(satellite);
    int y, x, bounds, bandDim, imageBounds;
    CheckNc(nc_def_dim(nc, "y", grid.Height, &y), "y");
    CheckNc(nc_def_dim(nc, "x", grid.Width, &x), "x");
    CheckNc(nc_def_dim(nc, "number_of_time_bounds", 2, &bounds), "bounds");
    CheckNc(nc_def_dim(nc, "band", 1, &bandDim), "band");
    CheckNc(nc_def_dim(nc, "number_of_image_bounds", 2, &imageBounds), "image bounds");

    const bool reflective = band.Reflective();
    const int yx[2] = {y, x};
    const std::size_t chunks[2] = {static_cast<std::size_t>(std::min(chunk, grid.Height)),
                                   static_cast<std::size_t>(std::min(chunk, grid.Width))};
    const std::string resolution = [&] {
        char buf[64];
        std::snprintf(buf, sizeof buf, "y: %.6f rad x: %.6f rad", -grid.YStep, grid.XStep);
        return std::string(buf);
    }();
    const short fill = static_cast<short>(band.FillValue());
    CheckNc(nc_def_var(nc, "Rad", NC_SHORT, 2, yx, &radVar_), "Rad");
    CheckNc(nc_def_var_chunking(nc, radVar_, NC_CHUNKED, chunks), "Rad chunks");
    CheckNc(nc_def_var_deflate(nc, radVar_, 1, 1, 1), "Rad deflate");
    CheckNc(nc_put_att_short(nc, radVar_, "_FillValue", NC_SHORT, 1, &fill), "Rad fill");
    PutText(nc, radVar_, "long_name", "ABI L1b Radiances");
    PutText(nc, radVar_, "standard_name",
            reflective ? "toa_outgoing_radiance_per_unit_wavelength" : "toa_outgoing_radiance_per_unit_wavenumber");
    PutText(nc, radVar_, "_Unsigned", "true");
    const signed char bits = static_cast<signed char>(band.Bits);
    CheckNc(nc_put_att_schar(nc, radVar_, "sensor_band_bit_depth", NC_BYTE, 1, &bits), "bit depth");
    const short validRange[2] = {0, static_cast<short>(band.FillValue() - 1)};
    CheckNc(nc_put_att_short(nc, radVar_, "valid_range", NC_SHORT, 2, validRange), "valid_range");
    PutFloatAtt(nc, radVar_, "scale_factor", {band.Scale});
    PutFloatAtt(nc, radVar_, "add_offset", {band.Offset});
    PutText(nc, radVar_, "units", reflective ? "W m-2 sr-1 um-1" : "mW m-2 sr-1 (cm-1)-1");
    PutText(nc, radVar_, "resolution", resolution);
    PutText(nc, radVar_, "coordinates", "band_id band_wavelength t y x");
    PutText(nc, radVar_, "grid_mapping", "goes_imager_projection");
    PutText(nc, radVar_, "cell_methods", "t: point area: point");
    PutText(nc, radVar_, "ancillary_variables", "DQF");

    CheckNc(nc_def_var(nc, "DQF", NC_BYTE, 2, yx, &dqfVar_), "DQF");
    CheckNc(nc_def_var_chunking(nc, dqfVar_, NC_CHUNKED, chunks), "DQF chunks");
    CheckNc(nc_def_var_deflate(nc, dqfVar_, 1, 1, 1), "DQF deflate");
    const signed char dqfFill = -1;
    CheckNc(nc_put_att_schar(nc, dqfVar_, "_FillValue", NC_BYTE, 1, &dqfFill), "DQF fill");
    PutText(nc, dqfVar_, "long_name", "ABI L1b Radiances data quality flags");
    PutText(nc, dqfVar_, "standard_name", "status_flag");
    PutText(nc, dqfVar_, "_Unsigned", "true");
    const signed char flags[4] = {0, 1, 2, 3};
    const signed char dqfRange[2] = {0, 3};
    CheckNc(nc_put_att_schar(nc, dqfVar_, "valid_range", NC_BYTE, 2, dqfRange), "DQF range");
    PutText(nc, dqfVar_, "units", "1");
    PutText(nc, dqfVar_, "coordinates", "band_id band_wavelength t y x");
    PutText(nc, dqfVar_, "grid_mapping", "goes_imager_projection");
    PutText(nc, dqfVar_, "cell_methods", "t: point area: point");
    CheckNc(nc_put_att_schar(nc, dqfVar_, "flag_values", NC_BYTE, 4, flags), "flag_values");
    PutText(nc, dqfVar_, "flag_meanings",
            "good_pixel_qf conditionally_usable_pixel_qf out_of_range_pixel_qf no_value_pixel_qf");
    const signed char qfValues = 4;
    CheckNc(nc_put_att_schar(nc, dqfVar_, "number_of_qf_values", NC_BYTE, 1, &qfValues), "qf values");

    const int t = DefineVar(nc, "t", NC_DOUBLE, 0, nullptr,
                            "J2000 epoch mid-point between the start and end image scan in seconds",
                            "seconds since 2000-01-01 12:00:00");
    PutText(nc, t, "standard_name", "time");
    PutText(nc, t, "axis", "T");
    PutText(nc, t, "bounds", "time_bounds");
    const int timeBounds = DefineVar(nc, "time_bounds", NC_DOUBLE, 1, &bounds,
                                     "Scan start and end times in seconds since epoch (2000-01-01 12:00:00)", nullptr);

    // The scan angles as whole steps from the sector's first pixel.
    const int yVar = DefineVar(nc, "y", NC_SHORT, 1, &y, "GOES fixed grid projection y-coordinate", "rad");
    const int xVar = DefineVar(nc, "x", NC_SHORT, 1, &x, "GOES fixed grid projection x-coordinate", "rad");
    for (const auto& [var, step, offset, axis] :
         {std::tuple{yVar, grid.YStep, grid.YOffset, "Y"}, std::tuple{xVar, grid.XStep, grid.XOffset, "X"}}) {
        PutFloatAtt(nc, var, "scale_factor", {static_cast<float>(step)});
        PutFloatAtt(nc, var, "add_offset", {static_cast<float>(offset)});
        PutText(nc, var, "axis", axis);
        PutText(nc, var, "standard_name", axis[0] == 'X' ? "projection_x_coordinate" : "projection_y_coordinate");
    }

    int proj = -1;
    CheckNc(nc_def_var(nc, "goes_imager_projection", NC_INT, 0, nullptr, &proj), "projection");
    PutText(nc, proj, "long_name", "GOES-R ABI fixed grid projection");
    PutText(nc, proj, "grid_mapping_name", "geostationary");
    const double projValues[] = {AbiPerspectiveHeight, AbiSemiMajor, AbiSemiMinor, 298.2572221, 0.0, subLongitude};
    const char* projNames[] = {"perspective_point_height",
                               "semi_major_axis",
                               "semi_minor_axis",
                               "inverse_flattening",
                               "latitude_of_projection_origin",
                               "longitude_of_projection_origin"};
    for (int i = 0; i < 6; ++i)
        CheckNc(nc_put_att_double(nc, proj, projNames[i], NC_DOUBLE, 1, &projValues[i]), projNames[i]);
    PutText(nc, proj, "sweep_angle_axis", "x");

    const int xImage = DefineVar(nc, "x_image", NC_FLOAT, 0, nullptr,
                                 "GOES-R fixed grid projection x-coordinate center of image", "rad");
    const int yImage = DefineVar(nc, "y_image", NC_FLOAT, 0, nullptr,
                                 "GOES-R fixed grid projection y-coordinate center of image", "rad");
    const int xBounds = DefineVar(nc, "x_image_bounds", NC_FLOAT, 1, &imageBounds,
                                  "GOES-R fixed grid projection x-coordinate west/east extent of image", "rad");
    const int yBounds = DefineVar(nc, "y_image_bounds", NC_FLOAT, 1, &imageBounds,
                                  "GOES-R fixed grid projection y-coordinate north/south extent of image", "rad");
    const int subLat = DefineVar(nc, "nominal_satellite_subpoint_lat", NC_FLOAT, 0, nullptr,
                                 "nominal satellite subpoint latitude (platform latitude)", "degrees_north");
    const int subLon = DefineVar(nc, "nominal_satellite_subpoint_lon", NC_FLOAT, 0, nullptr,
                                 "nominal satellite subpoint longitude (platform longitude)", "degrees_east");
    const int height = DefineVar(nc, "nominal_satellite_height", NC_FLOAT, 0, nullptr,
                                 "nominal satellite height above GRS 80 ellipsoid (platform altitude)", "km");
    const int yaw = DefineVar(nc, "yaw_flip_flag", NC_BYTE, 0, nullptr,
                              "Flag indicating the spacecraft is operating in yaw flip mode", nullptr);
    const int bandId = DefineVar(nc, "band_id", NC_BYTE, 1, &bandDim, "ABI band number", "1");
    const int wavelength = DefineVar(nc, "band_wavelength", NC_FLOAT, 1, &bandDim, "ABI band central wavelength", "um");
    const int esd = DefineVar(nc, "earth_sun_distance_anomaly_in_AU", NC_FLOAT, 0, nullptr,
                              "earth sun distance anomaly in astronomical units", "ua");
    const int esun = DefineVar(nc, "esun", NC_FLOAT, 0, nullptr,
                               "bandpass-weighted solar irradiance at the mean Earth-Sun distance", "W m-2 um-1");
    const int kappa0 = DefineVar(nc, "kappa0", NC_FLOAT, 0, nullptr,
                                 "Inverse of the incoming top of atmosphere radiance at current earth-sun distance (PI "
                                 "d2 esun-1)-1, where d is the ratio of instantaneous Earth-Sun distance divided by "
                                 "the mean Earth-Sun distance, esun is the bandpass-weighted solar irradiance and PI "
                                 "is a standard constant used to convert ABI L1b radiance to reflectance",
                                 "(W m-2 um-1)-1");
    const char* planckNames[] = {"planck_fk1", "planck_fk2", "planck_bc1", "planck_bc2"};
    const char* planckUnits[] = {"W m-1 sr-1", "K", "K", "1"};
    int planck[4];
    for (int i = 0; i < 4; ++i)
        planck[i] = DefineVar(nc, planckNames[i], NC_FLOAT, 0, nullptr, "Planck function coefficient", planckUnits[i]);
    for (int var : {esun, kappa0, planck[0], planck[1], planck[2], planck[3]})
        PutFloatAtt(nc, var, "_FillValue", {kNoValue});
    validVar_ = DefineVar(nc, "valid_pixel_count", NC_INT, 0, nullptr, "number of good and conditionally usable pixels",
                          "count");
    missingVar_ = DefineVar(nc, "missing_pixel_count", NC_INT, 0, nullptr, "number of missing pixels", "count");
    saturatedVar_ = DefineVar(nc, "saturated_pixel_count", NC_INT, 0, nullptr, "number of saturated pixels", "count");
    underVar_ =
        DefineVar(nc, "undersaturated_pixel_count", NC_INT, 0, nullptr, "number of undersaturated pixels", "count");
    const char* radianceUnits = reflective ? "W m-2 sr-1 um-1" : "mW m-2 sr-1 (cm-1)-1";
    minVar_ = DefineVar(nc, "min_radiance_value_of_valid_pixels", NC_FLOAT, 0, nullptr,
                        "minimum radiance value of pixels", radianceUnits);
    maxVar_ = DefineVar(nc, "max_radiance_value_of_valid_pixels", NC_FLOAT, 0, nullptr,
                        "maximum radiance value of pixels", radianceUnits);
    meanVar_ = DefineVar(nc, "mean_radiance_value_of_valid_pixels", NC_FLOAT, 0, nullptr,
                         "mean radiance value of pixels", radianceUnits);
    stdVar_ = DefineVar(nc, "std_dev_radiance_value_of_valid_pixels", NC_FLOAT, 0, nullptr,
                        "standard deviation of radiance values of pixels", radianceUnits);

    const bool east = subLongitude > -100.0;
    const char* sceneId = sector == TAbiSectorKind::Full    ? "Full Disk"
                          : sector == TAbiSectorKind::Conus ? "CONUS"
                                                            : "Mesoscale";
    const std::string platform = "G" + std::to_string(satellite);
    const char* instrument = satellite == 16 ? "FM1" : satellite == 18 ? "FM3" : "FM4";
    const char* spatial = band.Factor == 4 ? "0.5km at nadir" : band.Factor == 2 ? "1km at nadir" : "2km at nadir";
    const std::pair<const char*, std::string> globals[] = {
        {"naming_authority", "gov.nesdis.noaa"},
        {"Conventions", "CF-1.7"},
        {"Metadata_Conventions", "Unidata Dataset Discovery v1.0"},
        {"standard_name_vocabulary", "CF Standard Name Table (v35, 20 July 2016)"},
        {"institution", "DOC/NOAA/NESDIS > U.S. Department of Commerce, National Oceanic and Atmospheric "
                        "Administration, National Environmental Satellite, Data, and Information Services"},
        {"project", "GOES"},
        {"production_site", "RBU"},
        {"production_environment", "OE"},
        {"spatial_resolution", spatial},
        {"orbital_slot", east ? "GOES-East" : "GOES-West"},
        {"platform_ID", platform},
        {"instrument_type", "GOES R Series Advanced Baseline Imager"},
        {"scene_id", sceneId},
        {"instrument_ID", instrument},
        {"dataset_name", name},
        {"title", "ABI L1b Radiances"},
        {"summary", "Single reflective band ABI L1b Radiance Products are digital maps of outgoing radiance values "
                    "at the top of the atmosphere for visible and near-infrared (IR) bands; single emissive band "
                    "ABI L1b Radiance Products for IR bands. Made by orvanta-synth from a synthetic Earth."},
        {"keywords", "SPECTRAL/ENGINEERING > VISIBLE WAVELENGTHS > VISIBLE RADIANCE"},
        {"license", "Unclassified data.  Access is restricted to approved users only."},
        {"processing_level", "L1b"},
        {"cdm_data_type", "Image"},
        {"production_data_source", "Realtime"},
        {"timeline_id", "ABI Mode 6"},
        {"date_created", IsoTime(times.Created)},
        {"time_coverage_start", IsoTime(times.Start)},
        {"time_coverage_end", IsoTime(times.End)},
    };
    for (const auto& [key, value] : globals)
        PutText(nc, NC_GLOBAL, key, value);
    CheckNc(nc_enddef(nc), "enddef");

    const double start = (times.Start - kJ2000 * 10) / 10.0, end = (times.End - kJ2000 * 10) / 10.0;
    const double mid = 0.5 * (start + end), span[2] = {start, end};
    CheckNc(nc_put_var_double(nc, t, &mid), "t");
    CheckNc(nc_put_var_double(nc, timeBounds, span), "time_bounds");
    std::vector<short> steps(std::max(grid.Width, grid.Height));
    for (std::size_t i = 0; i < steps.size(); ++i)
        steps[i] = static_cast<short>(i);
    CheckNc(nc_put_var_short(nc, yVar, steps.data()), "y");
    CheckNc(nc_put_var_short(nc, xVar, steps.data()), "x");
    const float west = static_cast<float>(grid.XOffset),
                east2 = static_cast<float>(grid.XOffset + (grid.Width - 1) * grid.XStep);
    const float north = static_cast<float>(grid.YOffset),
                south = static_cast<float>(grid.YOffset + (grid.Height - 1) * grid.YStep);
    PutFloat(nc, xImage, 0.5f * (west + east2));
    PutFloat(nc, yImage, 0.5f * (north + south));
    const float xb[2] = {west, east2}, yb[2] = {north, south};
    CheckNc(nc_put_var_float(nc, xBounds, xb), "x_image_bounds");
    CheckNc(nc_put_var_float(nc, yBounds, yb), "y_image_bounds");
    PutFloat(nc, subLat, 0.0f);
    PutFloat(nc, subLon, static_cast<float>(subLongitude));
    PutFloat(nc, height, static_cast<float>(AbiPerspectiveHeight / 1000.0));
    const signed char zero = 0, id = static_cast<signed char>(band.Band);
    CheckNc(nc_put_var_schar(nc, yaw, &zero), "yaw_flip_flag");
    CheckNc(nc_put_var_schar(nc, bandId, &id), "band_id");
    PutFloat(nc, wavelength, band.Wavelength);
    PutFloat(nc, esd, static_cast<float>(earthSunDistance));
    PutFloat(nc, esun, reflective ? band.Esun : kNoValue);
    PutFloat(nc, kappa0,
             reflective ? static_cast<float>(kPi * earthSunDistance * earthSunDistance / band.Esun) : kNoValue);
    const float planckValues[4] = {band.Fk1, band.Fk2, band.Bc1, band.Bc2};
    for (int i = 0; i < 4; ++i)
        PutFloat(nc, planck[i], reflective ? kNoValue : planckValues[i]);
}

void TBandFile::PutStrip(int row0, int rows)
{
    const std::size_t start[2] = {static_cast<std::size_t>(row0), 0};
    const std::size_t count[2] = {static_cast<std::size_t>(rows), static_cast<std::size_t>(Grid.Width)};
    CheckNc(nc_put_vara_short(file_.Id(), radVar_, start, count, Rad.data()), "Rad");
    CheckNc(nc_put_vara_schar(file_.Id(), dqfVar_, start, count, reinterpret_cast<const signed char*>(Dqf.data())),
            "DQF");
}

void TBandFile::Finish()
{
    const int nc = file_.Id();
    const TQuality& q = Quality;
    const double earth = std::max<std::int64_t>(1, q.Earth());
    CheckNc(nc_redef(nc), "redef");
    PutFloatAtt(nc, dqfVar_, "percent_good_pixel_qf", {static_cast<float>(q.Good / earth)});
    PutFloatAtt(nc, dqfVar_, "percent_conditionally_usable_pixel_qf", {0.0f});
    PutFloatAtt(nc, dqfVar_, "percent_out_of_range_pixel_qf", {static_cast<float>(q.OutOfRange() / earth)});
    PutFloatAtt(nc, dqfVar_, "percent_no_value_pixel_qf", {static_cast<float>(q.NoValue / earth)});
    PutFloatAtt(nc, dqfVar_, "percent_focal_plane_temperature_threshold_exceeded_qf", {0.0f});
    CheckNc(nc_enddef(nc), "enddef");
    const int valid = static_cast<int>(q.Good), missing = static_cast<int>(q.NoValue),
              saturated = static_cast<int>(q.Saturated), under = static_cast<int>(q.Undersaturated);
    CheckNc(nc_put_var_int(nc, validVar_, &valid), "valid_pixel_count");
    CheckNc(nc_put_var_int(nc, missingVar_, &missing), "missing_pixel_count");
    CheckNc(nc_put_var_int(nc, saturatedVar_, &saturated), "saturated_pixel_count");
    CheckNc(nc_put_var_int(nc, underVar_, &under), "undersaturated_pixel_count");
    const double mean = q.Good ? q.Sum / q.Good : 0.0;
    const double variance = q.Good ? std::max(0.0, q.SumSquares / q.Good - mean * mean) : 0.0;
    PutFloat(nc, minVar_, q.Good ? static_cast<float>(q.Min) : 0.0f);
    PutFloat(nc, maxVar_, q.Good ? static_cast<float>(q.Max) : 0.0f);
    PutFloat(nc, meanVar_, static_cast<float>(mean));
    PutFloat(nc, stdVar_, static_cast<float>(std::sqrt(variance)));
    file_.Close();
}

// The scene's band nearest to an emissive ABI band.
int SceneBandOf(int abiBand)
{
    if (abiBand == 7)
        return 2;
    if (abiBand <= 10)
        return 3;
    if (abiBand <= 15)
        return 4;
    return 6;
}

} // namespace

double AbiSceneValue(int band, const TSceneSample& s)
{
    if (band <= 6)
        return s.Reflectance / 100.0;
    return s.KelvinOfBand(SceneBandOf(band));
}

double AbiRadiance(const TAbiBand& b, double value, double earthSunDistance)
{
    if (b.Reflective()) {
        const float kappa0 = static_cast<float>(kPi * earthSunDistance * earthSunDistance / b.Esun);
        return value / kappa0;
    }
    const double effective = static_cast<double>(b.Bc1) + static_cast<double>(b.Bc2) * value;
    return b.Fk1 / (std::exp(b.Fk2 / effective) - 1.0);
}

bool AbiCount(const TAbiBand& b, double radiance, int& count)
{
    const double c = std::round((radiance - b.Offset) / b.Scale);
    const int top = b.FillValue() - 1;
    count = static_cast<int>(std::clamp(c, 0.0, static_cast<double>(top)));
    return c >= 0.0 && c <= top;
}

TAbiGenerator::TAbiGenerator(const TOptions& options, const TLandMask& land, std::ostream* progress)
    : options_(options), scene_(options.Seed, land), progress_(progress)
{}

TGenerateResult TAbiGenerator::Run()
{
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    const fs::path dir(options_.OutDir);
    MakeDirectory(dir, "the output directory");
    if (!options_.AbiTruthDir.empty())
        MakeDirectory(options_.AbiTruthDir, "the directory");
    const auto jobs = MakeAbiSchedule(options_);
    const int threads = WorkerThreads(options_);
    TGenerateResult result;

    for (std::size_t j = 0; j < jobs.size(); ++j) {
        const TAbiScanJob& job = jobs[j];
        const TAbiTimes times = AbiScanTimes(job.Sector, job.StartTenths);
        const std::int64_t startSeconds = job.StartTenths / 10;
        const double subLongitude = *AbiSatelliteLongitude(job.Satellite);
        const double distance = EarthSunDistance(startSeconds);
        scene_.SetTime(startSeconds);
        scene_.SetViewLongitude(subLongitude);
        const TAbiWindow window = AbiSectorWindow(job.Satellite, job.Sector);
        const int chunk = job.Sector == TAbiSectorKind::Full ? 226 : 250;

        // Bands of one resolution share the pixel grid, so the scene is asked once a pixel
        // for all of them.
        for (int factor : {1, 2, 4}) {
            std::vector<TAbiBand> bands;
            for (int b : options_.AbiBands)
                if (AbiBand(b)->Factor == factor)
                    bands.push_back(*AbiBand(b));
            if (bands.empty())
                continue;
            const TAbiGrid grid = AbiBandGrid(window, factor);
            std::vector<std::unique_ptr<TBandFile>> files;
            std::vector<std::pair<fs::path, fs::path>> paths; // temporary, final
            std::vector<std::ofstream> truths;
            for (const TAbiBand& band : bands) {
                const std::string name =
                    AbiFileName(job.Satellite, job.Sector, band.Band, times.Start, times.End, times.Created);
                const fs::path final = dir / name;
                const fs::path temp = TemporaryPath(final, ".tmp");
                files.push_back(std::make_unique<TBandFile>(temp, band, grid, job.Satellite, job.Sector, times,
                                                            distance, chunk, name));
                paths.emplace_back(temp, final);
                if (!options_.AbiTruthDir.empty()) {
                    truths.emplace_back(fs::path(options_.AbiTruthDir) / (name.substr(0, name.size() - 3) + ".csv"));
                    truths.back() << "column,row,lon,lat,value,count,dqf\n" << std::setprecision(9);
                }
            }
            const std::size_t width = static_cast<std::size_t>(grid.Width);
            for (auto& f : files) {
                f->Rad.resize(width * chunk);
                f->Dqf.resize(width * chunk);
            }
            const std::uint64_t salt =
                MixBits(options_.Seed ^ MixBits(static_cast<std::uint64_t>(job.StartTenths) * 131 + job.Satellite * 7 +
                                                static_cast<int>(job.Sector)));
            // A sample of pixels, about 32 a side, recorded for checking the files.
            const int stride = std::max(1, grid.Width / 32);
            int reported = 0;
            for (int row0 = 0; row0 < grid.Height; row0 += chunk) {
                ThrowIfStopRequested();
                const int rows = std::min(chunk, grid.Height - row0);
                std::vector<std::vector<TQuality>> quality(threads, std::vector<TQuality>(bands.size()));
                ForThreads(threads, rows, [&](int thread, int from, int to) {
                    for (int r = from; r < to; ++r) {
                        const int row = row0 + r;
                        const double y = grid.YOffset + row * grid.YStep;
                        for (std::size_t c = 0; c < width; ++c) {
                            const std::size_t at = static_cast<std::size_t>(r) * width + c;
                            double lon = 0, lat = 0;
                            const bool onDisc = AbiScanToGeo(grid.XOffset + c * grid.XStep, y, subLongitude, lon, lat);
                            const TSceneSample s =
                                onDisc ? scene_.At(static_cast<float>(lon), static_cast<float>(lat)) : TSceneSample{};
                            for (std::size_t b = 0; b < bands.size(); ++b) {
                                const TAbiBand& band = bands[b];
                                TQuality& q = quality[thread][b];
                                TBandFile& f = *files[b];
                                if (!onDisc) {
                                    f.Rad[at] = static_cast<std::int16_t>(band.FillValue());
                                    f.Dqf[at] = 3;
                                    ++q.OffDisc;
                                    continue;
                                }
                                const std::uint64_t h = MixBits(salt + band.Band * 0x9E3779B97F4A7C15ULL +
                                                                static_cast<std::uint64_t>(row) * width + c) %
                                                        kDropoutRate;
                                int count = 0;
                                const bool inRange =
                                    AbiCount(band, AbiRadiance(band, AbiSceneValue(band.Band, s), distance), count);
                                if (h == 0) {
                                    f.Rad[at] = static_cast<std::int16_t>(band.FillValue());
                                    f.Dqf[at] = 3;
                                    ++q.NoValue;
                                } else if (h == 1 || !inRange) {
                                    // A saturated detector reads its top count.
                                    f.Rad[at] = static_cast<std::int16_t>(h == 1 ? band.FillValue() - 1 : count);
                                    f.Dqf[at] = 2;
                                    ++(h != 1 && count == 0 ? q.Undersaturated : q.Saturated);
                                } else {
                                    f.Rad[at] = static_cast<std::int16_t>(count);
                                    f.Dqf[at] = 0;
                                    q.AddGood(count * static_cast<double>(band.Scale) + band.Offset);
                                }
                            }
                        }
                    }
                });
                for (std::size_t b = 0; b < files.size(); ++b) {
                    for (const auto& q : quality)
                        files[b]->Quality.Merge(q[b]);
                    files[b]->PutStrip(row0, rows);
                }
                for (int r = 0; r < rows && !truths.empty(); ++r) {
                    const int row = row0 + r;
                    if (row % stride != stride / 2)
                        continue;
                    for (int c = stride / 2; c < grid.Width; c += stride) {
                        double lon = std::numeric_limits<double>::quiet_NaN(), lat = lon;
                        const bool onDisc = AbiScanToGeo(grid.XOffset + c * grid.XStep, grid.YOffset + row * grid.YStep,
                                                         subLongitude, lon, lat);
                        const TSceneSample s =
                            onDisc ? scene_.At(static_cast<float>(lon), static_cast<float>(lat)) : TSceneSample{};
                        const std::size_t at = static_cast<std::size_t>(r) * width + c;
                        for (std::size_t b = 0; b < files.size(); ++b)
                            truths[b] << c << ',' << row << ',' << lon << ',' << lat << ','
                                      << (onDisc ? AbiSceneValue(bands[b].Band, s) : 0.0) << ','
                                      << static_cast<std::uint16_t>(files[b]->Rad[at]) << ',' << int(files[b]->Dqf[at])
                                      << '\n';
                    }
                }
                const int done = (row0 + rows) * 10 / grid.Height;
                if (progress_ && width * grid.Height > 20000000 && done > reported && done < 10) {
                    reported = done;
                    *progress_ << "  " << done * 10 << "% of " << grid.Height << " rows\n" << std::flush;
                }
            }
            for (std::size_t b = 0; b < files.size(); ++b) {
                files[b]->Finish();
                PublishFile(paths[b].first, paths[b].second);
                result.Files.push_back(paths[b].second);
                if (!truths.empty() && !truths[b].flush())
                    throw std::runtime_error("cannot write the values behind " + paths[b].second.string());
            }
            if (progress_) {
                const double s = std::chrono::duration<double>(Clock::now() - t0).count();
                *progress_ << "[" << (j + 1) << "/" << jobs.size() << "] G" << job.Satellite << " Rad"
                           << AbiSectorCode(job.Sector) << " " << grid.Width << "x" << grid.Height << ", "
                           << files.size() << (files.size() == 1 ? " band" : " bands") << "  (" << std::fixed
                           << std::setprecision(1) << s << " s)\n"
                           << std::flush;
            }
        }
    }
    TotalUp(result, t0);
    return result;
}

} // namespace synth

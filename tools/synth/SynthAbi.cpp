#include "tools/synth/SynthAbi.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace synth {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Counts and radiance ranges of the bands, and the Planck coefficients of the emissive ones,
// as GOES-16's files carry them; the later satellites' differ from these in the fourth
// digit, which matters to no picture made from them.
constexpr TAbiBand kBands[] = {
    {1, 0.47f, 10, 2, 0.812106f, -25.9366f, 2017.1648f, 0, 0, 0, 0},
    {2, 0.64f, 12, 4, 0.158592f, -20.2899f, 1631.3351f, 0, 0, 0, 0},
    {3, 0.87f, 10, 2, 0.378070f, -12.0376f, 957.0699f, 0, 0, 0, 0},
    {4, 1.38f, 11, 1, 0.079048f, -4.52233f, 360.8964f, 0, 0, 0, 0},
    {5, 1.61f, 10, 2, 0.090000f, -3.04530f, 242.5475f, 0, 0, 0, 0},
    {6, 2.25f, 10, 1, 0.027500f, -0.76440f, 76.5162f, 0, 0, 0, 0},
    {7, 3.89f, 14, 1, 0.00156435f, -0.0376f, 0, 202263.0f, 3698.19f, 0.43361f, 0.99939f},
    {8, 6.17f, 12, 1, 0.022510f, -0.5586f, 0, 50687.1f, 2331.58f, 1.55228f, 0.99667f},
    {9, 6.93f, 11, 1, 0.020790f, -0.8236f, 0, 35828.3f, 2076.95f, 0.34427f, 0.99918f},
    {10, 7.34f, 12, 1, 0.029360f, -0.9561f, 0, 30174.0f, 1961.38f, 0.05651f, 0.99986f},
    {11, 8.44f, 12, 1, 0.042390f, -1.3022f, 0, 19779.8f, 1703.95f, 0.10474f, 0.99967f},
    {12, 9.61f, 11, 1, 0.049630f, -1.5394f, 0, 13432.1f, 1497.61f, 0.09102f, 0.99971f},
    {13, 10.33f, 12, 1, 0.044540f, -1.6443f, 0, 10803.3f, 1392.74f, 0.07550f, 0.99975f},
    {14, 11.21f, 12, 1, 0.051010f, -1.7187f, 0, 8510.22f, 1286.27f, 0.22516f, 0.99920f},
    {15, 12.29f, 12, 1, 0.053430f, -1.7558f, 0, 6454.62f, 1173.03f, 0.21702f, 0.99916f},
    {16, 13.28f, 10, 1, 0.146100f, -5.2392f, 0, 5101.27f, 1084.53f, 0.06266f, 0.99974f},
};

// The 2 km fixed grid: 5424 pixels of 56 microradians a side, pixel 0's centre at the
// angle below (east-west; north-south it is the same angle northwards).
constexpr int kGrid = 5424;
constexpr double kStep = 56e-6;
constexpr double kFirst = -0.151844;

struct TSatellite {
    int Number;
    double Longitude;
    TAbiWindow Conus, Meso1, Meso2;
};

// The CONUS window of GOES-East and the PACUS window of GOES-West lie where the real files
// put them; the mesoscale windows are wherever a forecaster might have asked for them.
constexpr TSatellite kSatellites[] = {
    {16, -75.2, {902, 422, 2500, 1500}, {2350, 1100, 500, 500}, {3100, 2400, 500, 500}},
    {18, -137.0, {1372, 452, 2500, 1500}, {3300, 1000, 500, 500}, {2600, 1700, 500, 500}},
    {19, -75.2, {902, 422, 2500, 1500}, {2350, 1100, 500, 500}, {3100, 2400, 500, 500}},
};

const TSatellite& Satellite(int number)
{
    for (const auto& s : kSatellites)
        if (s.Number == number)
            return s;
    throw std::invalid_argument("unknown ABI satellite G" + std::to_string(number));
}

// "s20263421200210": year, day of year, time of day and tenths.
std::string Stamp(char tag, std::int64_t tenths)
{
    const std::time_t t = static_cast<std::time_t>(tenths / 10);
    std::tm p{};
    gmtime_r(&t, &p);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%c%04d%03d%02d%02d%02d%d", tag, p.tm_year + 1900, p.tm_yday + 1, p.tm_hour,
                  p.tm_min, p.tm_sec, static_cast<int>(tenths % 10));
    return buf;
}

} // namespace

std::optional<TAbiSectorKind> AbiSectorByName(std::string_view name)
{
    if (name.starts_with("Rad"))
        name.remove_prefix(3);
    if (name == "F")
        return TAbiSectorKind::Full;
    if (name == "C")
        return TAbiSectorKind::Conus;
    if (name == "M1")
        return TAbiSectorKind::Meso1;
    if (name == "M2")
        return TAbiSectorKind::Meso2;
    return std::nullopt;
}

const char* AbiSectorCode(TAbiSectorKind sector)
{
    switch (sector) {
    case TAbiSectorKind::Full: return "F";
    case TAbiSectorKind::Conus: return "C";
    case TAbiSectorKind::Meso1: return "M1";
    case TAbiSectorKind::Meso2: return "M2";
    }
    return "?";
}

std::optional<TAbiBand> AbiBand(int band)
{
    for (const auto& b : kBands)
        if (b.Band == band)
            return b;
    return std::nullopt;
}

std::optional<double> AbiSatelliteLongitude(int satellite)
{
    for (const auto& s : kSatellites)
        if (s.Number == satellite)
            return s.Longitude;
    return std::nullopt;
}

TAbiWindow AbiSectorWindow(int satellite, TAbiSectorKind sector)
{
    const TSatellite& s = Satellite(satellite);
    switch (sector) {
    case TAbiSectorKind::Full: return {0, 0, kGrid, kGrid};
    case TAbiSectorKind::Conus: return s.Conus;
    case TAbiSectorKind::Meso1: return s.Meso1;
    case TAbiSectorKind::Meso2: return s.Meso2;
    }
    throw std::invalid_argument("unknown ABI sector");
}

TAbiGrid AbiBandGrid(const TAbiWindow& w, int factor)
{
    TAbiGrid g;
    g.Width = w.Width * factor;
    g.Height = w.Height * factor;
    g.XStep = kStep / factor;
    g.YStep = -kStep / factor;
    // A finer band's first pixel sits in the corner of the 2 km pixel, half its own
    // step in from the 2 km pixel's edge.
    const double inset = 0.5 * kStep - 0.5 * kStep / factor;
    g.XOffset = kFirst + w.Column * kStep - inset;
    g.YOffset = -kFirst - w.Row * kStep + inset;
    return g;
}

bool AbiScanToGeo(double x, double y, double subLongitude, double& lon, double& lat)
{
    constexpr double h = AbiPerspectiveHeight + AbiSemiMajor;
    constexpr double ratio = (AbiSemiMajor * AbiSemiMajor) / (AbiSemiMinor * AbiSemiMinor);
    const double sinX = std::sin(x), cosX = std::cos(x), sinY = std::sin(y), cosY = std::cos(y);
    // The line of sight meets the ellipsoid where a r^2 + b r + c = 0; the nearer root.
    const double a = sinX * sinX + cosX * cosX * (cosY * cosY + ratio * sinY * sinY);
    const double b = -2.0 * h * cosX * cosY;
    const double c = h * h - AbiSemiMajor * AbiSemiMajor;
    const double disc = b * b - 4.0 * a * c;
    if (disc < 0.0)
        return false;
    const double r = (-b - std::sqrt(disc)) / (2.0 * a);
    const double sx = r * cosX * cosY, sy = -r * sinX, sz = r * cosX * sinY;
    lat = std::atan(ratio * sz / std::hypot(h - sx, sy)) * 180.0 / kPi;
    lon = subLongitude - std::atan(sy / (h - sx)) * 180.0 / kPi;
    if (lon < -180.0)
        lon += 360.0;
    else if (lon >= 180.0)
        lon -= 360.0;
    return true;
}

std::string AbiFileName(int satellite, TAbiSectorKind sector, int band, std::int64_t startTenths,
                        std::int64_t endTenths, std::int64_t createdTenths)
{
    char head[64];
    std::snprintf(head, sizeof head, "OR_ABI-L1b-Rad%s-M6C%02d_G%d_", AbiSectorCode(sector), band, satellite);
    return head + Stamp('s', startTenths) + "_" + Stamp('e', endTenths) + "_" + Stamp('c', createdTenths) + ".nc";
}

TAbiTimes AbiScanTimes(TAbiSectorKind sector, std::int64_t startTenths)
{
    // Mode 6 takes 9 min 31 s over the full disk, 2 min 37 s over CONUS and under 6 s over
    // a mesoscale sector; the file follows the scan's end within a second.
    std::int64_t duration = 58;
    if (sector == TAbiSectorKind::Full)
        duration = 5708;
    else if (sector == TAbiSectorKind::Conus)
        duration = 1573;
    const std::int64_t end = startTenths + duration;
    return {startTenths, end, end + (sector == TAbiSectorKind::Full ? 6 : 4)};
}

double EarthSunDistance(std::int64_t unixSeconds)
{
    // Perihelion in early January; good to a few parts in ten thousand.
    const double days = (unixSeconds - 946728000) / 86400.0; // since 2000-01-01 12:00
    const double meanAnomaly = (357.529 + 0.98560028 * days) * kPi / 180.0;
    return 1.00014 - 0.01671 * std::cos(meanAnomaly) - 0.00014 * std::cos(2 * meanAnomaly);
}

} // namespace synth

#pragma once
// The Advanced Baseline Imager of GOES-16, -18 and -19 as its Level 1b radiance files show
// it: the bands' counts and calibration, the sectors on the fixed grid, the fixed grid's
// navigation and the files' names. The navigation is written here from the published
// formulas rather than taken from the station, so that files made with it check the
// station's own.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace synth {

enum class TAbiSectorKind { Full, Conus, Meso1, Meso2 };

// "F", "C", "M1", "M2" as on the command line (also "RadC" style names without "Rad").
std::optional<TAbiSectorKind> AbiSectorByName(std::string_view name);
// As the file names write it after "Rad": "F", "C", "M1", "M2".
const char* AbiSectorCode(TAbiSectorKind sector);

struct TAbiBand {
    int Band;
    float Wavelength; // micrometres, as band_wavelength
    int Bits; // of the counts; the fill value is the largest count
    int Factor; // pixels per 2 km pixel along a side
    float Scale, Offset; // radiance = count * Scale + Offset
    float Esun; // W m-2 um-1, reflective bands; 0 for the emissive ones
    float Fk1, Fk2, Bc1, Bc2; // Planck coefficients, emissive bands
    bool Reflective() const { return Esun > 0; }
    int FillValue() const { return (1 << Bits) - 1; }
};

// Nothing for a band outside 1..16.
std::optional<TAbiBand> AbiBand(int band);

// Longitude of the satellite's station (degrees east); nothing for an unknown satellite.
std::optional<double> AbiSatelliteLongitude(int satellite);

// A sector's window on the 2 km fixed grid: its top-left pixel and its size in 2 km pixels.
struct TAbiWindow {
    int Column = 0, Row = 0, Width = 0, Height = 0;
};
TAbiWindow AbiSectorWindow(int satellite, TAbiSectorKind sector);

// The scan angles (radians) of a band's pixel centres in a window: x of column i is
// XOffset + i * XStep, y of row j is YOffset + j * YStep (YStep negative: rows run south).
struct TAbiGrid {
    int Width = 0, Height = 0; // pixels of the band
    double XOffset = 0, YOffset = 0, XStep = 0, YStep = 0;
};
TAbiGrid AbiBandGrid(const TAbiWindow& window, int factor);

// The GRS80 ellipsoid and the orbit of the fixed grid (metres).
inline constexpr double AbiSemiMajor = 6378137.0;
inline constexpr double AbiSemiMinor = 6356752.31414;
inline constexpr double AbiPerspectiveHeight = 35786023.0;

// Geodetic longitude and latitude (degrees) of the scan angles x (east-west) and y
// (north-south), radians, of a satellite at subLongitude; false where the line of sight
// misses the Earth.
bool AbiScanToGeo(double x, double y, double subLongitude, double& lon, double& lat);

// "OR_ABI-L1b-RadF-M6C13_G18_s20263421200210_e20263421209518_c20263421209580.nc": times in
// tenths of a second since 1970.
std::string AbiFileName(int satellite, TAbiSectorKind sector, int band, std::int64_t startTenths,
                        std::int64_t endTenths, std::int64_t createdTenths);

// Start, end and creation of a scan starting at startTenths, as the real files space them.
struct TAbiTimes {
    std::int64_t Start = 0, End = 0, Created = 0; // tenths of a second since 1970
};
TAbiTimes AbiScanTimes(TAbiSectorKind sector, std::int64_t startTenths);

// The Earth-Sun distance in astronomical units at a time (seconds since 1970).
double EarthSunDistance(std::int64_t unixSeconds);

} // namespace synth

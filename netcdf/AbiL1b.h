#pragma once
// The Advanced Baseline Imager's Level 1b radiance files (GOES-16 to GOES-19): their names,
// their header checked before any array is read, and one scan calibrated to the station's
// 8-bit greys on the 2 km fixed grid.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/DateTime.h"
#include "imaging/BMPExtImage.h"

enum class TAbiSector : std::uint8_t { FullDisk, Conus, Meso1, Meso2 };

// "OR_ABI-L1b-RadF-M6C13_G18_s20263421200210_e20263421209518_c20263421209580.nc", a ".bz2"
// after it allowed.
struct TAbiName {
    int Satellite = 0; // 16..19
    int Band = 0; // 1..16
    TAbiSector Sector = TAbiSector::FullDisk;
    int Mode = 0; // the scan mode (3, 4 or 6)
    TDateTime Start = 0, End = 0, Created = 0; // tenths of seconds kept
};

// Takes the name after the last '/'; nullopt for any other name, and for one whose times
// cannot be (day 0, day 366 of a common year, hour 24, ...).
std::optional<TAbiName> ParseAbiFileName(std::string_view path);
// Why the name is not one ParseAbiFileName takes, in words; empty when it is.
std::string AbiNameProblem(std::string_view path);

// The 2 km fixed grid every composite is on: 5424 x 5424 pixels of 56 microradians, the scan
// angle of pixel i's centre AbiGridOrigin + i * AbiGridStep east-west, and the same
// north-south counted from the north (-AbiGridOrigin - j * AbiGridStep).
inline constexpr int AbiGridSize = 5424;
inline constexpr double AbiGridStep = 56e-6;
inline constexpr double AbiGridOrigin = -0.151844;

// Pixels of the band's own resolution per 2 km pixel along each side: 4 for band 2 (0.5 km),
// 2 for bands 1, 3 and 5 (1 km), 1 for the others; 0 for no band.
int AbiBandFactor(int band);
// The band's centre wavelength in micrometres as the legend gives it ("10.3"); empty for no band.
std::string_view AbiBandWavelength(int band);

// The file's pixels by quality, counted at the band's own resolution.
struct TAbiQuality {
    std::int64_t Good = 0; // DQF 0
    std::int64_t Conditional = 0; // DQF 1: used
    std::int64_t OutOfRange = 0; // DQF 2: no data
    std::int64_t NoValue = 0; // DQF 3 or the fill value: no data
    // The file's own percent_good_pixel_qf; negative when it has none.
    double PercentGood = -1;
};

// The satellite's view as the file's goes_imager_projection gives it (metres, degrees east).
struct TAbiProjection {
    double SubLongitude = 0;
    double SemiMajorAxis = 6378137.0;
    double SemiMinorAxis = 6356752.31414;
    double PerspectiveHeight = 35786023.0;
};

struct TAbiScan {
    TAbiName Name;
    TAbiProjection Projection;
    // The scan's window on the 2 km grid: its top-left pixel; the window is Grey's size.
    int X = 0, Y = 0;
    // 8-bit greys at 2 km: infrared bands on the GOES-15 infrared scale (KelvinToCount),
    // bands 1-6 on band 1's reflectance scale with the gamma asked for.
    TExtBitmap Grey;
    // Of Grey's size: 255 where Grey holds data, 0 where the file has none (the fill value,
    // DQF 2 or 3 on every pixel of the 2 km pixel).
    TExtBitmap Valid;
    TAbiQuality Quality;
};

// Reads one file: its content when given (held by the caller), otherwise the file name.
// Every check of the header runs before an array is read; the arrays are read in strips, so
// that a full disk of the 0.5 km band never lies in memory whole. Empty on success, else why
// the file cannot be used ("Rad is not 16-bit", "band_id 7 disagrees with the name's band
// 13", ...), and scan is then unspecified.
std::string ReadAbiScan(const std::string& name, std::span<const char> content, float gamma, TAbiScan& scan);

#include "netcdf/Sector.h"

#include <cmath>

namespace {

// Round to nearest with halves to even (the default rounding mode).
int RoundEven(long double v) { return static_cast<int>(std::nearbyint(v)); }

} // namespace

TSectorPlacement SectorPlacement(int sector, int width, int height)
{
    TSectorPlacement p;
    switch (sector) {
    case SectorFullDisk:
        p.NewWidth = RoundEven(static_cast<long double>(width) * 0.571L);
        // The short scan is recognised by its height before the wide one by its width.
        if (height == 2395) {
            p.X = 57;
            p.Y = 580;
        } else if (width == 5212) {
            p.X = 50;
            p.Y = 270;
        } else {
            p.X = 54;
            p.Y = 268;
        }
        break;
    case SectorNorthern:
        p.NewWidth = RoundEven(static_cast<long double>(width) * 4.0L / 7.0L);
        p.X = 255;
        p.Y = 268;
        break;
    case SectorSouthern:
        p.NewWidth = RoundEven(static_cast<long double>(width) * 4.0L / 7.0L);
        p.X = width == 1021 ? 255 : 249;
        p.Y = 1606;
        p.CutTwoColumns = true;
        break;
    default:
        p.NewWidth = width;
        break;
    }
    return p;
}

std::string SectorLabel(std::uint8_t sector)
{
    switch (sector) {
    case SectorFullDisk: return "FD  ";
    case SectorNorthern: return "NH  ";
    case SectorSouthern: return "SH  ";
    case SectorAbiFullDisk: return "FD  ";
    case SectorConus: return "CONUS  ";
    case SectorMeso1: return "M1  ";
    case SectorMeso2: return "M2  ";
    default: return "";
    }
}

std::string SectorWords(std::uint8_t sector)
{
    switch (sector) {
    case SectorFullDisk: return "full disk";
    case SectorNorthern: return "northern hemisphere";
    case SectorSouthern: return "southern hemisphere";
    case SectorAbiFullDisk: return "full disk";
    case SectorConus: return "CONUS";
    case SectorMeso1: return "mesoscale 1";
    case SectorMeso2: return "mesoscale 2";
    default: return "unknown";
    }
}

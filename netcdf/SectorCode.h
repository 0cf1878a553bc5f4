#pragma once
// The sector a scan covers, as the image reader decides it; the cycle, the product's
// placement and the sample feed all speak of sectors by these codes.

#include <cstdint>

enum : std::uint8_t { SectorUnknown = 0, SectorFullDisk = 1, SectorNorthern = 2, SectorSouthern = 3 };

#pragma once
// The sector a scan covers: its code as the image reader decides it, the words the station
// says it with, and where a scan of it goes in its channel's composite. The product places
// scans with it and the sample-feed generator builds its scans against it, so both sides agree
// on every pixel.

#include <cstdint>
#include <string>

enum : std::uint8_t { SectorUnknown = 0, SectorFullDisk = 1, SectorNorthern = 2, SectorSouthern = 3 };
// The ABI's sectors, placed on its fixed grid by their own coordinates.
enum : std::uint8_t { SectorAbiFullDisk = 4, SectorConus = 5, SectorMeso1 = 6, SectorMeso2 = 7 };

// "FD  ", "NH  ", "SH  " for sectors 1, 2, 3; "FD  ", "CONUS  ", "M1  ", "M2  " for the
// ABI's; empty otherwise.
std::string SectorLabel(std::uint8_t sector);
// "full disk", "northern hemisphere", "southern hemisphere", "CONUS", "mesoscale 1",
// "mesoscale 2"; "unknown" otherwise.
std::string SectorWords(std::uint8_t sector);

struct TSectorPlacement {
    int NewWidth = 0; // width after resampling; the height never changes
    int X = 0; // top-left corner in the composite
    int Y = 0;
    bool CutTwoColumns = false; // drop the last two columns after resampling
};

// Pure: the sector code and the decoded size in, the placement out. An unknown sector is
// drawn as decoded at (0, 0).
TSectorPlacement SectorPlacement(int sector, int width, int height);

#pragma once
// Where a decoded scan goes in its channel's composite. The product places scans with it
// and the sample-feed generator builds its scans against it, so both sides agree on every
// pixel.

#include <cstdint>

#include "netcdf/SectorCode.h"

struct TSectorPlacement {
    int NewWidth = 0;           // width after resampling; the height never changes
    int X = 0;                  // top-left corner in the composite
    int Y = 0;
    bool CutTwoColumns = false; // drop the last two columns after resampling
};

// Pure: the sector code and the decoded size in, the placement out. An unknown sector is
// drawn as decoded at (0, 0).
TSectorPlacement SectorPlacement(int sector, int width, int height);

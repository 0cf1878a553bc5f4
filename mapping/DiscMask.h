#pragma once
// The off-Earth mask of a geostationary picture: 255 where the inverse transform finds the
// Earth's disc, 0 elsewhere. The program's built-in mask is this picture for the composite's
// own mapping, generated when the program is built.

#include <cstdint>
#include <vector>

class TSegmentMapping;

struct TDiscMask {
    int Width = 0;
    int Height = 0;
    // Width * Height bytes, top line first, no row padding.
    std::vector<std::uint8_t> Pixels;
};

TDiscMask RenderDiscMask(const TSegmentMapping& mapping);

// The composite's mapping: row 125 with the satellite 7 degrees east of its nominal place.
TSegmentMapping CompositeMapping();

#pragma once
// The off-Earth mask of a geostationary picture: 255 where the inverse transform finds the
// Earth's disc, 0 elsewhere. The program's built-in mask is this picture for the composite's
// own mapping, generated when the program is built.

#include <cstdint>
#include <vector>

#include "mapping/CompositeLayout.h" // CompositeMapping, the mask's usual mapping

class TSegmentMapping;

struct TDiscMask {
    int Width = 0;
    int Height = 0;
    // Width * Height bytes, top line first, no row padding.
    std::vector<std::uint8_t> Pixels;
};

TDiscMask RenderDiscMask(const TSegmentMapping& mapping);

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

// The disc meets each line of the picture in one run of pixels, or in none (first == end):
// from first up to, not including, end. Per line, top first; the same disc as RenderDiscMask
// in a few kilobytes.
struct TDiscRun {
    int First = 0;
    int End = 0;
};
std::vector<TDiscRun> DiscRuns(const TSegmentMapping& mapping);
// DiscRuns of the composite's own mapping, worked out once.
const std::vector<TDiscRun>& CompositeDiscRuns();

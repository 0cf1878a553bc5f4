#pragma once
// Where the land is. The coastlines the product draws over the composite come from GSHHS
// shoreline polygons, so the scene takes its land from the same polygons: each is filled
// into a longitude/latitude raster with the even-odd rule, which by itself turns lakes
// (level 2) back into water and islands in lakes (level 3) into land again.

#include <cstdint>
#include <string>
#include <vector>

namespace synth {

class TLandMask {
public:
    // An empty mask: the scene then makes up its own continents.
    TLandMask() = default;

    // Reads a GSHHS shoreline file; false (mask left empty) when it cannot be read or
    // holds nothing usable. cellsPerDegree sets the raster's resolution.
    bool LoadGshhs(const std::string& path, int cellsPerDegree = 20);

    bool Empty() const { return cells_.empty(); }
    // 1 on land, 0 on water (or when empty). Longitude in any range.
    std::uint8_t At(float lon, float lat) const;

private:
    int perDegree_ = 0, width_ = 0, height_ = 0;
    std::vector<std::uint8_t> cells_;
};

// The first GSHHS shoreline file that exists among: the given path, the entries of the
// ORVANTA_GSHHS list ('|'-separated, border files skipped) and the system's default
// location. Empty when there is none.
std::string FindShorelineFile(const std::string& preferred);

} // namespace synth

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

    // Reads a shoreline file, GSHHS polygons or GSHHG's binned netCDF, whichever it is;
    // false (mask left empty) when it cannot be read or holds nothing usable.
    // cellsPerDegree sets the raster's resolution.
    bool Load(const std::string& path, int cellsPerDegree = 20);
    bool LoadGshhs(const std::string& path, int cellsPerDegree = 20);
    // The binned pieces of each polygon are joined end to end back into its ring.
    bool LoadBinned(const std::string& path, int cellsPerDegree = 20);

    bool Empty() const { return cells_.empty(); }
    // 1 on land, 0 on water (or when empty). Longitude in any range.
    std::uint8_t At(float lon, float lat) const;

private:
    struct TRingPoint {
        double Lon, Lat;
    };
    bool Start(int cellsPerDegree);
    static void CloseThroughThePole(std::vector<TRingPoint>& poly);
    void FillRing(const std::vector<TRingPoint>& poly, std::vector<std::uint8_t>& cells,
                  std::vector<double>& crossings) const;

    int perDegree_ = 0, width_ = 0, height_ = 0;
    std::vector<std::uint8_t> cells_;
};

// The shoreline file the station itself would draw: the given path when it exists, else the
// first shoreline (GSHHS or binned; border and river files skipped) of the station's
// start-up list. Empty when there is none.
std::string FindShorelineFile(const std::string& preferred);

} // namespace synth

#pragma once
// Scan layouts and their geolocation. A scan's pixels are laid out so that the product,
// placing the scan into the composite by its own rule, puts every sample where the
// composite's geostationary mapping expects that spot of the Earth: the position of scan
// pixel (e, l) in the composite is fixed by the placement, and its longitude and latitude
// come from the composite's inverse mapping at that position.

#include "netcdf/Sector.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace synth {

enum class TScanKind { FullDisk, FullDiskWide, FullDiskShort, Northern, Southern, SouthernNarrow };

struct TScanKindInfo {
    TScanKind Kind;
    const char* Name; // as on the command line
    int Lines, Elements;
    int Sector;
};

const TScanKindInfo& ScanKindInfo(TScanKind kind);
std::optional<TScanKind> ScanKindByName(std::string_view name);

struct TScanLayout {
    TScanKind Kind = TScanKind::FullDisk;
    int Sector = SectorFullDisk;
    int Lines = 0, Elements = 0;     // the grid written (after any scaling)
    int FullLines = 0, FullElements = 0;
    TSectorPlacement Placement;      // of the full-size scan
    int StartLine = 0, StartElement = 0; // imager coordinates (visible-detector units)
    int LineResolution = 4, ElementResolution = 4; // km
    // Composite position of pixel (e, l): X = OriginX + e * StepX, Y = OriginY + l * StepY.
    double OriginX = 0, OriginY = 0, StepX = 1, StepY = 1;

    double CompositeX(double e) const { return OriginX + e * StepX; }
    double CompositeY(double l) const { return OriginY + l * StepY; }
};

// scale shrinks the grid (0 < scale <= 1): the same area, sampled more coarsely.
TScanLayout MakeScanLayout(TScanKind kind, double scale = 1.0);

// Longitude and latitude of a whole composite pixel; false off the Earth's disc.
using TPixelToGeo = std::function<bool(int x, int y, float& lon, float& lat)>;
// Makes one TPixelToGeo per worker thread, so no mapping object is shared between threads.
using TPixelToGeoFactory = std::function<TPixelToGeo()>;

// Geolocates a scan line by line. Positions between composite pixels are interpolated
// from the pixels around them; a position any of whose contributing pixels is off the
// disc counts as off the disc (NaN), so the scan's disc never reaches beyond the
// composite's.
class TScanGeolocator {
public:
    TScanGeolocator(const TScanLayout& layout, TPixelToGeo pixelToGeo);
    // lon and lat hold Elements values each; off-disc samples get NaN.
    void Line(int line, std::span<float> lon, std::span<float> lat);

private:
    struct TRow {
        int Y = 0;
        std::vector<float> Lon, Lat;
        std::vector<unsigned char> State; // 0 not yet asked, 1 off the disc, 2 on it
    };
    // The row of composite line y; never evicts the row of line keep.
    TRow& Row(int y, int keep);
    // Asks the mapping only for the pixels a scan actually touches.
    bool OnDisc(TRow& r, int i);

    TScanLayout layout_;
    TPixelToGeo pixelToGeo_;
    int firstColumn_ = 0, columns_ = 0;
    std::vector<int> column0_;     // per element: left composite column
    std::vector<float> weightX_;   // per element: weight of the right column
    TRow rows_[2];
    int nextRow_ = 0;
};

// GOES-15's station, degrees east.
inline constexpr double Goes15Longitude = -128.0;

// Cosine of the zenith angle of a geostationary satellite at subLongitude, seen from a
// position (negative beyond the limb): the slant path through the atmosphere that darkens
// the infrared towards the limb.
double CosSatelliteZenith(float lon, float lat, double subLongitude = Goes15Longitude);

} // namespace synth

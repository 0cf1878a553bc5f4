#pragma once
// A segment mapping as the rest of the geospatial world names it: the geostationary
// projection ("+proj=geos", sweep about the y axis, as this program's scan angles are
// measured) on the row's own ellipsoid and satellite distance, and the affine transform from
// a picture's pixel edges to the projection's metres. Georeferenced files are described from
// here, so a GIS places each pixel where PixelToGeo says it shows.

#include <array>
#include <optional>
#include <string>

class TSegmentMapping;

struct TGeostationaryView {
    double SubSatelliteLongitude = 0;  // degrees east, in [-180, 180)
    double SemiMajorAxis = 0;          // metres
    double SemiMinorAxis = 0;          // metres
    double SatelliteHeight = 0;        // metres above the equator's surface
    // The axis swept first: 'y' for this program's segment rows (as Meteosat scans), 'x' for
    // the ABI's fixed grid.
    char Sweep = 'y';
    // GDAL's order: x of the picture's left edge, x per column, 0, y of its top edge, 0, y
    // per line (negative: north up), in metres of the projection.
    std::array<double, 6> GeoTransform{};

    std::string ProjString() const;
};

// Empty for rows whose pixels are not an affine grid of scan angles (the fixed engine of the
// newer rows, presets, the world map).
std::optional<TGeostationaryView> GeostationaryView(const TSegmentMapping& mapping);

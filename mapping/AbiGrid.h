#pragma once
// The ABI's fixed grid as a map: pixel <-> longitude/latitude on the 2 km grid every ABI
// composite is kept on, in the satellite's own view (the geostationary projection swept
// about the x axis, as GOES scans), its off-Earth mask, and its description for GeoTIFFs.

#include <optional>
#include <vector>

#include "mapping/DiscMask.h"
#include "mapping/GeostationaryView.h"
#include "mapping/Mapping.h"
#include "netcdf/AbiL1b.h"

class TAbiGridMapping : public TMapping {
public:
    explicit TAbiGridMapping(const TAbiProjection& projection = {});

    const TAbiProjection& Projection() const { return projection_; }
    int ImageHeight() const override { return AbiGridSize; }
    int ImageWidth() const override { return AbiGridSize; }
    int DrawingHeight() const override { return AbiGridSize; }
    int DrawingWidth() const override { return AbiGridSize; }
    bool IsMapProjection() const override { return false; }
    bool GeoToPixel(int& X, int& Y, float Longitude, float Latitude) const override;
    bool GeoToPixelF(float& X, float& Y, float Longitude, float Latitude) const override;
    bool PixelToGeo(int X, int Y, float& Longitude, float& Latitude) const override;

    // Scan angles in radians (x east-west, y north-south) of a point, or false when the
    // satellite cannot see it; and back, false off the disc.
    bool GeoToScan(long double longitude, long double latitude, long double& x, long double& y) const;
    bool ScanToGeo(long double x, long double y, long double& longitude, long double& latitude) const;
    // Whether the line of sight through these scan angles meets the Earth.
    bool ScanOnDisc(long double x, long double y) const;

private:
    TAbiProjection projection_;
};

// The disc on the grid: per line the run of pixels that show the Earth. The disc does not
// depend on where the satellite stands, only on the ellipsoid and the height.
std::vector<TDiscRun> AbiDiscRuns(const TAbiProjection& projection);

// The grid as GDAL and PROJ name it: "+proj=geos +sweep=x", the file's longitude, height and
// ellipsoid, and the pixel edges in the projection's metres.
TGeostationaryView AbiGeostationaryView(const TAbiProjection& projection);

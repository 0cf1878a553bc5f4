#pragma once
// Pixel <-> longitude/latitude for images taken by geostationary satellites. A row of the
// segment table chooses the image layout; the composite's row and shift are in
// CompositeLayout.h.

#include <cstdint>
#include <span>
#include <string_view>

#include "mapping/Mapping.h"

// One image layout. The base grid is 2500 x 2500 pixels of 0.0072 degrees; the offsets place
// the image on it, the factor gives image pixels per base-grid pixel.
struct TASegmentData {
    std::string_view Name;
    std::string_view AltName;
    float LineOffset;
    float ColumnOffset;
    std::int32_t Columns;
    std::int32_t Lines;
    float PixelFactor;
    float NominalLongitude;
};

inline constexpr int SegmentCount = 156;

// Rows 1..156 at indexes 0..155.
std::span<const TASegmentData, SegmentCount> SegmentTable();
// Row by number; nullptr outside 1..156.
const TASegmentData* SegmentData(int row);

// Earth model of a row, kilometres.
struct TEarthModel {
    float PolarRadius;
    float EquatorialRadius;
    float SatelliteDistance;
};
TEarthModel EarthModelOfRow(int row);

// The fixed mapping a few rows hand their transforms to (92, 95, 96, 143, 145); nullptr
// for every other row.
const TMapping* SegmentPreset(int row);

class TSegmentMapping : public TMapping {
public:
    // Projection kind 0 and PixelScale 1.0.
    TSegmentMapping();

    int ImageHeight() const override;
    int ImageWidth() const override;
    void Assign(const TMapping& source) override;
    void DrawGraticule(TExtBitmap* Bitmap, int LonStep, int LatStep, TColor LabelColour,
                       TColor LineColour, int OffsetX, int OffsetY, bool NoLabels,
                       std::uint8_t SpecialLines, TColor HaloColour) override;
    bool GeoToPixel(int& X, int& Y, float Longitude, float Latitude) const override;
    bool PixelToGeo(int X, int Y, float& Longitude, float& Latitude) const override;

    // Fractional pixel position without PixelScale, rounding or origin; false (and 0, 0)
    // when the point cannot be seen from the satellite.
    bool GeoToSegmentXY(float& X, float& Y, float Longitude, float Latitude) const;

    // Whether PixelToGeo finds the Earth at this pixel, without working out where.
    bool PixelOnDisc(int X, int Y) const;
    // For rows of the generic engine the scan angles of a column do not depend on the line
    // and those of a line not on the column, so a whole picture can be tested with one
    // tangent per column and per line: ScanTangents gives them (false for the other
    // engines), TangentsOnDisc is PixelOnDisc's test on them.
    bool ScanTangents(int X, int Y, long double& tx, long double& ty) const;
    bool TangentsOnDisc(long double tx, long double ty) const;
    // For the same rows the scan angles (radians) of the pixel centres are an affine grid:
    // x = x0 + dx * X, y = y0 + dy * Y for pixel (X, Y). False for the other engines.
    bool ScanAngleGrid(long double& x0, long double& dx, long double& y0, long double& dy) const;
    // Where the satellite stands, degrees east (shift included, not wrapped); 0 without a row.
    long double SubSatelliteLongitude() const;

    std::uint8_t SegmentIndex = 0;
    float PixelScale = 1.0f;

private:
    long double SubSatelliteLongitude(const TASegmentData& seg) const;
    // Scan angles in radians of a pixel (already shifted by the origins) of a generic row.
    static void GenericScanAngles(int row, const TASegmentData& seg, float px, float py,
                                  long double& x, long double& y);
};

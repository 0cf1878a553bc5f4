#pragma once
// Map projections between image pixels and longitude/latitude. The base class carries a
// family of fourteen projection kinds chosen by number; the geostationary segment mapping
// derives from it and replaces the transforms with the satellite geometry.
//
// Angles are stored in degrees as single-precision values; every computation between them
// runs in long double and the results are stored back as float, so a mapping gives the same
// pixels wherever it is evaluated.

#include <cstdint>

#include "imaging/Canvas.h"

class TExtBitmap;

class TMapping {
public:
    TMapping() = default;
    TMapping(const TMapping&) = default;
    TMapping& operator=(const TMapping&) = default;

    // Virtual operations, in the order every derived mapping relies on.
    virtual void SetProjection(std::uint8_t kind);
    virtual int ImageHeight() const;
    virtual int ImageWidth() const;
    // Clip limits for grid lines.
    virtual int DrawingHeight() const;
    virtual int DrawingWidth() const;
    virtual void Assign(const TMapping& source);
    virtual void CopyFrom(const TMapping& source);
    virtual void DrawGraticule(TExtBitmap* Bitmap, int LonStep, int LatStep, TColor LabelColour,
                               TColor LineColour, int OffsetX, int OffsetY, bool NoLabels,
                               std::uint8_t SpecialLines, TColor HaloColour);
    virtual void DrawGraticuleOnCanvas(TCanvas* Canvas, int LonStep, int LatStep,
                                       TColor LabelColour, TColor LineColour, int OffsetX,
                                       int OffsetY, bool NoLabels, std::uint8_t SpecialLines,
                                       TColor HaloColour);
    virtual bool IsMapProjection() const;
    // Forward transform to whole pixels (halves to even); false when the point is not shown.
    virtual bool GeoToPixel(int& X, int& Y, float Longitude, float Latitude) const;
    // The same transform keeping the fractions.
    virtual bool GeoToPixelF(float& X, float& Y, float Longitude, float Latitude) const;
    // Inverse transform; false when the pixel shows no point of the Earth.
    virtual bool PixelToGeo(int X, int Y, float& Longitude, float& Latitude) const;
    virtual ~TMapping() = default;

    // Setters: each stores its value and recomputes the derived constants.
    void SetImageHeight(int n);
    void SetImageWidth(int n);
    void SetCentralLongitude(float value);
    void SetLatitudeSpan(float value);
    void SetLongitudeSpan(float value);
    // Resets both standard parallels to |value|, so set the parallels afterwards.
    void SetReferenceLatitude(float value);
    void SetParallel1(float value);
    void SetParallel2(float value);
    // The origins are stored as floats but read back as whole pixels.
    void SetOriginX(int n) { originX_ = static_cast<float>(n); }
    void SetOriginY(int n) { originY_ = static_cast<float>(n); }
    int OriginX() const;
    int OriginY() const;

    // Fields, in their declared order.
    float Eccentricity = 0;
    float HalfEccentricity = 0;
    float ConeDegreeInverse = 0;
    float ConeConstant = 0;
    float ConeConstantInverse = 0;
    float ConeRadiusScale = 0;
    float ConeRadiusScaleInverse = 0;
    float ConeDegree = 0;
    float ConeOriginRadius = 0;
    float Scale = 0;
    float ScaleInverse = 0;
    float SouthEdge = 0;
    float LatitudeSpan = 0;
    float WestEdge = 0;
    float LongitudeSpan = 0;
    std::int32_t Lines = 0;
    float LinesInverse = 0;
    std::int32_t Columns = 0;
    float ColumnsInverse = 0;
    float CentralLongitude = 0;
    float MercatorSlope = 0;
    float MercatorBase = 0;
    std::int32_t HalfLines = 0;
    float ReferenceLatitude = 0;
    std::uint8_t Projection = 0;
    // 0 whole map; 1..4 one quarter; 5..13 one ninth (Van der Grinten only).
    std::uint8_t Tile = 0;
    float Rotation = 0;
    float SinReference = 0;
    // cos 0: a new object's reference latitude is 0, and the azimuthal kinds must see that
    // before a reference latitude has been set.
    float CosReference = 1;
    float Parallel1 = 0;
    float Parallel2 = 0;
    float GrintenInverse = 0;
    float GrintenScale = 0;
    float PolarOffset = 0;
    bool Southern = false;

private:
    float originX_ = 0;
    float originY_ = 0;

public:
    // Only the segment mapping reads it (added to its satellite's longitude).
    float LongitudeOffset = 0;

protected:
    void Recompute();
    // Map coordinates of the projection, before the pixel rule; false when not shown.
    // 'placed' tells whether X/Y were written.
    bool Forward(long double& X, long double& Y, float Longitude, float Latitude,
                 bool& placed) const;
    // Forward with unwritten or unusable results replaced by 0 (and false).
    bool ForwardOrZero(long double& x, long double& y, float Longitude, float Latitude) const;
    // The last step of every GeoToPixel: rounds x and y (halves to even) and moves them by
    // the origin. A point too far out for an int counts as not shown, at (0, 0) before the
    // origin. Returns ok unless that happened.
    bool PlacePixel(int& X, int& Y, long double x, long double y, bool ok) const;
};

// Mercator ordinate in degrees and its inverse.
long double MercatorOrdinate(long double latitudeDeg);
long double MercatorLatitude(long double ordinateDeg);

// Rounds to the nearest integer, halves to even; false when the value is not a finite number
// inside the range of int.
bool RoundToInt(long double value, int& out);

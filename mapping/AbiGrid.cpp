#include "mapping/AbiGrid.h"

#include <cmath>

#include "mapping/MathConst.h"

namespace {

using orvanta::geo::kDegToRad;
using orvanta::geo::kRadToDeg;

long double Sq(long double v) { return v * v; }

// Scan angle of a pixel's centre and the pixel (with fraction) of a scan angle.
long double ColumnAngle(long double column) { return AbiGridOrigin + column * AbiGridStep; }
long double LineAngle(long double line) { return -AbiGridOrigin - line * AbiGridStep; }

long double WrapLongitude(long double lon)
{
    while (lon >= 180.0L)
        lon -= 360.0L;
    while (lon < -180.0L)
        lon += 360.0L;
    return lon;
}

} // namespace

TAbiGridMapping::TAbiGridMapping(const TAbiProjection& projection) : projection_(projection) {}

// The fixed grid's geometry with the axes GOES uses: the satellite sweeps east-west about the
// x axis first, so x is the angle measured in the plane through the satellite and the pole.
bool TAbiGridMapping::GeoToScan(long double longitude, long double latitude, long double& x, long double& y) const
{
    const long double a = projection_.SemiMajorAxis, b = projection_.SemiMinorAxis;
    const long double H = projection_.PerspectiveHeight + a;
    const long double phi = latitude * kDegToRad;
    const long double phic = std::atan(Sq(b / a) * std::tan(phi));
    const long double e2 = 1.0L - Sq(b / a);
    const long double rc = b / std::sqrt(1.0L - e2 * Sq(std::cos(phic)));
    const long double dl = (longitude - projection_.SubLongitude) * kDegToRad;
    const long double sx = H - rc * std::cos(phic) * std::cos(dl);
    const long double sy = -rc * std::cos(phic) * std::sin(dl);
    const long double sz = rc * std::sin(phic);
    // Behind the limb the line of sight meets the Earth before the point.
    if (!(H * (H - sx) >= Sq(sy) + Sq(a / b) * Sq(sz)))
        return false;
    x = std::asin(-sy / std::sqrt(Sq(sx) + Sq(sy) + Sq(sz)));
    y = std::atan(sz / sx);
    return true;
}

bool TAbiGridMapping::ScanOnDisc(long double x, long double y) const
{
    const long double a = projection_.SemiMajorAxis, b = projection_.SemiMinorAxis;
    const long double H = projection_.PerspectiveHeight + a;
    const long double qa = Sq(std::sin(x)) + Sq(std::cos(x)) * (Sq(std::cos(y)) + Sq(a / b) * Sq(std::sin(y)));
    const long double qb = -2.0L * H * std::cos(x) * std::cos(y);
    const long double qc = Sq(H) - Sq(a);
    return Sq(qb) - 4.0L * qa * qc >= 0.0L;
}

bool TAbiGridMapping::ScanToGeo(long double x, long double y, long double& longitude, long double& latitude) const
{
    const long double a = projection_.SemiMajorAxis, b = projection_.SemiMinorAxis;
    const long double H = projection_.PerspectiveHeight + a;
    const long double qa = Sq(std::sin(x)) + Sq(std::cos(x)) * (Sq(std::cos(y)) + Sq(a / b) * Sq(std::sin(y)));
    const long double qb = -2.0L * H * std::cos(x) * std::cos(y);
    const long double qc = Sq(H) - Sq(a);
    const long double discriminant = Sq(qb) - 4.0L * qa * qc;
    if (!(discriminant >= 0.0L))
        return false;
    const long double rs = (-qb - std::sqrt(discriminant)) / (2.0L * qa);
    const long double sx = rs * std::cos(x) * std::cos(y);
    const long double sy = -rs * std::sin(x);
    const long double sz = rs * std::cos(x) * std::sin(y);
    latitude = std::atan(Sq(a / b) * sz / std::sqrt(Sq(H - sx) + Sq(sy))) * kRadToDeg;
    longitude = WrapLongitude(projection_.SubLongitude - std::atan(sy / (H - sx)) * kRadToDeg);
    return true;
}

bool TAbiGridMapping::GeoToPixelF(float& X, float& Y, float Longitude, float Latitude) const
{
    long double x = 0, y = 0;
    if (!GeoToScan(Longitude, Latitude, x, y)) {
        X = Y = 0.0f;
        return false;
    }
    X = static_cast<float>((x - AbiGridOrigin) / AbiGridStep);
    Y = static_cast<float>((-AbiGridOrigin - y) / AbiGridStep);
    return true;
}

bool TAbiGridMapping::GeoToPixel(int& X, int& Y, float Longitude, float Latitude) const
{
    long double x = 0, y = 0;
    const bool seen = GeoToScan(Longitude, Latitude, x, y);
    if (!seen)
        x = y = 0;
    return PlacePixel(X, Y, (x - AbiGridOrigin) / AbiGridStep, (-AbiGridOrigin - y) / AbiGridStep, seen);
}

bool TAbiGridMapping::PixelToGeo(int X, int Y, float& Longitude, float& Latitude) const
{
    long double lon = 0, lat = 0;
    if (!ScanToGeo(ColumnAngle(X), LineAngle(Y), lon, lat)) {
        Longitude = Latitude = 0.0f;
        return false;
    }
    Longitude = static_cast<float>(lon);
    Latitude = static_cast<float>(lat);
    return true;
}

std::vector<TDiscRun> AbiDiscRuns(const TAbiProjection& projection)
{
    const TAbiGridMapping mapping(projection);
    std::vector<TDiscRun> runs(AbiGridSize);
    for (int line = 0; line < AbiGridSize; ++line) {
        // The disc is convex and centred on the grid: each line's run is symmetric about the
        // middle, found from the left by bisection.
        const long double y = LineAngle(line);
        if (!mapping.ScanOnDisc(0.0L, y))
            continue;
        int outside = -1, inside = AbiGridSize / 2;
        while (!mapping.ScanOnDisc(ColumnAngle(inside), y))
            --inside;
        while (inside - outside > 1) {
            const int middle = outside + (inside - outside) / 2;
            (mapping.ScanOnDisc(ColumnAngle(middle), y) ? inside : outside) = middle;
        }
        runs[static_cast<std::size_t>(line)] = {inside, AbiGridSize - inside};
    }
    return runs;
}

TGeostationaryView AbiGeostationaryView(const TAbiProjection& projection)
{
    TGeostationaryView view;
    view.SubSatelliteLongitude = static_cast<double>(WrapLongitude(projection.SubLongitude));
    view.SemiMajorAxis = projection.SemiMajorAxis;
    view.SemiMinorAxis = projection.SemiMinorAxis;
    view.SatelliteHeight = projection.PerspectiveHeight;
    view.Sweep = 'x';
    const long double h = projection.PerspectiveHeight;
    // The projection's metres are scan angles times the height; a pixel's edge lies half a
    // step before its centre.
    view.GeoTransform = {static_cast<double>(h * (AbiGridOrigin - AbiGridStep / 2)),
                         static_cast<double>(h * AbiGridStep),
                         0.0,
                         static_cast<double>(h * (-AbiGridOrigin + AbiGridStep / 2)),
                         0.0,
                         static_cast<double>(-h * AbiGridStep)};
    return view;
}

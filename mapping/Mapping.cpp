#include "mapping/Mapping.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "imaging/BMPExtImage.h"
#include "mapping/MathConst.h"

namespace {

using namespace orvanta::geo;

// Radius of the sphere on which the distance limits of the azimuthal kinds are measured.
constexpr long double kSphereRadiusKm = 6378.135L;
constexpr long double kEccentricitySquared = 0.006694318L;

// Brings an angle into [-180, 180] (the ends are kept as they are).
long double WrapClosed180(long double d)
{
    if (d > 180.0L || d < -180.0L) {
        d = std::fmod(d, 360.0L);
        if (d > 180.0L)
            d -= 360.0L;
        else if (d < -180.0L)
            d += 360.0L;
    }
    return d;
}

long double GreatCircleKm(long double lat1, long double lon1, long double lat2, long double lon2)
{
    const long double sdLat = std::sin((lat2 - lat1) / 2.0L);
    const long double sdLon = std::sin((lon2 - lon1) / 2.0L);
    const long double a = sdLat * sdLat + std::cos(lat1) * std::cos(lat2) * sdLon * sdLon;
    return kSphereRadiusKm * 2.0L * std::asin(std::min(1.0L, std::sqrt(a)));
}

// Van der Grinten map coordinates for a sphere of the given radius (Snyder's formulas).
void VanDerGrintenForward(long double latDeg, long double deltaDeg, long double radius, long double& u,
                    long double& v)
{
    const long double piR = kPi * radius;
    if (std::fabs(latDeg) > 89.999L) {
        u = 0;
        v = latDeg > 0 ? piR : -piR;
        return;
    }
    const long double theta = std::asin(std::min(1.0L, std::fabs(2.0L * latDeg / 180.0L)));
    if (std::fabs(deltaDeg) < 1e-4L) {
        u = 0;
        v = std::copysign(piR * std::tan(theta / 2.0L), latDeg);
        return;
    }
    const long double delta = deltaDeg * kDegToRad;
    if (latDeg == 0.0L || std::sin(theta) + std::cos(theta) - 1.0L == 0.0L) {
        u = delta * radius;
        v = 0;
        return;
    }
    const long double A = 0.5L * std::fabs(kPi / delta - delta / kPi);
    const long double G = std::cos(theta) / (std::sin(theta) + std::cos(theta) - 1.0L);
    const long double P = G * (2.0L / std::sin(theta) - 1.0L);
    const long double Q = A * A + G;
    const long double P2 = P * P, A2 = A * A;
    const long double gp = G - P2;
    const long double rootX = std::sqrt(std::max(0.0L, A2 * gp * gp - (P2 + A2) * (G * G - P2)));
    u = std::copysign(piR * (A * gp + rootX) / (P2 + A2), delta);
    const long double rootY = std::sqrt(std::max(0.0L, (A2 + 1.0L) * (P2 + A2) - Q * Q));
    v = std::copysign(piR * (P * Q - A * rootY) / (P2 + A2), latDeg);
}

// Inverse of VanDerGrintenForward; angles in degrees relative to the central meridian.
bool VanDerGrintenInverse(long double u, long double v, long double radius, long double& latDeg,
                    long double& deltaDeg)
{
    const long double piR = kPi * radius;
    if (piR == 0)
        return false;
    const long double X = u / piR, Y = v / piR;
    const long double X2 = X * X, Y2 = Y * Y, R2 = X2 + Y2;
    if (R2 > 1.0L + 1e-12L)
        return false;
    if (R2 < 1e-24L) {
        latDeg = 0;
        deltaDeg = 0;
        return true;
    }
    const long double c1 = -std::fabs(Y) * (1.0L + R2);
    const long double c2 = c1 - 2.0L * Y2 + X2;
    const long double c3 = -2.0L * c1 + 1.0L + 2.0L * Y2 + R2 * R2;
    const long double d = Y2 / c3 + (2.0L * c2 * c2 * c2 / (c3 * c3 * c3) - 9.0L * c1 * c2 / (c3 * c3)) / 27.0L;
    const long double a1 = (c1 - c2 * c2 / (3.0L * c3)) / c3;
    const long double m1 = 2.0L * std::sqrt(std::max(0.0L, -a1 / 3.0L));
    long double lat = 0;
    if (m1 != 0 && a1 != 0) {
        const long double arg = std::clamp(3.0L * d / (a1 * m1), -1.0L, 1.0L);
        const long double theta1 = std::acos(arg) / 3.0L;
        lat = std::copysign(kPi * (-m1 * std::cos(theta1 + kPi / 3.0L) - c2 / (3.0L * c3)), Y);
    }
    long double lon = 0;
    if (X != 0) {
        const long double root = std::sqrt(std::max(0.0L, 1.0L + 2.0L * (X2 - Y2) + R2 * R2));
        lon = kPi * (R2 - 1.0L + root) / (2.0L * X);
    }
    latDeg = std::clamp(lat * kRadToDeg, -90.0L, 90.0L);
    deltaDeg = lon * kRadToDeg;
    return true;
}

} // namespace

long double MercatorOrdinate(long double latDeg)
{
    if (latDeg == 0)
        return 0;
    const long double a = std::fabs(latDeg);
    const long double m = kRadToDeg * std::log(std::tan((45.0L + a / 2.0L) * kDegToRad));
    return latDeg > 0 ? m : -m;
}

long double MercatorLatitude(long double ordinateDeg)
{
    const long double a = std::fabs(ordinateDeg);
    const long double lat = 2.0L * (std::atan(std::exp(a * kDegToRad)) * kRadToDeg - 45.0L);
    return ordinateDeg < 0 ? -lat : lat;
}

bool RoundToInt(long double value, int& out)
{
    if (!std::isfinite(value))
        return false;
    const long double r = std::nearbyint(value);
    if (r < static_cast<long double>(std::numeric_limits<int>::min()) ||
        r > static_cast<long double>(std::numeric_limits<int>::max()))
        return false;
    out = static_cast<int>(r);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Settings and derived constants

void TMapping::SetProjection(std::uint8_t kind)
{
    Projection = kind;
    switch (kind) {
    case 2: CentralLongitude = 0; break;
    case 3: Scale = 0.75f; break;
    case 4:
    case 11: Scale = 0.4f; break;
    case 5:
        CentralLongitude = 0;
        LongitudeSpan = 360;
        break;
    case 7:
    case 8: Scale = 0.8f; break;
    case 9: Scale = 1.7f; break;
    case 13: Scale = 0.2f; break;
    default: break;
    }
    Recompute();
}

void TMapping::SetImageHeight(int n)
{
    Lines = n;
    if (n != 0)
        LinesInverse = static_cast<float>(1.0L / n);
    Recompute();
}

void TMapping::SetImageWidth(int n)
{
    Columns = n;
    if (n != 0)
        ColumnsInverse = static_cast<float>(1.0L / n);
    Recompute();
}

void TMapping::SetCentralLongitude(float value)
{
    CentralLongitude = value;
    Recompute();
}

void TMapping::SetLatitudeSpan(float value)
{
    LatitudeSpan = value;
    Recompute();
}

void TMapping::SetLongitudeSpan(float value)
{
    LongitudeSpan = value;
    Recompute();
}

void TMapping::SetReferenceLatitude(float value)
{
    // The polar and conic kinds need a hemisphere, so a reference on the equator is nudged off it.
    if ((Projection == 9 || Projection == 10) && std::fabs(value) < 0.001f)
        value = value > 0 ? 0.001f : -0.001f;
    ReferenceLatitude = value;
    Parallel1 = std::fabs(value);
    Parallel2 = std::fabs(value);
    Southern = value < 0;
    SinReference = static_cast<float>(std::sin(value * kDegToRad));
    CosReference = static_cast<float>(std::cos(value * kDegToRad));
    Recompute();
}

void TMapping::SetParallel1(float value)
{
    Parallel1 = std::fabs(value);
    Recompute();
}

void TMapping::SetParallel2(float value)
{
    Parallel2 = std::fabs(value);
    Recompute();
}

int TMapping::OriginX() const
{
    int n = 0;
    RoundToInt(originX_, n);
    return n;
}

int TMapping::OriginY() const
{
    int n = 0;
    RoundToInt(originY_, n);
    return n;
}

void TMapping::Recompute()
{
    if (Projection != 13 && LatitudeSpan > 180)
        LatitudeSpan = 180;
    Eccentricity = static_cast<float>(std::sqrt(kEccentricitySquared));
    HalfEccentricity = static_cast<float>(Eccentricity / 2.0L);

    // Lambert conic constants. A degenerate set of parallels leaves the previous constants.
    {
        const long double e = Eccentricity;
        const auto m = [e](long double phi) {
            const long double s = std::sin(phi);
            return std::cos(phi) / std::sqrt(1.0L - e * e * s * s);
        };
        const auto t = [e](long double phi) {
            const long double s = std::sin(phi);
            return std::tan(kPi / 4.0L - phi / 2.0L) / std::pow((1.0L - e * s) / (1.0L + e * s), e / 2.0L);
        };
        const long double phi1 = (90.0L - Parallel1) * kDegToRad;
        const long double phi2 = (90.0L - Parallel2) * kDegToRad;
        long double n;
        if (Parallel1 == Parallel2 || std::fabs(Parallel1) <= 0.1f || std::fabs(Parallel2) <= 0.1f)
            n = std::sin(phi1);
        else
            n = (std::log(m(phi1)) - std::log(m(phi2))) / (std::log(t(phi1)) - std::log(t(phi2)));
        const long double F = m(phi1) / (n * std::pow(t(phi1), n)) * 1.095L;
        const long double rho0 = F * std::pow(t(std::fabs(ReferenceLatitude) * kDegToRad), n);
        const long double coneDegree = n * kDegToRad;
        if (std::isfinite(n) && n != 0 && std::isfinite(F) && F != 0 && std::isfinite(rho0)) {
            ConeConstant = static_cast<float>(n);
            ConeConstantInverse = static_cast<float>(1.0L / n);
            ConeRadiusScale = static_cast<float>(F);
            ConeRadiusScaleInverse = static_cast<float>(1.0L / F);
            ConeDegree = static_cast<float>(coneDegree);
            ConeDegreeInverse = static_cast<float>(1.0L / coneDegree);
            ConeOriginRadius = static_cast<float>(rho0);
        }
    }

    WestEdge = static_cast<float>(static_cast<long double>(CentralLongitude) - LongitudeSpan / 2.0L);
    SouthEdge = static_cast<float>(static_cast<long double>(ReferenceLatitude) - LatitudeSpan / 2.0L);
    HalfLines = Lines / 2;

    const long double s = LatitudeSpan;
    const long double south = SouthEdge;
    const long double north = static_cast<long double>(ReferenceLatitude) + s / 2.0L;
    const bool sized = s != 0 && Lines != 0 && Columns != 0;
    switch (Projection) {
    case 4:
    case 7:
    case 8:
    case 11: {
        const long double phiS = south * kDegToRad, phiN = north * kDegToRad;
        const long double c0 = CosReference, s0 = SinReference;
        const long double den = std::fabs((std::sin(phiS) * c0 - std::cos(phiS) * s0) -
                                          (std::sin(phiN) * c0 - std::cos(phiN) * s0));
        if (sized && den > 0)
            Scale = static_cast<float>((static_cast<long double>(Lines) / Columns) / den);
        else
            Scale = (Projection == 4 || Projection == 11) ? 0.4f : 0.8f;
        break;
    }
    case 6: {
        const long double slope = (MercatorOrdinate(north) - MercatorOrdinate(south)) / (north - south);
        const long double base = MercatorOrdinate(ReferenceLatitude) - slope * s / 2.0L;
        if (std::isfinite(slope) && std::isfinite(base) && slope != 0) {
            MercatorSlope = static_cast<float>(slope);
            MercatorBase = static_cast<float>(base);
        }
        break;
    }
    case 9: {
        bool fitted = false;
        if (s != 0) {
            long double ts, tn;
            if (Southern) {
                ts = std::tan((90.0L + south) / 2.0L * kDegToRad);
                tn = std::tan((90.0L + north) / 2.0L * kDegToRad);
            } else {
                ts = std::tan((90.0L - south) / 2.0L * kDegToRad);
                tn = std::tan((90.0L - north) / 2.0L * kDegToRad);
            }
            const long double scale = 1.0L / std::fabs(tn - ts);
            if (std::isfinite(scale) && scale > 0) {
                Scale = static_cast<float>(scale);
                PolarOffset = static_cast<float>((tn + ts) * Scale / 2.0L);
                fitted = true;
            }
        }
        if (!fitted) {
            Scale = 1.7f;
            PolarOffset = static_cast<float>(static_cast<long double>(CosReference) * CosReference * 1.7L);
        }
        ScaleInverse = static_cast<float>(1.0L / Scale);
        break;
    }
    case 12:
        Scale = 0.155f;
        GrintenScale = static_cast<float>(0.155L * kPi);
        GrintenInverse = static_cast<float>(1.0L / GrintenScale);
        break;
    case 13: {
        const long double span = std::fabs(south - north) * kDegToRad;
        if (sized && span > 0)
            Scale = static_cast<float>((static_cast<long double>(Lines) / Columns) / span);
        else if (Columns < Lines || Columns == 0)
            Scale = 0.15915494f;
        else
            Scale = static_cast<float>((static_cast<long double>(Lines) / Columns) / (2.0L * kPi));
        break;
    }
    default: break;
    }
}

// ---------------------------------------------------------------------------------------------
// Virtual operations

int TMapping::ImageHeight() const { return Lines; }
int TMapping::ImageWidth() const { return Columns; }
int TMapping::DrawingHeight() const { return std::max(ImageHeight(), ImageWidth()); }
int TMapping::DrawingWidth() const { return ImageWidth(); }

void TMapping::Assign(const TMapping& source)
{
    // Assigning to itself would lose the centre to SetProjection's defaults.
    if (&source == this)
        return;
    SetProjection(source.Projection);
    SetImageHeight(source.ImageHeight());
    SetImageWidth(source.ImageWidth());
    Tile = source.Tile;
    Rotation = source.Rotation;
    SetLongitudeSpan(source.LongitudeSpan);
    SetLatitudeSpan(source.LatitudeSpan);
    SetCentralLongitude(source.CentralLongitude);
    SetReferenceLatitude(source.ReferenceLatitude);
    SetParallel1(source.Parallel1);
    SetParallel2(source.Parallel2);
    SetOriginX(source.OriginX());
    SetOriginY(source.OriginY());
}

void TMapping::CopyFrom(const TMapping& source) { Assign(source); }

bool TMapping::IsMapProjection() const
{
    return (Projection >= 1 && Projection <= 7) || (Projection >= 9 && Projection <= 13);
}

bool TMapping::Forward(long double& X, long double& Y, float Longitude, float Latitude,
                       bool& placed) const
{
    placed = false;
    const long double lon = Longitude, lat = Latitude;
    if (!std::isfinite(lon) || !std::isfinite(lat))
        return false;
    const long double C = Columns, L = Lines;
    const long double phi = lat * kDegToRad;
    const long double phi0 = static_cast<long double>(ReferenceLatitude) * kDegToRad;
    const long double sin0 = SinReference, cos0 = CosReference;
    const long double deltaDeg = WrapClosed180(lon - CentralLongitude);
    const long double delta = deltaDeg * kDegToRad;
    const long double sinPhi = std::sin(phi), cosPhi = std::cos(phi);

    const auto beyond = [&](long double limitKm) {
        return GreatCircleKm(phi, lon * kDegToRad, phi0,
                             static_cast<long double>(CentralLongitude) * kDegToRad) >= limitKm;
    };
    const auto rotate = [&](long double& u, long double& v) {
        if (Rotation == 0)
            return;
        const long double th = static_cast<long double>(Rotation) * kDegToRad;
        const long double u2 = u * std::cos(th) + v * std::sin(th);
        v = -u * std::sin(th) + v * std::cos(th);
        u = u2;
    };
    const auto ruleW = [&](long double u, long double v) {
        X = (u + 0.5L) * C;
        Y = HalfLines - v * C;
        placed = true;
    };

    switch (Projection) {
    case 1: {
        const long double l = WrapClosed180(lon);
        X = C * (l + 180.0L) / 360.0L;
        Y = (1.0L - (lat + 90.0L) / 180.0L) * L;
        placed = true;
        return true;
    }
    case 2:
    case 14:
        X = (deltaDeg + LongitudeSpan / 2.0L) * C / LongitudeSpan;
        Y = (1.0L - (lat - SouthEdge) / LatitudeSpan) * L;
        placed = true;
        return true;
    case 3:
    case 4: {
        if (beyond(12000.0L))
            return false;
        const long double cosC = sin0 * sinPhi + cos0 * cosPhi * std::cos(delta);
        long double u = 0, v = 0;
        if (std::fabs(cosC) < 1.0L) {
            const long double c = std::acos(cosC);
            const long double k = Scale * c / std::sin(c);
            u = k * cosPhi * std::sin(delta);
            v = k * (cos0 * sinPhi - sin0 * cosPhi * std::cos(delta));
        }
        rotate(u, v);
        ruleW(u, v);
        return true;
    }
    case 5:
        X = C * (deltaDeg + 180.0L) / 360.0L;
        Y = HalfLines - C * MercatorOrdinate(lat) / 360.0L;
        placed = true;
        return true;
    case 6: {
        const long double t = (MercatorOrdinate(lat) - MercatorBase) / MercatorSlope;
        X = C * (deltaDeg + LongitudeSpan / 2.0L) / LongitudeSpan;
        Y = L * (1.0L - t / LatitudeSpan);
        placed = true;
        return X >= 0 && X < C && Y >= 0 && Y < L;
    }
    case 7: {
        if (beyond(6300.0L))
            return false;
        long double u = Scale * cosPhi * std::sin(delta);
        long double v = Scale * (cos0 * sinPhi - sin0 * cosPhi * std::cos(delta));
        rotate(u, v);
        ruleW(u, v);
        return true;
    }
    case 8: {
        if (beyond(6300.0L))
            return false;
        // The centre becomes the origin of a turned frame; the map is that frame's
        // longitude and latitude drawn to scale.
        const long double lonR = std::atan2(cosPhi * std::sin(delta),
                                            std::cos(delta) * cosPhi * cos0 + sinPhi * sin0);
        const long double latR =
            std::asin(std::clamp(sinPhi * cos0 - std::cos(delta) * cosPhi * sin0, -1.0L, 1.0L));
        const long double limit = 60.0L * kDegToRad;
        if (!(std::fabs(lonR) < limit && std::fabs(latR) < limit))
            return false;
        long double u = Scale * lonR, v = Scale * latR;
        rotate(u, v);
        ruleW(u, v);
        return true;
    }
    case 9: {
        const long double rho = Scale * (Southern ? std::tan((90.0L + lat) / 2.0L * kDegToRad)
                                                  : std::tan((90.0L - lat) / 2.0L * kDegToRad));
        const long double u = rho * std::sin(delta);
        const long double v = Southern ? rho * std::cos(delta) - PolarOffset
                                       : PolarOffset - rho * std::cos(delta);
        X = u * L + C / 2.0L;
        Y = HalfLines - v * L;
        placed = true;
        return true;
    }
    case 10: {
        if (beyond(10000.0L))
            return false;
        const long double p = Southern ? -phi : phi;
        const long double e = Eccentricity;
        const long double tq = std::tan(kPi / 4.0L - p / 2.0L);
        long double t = 0;
        if (std::fabs(tq) >= 1e-5L) {
            const long double es = e * std::sin(p);
            t = tq / std::pow((1.0L - es) / (1.0L + es), e / 2.0L);
        }
        const long double rho = ConeRadiusScale * std::pow(t, static_cast<long double>(ConeConstant));
        const long double theta = ConeDegree * deltaDeg;
        const long double u = rho * std::sin(theta);
        long double v = ConeOriginRadius - rho * std::cos(theta);
        if (Southern)
            v = -v;
        ruleW(u, v);
        return true;
    }
    case 11: {
        if (beyond(12000.0L))
            return false;
        const long double cosC = sin0 * sinPhi + cos0 * cosPhi * std::cos(delta);
        long double u = 0, v = 0;
        bool ok = false;
        if (cosC >= 1.0L) {
            // The centre itself: shown, in the middle of the map.
            ok = true;
        } else if (cosC >= 1e-6L) {
            const long double k = Scale / cosC;
            u = k * cosPhi * std::sin(delta);
            v = k * (cos0 * sinPhi - sin0 * cosPhi * std::cos(delta));
            ok = true;
        }
        rotate(u, v);
        ruleW(u, v);
        return ok;
    }
    case 12: {
        long double u, v;
        VanDerGrintenForward(lat, deltaDeg, Scale, u, v);
        const long double ratio = L / C;
        const int tile = Tile;
        if (tile >= 1 && tile <= 4) {
            u = 2.0L * u + ((tile == 1 || tile == 3) ? 0.5L : -0.5L);
            v = 2.0L * v + ((tile <= 2) ? -ratio / 2.0L : ratio / 2.0L);
        } else if (tile >= 5 && tile <= 13) {
            const int col = (tile - 5) % 3, row = (tile - 5) / 3;
            u = 3.0L * u + (col == 0 ? 1.0L : col == 1 ? 0.0L : -1.0L);
            v = 3.0L * v + (row == 0 ? -ratio : row == 1 ? 0.0L : ratio);
        }
        ruleW(u, v);
        return true;
    }
    case 13: {
        const long double l0 = static_cast<long double>(CentralLongitude) * kDegToRad;
        const long double l = lon * kDegToRad;
        const long double sh = std::sin((phi0 - phi) / 2.0L), sl = std::sin((l0 - l) / 2.0L);
        const long double c = 2.0L * std::asin(std::min(1.0L, std::sqrt(sh * sh + cos0 * cosPhi * sl * sl)));
        const long double a = cos0 * sinPhi - sin0 * cosPhi * std::cos(l0 - l);
        const long double b = cosPhi * std::sin(l0 - l);
        long double alpha;
        if (c < 1e-10L)
            alpha = 0;
        else if (std::fabs(a) < 1e-10L)
            alpha = b < 0 ? -kPi / 2.0L : kPi / 2.0L;
        else
            alpha = std::atan2(b, a);
        const long double rho = Scale * c;
        ruleW(-rho * std::sin(alpha), rho * std::cos(alpha));
        return true;
    }
    default: return false;
    }
}

bool TMapping::ForwardOrZero(long double& x, long double& y, float Longitude, float Latitude) const
{
    x = y = 0;
    bool placed = false;
    const bool ok = Forward(x, y, Longitude, Latitude, placed);
    // Outputs the projection did not write are 0 before the origins are added, so a caller
    // never sees a stale or undefined value.
    if (!placed || !std::isfinite(x) || !std::isfinite(y)) {
        x = y = 0;
        return false;
    }
    return ok;
}

bool TMapping::GeoToPixelF(float& X, float& Y, float Longitude, float Latitude) const
{
    if (Projection < 1 || Projection > 14)
        return false;
    long double x, y;
    const bool ok = ForwardOrZero(x, y, Longitude, Latitude);
    X = static_cast<float>(x + originX_);
    Y = static_cast<float>(y - originY_);
    return ok;
}

bool TMapping::GeoToPixel(int& X, int& Y, float Longitude, float Latitude) const
{
    if (Projection < 1 || Projection > 14)
        return false;
    long double x, y;
    const bool ok = ForwardOrZero(x, y, Longitude, Latitude);
    return PlacePixel(X, Y, x, y, ok);
}

bool TMapping::PlacePixel(int& X, int& Y, long double x, long double y, bool ok) const
{
    int ix = 0, iy = 0;
    if (!RoundToInt(x, ix) || !RoundToInt(y, iy)) {
        ix = iy = 0;
        ok = false;
    }
    X = ix + OriginX();
    Y = iy - OriginY();
    return ok;
}

bool TMapping::PixelToGeo(int X, int Y, float& Longitude, float& Latitude) const
{
    if (Lines == 0 || Columns == 0)
        return false;
    const long double C = Columns, L = Lines;
    const long double x = static_cast<long double>(X) - OriginX();
    const long double y = static_cast<long double>(Y) + OriginY();
    const long double lon0 = CentralLongitude, lat0 = ReferenceLatitude;
    long double u = x / C - 0.5L;
    long double v = (HalfLines - y) / C;
    long double lon = 0, lat = 0;
    bool wrap = true;

    // The azimuthal inverse shared by kinds 3, 4, 7, 11 and 13, for the angular distance c.
    const auto azimuthal = [&](long double c, long double rho) {
        const long double sin0 = SinReference, cos0 = CosReference;
        const long double sc = std::sin(c), cc = std::cos(c);
        lat = std::asin(std::clamp(cc * sin0 + v * sc * cos0 / rho, -1.0L, 1.0L)) * kRadToDeg;
        long double d;
        if (ReferenceLatitude == 90.0f)
            d = std::atan2(u, -v);
        else if (ReferenceLatitude == -90.0f)
            d = std::atan2(u, v);
        else
            d = std::atan2(u * sc, rho * cos0 * cc - v * sin0 * sc);
        lon = lon0 + d * kRadToDeg;
    };
    const auto unrotate = [&]() {
        if (Rotation == 0)
            return;
        const long double th = static_cast<long double>(Rotation) * kDegToRad;
        const long double u2 = u * std::cos(th) - v * std::sin(th);
        v = u * std::sin(th) + v * std::cos(th);
        u = u2;
    };

    switch (Projection) {
    case 1:
        lon = 360.0L * x / C - 180.0L;
        lat = 90.0L - 180.0L * y / L;
        if (std::fabs(lat) > 90.0L)
            return false;
        break;
    case 2:
    case 14:
        lon = lon0 + x * LongitudeSpan / C - LongitudeSpan / 2.0L;
        lat = SouthEdge + (1.0L - y / L) * LatitudeSpan;
        if (std::fabs(lat) > 90.0L)
            return false;
        break;
    case 5:
        lon = lon0 + x * 360.0L / C - 180.0L;
        lat = MercatorLatitude((HalfLines - y) * 360.0L / C);
        break;
    case 6: {
        lon = lon0 + x * LongitudeSpan / C - LongitudeSpan / 2.0L;
        const long double t = (1.0L - y / L) * LatitudeSpan;
        lat = MercatorLatitude(t * MercatorSlope + MercatorBase);
        break;
    }
    case 3:
    case 4:
    case 7:
    case 11:
    case 13: {
        if (Projection != 13)
            unrotate();
        const long double rho = std::hypot(u, v);
        if (Scale == 0)
            return false;
        if (rho < 1e-5L) {
            lon = lon0;
            lat = lat0;
            wrap = Projection != 7;
            break;
        }
        const long double r = rho / Scale;
        long double c;
        if (Projection == 7) {
            if (r > 1.0L)
                return false;
            c = std::asin(r);
            wrap = false;
        } else if (Projection == 11) {
            c = std::atan(r);
        } else if (Projection == 13) {
            // The whole world lies within pi of the centre; a pixel further out would come
            // back as some other point of the Earth, so it shows nothing.
            if (r > kPi)
                return false;
            c = r;
        } else {
            if (r > kPi)
                return false;
            c = r;
        }
        azimuthal(c, rho);
        break;
    }
    case 9: {
        u = (x - C / 2.0L) / L;
        v = (HalfLines - y) / L;
        const long double rc = Southern ? v + PolarOffset : PolarOffset - v;
        const long double rho = std::hypot(u, rc);
        const long double d = rho == 0 ? 0.0L : std::atan2(u, rc);
        const long double colat = 2.0L * std::atan(rho * ScaleInverse) * kRadToDeg;
        lat = Southern ? colat - 90.0L : 90.0L - colat;
        lon = lon0 + d * kRadToDeg;
        wrap = false;
        break;
    }
    case 10: {
        if (Southern)
            v = -v;
        const long double n = ConeConstant;
        const long double sn = n < 0 ? -1.0L : 1.0L;
        const long double dy = ConeOriginRadius - v;
        const long double rho = sn * std::hypot(u, dy);
        const long double theta = std::atan2(sn * u, sn * dy);
        const long double t = std::pow(rho / ConeRadiusScale, 1.0L / n);
        const long double e = Eccentricity;
        long double p = kPi / 2.0L - 2.0L * std::atan(t);
        for (int round = 0; round < 100; ++round) {
            const long double es = e * std::sin(p);
            const long double next =
                kPi / 2.0L - 2.0L * std::atan(t * std::pow((1.0L - es) / (1.0L + es), e / 2.0L));
            const bool done = std::fabs(next - p) <= 1e-5L;
            p = next;
            if (done)
                break;
        }
        lat = (Southern ? -p : p) * kRadToDeg;
        lon = lon0 + theta / ConeDegree;
        wrap = false;
        break;
    }
    case 12: {
        const long double ratio = L / C;
        const int tile = Tile;
        if (tile >= 1 && tile <= 4) {
            u = (u - ((tile == 1 || tile == 3) ? 0.5L : -0.5L)) / 2.0L;
            v = (v - ((tile <= 2) ? -ratio / 2.0L : ratio / 2.0L)) / 2.0L;
        } else if (tile >= 5 && tile <= 13) {
            const int col = (tile - 5) % 3, row = (tile - 5) / 3;
            u = (u - (col == 0 ? 1.0L : col == 1 ? 0.0L : -1.0L)) / 3.0L;
            v = (v - (row == 0 ? -ratio : row == 1 ? 0.0L : ratio)) / 3.0L;
        }
        long double d;
        if (!VanDerGrintenInverse(u, v, Scale, lat, d))
            return false;
        lon = lon0 + d;
        wrap = false;
        break;
    }
    default: return false;
    }

    if (!std::isfinite(lon) || !std::isfinite(lat))
        return false;
    if (wrap) {
        lon = std::fmod(lon + 180.0L, 360.0L);
        if (lon < 0)
            lon += 360.0L;
        lon -= 180.0L;
    }
    float fl = static_cast<float>(lon);
    // A value just under 180 may round up to it in single precision.
    if (wrap && fl >= 180.0f)
        fl -= 360.0f;
    Longitude = fl;
    Latitude = static_cast<float>(lat);
    return true;
}

#include "mapping/GeostationaryView.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "mapping/SegmentStuff.h"

namespace {

// The model's kilometres as they were written (6378.140, not the single-precision value
// 6378.14013671875 that stores them): the files then name the ellipsoid as everyone knows
// it, and the difference, a fraction of a metre, is far below a pixel.
long double Metres(float kilometres)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, kilometres);
    *written.ptr = '\0';
    return std::strtold(text, nullptr) * 1000.0L;
}

} // namespace

std::string TGeostationaryView::ProjString() const
{
    char text[256];
    if (Sweep == 'x' && SemiMajorAxis == 6378137.0 && SemiMinorAxis == 6356752.31414) {
        // GRS80, as the ABI's files give it: named as everyone knows it.
        std::snprintf(text, sizeof text, "+proj=geos +sweep=x +lon_0=%.17g +h=%.17g +ellps=GRS80 +units=m +no_defs",
                      SubSatelliteLongitude, SatelliteHeight);
        return text;
    }
    std::snprintf(text, sizeof text, "+proj=geos +lon_0=%.17g +h=%.17g +a=%.17g +b=%.17g +sweep=%c +units=m +no_defs",
                  SubSatelliteLongitude, SatelliteHeight, SemiMajorAxis, SemiMinorAxis, Sweep);
    return text;
}

std::optional<TGeostationaryView> GeostationaryView(const TSegmentMapping& mapping)
{
    long double x0 = 0, dx = 0, y0 = 0, dy = 0;
    if (!mapping.ScanAngleGrid(x0, dx, y0, dy))
        return std::nullopt;
    const TEarthModel em = EarthModelOfRow(mapping.SegmentIndex);
    const long double a = Metres(em.EquatorialRadius);
    const long double h = Metres(em.SatelliteDistance) - a;
    long double lon = mapping.SubSatelliteLongitude();
    while (lon >= 180.0L)
        lon -= 360.0L;
    while (lon < -180.0L)
        lon += 360.0L;
    TGeostationaryView view;
    view.SubSatelliteLongitude = static_cast<double>(lon);
    view.SemiMajorAxis = static_cast<double>(a);
    view.SemiMinorAxis = static_cast<double>(Metres(em.PolarRadius));
    view.SatelliteHeight = static_cast<double>(h);
    // The projection's metres are scan angles times the height; a pixel's centre is half a
    // step from its edge.
    view.GeoTransform = {static_cast<double>(h * (x0 - dx / 2)), static_cast<double>(h * dx), 0.0,
                         static_cast<double>(h * (y0 - dy / 2)), 0.0, static_cast<double>(h * dy)};
    return view;
}

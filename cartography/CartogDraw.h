#pragma once
// The walk that turns the line store into polylines on an image. It is a template over the
// projection and the polyline sink so that the window's segment mapping and canvas, and the
// tests' own stand-ins, go through the very same cutting, closing and splitting.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "cartography/vrnCartography.h"
#include "imaging/Canvas.h"
#include "mapping/MathConst.h"

namespace cartography {

// The most points one Polyline call is given; a longer run is drawn in pieces (EmitRun).
constexpr std::size_t kMaxPolylinePoints = 16000;

// A line that jumps further than this across the image can only have wrapped round the back
// of the globe (or across the date line), never be a real coast.
constexpr int JumpThreshold(int imageWidth) { return imageWidth * 5 / 6; }

// Offsets and projections far outside any image must not wrap round.
inline int clampToInt(std::int64_t v)
{
    return static_cast<int>(std::clamp<std::int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// Only kinds 0, 4 and 8 are lines to draw; the lowest bit of a stored kind is a flag.
constexpr bool IsDrawnKind(std::uint8_t kind)
{
    const unsigned drawKind = kind & ~1u;
    return drawKind == 0 || drawKind == 4 || drawKind == 8;
}

// Hands a run to the sink in pieces of at most kMaxPolylinePoints, consecutive pieces
// sharing one point so that the line stays unbroken.
template <class Polyline>
void EmitRun(std::span<const TPoint> run, Polyline&& polyline)
{
    if (run.size() < 2) return;
    std::size_t start = 0;
    std::size_t count = run.size();
    while (count > kMaxPolylinePoints) {
        polyline(run.subspan(start, kMaxPolylinePoints));
        start += kMaxPolylinePoints - 1;
        count -= kMaxPolylinePoints - 1;
    }
    polyline(run.subspan(start, count));
}

// A cheap test that a point lies beyond the limb of a geostationary view, so that the far
// side of the globe (most of a world-wide coastline file) needn't go through the full
// projection. Conservative: a point it calls hidden is one the projection can't see. A point
// at central angle c from the sub-satellite point is seen only when cos c >= r / H, about
// cos 81.3 degrees for any of the Earth models; the test cuts at 84 degrees and widens the
// latitude by half a degree for the geocentric/geodetic difference.
struct TLimbCull {
    bool Enabled = false;
    double SubLongitude = 0.0;

    static constexpr double kCosCut = 0.10452846326765347;  // cos 84 degrees
    static constexpr double kLatitudeSlack = 0.5;

    bool CertainlyHidden(float lon, float lat) const
    {
        using orvanta::geo::kDegToRadDouble;
        if (!Enabled) return false;
        const double absLat = lat < 0 ? -static_cast<double>(lat) : static_cast<double>(lat);
        const double slackLat = absLat > kLatitudeSlack ? absLat - kLatitudeSlack : 0.0;
        // NaNs compare false and are left to the projection.
        const double cosAngle = std::cos((static_cast<double>(lon) - SubLongitude) * kDegToRadDouble) *
                                std::cos(slackLat * kDegToRadDouble);
        return cosAngle < kCosCut;
    }
};

// The cull for a mapping: enabled only where the mapping is known to be the satellite view.
TLimbCull LimbCullFor(const TMapping& mapping);

// geoToPixel(int& x, int& y, float lon, float lat) -> bool visible;
// polyline(std::span<const TPoint>).
template <class GeoToPixel, class Polyline>
void DrawLineStore(const TCartogList& store, int imageWidth, GeoToPixel&& geoToPixel, Polyline&& polyline,
                   int xOffset, int yOffset, const TLimbCull& cull = {})
{
    const std::int64_t threshold = JumpThreshold(imageWidth);

    // One buffer for the whole call, sized by the longest segment actually held (plus the
    // closing point), not by a count nobody checked.
    std::size_t longest = 0;
    int cursor = 0;
    for (const TLineSegment* s = store.FirstSegment(cursor); s; s = store.NextSegment(cursor))
        longest = std::max(longest, s->Points.size());
    std::vector<TPoint> run;
    run.reserve(longest + 2);

    for (const TLineSegment* s = store.FirstSegment(cursor); s; s = store.NextSegment(cursor)) {
        const bool drawn = IsDrawnKind(s->Kind);
        auto endRun = [&] {
            if (drawn) EmitRun(std::span<const TPoint>(run), polyline);
            run.clear();
        };
        run.clear();
        std::int64_t lastX = -1, lastY = -1;
        bool metVisible = false;
        TPoint first{};
        for (const TGeoPoint& p : s->Points) {
            int px = 0, py = 0;
            if (cull.CertainlyHidden(p.Lon, p.Lat) || !geoToPixel(px, py, p.Lon, p.Lat)) {
                if (metVisible) {
                    endRun();
                    lastX = lastY = -1;
                }
                continue;
            }
            const std::int64_t x = static_cast<std::int64_t>(px) + xOffset;
            // A positive y offset moves the drawing up.
            const std::int64_t y = static_cast<std::int64_t>(py) - yOffset;
            const std::int64_t dx = x > lastX ? x - lastX : lastX - x;
            const std::int64_t dy = y > lastY ? y - lastY : lastY - y;
            if (dx > threshold && metVisible) {
                endRun();
                lastX = lastY = -1;
            }
            const TPoint here{clampToInt(x), clampToInt(y)};
            if (!metVisible) {
                metVisible = true;
                first = here;
            }
            if (dx > 0 || dy > 0) {
                run.push_back(here);
                lastX = x;
                lastY = y;
            }
        }
        if (s->Closed.value_or(store.ClosePolygons) && metVisible) run.push_back(first);
        endRun();
    }
}

}  // namespace cartography

#include "tools/synth/SynthGeometry.h"

#include "mapping/MathConst.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace synth {
namespace {

constexpr TScanKindInfo kKinds[] = {
    {TScanKind::FullDisk, "fd", 2704, 5208, SectorFullDisk},
    {TScanKind::FullDiskWide, "fd-wide", 2704, 5212, SectorFullDisk},
    {TScanKind::FullDiskShort, "fd-short", 2395, 5208, SectorFullDisk},
    {TScanKind::Northern, "nh", 1354, 3312, SectorNorthern},
    {TScanKind::Southern, "sh", 1062, 2760, SectorSouthern},
    {TScanKind::SouthernNarrow, "sh-narrow", 1062, 1021, SectorSouthern},
};

// Imager coordinates of the usual full-disk corner. Lines and elements count visible
// detector samples: four lines and, with the 1.75-fold east-west oversampling, seven
// elements per composite pixel.
constexpr int kFullDiskStartLine = 2598;
constexpr int kFullDiskStartElement = 5860;
constexpr int kFullDiskX = 54, kFullDiskY = 268;

constexpr double kEarthOverOrbit = 6378.140 / 42155.0;

} // namespace

const TScanKindInfo& ScanKindInfo(TScanKind kind)
{
    for (const auto& k : kKinds)
        if (k.Kind == kind)
            return k;
    throw std::invalid_argument("unknown scan kind");
}

std::optional<TScanKind> ScanKindByName(std::string_view name)
{
    for (const auto& k : kKinds)
        if (name == k.Name)
            return k.Kind;
    return std::nullopt;
}

TScanLayout MakeScanLayout(TScanKind kind, double scale)
{
    if (!(scale > 0.0 && scale <= 1.0))
        throw std::invalid_argument("scale must lie in (0, 1]");
    const TScanKindInfo& info = ScanKindInfo(kind);
    TScanLayout s;
    s.Kind = kind;
    s.Sector = info.Sector;
    s.FullLines = info.Lines;
    s.FullElements = info.Elements;
    s.Lines = std::max(1, static_cast<int>(std::lround(info.Lines * scale)));
    s.Elements = std::max(1, static_cast<int>(std::lround(info.Elements * scale)));
    s.Placement = SectorPlacement(info.Sector, info.Elements, info.Lines);
    s.StartLine = kFullDiskStartLine + 4 * (s.Placement.Y - kFullDiskY);
    s.StartElement = kFullDiskStartElement + 7 * (s.Placement.X - kFullDiskX);
    s.LineResolution = static_cast<int>(std::lround(4.0 * info.Lines / s.Lines));
    s.ElementResolution = static_cast<int>(std::lround(4.0 * info.Elements / s.Elements));
    // Pixel centres: the resampler maps the centre of output column c to input position
    // (c + 0.5) * in / out - 0.5, so input element e lands on composite column
    // X + (e + 0.5) * out / in - 0.5; lines are copied one to one.
    s.StepX = static_cast<double>(s.Placement.NewWidth) / s.Elements;
    s.StepY = static_cast<double>(info.Lines) / s.Lines;
    s.OriginX = s.Placement.X + 0.5 * s.StepX - 0.5;
    s.OriginY = s.Placement.Y + 0.5 * s.StepY - 0.5;
    return s;
}

TScanGeolocator::TScanGeolocator(const TScanLayout& layout, TPixelToGeo pixelToGeo)
    : layout_(layout), pixelToGeo_(std::move(pixelToGeo))
{
    column0_.resize(layout.Elements);
    weightX_.resize(layout.Elements);
    firstColumn_ = static_cast<int>(std::floor(layout.CompositeX(0)));
    int last = firstColumn_;
    for (int e = 0; e < layout.Elements; ++e) {
        const double x = layout.CompositeX(e);
        const double x0 = std::floor(x);
        column0_[e] = static_cast<int>(x0);
        weightX_[e] = static_cast<float>(x - x0);
        last = std::max(last, column0_[e] + 1);
    }
    columns_ = last - firstColumn_ + 1;
    rows_[0].Y = rows_[1].Y = std::numeric_limits<int>::min();
}

TScanGeolocator::TRow& TScanGeolocator::Row(int y, int keep)
{
    for (TRow& r : rows_)
        if (r.Y == y)
            return r;
    if (rows_[nextRow_].Y == keep)
        nextRow_ ^= 1;
    TRow& r = rows_[nextRow_];
    nextRow_ ^= 1;
    r.Y = y;
    r.Lon.assign(columns_, 0.0f);
    r.Lat.assign(columns_, 0.0f);
    r.State.assign(columns_, 0);
    return r;
}

bool TScanGeolocator::OnDisc(TRow& r, int i)
{
    if (r.State[i] == 0)
        r.State[i] = pixelToGeo_(firstColumn_ + i, r.Y, r.Lon[i], r.Lat[i]) ? 2 : 1;
    return r.State[i] == 2;
}

void TScanGeolocator::Line(int line, std::span<float> lon, std::span<float> lat)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const double y = layout_.CompositeY(line);
    const double y0 = std::floor(y);
    const float wy = static_cast<float>(y - y0);
    // Both rows stay cached while this line is made: the cache holds two.
    TRow& top = Row(static_cast<int>(y0), std::numeric_limits<int>::min());
    TRow& bottom = wy > 0.0f ? Row(static_cast<int>(y0) + 1, top.Y) : top;
    for (int e = 0; e < layout_.Elements; ++e) {
        const int i = column0_[e] - firstColumn_;
        const float wx = weightX_[e];
        const float w[4] = {(1 - wx) * (1 - wy), wx * (1 - wy), (1 - wx) * wy, wx * wy};
        TRow* rows[4] = {&top, &top, &bottom, &bottom};
        const int cols[4] = {i, i + 1, i, i + 1};
        bool onDisc = true;
        float refLon = 0.0f;
        bool haveRef = false;
        double sumLon = 0.0, sumLat = 0.0;
        for (int k = 0; k < 4; ++k) {
            if (w[k] <= 0.0f)
                continue;
            TRow& r = *rows[k];
            if (!OnDisc(r, cols[k])) {
                onDisc = false;
                break;
            }
            float l = r.Lon[cols[k]];
            if (!haveRef) {
                refLon = l;
                haveRef = true;
            }
            // Neighbours on both sides of the date line: interpolate on one side.
            if (l - refLon > 180.0f)
                l -= 360.0f;
            else if (refLon - l > 180.0f)
                l += 360.0f;
            sumLon += w[k] * l;
            sumLat += w[k] * r.Lat[cols[k]];
        }
        if (!onDisc || !haveRef) {
            lon[e] = lat[e] = nan;
            continue;
        }
        if (sumLon >= 180.0)
            sumLon -= 360.0;
        else if (sumLon < -180.0)
            sumLon += 360.0;
        lon[e] = static_cast<float>(sumLon);
        lat[e] = static_cast<float>(sumLat);
    }
}

double CosSatelliteZenith(float lon, float lat, double subLongitude)
{
    constexpr double rad = orvanta::geo::kDegToRadDouble;
    const double cosGamma = std::cos(lat * rad) * std::cos((lon - subLongitude) * rad);
    return (cosGamma - kEarthOverOrbit) /
           std::sqrt(1.0 - 2.0 * kEarthOverOrbit * cosGamma + kEarthOverOrbit * kEarthOverOrbit);
}

} // namespace synth

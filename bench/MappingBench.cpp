// Speed of the composite's geostationary mapping (row 125, satellite at 128 W): forward and
// inverse transforms per second, and the time to render the whole off-Earth mask.

#include <benchmark/benchmark.h>

#include <vector>

#include "mapping/DiscMask.h"
#include "mapping/SegmentStuff.h"

namespace {

struct TPoint2 {
    float A, B;
};

// Positions spread over the visible disc.
std::vector<TPoint2> VisiblePositions()
{
    const TSegmentMapping m = CompositeMapping();
    std::vector<TPoint2> pts;
    for (int lat = -80; lat <= 80; lat += 2)
        for (int lon = -200; lon <= -56; lon += 2) {
            int x, y;
            if (m.GeoToPixel(x, y, static_cast<float>(lon), static_cast<float>(lat)))
                pts.push_back({static_cast<float>(lon), static_cast<float>(lat)});
        }
    return pts;
}

// Pixels spread over the whole picture, on and off the disc.
std::vector<TPoint2> PicturePixels()
{
    std::vector<TPoint2> px;
    for (int y = 0; y < 3248; y += 37)
        for (int x = 0; x < 2816; x += 31)
            px.push_back({static_cast<float>(x), static_cast<float>(y)});
    return px;
}

void BM_GeoToPixel(benchmark::State& state)
{
    const TSegmentMapping m = CompositeMapping();
    const auto pts = VisiblePositions();
    std::size_t i = 0;
    for (auto _ : state) {
        int x, y;
        const TPoint2& p = pts[i];
        benchmark::DoNotOptimize(m.GeoToPixel(x, y, p.A, p.B));
        benchmark::DoNotOptimize(x);
        if (++i == pts.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GeoToPixel);

void BM_PixelToGeo(benchmark::State& state)
{
    const TSegmentMapping m = CompositeMapping();
    const auto px = PicturePixels();
    std::size_t i = 0;
    for (auto _ : state) {
        float lon, lat;
        const TPoint2& p = px[i];
        benchmark::DoNotOptimize(m.PixelToGeo(static_cast<int>(p.A), static_cast<int>(p.B), lon, lat));
        benchmark::DoNotOptimize(lon);
        if (++i == px.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PixelToGeo);

void BM_RenderMask(benchmark::State& state)
{
    const TSegmentMapping m = CompositeMapping();
    for (auto _ : state) {
        TDiscMask mask = RenderDiscMask(m);
        benchmark::DoNotOptimize(mask.Pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * 2816 * 3248);
}
BENCHMARK(BM_RenderMask)->Unit(benchmark::kMillisecond);

} // namespace

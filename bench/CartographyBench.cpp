// Loading the low-resolution shorelines with the intermediate borders, and drawing them
// onto a full composite through the GOES-West segment mapping, as every saved image does.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cartography/CartogDraw.h"
#include "cartography/vrnCartography.h"
#include "imaging/BMPExtImage.h"
#include "imaging/Canvas.h"
#include "mapping/DiscMask.h"
#include "mapping/SegmentStuff.h"

namespace {

// The shared data folder sits beside the project's checkout, the build two levels below it.
std::string dataDir()
{
    const char* env = std::getenv("ORVANTA_SHARED_DATA");
    return env && *env ? env : std::string(ORVANTA_BINARY_DIR) + "/../../../shared/data";
}

std::string pathList()
{
    return dataDir() + "/gshhs/gshhs_l.b|" + dataDir() + "/gshhs/wdb_borders_i.b";
}

bool haveData() { return std::filesystem::exists(dataDir() + "/gshhs/gshhs_l.b"); }

struct Store : TCartogList {
    Store() : TCartogList(std::string()) {}
};

void BM_LoadShorelinesAndBorders(benchmark::State& state)
{
    if (!haveData()) {
        state.SkipWithError("no shared GSHHS data");
        return;
    }
    Store store;
    for (auto _ : state) {
        store.LoadFromPathList(pathList());
        benchmark::DoNotOptimize(store.Count());
    }
    state.counters["segments"] = store.Count();
}
BENCHMARK(BM_LoadShorelinesAndBorders)->Unit(benchmark::kMillisecond);

void BM_DrawOnComposite(benchmark::State& state)
{
    if (!haveData()) {
        state.SkipWithError("no shared GSHHS data");
        return;
    }
    Store store;
    store.LoadFromPathList(pathList());
    TSegmentMapping mapping = CompositeMapping();
    store.Mapping = &mapping;
    TExtBitmap composite(mapping.ImageWidth(), mapping.ImageHeight());
    composite.MakeGreyPalette();
    composite.Fill(240);
    composite.Canvas().Pen.Color = 10526880;
    for (auto _ : state) {
        store.DrawOnBitmap(composite, 0, 0);
        benchmark::ClobberMemory();
    }
    int points = 0;
    for (int i = 0; i < store.Count(); ++i) points += store.Items(i)->Count;
    state.counters["points"] = points;
}
BENCHMARK(BM_DrawOnComposite)->Unit(benchmark::kMillisecond);

// The walk without the far-side cull and with the lines thrown away: what projecting every
// point costs.
void BM_ProjectEveryPoint(benchmark::State& state)
{
    if (!haveData()) {
        state.SkipWithError("no shared GSHHS data");
        return;
    }
    Store store;
    store.LoadFromPathList(pathList());
    const TSegmentMapping mapping = CompositeMapping();
    std::size_t emitted = 0;
    for (auto _ : state) {
        cartography::DrawLineStore(
            store, mapping.ImageWidth(),
            [&](int& x, int& y, float lon, float lat) { return mapping.GeoToPixel(x, y, lon, lat); },
            [&](std::span<const TPoint> p) { emitted += p.size(); }, 0, 0);
    }
    benchmark::DoNotOptimize(emitted);
}
BENCHMARK(BM_ProjectEveryPoint)->Unit(benchmark::kMillisecond);

}  // namespace

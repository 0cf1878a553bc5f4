// Loading the low-resolution shorelines with the intermediate borders, and drawing them
// onto a full composite through the GOES-West segment mapping, as every saved image does;
// then the same for Debian's binned files against the .b files of the same resolution.

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

// Draws the list onto a full composite, over and over.
void drawList(benchmark::State& state, const std::string& list)
{
    Store store;
    store.LoadFromPathList(list);
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
    state.counters["segments"] = store.Count();
    state.counters["points"] = points;
}

void BM_DrawOnComposite(benchmark::State& state)
{
    if (!haveData()) {
        state.SkipWithError("no shared GSHHS data");
        return;
    }
    drawList(state, pathList());
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

// ---- .b files against Debian's binned netCDF files --------------------------------------

std::string gshhsPair(char resolution)
{
    return dataDir() + "/gshhs/gshhs_" + resolution + ".b|" + dataDir() + "/gshhs/wdb_borders_" + resolution + ".b";
}

std::string binnedPair(char resolution)
{
    return std::string(kBinnedGshhgDir) + "binned_GSHHS_" + resolution + ".nc|" + kBinnedGshhgDir + "binned_border_" +
           resolution + ".nc";
}

bool listPresent(const std::string& list, benchmark::State& state)
{
    for (std::size_t start = 0;;) {
        const auto bar = list.find('|', start);
        const std::string file = list.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (!std::filesystem::exists(file)) {
            state.SkipWithError(("no " + file).c_str());
            return false;
        }
        if (bar == std::string::npos) return true;
        start = bar + 1;
    }
}

void BM_LoadList(benchmark::State& state, std::string list)
{
    if (!listPresent(list, state)) return;
    Store store;
    for (auto _ : state) {
        store.LoadFromPathList(list);
        benchmark::DoNotOptimize(store.Count());
    }
    state.counters["segments"] = store.Count();
}
BENCHMARK_CAPTURE(BM_LoadList, gshhs_l_b, gshhsPair('l'))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadList, binned_l, binnedPair('l'))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadList, binned_i, binnedPair('i'))->Unit(benchmark::kMillisecond);

void BM_DrawList(benchmark::State& state, std::string list)
{
    if (listPresent(list, state)) drawList(state, list);
}
BENCHMARK_CAPTURE(BM_DrawList, gshhs_l_b, gshhsPair('l'))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DrawList, binned_l, binnedPair('l'))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DrawList, binned_i, binnedPair('i'))->Unit(benchmark::kMillisecond);

}  // namespace

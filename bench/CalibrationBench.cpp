// Calibration of a full-disk scan (5212 x 2704 samples) into grey counts: the visible band
// through the gamma curve, and band 4 through its radiance table; plus the whole MakeBitmap
// path, file reading included, for the same scan.
#include <benchmark/benchmark.h>

#include <netcdf.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "imaging/BMPExtImage.h"
#include "netcdf/NetCdfG15.h"
#include "netcdf/RadianceToModeAlookup.h"
#include "netcdf/VisibleLookup.h"

namespace {

constexpr int kWidth = 5212;
constexpr int kHeight = 2704;

std::vector<float> samples(float lo, float hi)
{
    std::vector<float> v(static_cast<std::size_t>(kWidth) * kHeight);
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> d(lo, hi);
    for (float& x : v)
        x = d(rng);
    return v;
}

void convertRows(benchmark::State& state, const std::vector<float>& in, auto&& convertRow)
{
    TExtBitmap bmp(kWidth, kHeight);
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y)
            convertRow(std::span<const float>(in).subspan(static_cast<std::size_t>(y) * kWidth, kWidth),
                       bmp.ScanLine(y));
        benchmark::DoNotOptimize(bmp.ScanLine(0));
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t{kWidth} * kHeight);
}

void BM_VisibleGamma18(benchmark::State& state)
{
    const auto in = samples(0.0f, 100.0f);
    const TVisibleLookup lookup(1.8f); // built once per scan; its cost is measured below
    convertRows(state, in, [&](std::span<const float> row, std::uint8_t* out) { lookup.convert(row, out); });
}

void BM_VisibleLookupBuild(benchmark::State& state)
{
    for (auto _ : state) {
        TVisibleLookup lookup(1.8f);
        benchmark::DoNotOptimize(&lookup);
    }
}

void BM_Band4(benchmark::State& state)
{
    const auto in = samples(0.0f, 170.0f);
    convertRows(state, in, [](std::span<const float> row, std::uint8_t* out) { RadiancesToModeA(4, row, out); });
}

// The whole path: open, read the header and the samples, calibrate.
void makeBitmap(benchmark::State& state, int band, float lo, float hi, float gamma)
{
    const auto path = std::filesystem::temp_directory_path() /
                      ("orvanta-bench-" + std::to_string(band) + "-" + std::to_string(::getpid()) + ".nc");
    {
        const auto in = samples(lo, hi);
        int id = 0, yc = 0, xc = 0, var = 0, bands = 0;
        nc_create(path.c_str(), NC_CLOBBER | NC_NETCDF4, &id);
        nc_def_dim(id, "yc", kHeight, &yc);
        nc_def_dim(id, "xc", kWidth, &xc);
        const int dims[] = {yc, xc};
        nc_def_var(id, "data", NC_FLOAT, 2, dims, &var);
        nc_def_var(id, "bands", NC_INT, 0, nullptr, &bands);
        nc_enddef(id);
        nc_put_var_float(id, var, in.data());
        nc_put_var_int(id, bands, &band);
        nc_close(id);
    }
    for (auto _ : state) {
        TNetCdfGoes15 nc;
        TExtBitmap bmp;
        nc.Open(path.string());
        nc.ReadHeader();
        nc.MakeBitmap(&bmp, gamma);
        benchmark::DoNotOptimize(bmp.ScanLine(0));
    }
    std::filesystem::remove(path);
}

void BM_MakeBitmapVisible(benchmark::State& state) { makeBitmap(state, 1, 0.0f, 100.0f, 1.8f); }
void BM_MakeBitmapBand4(benchmark::State& state) { makeBitmap(state, 4, 0.0f, 170.0f, 1.0f); }

} // namespace

BENCHMARK(BM_VisibleGamma18)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VisibleLookupBuild)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Band4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MakeBitmapVisible)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MakeBitmapBand4)->Unit(benchmark::kMillisecond);

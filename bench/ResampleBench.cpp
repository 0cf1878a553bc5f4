// Resampling speed of the two sizes the processing path meets: a full-disk scan squeezed to
// the composite's width, and a small image blown up tenfold.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "imaging/BMPExtImage.h"

namespace {

TExtBitmap noise(int w, int h)
{
    TExtBitmap bmp(w, h);
    bmp.MakeGreyPalette();
    std::mt19937 rng(3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bmp.ScanLine(y)[x] = static_cast<std::uint8_t>(rng());
    return bmp;
}

void interpolate(benchmark::State& state, int sw, int sh, int dw, int dh, int mode)
{
    const TExtBitmap source = noise(sw, sh);
    for (auto _ : state) {
        state.PauseTiming();
        TExtBitmap bmp = source;
        state.ResumeTiming();
        bmp.Interpolate(dw, dh, mode);
        benchmark::DoNotOptimize(bmp.ScanLine(0));
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t{dw} * dh);
}

void BM_FullDiskSuperSample(benchmark::State& s) { interpolate(s, 5212, 2704, 2976, 2704, -1); }
void BM_Cubic100To1000(benchmark::State& s) { interpolate(s, 100, 100, 1000, 1000, -1); }
void BM_FullDiskNearest(benchmark::State& s) { interpolate(s, 5212, 2704, 2976, 2704, 0); }
void BM_FullDiskLinear(benchmark::State& s) { interpolate(s, 5212, 2704, 2976, 2704, 1); }

} // namespace

BENCHMARK(BM_FullDiskSuperSample)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cubic100To1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullDiskNearest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullDiskLinear)->Unit(benchmark::kMillisecond);

namespace {

void plane(benchmark::State& state, int sw, int sh, int dw, int dh, TInterpolation mode)
{
    const TExtBitmap source = noise(sw, sh);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(dw) * dh);
    for (auto _ : state) {
        ResamplePlane(source.ScanLine(0), source.BytesPerRow(), sw, sh, out.data(), dw, dw, dh, 1, mode);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t{dw} * dh);
}

// The resampling arithmetic alone, without the copies in and out of the image record.
void BM_PlaneFullDiskSuperSample(benchmark::State& s) { plane(s, 5212, 2704, 2976, 2704, TInterpolation::SuperSample); }
void BM_PlaneCubic100To1000(benchmark::State& s) { plane(s, 100, 100, 1000, 1000, TInterpolation::Cubic); }

} // namespace

BENCHMARK(BM_PlaneFullDiskSuperSample)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaneCubic100To1000)->Unit(benchmark::kMillisecond);

// Saving and loading a composite: our JPEG and PNG routines against the codec libraries
// driven directly, on the same 2816 x 3248 8-bit image.

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "imaging/BMPExtImage.h"
#include "imaging/JPEG_IO.h"
#include "imaging/PNG_IO.h"

namespace {

namespace fs = std::filesystem;

constexpr int W = 2816, H = 3248;

// A composite-like picture: a grey disc with smooth structure and noise on a flat 240
// background, which is what the station saves every half hour per channel.
const TExtBitmap& composite()
{
    static const TExtBitmap image = [] {
        TExtBitmap b(W, H, TPixelFormat::pf8bit);
        b.MakeGreyPalette();
        std::mt19937 rng(5);
        for (int y = 0; y < H; ++y) {
            std::uint8_t* row = b.ScanLine(y);
            for (int x = 0; x < W; ++x) {
                const double dx = (x - 1408.5) / 1355.0, dy = (y - 1625.5) / 1350.0;
                const double r2 = dx * dx + dy * dy;
                row[x] = r2 < 1.0 ? static_cast<std::uint8_t>(60 + 80 * std::sin(x * 0.01) * std::cos(y * 0.013) +
                                                              60 * (1 - r2) + (rng() % 12))
                                  : 240;
            }
        }
        return b;
    }();
    return image;
}

std::string scratch(const char* name)
{
    const fs::path dir = fs::temp_directory_path() / "orvanta-bench-img";
    fs::create_directories(dir);
    return (dir / name).string();
}

void BM_SaveJPEG_q99(benchmark::State& state)
{
    const std::string file = scratch("c.jpg");
    const TExtBitmap& image = composite();  // built before the clock runs
    for (auto _ : state)
        SaveJPEG(image, file, 99, false, "http://www.example.org/");
    state.counters["bytes"] = static_cast<double>(fs::file_size(file));
}
BENCHMARK(BM_SaveJPEG_q99)->Unit(benchmark::kMillisecond)->UseRealTime();

// libjpeg alone: the same YCbCr rows to memory, no file.
void BM_LibjpegCompress_q99(benchmark::State& state)
{
    std::vector<std::uint8_t> ycc(static_cast<std::size_t>(W) * 3);
    for (auto _ : state) {
        jpeg_compress_struct c{};
        jpeg_error_mgr err{};
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&c, &out, &size);
        c.image_width = W;
        c.image_height = H;
        c.input_components = 3;
        c.in_color_space = JCS_YCbCr;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 99, TRUE);
        jpeg_start_compress(&c, TRUE);
        while (c.next_scanline < c.image_height) {
            const std::uint8_t* src = composite().ScanLine(static_cast<int>(c.next_scanline));
            for (int x = 0; x < W; ++x) {
                ycc[3 * x] = src[x];
                ycc[3 * x + 1] = ycc[3 * x + 2] = 128;
            }
            JSAMPROW row = ycc.data();
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        std::free(out);
    }
}
BENCHMARK(BM_LibjpegCompress_q99)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadJPEG(benchmark::State& state)
{
    const std::string file = scratch("l.jpg");
    SaveJPEG(composite(), file, 99, false, "");
    const int scale = static_cast<int>(state.range(0));
    TExtBitmap b(1, 1, TPixelFormat::pf8bit);
    for (auto _ : state)
        if (!LoadJPEG(&b, file, false, scale))
            state.SkipWithError("load failed");
}
BENCHMARK(BM_LoadJPEG)->Arg(0)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// libjpeg alone: decode the same file from memory into one buffer.
void BM_LibjpegDecompress(benchmark::State& state)
{
    const std::string file = scratch("l.jpg");
    SaveJPEG(composite(), file, 99, false, "");
    std::FILE* f = std::fopen(file.c_str(), "rb");
    std::vector<unsigned char> data(fs::file_size(file));
    if (std::fread(data.data(), 1, data.size(), f) != data.size())
        state.SkipWithError("read failed");
    std::fclose(f);
    std::vector<unsigned char> pixels(static_cast<std::size_t>(W) * H);
    for (auto _ : state) {
        jpeg_decompress_struct c{};
        jpeg_error_mgr err{};
        c.err = jpeg_std_error(&err);
        jpeg_create_decompress(&c);
        jpeg_mem_src(&c, data.data(), data.size());
        jpeg_read_header(&c, TRUE);
        c.out_color_space = JCS_GRAYSCALE;
        c.scale_num = 1;
        c.scale_denom = static_cast<unsigned>(1 << state.range(0));
        jpeg_start_decompress(&c);
        while (c.output_scanline < c.output_height) {
            JSAMPROW row = pixels.data() + static_cast<std::size_t>(c.output_scanline) * c.output_width;
            jpeg_read_scanlines(&c, &row, 1);
        }
        jpeg_finish_decompress(&c);
        jpeg_destroy_decompress(&c);
    }
}
BENCHMARK(BM_LibjpegDecompress)->Arg(0)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SavePNGWithText(benchmark::State& state)
{
    const std::string file = scratch("c.png");
    for (auto _ : state)
        SavePNGWithText(composite(), file, "http://www.example.org/", "GOES-15 image from netCDF",
                        "Quillon's Orvanta", "2013-05-30 12:00");
    state.counters["bytes"] = static_cast<double>(fs::file_size(file));
}
BENCHMARK(BM_SavePNGWithText)->Unit(benchmark::kMillisecond)->UseRealTime();

// libpng alone with the same settings (level 4, filters none/sub/Paeth), into memory.
void BM_LibpngWrite(benchmark::State& state)
{
    std::vector<png_bytep> rows(H);
    for (int y = 0; y < H; ++y)
        rows[static_cast<std::size_t>(y)] = const_cast<std::uint8_t*>(composite().ScanLine(y));
    for (auto _ : state) {
        std::vector<unsigned char> out;
        out.reserve(8u << 20);
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_set_write_fn(
            png, &out,
            [](png_structp p, png_bytep d, std::size_t n) {
                auto* o = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(p));
                o->insert(o->end(), d, d + n);
            },
            [](png_structp) {});
        png_set_compression_level(png, 4);
        png_set_IHDR(png, info, W, H, 8, PNG_COLOR_TYPE_GRAY, 0, 0, 0);
        png_write_info(png, info);
        png_set_filter(png, 0, PNG_FILTER_NONE | PNG_FILTER_SUB | PNG_FILTER_PAETH);
        png_write_image(png, rows.data());
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_LibpngWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

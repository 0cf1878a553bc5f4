// Decompressing an incoming file: our routine against the bzip2 program on the same file.

#include <benchmark/benchmark.h>
#include <bzlib.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "imaging/BZ2files.h"

namespace {

namespace fs = std::filesystem;

// ~50 MB of 16-bit samples shaped like a scan: a smooth disc with sensor noise, zero space
// around it, so it compresses about as well as a real infrared file (roughly 10:1).
const std::string& compressedFile()
{
    static const std::string path = [] {
        const fs::path dir = fs::temp_directory_path() / "orvanta-bench-bz2";
        fs::create_directories(dir);
        const std::string plain = (dir / "scan.nc").string();
        const std::string bz = plain + ".bz2";
        if (!fs::exists(bz)) {
            const int w = 5000, h = 5000;
            std::vector<std::uint16_t> samples(static_cast<std::size_t>(w) * h);
            std::mt19937 rng(3);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const double dx = (x - w / 2.0) / (w / 2.2), dy = (y - h / 2.0) / (h / 2.2);
                    const double r2 = dx * dx + dy * dy;
                    samples[static_cast<std::size_t>(y) * w + x] =
                        r2 < 1.0 ? static_cast<std::uint16_t>(8000 + 3000 * (1 - r2) + (rng() & 3)) : 0;
                }
            std::ofstream(plain, std::ios::binary)
                .write(reinterpret_cast<const char*>(samples.data()),
                       static_cast<std::streamsize>(samples.size() * 2));
            if (std::system(("bzip2 -9 -f " + plain).c_str()) != 0)
                std::abort();
        }
        return bz;
    }();
    return path;
}

void BM_DecompressBZ2File(benchmark::State& state)
{
    const std::string& bz = compressedFile();
    for (auto _ : state) {
        if (!DecompressBZ2File(bz))
            state.SkipWithError("decompression failed");
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(fs::file_size(BZ2TargetName(bz))));
}
BENCHMARK(BM_DecompressBZ2File)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference: the bzip2 program itself, writing to a file on the same disk.
void BM_Bzip2Program(benchmark::State& state)
{
    const std::string& bz = compressedFile();
    const std::string cmd = "bzip2 -dc " + bz + " > " + BZ2TargetName(bz) + ".ref";
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0)
            state.SkipWithError("bzip2 failed");
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(fs::file_size(BZ2TargetName(bz))));
}
BENCHMARK(BM_Bzip2Program)->Unit(benchmark::kMillisecond)->UseRealTime();

// The library alone, buffer to buffer: the floor for any wrapper.
void BM_LibraryOnly(benchmark::State& state)
{
    const std::string& bz = compressedFile();
    std::ifstream in(bz, std::ios::binary);
    const std::string packed{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<char> out(fs::file_size(BZ2TargetName(bz)) + 1);
    for (auto _ : state) {
        auto size = static_cast<unsigned>(out.size());
        BZ2_bzBuffToBuffDecompress(out.data(), &size, const_cast<char*>(packed.data()),
                                   static_cast<unsigned>(packed.size()), 0, 0);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(out.size()));
}
BENCHMARK(BM_LibraryOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

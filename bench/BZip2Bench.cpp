// Decompressing an incoming file: our routine, sequential and on all cores, against the
// bzip2 and lbzip2 programs on the same file.

#include <benchmark/benchmark.h>
#include <bzlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "bzip2/BZ2Parallel.h"
#include "bzip2/BZ2files.h"

namespace {

namespace fs = std::filesystem;

// File 0: ~50 MB of 16-bit samples shaped like a scan: a smooth disc with sensor noise, zero
// space around it, so it compresses about as well as a real infrared file (roughly 8:1).
// File 1: like a geolocation file: two float fields of longitude and latitude with
// fill values off the disc, which compress far less and decode slower.
std::string compressedFile(int which)
{
    static std::string paths[2];
    std::string& path = paths[which];
    if (path.empty()) {
        const fs::path dir = fs::temp_directory_path() / "orvanta-bench-bz2";
        fs::create_directories(dir);
        const std::string plain = (dir / (which == 0 ? "scan.nc" : "scan_geo.nc")).string();
        const std::string bz = plain + ".bz2";
        if (which == 1 && !fs::exists(bz)) {
            const int w = 2500, h = 2500;
            std::vector<float> fields(static_cast<std::size_t>(w) * h * 2);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const double dx = (x - w / 2.0) / (w / 2.2), dy = (y - h / 2.0) / (h / 2.2);
                    const bool on = dx * dx + dy * dy < 1.0;
                    const std::size_t i = static_cast<std::size_t>(y) * w + x;
                    fields[i] = on ? static_cast<float>(-135.0 + 80.0 * std::asin(dx / std::sqrt(std::max(1e-9, 1 - dy * dy))) / 1.5708) : -999.f;
                    fields[i + static_cast<std::size_t>(w) * h] = on ? static_cast<float>(80.0 * std::asin(-dy) / 1.5708) : -999.f;
                }
            std::ofstream(plain, std::ios::binary)
                .write(reinterpret_cast<const char*>(fields.data()), static_cast<std::streamsize>(fields.size() * 4));
            if (std::system(("bzip2 -9 -f " + plain).c_str()) != 0)
                std::abort();
        }
        if (which == 0 && !fs::exists(bz)) {
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
        path = bz;
    }
    return path;
}

// Argument 0 picks the file (0 infrared scan, 1 geolocation), argument 1 the threads
// (0: as many as the machine has, the program's default).
void BM_DecompressBZ2File(benchmark::State& state)
{
    const std::string bz = compressedFile(static_cast<int>(state.range(0)));
    const auto workers = state.range(1) == 0 ? BZ2DecompressionWorkers() : static_cast<unsigned>(state.range(1));
    for (auto _ : state) {
        if (!DecompressBZ2File(bz, workers))
            state.SkipWithError("decompression failed");
    }
    state.counters["workers"] = workers;
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(fs::file_size(BZ2TargetName(bz))));
}
BENCHMARK(BM_DecompressBZ2File)
    ->Args({0, 1})->Args({0, 0})->Args({1, 1})->Args({1, 0})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// The references: the bzip2 program itself, and lbzip2 on two threads, writing to a file
// on the same disk.
void runProgram(benchmark::State& state, const std::string& program)
{
    const std::string bz = compressedFile(static_cast<int>(state.range(0)));
    const std::string cmd = program + " " + bz + " > " + BZ2TargetName(bz) + ".ref";
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0)
            state.SkipWithError("program failed");
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(fs::file_size(BZ2TargetName(bz))));
}

void BM_Bzip2Program(benchmark::State& state)
{
    runProgram(state, "bzip2 -dc");
}
BENCHMARK(BM_Bzip2Program)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Lbzip2Program(benchmark::State& state)
{
    if (std::system("command -v lbzip2 >/dev/null 2>&1") != 0) {
        state.SkipWithError("lbzip2 not installed");
        return;
    }
    runProgram(state, "lbzip2 -dc -n2");
}
BENCHMARK(BM_Lbzip2Program)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The library alone, buffer to buffer: the floor for any wrapper.
void BM_LibraryOnly(benchmark::State& state)
{
    const std::string bz = compressedFile(static_cast<int>(state.range(0)));
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
BENCHMARK(BM_LibraryOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The block decoders alone, on one thread, in CPU time of the whole process: argument 0
// picks our block decoder (through the parallel path with one worker, which includes the
// search for the blocks) or the library (1), argument 1 the file as above; ORVANTA_BZ2_FILE
// names another file instead (a scan from orvanta-synth, say). Compare with
// `lbzip2 -dc -n1 FILE` under `time`.
void BM_BlockDecoderCpu(benchmark::State& state)
{
    const char* named = std::getenv("ORVANTA_BZ2_FILE");
    const std::string bz = named ? std::string(named) : compressedFile(static_cast<int>(state.range(1)));
    std::ifstream in(bz, std::ios::binary);
    const std::string packed{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(packed.data()), packed.size());
    std::vector<char> scratch(1 << 20);
    std::int64_t plain = 0;
    for (auto _ : state) {
        plain = 0;
        if (state.range(0) == 0) {
            if (!DecompressBZ2Parallel(bytes, 1, [&](const char*, std::size_t n) { plain += static_cast<std::int64_t>(n); }))
                state.SkipWithError("our decoder refused the file");
            continue;
        }
        bz_stream s{};
        BZ2_bzDecompressInit(&s, 0, 0);
        s.next_in = const_cast<char*>(packed.data());
        s.avail_in = static_cast<unsigned>(packed.size());
        int rc = BZ_OK;
        while (rc == BZ_OK) {
            s.next_out = scratch.data();
            s.avail_out = static_cast<unsigned>(scratch.size());
            rc = BZ2_bzDecompress(&s);
            plain += static_cast<std::int64_t>(scratch.size() - s.avail_out);
            // Streams written one after another, as parallel compressors do.
            if (rc == BZ_STREAM_END && s.avail_in > 0) {
                BZ2_bzDecompressEnd(&s);
                BZ2_bzDecompressInit(&s, 0, 0);
                rc = BZ_OK;
            }
        }
        BZ2_bzDecompressEnd(&s);
        if (rc != BZ_STREAM_END)
            state.SkipWithError("the library refused the file");
    }
    state.SetBytesProcessed(state.iterations() * plain);
}
BENCHMARK(BM_BlockDecoderCpu)
    ->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace

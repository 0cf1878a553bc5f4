// What keeping a disk from filling costs: pruning a year of dated image folders (365 days of
// 60 images each) in one pass, beside removing the same tree without looking at it, and the
// free-space check the cycle makes before every file. TMPDIR=/dev/shm leaves the disk out.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "product/DiskGuard.h"
#include "station/Retention.h"
#include "settings/ProgramSettings.h"

namespace {

namespace fs = std::filesystem;

const fs::path& WorkDir()
{
    static const fs::path dir = [] {
        const fs::path d = fs::temp_directory_path() / "orvanta-bench-retention";
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

constexpr int Days = 365;
constexpr int ImagesPerDay = 60;

// A year of days ending yesterday of `today`, 60 small images a day, under root.
void MakeYear(const std::string& root, TDateTime today);

// A fresh year under root, written to the disk: a station prunes days written long ago, and
// their writing is not the pruning's cost.
void FreshYear(benchmark::State& state, const std::string& root, TDateTime today)
{
    state.PauseTiming();
    fs::remove_all(root);
    MakeYear(root, today);
    ::sync();
    state.ResumeTiming();
}

void MakeYear(const std::string& root, TDateTime today)
{
    for (int d = 1; d <= Days; ++d) {
        const TDateTime day = today - d;
        const std::string dir = DatedDirectory(root, day);
        fs::create_directories(dir);
        for (int i = 0; i < ImagesPerDay; ++i) {
            const TDateTime t = day + (i / 12) / 48.0;  // five channels' worth of half hours
            static const char* const tags[] = {"vis", "mir", "wv", "ir", "co2"};
            const std::string name = dir + FormatDateTime("yyyymmddhhnn", t + (i % 12) / 1440.0) + "-g10-" + tags[i % 5] + ".jpg";
            std::ofstream(name) << "jpeg";
        }
    }
}

void BM_PruneAYear(benchmark::State& state)
{
    const std::string root = (WorkDir() / "images").string() + "/";
    const TDateTime today = *TryEncodeDate(2026, 12, 7) + 0.5;
    TRetentionLimits limits{root, root, root + "failed/", 1, 0, 0};
    std::size_t lines = 0;
    TRetention retention([&](const std::string&) { ++lines; });
    for (auto _ : state) {
        FreshYear(state, root, today);
        retention.Prune(limits, {}, today);
    }
    state.counters["days"] = static_cast<double>(lines) / static_cast<double>(state.iterations());
    fs::remove_all(root);
}
BENCHMARK(BM_PruneAYear)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same year removed by `rm -rf`'s way, without looking at a name: what the file system
// alone costs on this disk.
void BM_RemoveAllReference(benchmark::State& state)
{
    const std::string root = (WorkDir() / "images").string() + "/";
    const TDateTime today = *TryEncodeDate(2026, 12, 7) + 0.5;
    for (auto _ : state) {
        FreshYear(state, root, today);
        fs::remove_all(root);
    }
}
BENCHMARK(BM_RemoveAllReference)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FreeSpaceCheckPerFile(benchmark::State& state)
{
    TFixedOptions options;
    options.SetPathText("NetCDFPath", (WorkDir() / "raw").string() + "/");
    options.SetPathText("SavePath", (WorkDir() / "img").string() + "/");
    fs::create_directories(WorkDir() / "raw");
    fs::create_directories(WorkDir() / "img");
    const TStationSettings settings = StationSettings(options);
    for (auto _ : state)
        benchmark::DoNotOptimize(DiskLowLine(settings));
}
BENCHMARK(BM_FreeSpaceCheckPerFile)->Unit(benchmark::kMicrosecond);

}  // namespace

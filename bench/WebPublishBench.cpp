// What the station adds to every file for those who watch it from elsewhere: the channel's
// fixed names in latest/ (a JPEG and a PNG), the day's index, the page and the metrics file,
// with a full day of images listed (five channels, a scan every ten minutes). It must stay
// far below the seconds a file's product takes. TMPDIR=/dev/shm leaves the disk out.

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <filesystem>
#include <fstream>
#include <string>

#include "publish/StationWatch.h"

namespace {

namespace fs = std::filesystem;

class TQuietView : public TCycleView {
public:
    void SetLamp(TLamp) override {}
    void ShowRunning(bool) override {}
    void SetStatusText(const std::string&) override {}
};

class TQuietHandler : public TGoesFileHandler {
public:
    bool ProcessGoesFile(const std::string&, TGoesFileResult&) override { return false; }
    void ShowSavedImage(std::uint8_t, const std::string&, const std::string&) override {}
};

void BM_PublishAfterFile(benchmark::State& state)
{
    int argc = 1;
    char name[] = "bench";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const fs::path root = fs::temp_directory_path() / "orvanta-bench-web";
    fs::remove_all(root);
    for (const char* d : {"in", "raw", "img/2019/06/21", "state"}) fs::create_directories(root / d);
    const std::string r = root.string() + "/";
    TFixedOptions options;
    options.SetPathText("SourcePath", r + "in/");
    options.SetPathText("NetCDFPath", r + "raw/");
    options.SetPathText("SavePath", r + "img/");
    options.SetTicked("SaveAsPNG", true);
    TProcessLog log(r + "state/log", [] { return 0.0; });
    TQuietView view;
    TProcessingCycle cycle(options, log, view);
    TQuietHandler product;
    TStationStatus status(cycle, "", r + "state/status.json");
    TStationWatch watch(cycle, product, status, {}, r + "state/orvanta.prom");
    const std::string jpeg = r + "img/2019/06/21/scan.jpg", png = r + "img/2019/06/21/scan.png";
    std::ofstream(jpeg) << std::string(300000, 'j');
    std::ofstream(png) << std::string(900000, 'p');
    const TDateTime day = *TryEncodeDate(2019, 6, 21);
    TGoesFileResult result;
    result.Sector = SectorFullDisk;
    const std::string entry = "goes15.2019.172.180018_1.nc.bz2", noFailure;
    int n = 0;
    for (auto _ : state) {
        result.ChannelIndex = static_cast<std::uint8_t>(n % 5 == 4 ? 5 : n % 5);
        result.SlotTime = day + (n / 5) / 144.0;
        // A day's worth of distinct names listed, as a station has after a day.
        const std::string j = r + "img/2019/06/21/" + std::to_string(n % 720) + ".jpg";
        state.PauseTiming();
        fs::remove(j);
        fs::create_hard_link(jpeg, j);
        state.ResumeTiming();
        product.OnImageSaved(result.ChannelIndex, png);
        product.OnImageSaved(result.ChannelIndex, j);
        cycle.OnFileHandled({entry, TFileOutcome::Processed, result, noFailure, false});
        ++n;
    }
    fs::remove_all(root);
}
BENCHMARK(BM_PublishAfterFile)->Unit(benchmark::kMillisecond)->Iterations(2000);

}  // namespace

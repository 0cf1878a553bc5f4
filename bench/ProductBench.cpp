// One full-disk visible scan from the incoming directory to the saved JPEG, stage by stage,
// beside the two steps no product can avoid: bzip2 -dc of the same file and the JPEG encode
// of one composite.

#include <benchmark/benchmark.h>
#include <netcdf.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "product/outputs/ColourTables.h"
#include "product/composite/Composites.h"
#include "product/outputs/ImageLegend.h"
#include "product/outputs/GeoTiffOutput.h"
#include "product/GoesProduct.h"
#include "base/Files.h"
#include "bzip2/BZ2files.h"
#include "imaging/JPEG_IO.h"
#include "netcdf/NetCdfG15.h"
#include "settings/ProgramSettings.h"

namespace {

namespace fs = std::filesystem;

constexpr int ScanWidth = 5212;
constexpr int ScanHeight = 2704;
const char* const ScanName = "goes15.2013.150.120000.1.nc";

const fs::path& WorkDir()
{
    static const fs::path dir = [] {
        const fs::path d = fs::temp_directory_path() / "orvanta-bench-product";
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

// A visible full disk: reflectances over a disc with cloud-like texture and sensor noise,
// zero in space, so it compresses like a broadcast file.
// Band 4 gives the same counts as radiances: an infrared full disk, for the colour image.
const std::string& CompressedScan(int band = 1)
{
    static std::map<int, std::string> paths;
    if (const auto found = paths.find(band); found != paths.end()) return found->second;
    const std::string& path = paths[band] = [band] {
        std::string name = ScanName;
        name[name.size() - 4] = static_cast<char>('0' + band);
        const std::string plain = (WorkDir() / name).string();
        const std::string bz = plain + ".bz2";
        if (fs::exists(bz)) return bz;
        int nc = 0, dims[3], var = 0, ids[5];
        nc_create(plain.c_str(), NC_CLOBBER, &nc);
        nc_def_dim(nc, "time", 1, &dims[0]);
        nc_def_dim(nc, "yc", ScanHeight, &dims[1]);
        nc_def_dim(nc, "xc", ScanWidth, &dims[2]);
        nc_def_var(nc, "data", NC_FLOAT, 3, dims, &var);
        const char* names[] = {"startLine", "startElem", "lineRes", "elemRes", "bands"};
        const int values[] = {1, 1, 4, 1, band};
        for (int i = 0; i < 5; ++i) nc_def_var(nc, names[i], NC_INT, 0, nullptr, &ids[i]);
        nc_enddef(nc);
        for (int i = 0; i < 5; ++i) nc_put_var_int(nc, ids[i], &values[i]);
        std::mt19937 rng(11);
        std::vector<float> line(ScanWidth);
        for (int y = 0; y < ScanHeight; ++y) {
            for (int x = 0; x < ScanWidth; ++x) {
                const double dx = (x - ScanWidth / 2.0) / (ScanWidth / 2.1);
                const double dy = (y - ScanHeight / 2.0) / (ScanHeight / 2.1);
                const double r2 = dx * dx + dy * dy;
                const double cloud = 0.5 + 0.5 * std::sin(x * 0.013) * std::cos(y * 0.021 + x * 0.004);
                line[x] = r2 < 1.0 ? static_cast<float>(10.0 + 70.0 * cloud * (1.0 - 0.5 * r2) + (rng() % 100) * 0.01) : 0.0f;
            }
            const size_t start[3] = {0, static_cast<size_t>(y), 0}, count[3] = {1, 1, ScanWidth};
            nc_put_vara_float(nc, var, start, count, line.data());
        }
        nc_close(nc);
        std::system(("bzip2 -9 -f " + plain).c_str());
        return bz;
    }();
    return path;
}

struct Station {
    TFixedOptions options;
    TComposites composites;
    TExtBitmap mask;
    TGoesProduct product{options, composites, mask};
    std::string incoming;

    Station()
    {
        incoming = (WorkDir() / "incoming/").string();
        fs::create_directories(incoming);
        options.SetPathText("SourcePath", incoming);
        options.SetPathText("NetCDFPath", (WorkDir() / "raw/").string());
        options.SetPathText("SavePath", (WorkDir() / "images/").string());
        LoadBuiltInMask(mask);
    }
};

// The process's peak resident memory so far; run one benchmark per process to compare.
double PeakMegabytes()
{
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// One full disk after another through the product. With "Save as GeoTIFF" one file is
// processed before timing, so the figure leaves out what is done once per run (loading
// GDAL's drivers, working out the disc): "first_s" gives that first file's time.
void ProcessFullDisks(benchmark::State& state, bool geoTiff, int band = 1, const char* colourTable = "")
{
    const std::string scan = CompressedScan(band);
    Station station;
    station.options.SetTicked("SaveAsGeoTIFF", geoTiff);
    station.options.SetPathText("ColourTable", colourTable);
    const std::string p = station.incoming + fs::path(scan).filename().string();
    const auto process = [&] {
        TGoesFileResult result;
        if (!station.product.ProcessGoesFile(p, result) || result.SavedFileName.empty())
            state.SkipWithError("the scan was not processed");
    };
    if (geoTiff) {
        fs::copy_file(scan, p, fs::copy_options::overwrite_existing);
        const auto start = std::chrono::steady_clock::now();
        process();
        state.counters["first_s"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    for (auto _ : state) {
        state.PauseTiming();
        fs::copy_file(scan, p, fs::copy_options::overwrite_existing);
        state.ResumeTiming();
        process();
    }
    state.counters["peak_MB"] = PeakMegabytes();
}

void BM_ProcessGoesFile(benchmark::State& state) { ProcessFullDisks(state, false); }
BENCHMARK(BM_ProcessGoesFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The difference to BM_ProcessGoesFile is what the GeoTIFF costs a full disk; run each in a
// process of its own (--benchmark_filter) to compare their peak_MB.
void BM_ProcessGoesFileWithGeoTiff(benchmark::State& state) { ProcessFullDisks(state, true); }
BENCHMARK(BM_ProcessGoesFileWithGeoTiff)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// An infrared full disk in grey, and with its colour image beside it: the difference is what
// colour costs a file, to be set beside BM_SaveJpegComposite (one JPEG encode).
void BM_ProcessInfraredGrey(benchmark::State& state) { ProcessFullDisks(state, false, 4); }
BENCHMARK(BM_ProcessInfraredGrey)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
void BM_ProcessInfraredInColour(benchmark::State& state) { ProcessFullDisks(state, false, 4, "enhanced-ir"); }
BENCHMARK(BM_ProcessInfraredInColour)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// What the product adds for a colour image of a drawn composite, step by step: 0 the copy
// the lines are found against and the colours, 1 with the legend and its bar, 2 with the
// colour JPEG as well (the whole addition; 2 - 1 is the colour image's own JPEG encode).
void BM_ColourImageOfComposite(benchmark::State& state)
{
    TComposites composites;
    TExtBitmap& k = composites.Images[3];
    for (int y = 0; y < k.Height(); ++y)
        for (int x = 0; x < k.Width(); ++x) k.ScanLine(y)[x] = static_cast<std::uint8_t>((x * 7 + y * 3) & 0xFF);
    TColourTable table;
    if (!LoadColourTable(ColourTablePath("enhanced-ir"), table).empty()) state.SkipWithError("no colour table");
    const std::string out = (WorkDir() / "composite-col.jpg").string();
    const int steps = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const TExtBitmap before = k;
        TExtBitmap colour = ColouredImage(k, table, &before);
        if (steps >= 1) DrawLegend(colour, "GOES-15  2019-06-21 18:30 UTC  FD band 4  10.7 um", &table);
        if (steps >= 2) SaveJPEG(colour, out, 99, false, "bench");
        benchmark::DoNotOptimize(colour.Bits());
    }
}
BENCHMARK(BM_ColourImageOfComposite)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_Bzip2Dc(benchmark::State& state)
{
    const std::string scan = CompressedScan();
    for (auto _ : state)
        if (std::system(("bzip2 -dc " + scan + " > /dev/null").c_str()) != 0)
            state.SkipWithError("bzip2 failed");
}
BENCHMARK(BM_Bzip2Dc)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_SaveJpegComposite(benchmark::State& state)
{
    CompressedScan();
    TComposites composites;
    TExtBitmap& k = composites.Images[0];
    for (int y = 0; y < k.Height(); ++y)
        for (int x = 0; x < k.Width(); ++x) k.ScanLine(y)[x] = static_cast<std::uint8_t>((x * 7 + y * 3) & 0xFF);
    const std::string out = (WorkDir() / "composite.jpg").string();
    for (auto _ : state) SaveJPEG(k, out, 99, false, "bench");
}
BENCHMARK(BM_SaveJpegComposite)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A line of /proc/self/status in megabytes ("RssFile": the pages of mapped files, such as
// the code of the libraries, which every process using them shares).
double StatusMegabytes(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::atof(line.c_str() + field.size() + 1) / 1024.0;
    return 0;
}

// The GeoTIFF of one full composite alone, as the product writes it; "added_MB" is how far
// the process's peak resident memory rose above what it held before the first one, "code_MB"
// how much of that is the mapped code of GDAL and its libraries, once touched.
void BM_SaveGeoTiffComposite(benchmark::State& state)
{
    CompressedScan();
    TFixedOptions options;
    TComposites composites;
    TExtBitmap scan(CompositeWidth, CompositeHeight);
    scan.MakeGreyPalette();
    for (int y = 0; y < scan.Height(); ++y)
        for (int x = 0; x < scan.Width(); ++x) scan.ScanLine(y)[x] = static_cast<std::uint8_t>((x * 7 + y * 3) & 0xFF);
    const std::string out = (WorkDir() / "composite.tif").string();
    const TPlacedScan placed{0, 1, 0, &scan, 0, 0};
    const double before = PeakMegabytes(), codeBefore = StatusMegabytes("RssFile");
    for (auto _ : state)
        if (!SaveCleanGeoTiff(composites, StationSettings(options), placed, out).empty())
            state.SkipWithError("the GeoTIFF was not written");
    state.counters["added_MB"] = PeakMegabytes() - before;
    state.counters["code_MB"] = StatusMegabytes("RssFile") - codeBefore;
}
BENCHMARK(BM_SaveGeoTiffComposite)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The stages of the product one by one.
void BM_Stage_CopyAndDecompress(benchmark::State& state)
{
    const std::string scan = CompressedScan();
    const std::string copy = (WorkDir() / "stage" / fs::path(scan).filename()).string();
    fs::create_directories(WorkDir() / "stage");
    for (auto _ : state) {
        CopyFileAtomically(scan, copy);
        DecompressBZ2File(copy);
        fs::remove(copy);
    }
}
BENCHMARK(BM_Stage_CopyAndDecompress)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

const std::string& DecompressedScan()
{
    static const std::string path = [] {
        const std::string copy = (WorkDir() / "stage" / (std::string(ScanName) + ".bz2")).string();
        fs::create_directories(WorkDir() / "stage");
        CopyFileAtomically(CompressedScan(), copy);
        DecompressBZ2File(copy);
        fs::remove(copy);
        return BZ2TargetName(copy);
    }();
    return path;
}

void BM_Stage_ReadAndCalibrate(benchmark::State& state)
{
    const std::string nc = DecompressedScan();
    for (auto _ : state) {
        TNetCdfGoes15 reader;
        TExtBitmap image;
        reader.Open(nc);
        reader.ReadHeader();
        reader.MakeBitmap(&image, 1.8f);
        benchmark::DoNotOptimize(image.Bits());
    }
}
BENCHMARK(BM_Stage_ReadAndCalibrate)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Stage_PlaceAndMask(benchmark::State& state)
{
    TExtBitmap scan(ScanWidth, ScanHeight);
    scan.MakeGreyPalette();
    scan.Fill(100);
    TComposites composites;
    TExtBitmap mask;
    LoadBuiltInMask(mask);
    for (auto _ : state) {
        TExtBitmap image = scan;
        image.Interpolate(static_cast<int>(std::nearbyint(ScanWidth * 0.571)), ScanHeight, -1);
        composites.Images[0].Draw(50, 270, image);
        ApplyMask(mask, composites.Images[0], 0);
    }
}
BENCHMARK(BM_Stage_PlaceAndMask)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

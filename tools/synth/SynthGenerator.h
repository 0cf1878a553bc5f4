#pragma once
// Generates the scans of a schedule: geolocates each scan line, renders the scene for
// every requested band and writes the files, compressing finished files on worker threads
// while the next scan is being made.

#include "tools/synth/SynthFiles.h"
#include "tools/synth/SynthGeometry.h"
#include "tools/synth/SynthLandMask.h"
#include "tools/synth/SynthOptions.h"
#include "tools/synth/SynthScene.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace synth {

struct TGenerateResult {
    std::vector<std::filesystem::path> Files; // final names, in the order they were made
    std::uintmax_t Bytes = 0;
    double Seconds = 0;
};

// Longitude and latitude of every pixel of a scan layout, line after line.
struct TGeoGrid {
    std::vector<float> Lon, Lat;
};

// Runs work(thread, from, to) on count items split into contiguous runs, one per thread.
void ForThreads(int threads, int count, const std::function<void(int, int, int)>& work);
// Creates dir and its parents unless they are there; throws naming what it was for when it
// cannot.
void MakeDirectory(const std::filesystem::path& dir, const std::string& what);
// Adds up the sizes of the result's files and the time taken since start.
void TotalUp(TGenerateResult& result, std::chrono::steady_clock::time_point start);
// The threads the options ask for: --jobs, or one per processor (at most 16).
int WorkerThreads(const TOptions& options);

// The sample written for a band at a spot of the scene.
float SampleOfBand(int band, const TSceneSample& s);

class TGenerator {
public:
    // progress may be null. land may be empty.
    TGenerator(const TOptions& options, TPixelToGeoFactory pixelToGeo, const TLandMask& land, std::ostream* progress);
    // Writes everything; throws std::runtime_error on the first failure (files already
    // complete stay, partial ones are removed).
    TGenerateResult Run();

private:
    int Threads() const;
    // Every scan of a kind shares its geometry: it is worked out once per run.
    const TGeoGrid& Grid(const TScanLayout& layout, int threads);

    TOptions options_;
    TPixelToGeoFactory pixelToGeo_;
    TScene scene_;
    std::ostream* progress_;
    std::map<int, TGeoGrid> grids_;
};

} // namespace synth

#pragma once
// Generates the scans of a schedule: geolocates each scan line, renders the scene for
// every requested band and writes the files, compressing finished files on worker threads
// while the next scan is being made.

#include "tools/synth/SynthFiles.h"
#include "tools/synth/SynthGeometry.h"
#include "tools/synth/SynthLandMask.h"
#include "tools/synth/SynthOptions.h"
#include "tools/synth/SynthScene.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
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

// orvanta-synth: writes sample GOES-15 broadcast files, or GOES-16/18/19 ABI radiance files,
// for the demo, the tests and the benchmarks.

#include "mapping/CompositeLayout.h"
#include "mapping/SegmentStuff.h"
#include "tools/synth/SynthAbiFiles.h"
#include "tools/synth/SynthGenerator.h"

#include <csignal>
#include <iostream>
#include <memory>
#include <stdexcept>

namespace {

void RequestStop(int)
{
    synth::StopRequested().store(true);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string_view> args(argv + 1, argv + argc);
    synth::TOptions options;
    try {
        options = synth::ParseOptions(args);
    } catch (const std::invalid_argument& e) {
        std::cerr << "orvanta-synth: " << e.what() << "\n" << synth::UsageText();
        return 2;
    }
    if (options.Help) {
        std::cout << synth::UsageText();
        return 0;
    }
    // Stopped from outside, the tool removes its partial files instead of leaving them.
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        std::signal(sig, RequestStop);
    try {
        synth::TLandMask land;
        const std::string shorelines = synth::FindShorelineFile(options.Shorelines);
        if (!options.Shorelines.empty() && shorelines != options.Shorelines)
            throw std::runtime_error("cannot read shorelines from " + options.Shorelines);
        if (shorelines.empty() || !land.Load(shorelines)) {
            if (!options.Quiet)
                std::cerr << "orvanta-synth: no shoreline file found; the land is made up\n";
        }
        // The composite's own geostationary view: GOES-West at 128 degrees West.
        auto pixelToGeo = []() -> synth::TPixelToGeo {
            auto mapping = std::make_shared<TSegmentMapping>(CompositeMapping());
            return [mapping](int x, int y, float& lon, float& lat) { return mapping->PixelToGeo(x, y, lon, lat); };
        };
        std::ostream* progress = options.Quiet ? nullptr : &std::cerr;
        const auto result = options.AbiSatellites.empty() ? synth::TGenerator(options, pixelToGeo, land, progress).Run()
                                                          : synth::TAbiGenerator(options, land, progress).Run();
        if (!options.Quiet)
            std::cerr << "orvanta-synth: wrote " << result.Files.size() << " files, " << (result.Bytes >> 20)
                      << " MiB, in " << result.Seconds << " s\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "orvanta-synth: " << e.what() << "\n";
        return 1;
    }
}

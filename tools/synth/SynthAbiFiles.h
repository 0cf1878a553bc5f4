#pragma once
// ABI Level 1b radiance files as NOAA distributes them (netCDF-4, chunked and deflated),
// rendered from the synthetic Earth strip by strip, so that even a full disk of the 0.5 km
// band never lies in memory whole.

#include "tools/synth/SynthAbi.h"
#include "tools/synth/SynthGenerator.h"
#include "tools/synth/SynthLandMask.h"
#include "tools/synth/SynthOptions.h"
#include "tools/synth/SynthScene.h"

#include <cstdint>
#include <ostream>

namespace synth {

// The physical value the scene gives a band: reflectance factor (0..1 and a little over)
// for bands 1-6, brightness temperature (K) for the others.
double AbiSceneValue(int band, const TSceneSample& s);

// Radiance of a band for a scene value, with the file's own (single precision) constants:
// reflectance over kappa0 = pi d^2 / esun, or the Planck function of the effective
// temperature bc1 + bc2 T.
double AbiRadiance(const TAbiBand& b, double value, double earthSunDistance);

// The count nearest to a radiance; false when it lies beyond the band's counts (the count
// is then the nearest end).
bool AbiCount(const TAbiBand& b, double radiance, int& count);

class TAbiGenerator {
public:
    // progress may be null. land may be empty.
    TAbiGenerator(const TOptions& options, const TLandMask& land, std::ostream* progress);
    // Writes every file of the schedule; throws std::runtime_error on the first failure
    // (files already complete stay, the partial one is removed).
    TGenerateResult Run();

private:
    TOptions options_;
    TScene scene_;
    std::ostream* progress_;
};

} // namespace synth

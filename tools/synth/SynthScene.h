#pragma once
// A plausible Earth as the imager would see it: sea and land that differ, temperatures
// falling towards the poles, a day/night terminator from the scan time, limb darkening,
// and weather (tropical convection, mid-latitude storm bands, stratocumulus decks off the
// coasts) that is cold in the infrared and bright in the visible. Everything follows from
// the seed, the position and the time, so a feed can be generated again exactly.

#include "tools/synth/SynthGeometry.h"
#include "tools/synth/SynthLandMask.h"

#include <cstdint>
#include <vector>

namespace synth {

// A 64-bit hash that spreads every input bit over the whole result.
std::uint64_t MixBits(std::uint64_t h);

// What the imager sees at one spot: visible reflectance (percent of an overhead sun) and
// brightness temperatures (K) of the infrared bands 2 (3.9 um), 3 (6.5 um), 4 (10.7 um)
// and 6 (13.3 um).
struct TSceneSample {
    float Reflectance = 0;
    float Kelvin39 = 0, Kelvin65 = 0, Kelvin107 = 0, Kelvin133 = 0;
    // Brightness temperature of an infrared band, 0 for others.
    float KelvinOfBand(int band) const;
};

class TScene {
public:
    // land may be empty: the scene then makes up continents of its own.
    TScene(std::uint64_t seed, const TLandMask& land);

    // Scan time, seconds since 1970-01-01 UTC: places the sun and moves the weather.
    void SetTime(std::int64_t unixSeconds);

    // A spot on the disc; lon/lat in degrees.
    TSceneSample At(float lon, float lat) const;
    // What the imager sees beyond the limb: cold, dark space.
    static TSceneSample Space();

    // Where the satellite looking at the scene stands (degrees east): the limb it darkens.
    void SetViewLongitude(double subLongitude) { viewLongitude_ = subLongitude; }

    // Cosine of the sun's zenith angle at the scene's time (negative at night).
    double CosSolarZenith(float lon, float lat) const;

private:
    // Smooth value noise of period kPeriod lattice cells, roughly -1..1; salt picks an
    // independent field.
    double Noise(double x, double y, double z, int salt) const;
    double Fbm(double x, double y, double z, int octaves, int salt) const;
    bool IsLand(float lon, float lat, double px, double py, double pz) const;

    struct TWeather {
        double Clouds, Height, Thickness, Dryness, Cumulus;
    };
    // The weather of one twelve-hour state, drifted by the winds for hoursFromState.
    TWeather WeatherState(float lon, float lat, double hoursFromState, int state) const;

    static constexpr int kPeriod = 4096;
    std::vector<std::uint16_t> perm_; // 2 * kPeriod entries
    std::vector<float> lattice_;      // kPeriod values in -1..1
    const TLandMask& land_;
    std::int64_t state_ = 0;    // the weather state before the scan time
    double stateFraction_ = 0;  // how far the scan time lies towards the next state
    double declination_ = 0;    // radians
    double subSolarLon_ = 0;    // degrees
    double viewLongitude_ = Goes15Longitude;
};

} // namespace synth

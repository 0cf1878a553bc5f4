#pragma once
// The receiver delivers calibrated values made from the imager's 10-bit counts. To write
// files whose samples calibrate back to the counts we intend, the generator runs the
// calibration backwards: brightness temperature -> radiance -> 10-bit count -> the
// radiance that the product's tables put in that count's range.

#include <optional>

namespace synth {

// Constants of one infrared band: radiance = (raw - B) / M, and the effective temperature
// correction T = A * Teff + BiasK of the Planck function at wavenumber Nu (cm^-1).
struct TInfraredBand {
    int Band;
    double M, B;
    double Nu, A, BiasK;
    int LastRawCount; // raw counts above this have no range in the product's table
};

// The band's constants; nothing for the visible band or an unknown one.
std::optional<TInfraredBand> InfraredBand(int band);

double RadianceOfRawCount(const TInfraredBand& b, int raw);
// Planck, radiance in mW/(m^2 sr cm^-1) to brightness temperature in kelvin.
double TemperatureOfRadiance(const TInfraredBand& b, double radiance);
double RadianceOfTemperature(const TInfraredBand& b, double kelvin);

// The smallest raw count whose radiance is positive: anything colder (space) reads as it.
int FirstRawCount(const TInfraredBand& b);
// Raw count nearest to the radiance of the temperature, kept within the band's table.
int RawCountOfTemperature(const TInfraredBand& b, double kelvin);
// The sample written for a raw count: the middle of that count's range in the product's
// radiance-times-1000 index, so truncation there never slips into the neighbouring count.
float SampleOfRawCount(const TInfraredBand& b, int raw);

// The mode-A display count the product's table gives a raw count: 418 - T up to 242 K,
// 660 - 2T above, 255 below 180 K, never negative; halves rounded up.
int ModeACountOfRawCount(const TInfraredBand& b, int raw);

// Visible samples are reflectances 0..100 in steps of 0.1, as the 10-bit counts allow.
float VisibleSample(double reflectancePercent);

} // namespace synth

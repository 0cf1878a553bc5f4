#include "tools/synth/SynthCalibration.h"

#include <algorithm>
#include <cmath>

namespace synth {
namespace {

constexpr double kC1 = 1.191066e-5;
constexpr double kC2 = 1.438833;

constexpr TInfraredBand kBands[] = {
    {2, 227.3889, 68.2167, 2569.91119, 1.0010536, -1.76219, 1023},
    {3, 38.8383, 29.1287, 1525.60780, 1.0083928, -3.70102, 1017},
    {4, 5.2285, 15.6854, 938.50423, 1.0017664, -0.79244, 1023},
    {6, 5.5297, 16.5892, 753.36467, 1.0004658, -0.13283, 1020},
};

} // namespace

std::optional<TInfraredBand> InfraredBand(int band)
{
    for (const auto& b : kBands)
        if (b.Band == band)
            return b;
    return std::nullopt;
}

double RadianceOfRawCount(const TInfraredBand& b, int raw) { return (raw - b.B) / b.M; }

double TemperatureOfRadiance(const TInfraredBand& b, double radiance)
{
    return b.A * kC2 * b.Nu / std::log(1.0 + kC1 * b.Nu * b.Nu * b.Nu / radiance) + b.BiasK;
}

double RadianceOfTemperature(const TInfraredBand& b, double kelvin)
{
    const double effective = (kelvin - b.BiasK) / b.A;
    return kC1 * b.Nu * b.Nu * b.Nu / std::expm1(kC2 * b.Nu / effective);
}

int FirstRawCount(const TInfraredBand& b) { return static_cast<int>(std::floor(b.B)) + 1; }

int RawCountOfTemperature(const TInfraredBand& b, double kelvin)
{
    const int first = FirstRawCount(b);
    if (!(kelvin > 0.0)) // NaN or absolute zero: as cold as space
        return first;
    const double raw = std::nearbyint(b.M * RadianceOfTemperature(b, kelvin) + b.B);
    return static_cast<int>(std::clamp(raw, static_cast<double>(first), static_cast<double>(b.LastRawCount)));
}

float SampleOfRawCount(const TInfraredBand& b, int raw)
{
    return static_cast<float>((raw + 0.5 - b.B) / b.M);
}

int ModeACountOfRawCount(const TInfraredBand& b, int raw)
{
    const double t = TemperatureOfRadiance(b, RadianceOfRawCount(b, raw));
    if (t < 180.0)
        return 255;
    const double c = t <= 242.0 ? 418.0 - t : 660.0 - 2.0 * t;
    return std::max(0, static_cast<int>(std::floor(c + 0.5)));
}

float VisibleSample(double reflectancePercent)
{
    if (!(reflectancePercent > 0.0))
        return 0.0f;
    return static_cast<float>(std::nearbyint(std::min(reflectancePercent, 100.0) * 10.0) / 10.0);
}

} // namespace synth

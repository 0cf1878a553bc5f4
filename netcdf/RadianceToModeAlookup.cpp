#include "netcdf/RadianceToModeAlookup.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

// Imager calibration of one band: radiance = (count - b) / m for the 10-bit count, and the
// band's effective wavenumber with its brightness-temperature correction.
struct BandCalibration {
    int band;
    double m, b, nu, A, B;
    std::int32_t endIndex; // indices from here on give 0
};

constexpr std::array<BandCalibration, 4> kBands{{
    {2, 227.3889, 68.2167, 2569.91119, 1.0010536, -1.76219, 2862},
    {3, 38.8383, 29.1287, 1525.60780, 1.0083928, -3.70102, 25461},
    {4, 5.2285, 15.6854, 938.50423, 1.0017664, -0.79244, 167221},
    {6, 5.5297, 16.5892, 753.36467, 1.0004658, -0.13283, 181639},
}};

// Indices whose range start lies within 0.01 of a half: the published tables put them in
// the neighbouring range, and we keep the published counts.
struct SingleIndex {
    int band;
    std::int32_t index;
    std::uint8_t count;
};
constexpr std::array<SingleIndex, 6> kSingleIndices{{
    {2, 1850, 25},
    {4, 72547, 112},
    {4, 113094, 57},
    {6, 142577, 59},
    {6, 146013, 55},
    {6, 164278, 35},
}};

constexpr double kC1 = 1.191066e-5;
constexpr double kC2 = 1.438833;

double roundHalfUp(double x) { return std::floor(x + 0.5); }

} // namespace

int KelvinToCount(double kelvin)
{
    // Written so that a temperature that is not a number lands on the cold end too.
    if (!(kelvin >= 180.0))
        return 255;
    const double c = kelvin <= 242.0 ? roundHalfUp(418.0 - kelvin) : roundHalfUp(660.0 - 2.0 * kelvin);
    return c < 0.0 ? 0 : static_cast<int>(c);
}

namespace {

int modeACount(const BandCalibration& cal, double radiance)
{
    return KelvinToCount(cal.A * kC2 * cal.nu / std::log(1.0 + kC1 * cal.nu * cal.nu * cal.nu / radiance) + cal.B);
}

std::vector<std::uint8_t> buildTable(const BandCalibration& cal)
{
    std::vector<std::uint8_t> table(cal.endIndex, 255);
    auto rangeStart = [&](int x) { return roundHalfUp(1000.0 * (x - cal.b) / cal.m); };
    for (int x = 0; x < 1024; ++x) {
        const double radiance = (x - cal.b) / cal.m;
        if (radiance <= 0.0)
            continue;
        const double start = rangeStart(x);
        if (start >= cal.endIndex)
            break;
        const double end = std::min<double>(rangeStart(x + 1), cal.endIndex);
        const auto count = static_cast<std::uint8_t>(modeACount(cal, radiance));
        std::fill(table.begin() + static_cast<std::ptrdiff_t>(std::max(start, 0.0)),
                  table.begin() + static_cast<std::ptrdiff_t>(end), count);
    }
    for (const SingleIndex& s : kSingleIndices)
        if (s.band == cal.band)
            table[s.index] = s.count;
    return table;
}

const std::array<std::vector<std::uint8_t>, 4>& tables()
{
    static const std::array<std::vector<std::uint8_t>, 4> all{
        buildTable(kBands[0]), buildTable(kBands[1]), buildTable(kBands[2]), buildTable(kBands[3])};
    return all;
}

} // namespace

std::string ModeAMeaning(int band)
{
    if (ModeATable(band).empty())
        return {};
    // modeACount read backwards; its two straight pieces meet at 242 K (count 176).
    return "brightness temperature T (K): grey 0..176: T = (660 - grey) / 2, grey 0 meaning 330 K or warmer; "
           "grey 177..238: T = 418 - grey; grey 255: colder than 180 K";
}

std::span<const std::uint8_t> ModeATable(int band)
{
    for (std::size_t n = 0; n < kBands.size(); ++n)
        if (kBands[n].band == band)
            return tables()[n];
    return {};
}

int RadianceToModeA(int band, double radiance)
{
    const std::span<const std::uint8_t> table = ModeATable(band);
    // The index is taken in extended precision; anything that does not land inside the
    // table (including NaN and values far beyond any radiance) gives 0.
    const long double index = std::trunc(static_cast<long double>(radiance) * 1000.0L);
    if (!(index >= 0.0L && index < static_cast<long double>(table.size())))
        return 0;
    return table[static_cast<std::size_t>(index)];
}

void RadiancesToModeA(int band, std::span<const float> radiances, std::uint8_t* counts)
{
    const std::span<const std::uint8_t> table = ModeATable(band);
    const double size = static_cast<double>(table.size());
    if (table.empty()) {
        std::fill(counts, counts + radiances.size(), std::uint8_t{0});
        return;
    }
    const std::uint8_t* t = table.data();
    for (std::size_t i = 0; i < radiances.size(); ++i) {
        // A single-precision radiance times 1000 is exact in double precision, so this
        // truncation equals the extended-precision one.
        // The conversion to an integer truncates toward zero like Trunc, so (-1, 0) is index
        // 0; NaN fails both comparisons.
        const double scaled = static_cast<double>(radiances[i]) * 1000.0;
        counts[i] = scaled > -1.0 && scaled < size ? t[static_cast<std::int64_t>(scaled)] : 0;
    }
}

float CountToKelvin(std::uint8_t count)
{
    return count >= 176 ? 418.0f - static_cast<float>(count) : 330.0f - static_cast<float>(count) / 2.0f;
}

#include "netcdf/VisibleLookup.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>


namespace {

constexpr std::uint16_t kExact = 0xFFFF;
constexpr std::uint32_t kInfinityBits = 0x7F800000u;

float fromBits(std::uint32_t u) { return std::bit_cast<float>(u); }

} // namespace

long double VisibleScaled(float sample, float gamma)
{
    long double v = sample;
    const long double g = gamma;
    if (std::fabs(g - 1.05L) <= 0.1L)
        return v * 255.0L / 80.0L;
    if (v > 0.001L)
        v = static_cast<float>(std::pow(v / 100.0L, 1.0L / g));
    return v * 255.0L;
}

int VisibleToCount(float sample, float gamma)
{
    const long double scaled = VisibleScaled(sample, gamma);
    // Not a number, or beyond a 64-bit integer: not a measurement, so black.
    if (!(std::fabs(scaled) < 0x1p63L))
        return 0;
    const long double c = std::trunc(scaled);
    return c < 0.0L ? 0 : c > 255.0L ? 255 : static_cast<int>(c);
}

TVisibleLookup::TVisibleLookup(float gamma) : gamma_(gamma)
{
    monotonic_ = gamma > 0.0f && std::isfinite(gamma);
    if (!monotonic_)
        return;

    // Positive floats are ordered like their bit patterns, so bisection runs over those:
    // first the limit past which the count drops to 0 for good, then each step below it.
    auto firstBits = [](std::uint32_t lo, std::uint32_t hi, auto&& reached) {
        while (lo < hi) {
            const std::uint32_t mid = lo + (hi - lo) / 2;
            if (reached(fromBits(mid)))
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    };
    const std::uint32_t limitBits = firstBits(0, kInfinityBits, [gamma](float v) {
        const long double scaled = VisibleScaled(v, gamma);
        return !(std::fabs(scaled) < 0x1p63L);
    });
    limit_ = fromBits(limitBits);

    std::uint32_t from = 0;
    threshold_[0] = -std::numeric_limits<float>::infinity();
    for (int k = 1; k <= 255; ++k) {
        from = firstBits(from, limitBits, [gamma, k](float v) { return VisibleToCount(v, gamma) >= k; });
        threshold_[k] = from < limitBits ? fromBits(from) : std::numeric_limits<float>::infinity();
    }
    threshold_[256] = std::numeric_limits<float>::infinity();

    bucket_.assign(std::size_t{1} << 16, 0); // negative samples, negative NaNs included, give 0
    for (std::uint32_t b = 0; b < 0x8000u; ++b) {
        const std::uint32_t first = b << 16, last = first | 0xFFFFu;
        if (last >= limitBits) {
            bucket_[b] = kExact;
            continue;
        }
        const int c0 = countBySearch(fromBits(first)), c1 = countBySearch(fromBits(last));
        bucket_[b] = c1 - c0 <= 1 ? static_cast<std::uint16_t>(c0) : kExact;
    }
}

int TVisibleLookup::countBySearch(float sample) const
{
    if (!(sample >= 0.0f && sample < limit_))
        return 0;
    return static_cast<int>(std::upper_bound(threshold_.begin() + 1, threshold_.begin() + 256, sample) -
                            (threshold_.begin() + 1));
}

int TVisibleLookup::count(float sample) const
{
    if (!monotonic_)
        return VisibleToCount(sample, gamma_);
    const std::uint16_t e = bucket_[std::bit_cast<std::uint32_t>(sample) >> 16];
    if (e == kExact)
        return countBySearch(sample);
    return e + (sample >= threshold_[e + 1] ? 1 : 0);
}

void TVisibleLookup::convert(std::span<const float> samples, std::uint8_t* counts) const
{
    for (std::size_t i = 0; i < samples.size(); ++i)
        counts[i] = static_cast<std::uint8_t>(count(samples[i]));
}

#pragma once
// Fast, exact calibration of visible-band samples for one gamma.
//
// The grey count of a sample only ever grows with the sample up to the point where the
// scaled value no longer fits a 64-bit integer (from there on it is 0), so it is fully
// described by the 255 samples at which it steps up. Those are found once per gamma by
// bisection over the float values; a table over the top 16 bits of a float then gives the
// count of almost every sample with one lookup and one comparison.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// The visible band: a reflectance (0 to 100) to a grey count, linear up to 80 for a gamma
// near 1, through the gamma curve otherwise. A sample that is not a number, or too large to
// scale, gives 0.
int VisibleToCount(float sample, float gamma);
// The value VisibleToCount truncates, before the clamp to 0..255.
long double VisibleScaled(float sample, float gamma);

class TVisibleLookup {
public:
    explicit TVisibleLookup(float gamma);

    int count(float sample) const;
    void convert(std::span<const float> samples, std::uint8_t* counts) const;

private:
    int countBySearch(float sample) const;

    float gamma_;
    bool monotonic_ = false; // false for gammas that are not positive and finite
    float limit_ = 0.0f;     // samples from here on give 0
    // threshold_[k]: the smallest sample with a count of k or more (k = 1..255);
    // threshold_[256] is +infinity.
    std::array<float, 257> threshold_{};
    std::vector<std::uint16_t> bucket_; // count at the bucket's start, or kExact
};

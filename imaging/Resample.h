#pragma once
// Resampling of 8-bit pixel-interleaved images, and the image record it works on.
//
// The record mirrors what the image code needs from an image-processing library's image
// header: channel count, depth, size, row stride and one pixel block whose rows are aligned
// to 8 bytes. Resampling is separable: weights are worked out once per output column and
// once per output row, then every output pixel is one short weighted sum.

#include <cstddef>
#include <cstdint>
#include <memory>

enum class TInterpolation : int {
    Nearest = 0,
    Linear = 1,
    Cubic = 2,
    SuperSample = 3 // area averaging
};

struct TIplImage {
    int nChannels = 1;
    int depth = 8; // bits per sample, always unsigned 8-bit here
    int width = 0;
    int height = 0;
    int widthStep = 0; // bytes from one row to the next, a multiple of 8
    // Empty when the block could not be allocated.
    std::unique_ptr<std::uint8_t[]> imageData;

    std::uint8_t* Row(int y) { return imageData.get() + static_cast<std::size_t>(y) * widthStep; }
    const std::uint8_t* Row(int y) const
    {
        return imageData.get() + static_cast<std::size_t>(y) * widthStep;
    }
};

using PIplImage = std::unique_ptr<TIplImage>;

// Largest pixel block we are prepared to allocate for one image; anything above is treated
// as memory being short rather than left to the operating system's overcommit.
inline constexpr std::size_t kMaxIplBytes = std::size_t{1} << 31;

// Header plus an unfilled pixel block. Width and height must be positive; the block is left
// empty (imageData null) when it would be too large or cannot be allocated.
PIplImage CreateIplImage(int channels, int width, int height);

// Fills dst (its size is the target size) by resampling src; both must have the same channel
// count and a pixel block. Works in either direction for every mode.
void ResampleImage(const TIplImage& src, TIplImage& dst, TInterpolation mode);

// Resamples single rows from sw to dw samples of `channels` bytes: what ResamplePlane does to
// every row when the height stays, for rows that come one band at a time.
class TRowResampler {
public:
    TRowResampler(int sw, int dw, int channels, TInterpolation mode);
    ~TRowResampler();
    TRowResampler(const TRowResampler&) = delete;
    TRowResampler& operator=(const TRowResampler&) = delete;
    void operator()(const std::uint8_t* in, std::uint8_t* out) const;

private:
    // ResamplePlane shares the horizontal weights for rows it combines vertically.
    friend void ResamplePlane(const std::uint8_t*, std::ptrdiff_t, int, int, std::uint8_t*, std::ptrdiff_t, int, int,
                              int, TInterpolation);
    struct TWeights;
    std::unique_ptr<TWeights> weights_;
};

// The same on plain buffers: sw x sh source samples of `channels` interleaved bytes per
// pixel, rows srcStride bytes apart, into dw x dh destination pixels.
void ResamplePlane(const std::uint8_t* src, std::ptrdiff_t srcStride, int sw, int sh,
                   std::uint8_t* dst, std::ptrdiff_t dstStride, int dw, int dh, int channels,
                   TInterpolation mode);

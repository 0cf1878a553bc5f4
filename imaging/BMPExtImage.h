#pragma once
// The 8-bit (and 24/32-bit) device-independent image the whole processing path works on:
// calibrated scans, per-channel composites and the off-Earth mask.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/Resample.h"

class TCanvas;

class EInvalidGraphicOperation : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// General failure of the image code (the framework's plain exception class).
class EImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TPixelFormat { pf8bit, pf24bit, pf32bit };

// One palette entry as a bitmap file stores it.
struct TRGBQuad {
    std::uint8_t Blue = 0, Green = 0, Red = 0, Reserved = 0;
    friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};

class TExtBitmap {
public:
    TExtBitmap();
    TExtBitmap(int width, int height, TPixelFormat format = TPixelFormat::pf8bit);
    ~TExtBitmap();
    TExtBitmap(const TExtBitmap& other);
    TExtBitmap& operator=(const TExtBitmap& other);
    TExtBitmap(TExtBitmap&&) noexcept;
    TExtBitmap& operator=(TExtBitmap&&) noexcept;

    int Width() const { return width_; }
    int Height() const { return height_; }
    TPixelFormat PixelFormat() const { return format_; }
    int BytesPerPixel() const;
    // Rows are padded to a multiple of 4 bytes, as in a bitmap file.
    int BytesPerRow() const { return stride_; }

    // Changing the size keeps the top-left part of the pixels; new pixels are 0.
    void SetWidth(int w) { SetSize(w, height_); }
    void SetHeight(int h) { SetSize(width_, h); }
    void SetSize(int w, int h);
    // Changing the format discards the pixels (they are zeroed).
    void SetPixelFormat(TPixelFormat f);

    // Row 0 is the top line.
    std::uint8_t* ScanLine(int y) { return pixels_.data() + static_cast<std::size_t>(y) * stride_; }
    const std::uint8_t* ScanLine(int y) const { return pixels_.data() + static_cast<std::size_t>(y) * stride_; }
    std::uint8_t* Bits() { return pixels_.data(); }
    const std::uint8_t* Bits() const { return pixels_.data(); }

    // 256 entries; meaningful for 8-bit images.
    std::array<TRGBQuad, 256>& Palette() { return palette_; }
    const std::array<TRGBQuad, 256>& Palette() const { return palette_; }
    void MakeGreyPalette();

    // Fill every pixel of an 8-bit image with one value.
    void Fill(std::uint8_t value);
    // Pixel copy of src with its top-left corner at (x, y), clipped to this image. Pixels of
    // another format are converted through their colours (nearest palette entry on 8 bits).
    void Draw(int x, int y, const TExtBitmap& src);

    // Copies the w x h rectangle at (x, y) to the top-left corner, then cuts the image to
    // w x h. Parts of the rectangle outside the image are not copied.
    void Crop(int x, int y, int w, int h);
    // Resamples to the new size: mode 0 nearest, 1 linear, 2 cubic, 3 area averaging;
    // -1 is cubic when enlarging and area averaging when reducing.
    void Interpolate(int newWidth, int newHeight, int mode = -1);
    // The resampling Interpolate(newWidth, newHeight, mode) does to a w x h image; nothing
    // where it leaves the image as it is. Raises as Interpolate does for sizes going both ways.
    static std::optional<TInterpolation> InterpolationFor(int w, int h, int newWidth, int newHeight, int mode = -1);

    // An unfilled image record of the given size with this image's channel count; none for
    // an empty size.
    PIplImage MakeBlankIPL(int width, int height) const;
    // A record holding a copy of the pixels; none for an empty image.
    PIplImage MakeIPL() const;
    // Becomes a copy of the record (format from its channel count); nothing for none.
    void LoadFromIPL(const TIplImage* img);

    void SaveToFile(const std::string& fileName) const;
    void SaveToStream(std::ostream& out) const;
    void LoadFromStream(std::istream& in);
    void LoadFromFile(const std::string& fileName);

    bool Modified() const { return modified_; }
    void SetModified(bool m) { modified_ = m; }
    // Marks the image modified and tells the listener (a thumbnail repaints on it).
    void Changed();
    std::function<void()> OnChange;

    TCanvas& Canvas();

private:
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    TPixelFormat format_ = TPixelFormat::pf8bit;
    std::vector<std::uint8_t> pixels_;
    std::array<TRGBQuad, 256> palette_{};
    bool modified_ = false;
    std::unique_ptr<TCanvas> canvas_;
};

#include "imaging/BMPExtImage.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <span>
#include <unordered_map>

#include "imaging/Canvas.h"

namespace {
constexpr std::int64_t kMaxBitmapBytes = std::int64_t{1} << 31;
} // namespace

TExtBitmap::TExtBitmap() = default;

TExtBitmap::TExtBitmap(int width, int height, TPixelFormat format) : format_(format)
{
    SetSize(width, height);
}

TExtBitmap::~TExtBitmap() = default;

TExtBitmap::TExtBitmap(const TExtBitmap& other)
    : width_(other.width_), height_(other.height_), stride_(other.stride_), format_(other.format_),
      pixels_(other.pixels_), palette_(other.palette_), modified_(other.modified_)
{
}

TExtBitmap& TExtBitmap::operator=(const TExtBitmap& other)
{
    if (this != &other) {
        width_ = other.width_;
        height_ = other.height_;
        stride_ = other.stride_;
        format_ = other.format_;
        pixels_ = other.pixels_;
        palette_ = other.palette_;
        Changed();
    }
    return *this;
}

TExtBitmap::TExtBitmap(TExtBitmap&& other) noexcept
    : width_(other.width_), height_(other.height_), stride_(other.stride_), format_(other.format_),
      pixels_(std::move(other.pixels_)), palette_(other.palette_), modified_(other.modified_)
{
    other.width_ = other.height_ = other.stride_ = 0;
}

TExtBitmap& TExtBitmap::operator=(TExtBitmap&& other) noexcept
{
    if (this != &other) {
        width_ = other.width_;
        height_ = other.height_;
        stride_ = other.stride_;
        format_ = other.format_;
        pixels_ = std::move(other.pixels_);
        palette_ = other.palette_;
        other.width_ = other.height_ = other.stride_ = 0;
        modified_ = true;
    }
    return *this;
}

int TExtBitmap::BytesPerPixel() const
{
    switch (format_) {
    case TPixelFormat::pf8bit: return 1;
    case TPixelFormat::pf24bit: return 3;
    case TPixelFormat::pf32bit: return 4;
    }
    return 1;
}

void TExtBitmap::SetSize(int w, int h)
{
    w = std::max(w, 0);
    h = std::max(h, 0);
    if (w == width_ && h == height_)
        return;
    const std::int64_t stride64 = (std::int64_t{w} * BytesPerPixel() + 3) / 4 * 4;
    // A bitmap past 2 GiB is a damaged header or a runaway size, never a real image.
    if (stride64 > INT32_MAX || stride64 * h > kMaxBitmapBytes)
        throw EImageError("Not enough storage is available to process this command.");
    const int newStride = static_cast<int>(stride64);
    std::vector<std::uint8_t> next(static_cast<std::size_t>(newStride) * h, 0);
    const int copyRows = std::min(h, height_);
    const int copyBytes = std::min(w, width_) * BytesPerPixel();
    for (int y = 0; y < copyRows && copyBytes > 0; ++y)
        std::memcpy(next.data() + static_cast<std::size_t>(y) * newStride, ScanLine(y), copyBytes);
    pixels_ = std::move(next);
    width_ = w;
    height_ = h;
    stride_ = newStride;
    Changed();
}

void TExtBitmap::SetPixelFormat(TPixelFormat f)
{
    if (f == format_)
        return;
    const int w = width_, h = height_;
    width_ = height_ = stride_ = 0;
    pixels_.clear();
    format_ = f;
    SetSize(w, h);
}

void TExtBitmap::MakeGreyPalette()
{
    if (format_ != TPixelFormat::pf8bit)
        return;
    for (int n = 0; n < 256; ++n) {
        const auto v = static_cast<std::uint8_t>(n);
        palette_[n] = TRGBQuad{v, v, v, 0};
    }
    Changed();
}

void TExtBitmap::Fill(std::uint8_t value)
{
    std::fill(pixels_.begin(), pixels_.end(), value);
    Changed();
}

void TExtBitmap::Draw(int x, int y, const TExtBitmap& src)
{
    const int bpp = BytesPerPixel(), srcBpp = src.BytesPerPixel();
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + src.width_, width_), y1 = std::min(y + src.height_, height_);
    if (x0 >= x1 || y0 >= y1)
        return;
    if (src.format_ == format_) {
        for (int row = y0; row < y1; ++row)
            std::memcpy(ScanLine(row) + static_cast<std::size_t>(x0) * bpp,
                        src.ScanLine(row - y) + static_cast<std::size_t>(x0 - x) * bpp,
                        static_cast<std::size_t>(x1 - x0) * bpp);
        Changed();
        return;
    }
    // Another format goes through the colours, as a bitmap drawn onto a canvas of another
    // depth would: onto an 8-bit image each colour takes its nearest palette entry.
    std::unordered_map<TColor, std::uint8_t> nearest;
    for (int row = y0; row < y1; ++row) {
        const std::uint8_t* in = src.ScanLine(row - y) + static_cast<std::size_t>(x0 - x) * srcBpp;
        std::uint8_t* out = ScanLine(row) + static_cast<std::size_t>(x0) * bpp;
        for (int col = x0; col < x1; ++col, in += srcBpp, out += bpp) {
            TRGBQuad colour{};
            if (src.format_ == TPixelFormat::pf8bit)
                colour = src.palette_[in[0]];
            else
                colour = {in[0], in[1], in[2], 0};
            if (format_ == TPixelFormat::pf8bit) {
                const TColor rgb = colour.Red | (TColor{colour.Green} << 8) | (TColor{colour.Blue} << 16);
                const auto [at, added] = nearest.try_emplace(rgb, 0);
                if (added)
                    at->second = Canvas().NearestPaletteIndex(rgb);
                out[0] = at->second;
            } else {
                out[0] = colour.Blue;
                out[1] = colour.Green;
                out[2] = colour.Red;
            }
        }
    }
    Changed();
}

void TExtBitmap::Crop(int x, int y, int w, int h)
{
    w = std::max(w, 0);
    h = std::max(h, 0);
    // Only the part of the rectangle that lies inside the image, on both its source and its
    // destination side, moves; the rest stays as it was (a clipped block copy).
    const int bpp = BytesPerPixel();
    const int i0 = std::max({0, -x}), i1 = std::min({w, width_ - x, width_});
    const int j0 = std::max({0, -y}), j1 = std::min({h, height_ - y, height_});
    if (i0 < i1 && j0 < j1 && (x != 0 || y != 0)) {
        const std::size_t bytes = static_cast<std::size_t>(i1 - i0) * bpp;
        auto copyRow = [&](int j) {
            std::memmove(ScanLine(j) + static_cast<std::size_t>(i0) * bpp,
                         ScanLine(j + y) + static_cast<std::size_t>(i0 + x) * bpp, bytes);
        };
        // Walk away from the overlap so no source row is overwritten before it is read.
        if (y >= 0)
            for (int j = j0; j < j1; ++j)
                copyRow(j);
        else
            for (int j = j1 - 1; j >= j0; --j)
                copyRow(j);
    }
    SetSize(w, h);
    Changed();
}

std::optional<TInterpolation> TExtBitmap::InterpolationFor(int w, int h, int newWidth, int newHeight, int mode)
{
    if ((newWidth == w && newHeight == h) || h < 3 || w < 3)
        return std::nullopt;
    const bool enlarging = newWidth >= w && newHeight >= h;
    const bool reducing = newWidth <= w && newHeight <= h;
    if (!enlarging && !reducing)
        throw EInvalidGraphicOperation(
            "Error: Interpolate called with increase width and reduce height or vice-versa.");
    if (mode >= 0 && mode <= 3)
        return static_cast<TInterpolation>(mode);
    return enlarging ? TInterpolation::Cubic : TInterpolation::SuperSample;
}

void TExtBitmap::Interpolate(int newWidth, int newHeight, int mode)
{
    const int w = width_, h = height_;
    const std::optional<TInterpolation> resampling = InterpolationFor(w, h, newWidth, newHeight, mode);
    if (!resampling)
        return;
    if (format_ != TPixelFormat::pf8bit && format_ != TPixelFormat::pf24bit)
        throw EInvalidGraphicOperation("Error: Interpolate called without 8-bit or 24-bit pixels.");
    const TInterpolation how = *resampling;

    // Resampled straight from our own rows: a full disk's scan is 14 MB not copied first.
    PIplImage target;
    try {
        target = MakeBlankIPL(newWidth, newHeight);
    } catch (const std::exception&) {
        SetSize(0, 0);
        throw;
    }
    if (target)
        ResamplePlane(pixels_.data(), stride_, w, h, target->imageData.get(), target->widthStep, target->width,
                      target->height, target->nChannels, how);
    SetSize(0, 0);
    LoadFromIPL(target.get());
    Changed();
}

PIplImage TExtBitmap::MakeBlankIPL(int width, int height) const
{
    if (width <= 0 || height <= 0)
        return nullptr;
    int channels = 0;
    switch (format_) {
    case TPixelFormat::pf8bit: channels = 1; break;
    case TPixelFormat::pf24bit: channels = 3; break;
    default: throw EInvalidGraphicOperation("Error: MakeBlankIPL called without 8 or 24-bit pixels.");
    }
    PIplImage img = CreateIplImage(channels, width, height);
    if (!img->imageData) {
        char request[128];
        std::snprintf(request, sizeof request, "Request was for %d channel image, width: %d x height: %d",
                      channels, width, height);
        throw EImageError(std::string("No memory can be allocated for ipl image in MakeBlankIpl\r") + request);
    }
    return img;
}

PIplImage TExtBitmap::MakeIPL() const
{
    PIplImage img = MakeBlankIPL(width_, height_);
    if (!img)
        return nullptr;
    const std::size_t bytes = static_cast<std::size_t>(width_) * img->nChannels;
    for (int y = 0; y < height_; ++y)
        std::memcpy(img->Row(y), ScanLine(y), bytes);
    return img;
}

void TExtBitmap::LoadFromIPL(const TIplImage* img)
{
    if (!img)
        return;
    if (img->nChannels != 1 && img->nChannels != 3)
        throw EInvalidGraphicOperation("Error: LoadFromIPL called without 1 or 3 channels.");
    SetHeight(0);
    SetPixelFormat(img->nChannels == 1 ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);
    if (!img->imageData || img->width <= 0 || img->height <= 0)
        return;
    SetSize(img->width, img->height);
    const std::size_t bytes = static_cast<std::size_t>(img->width) * img->nChannels;
    for (int y = 0; y < height_; ++y)
        std::memcpy(ScanLine(y), img->Row(y), bytes);
}

void TExtBitmap::Changed()
{
    modified_ = true;
    if (OnChange)
        OnChange();
}

TCanvas& TExtBitmap::Canvas()
{
    if (!canvas_)
        canvas_ = std::make_unique<TCanvas>(*this);
    return *canvas_;
}

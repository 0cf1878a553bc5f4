#include "imaging/BMPExtImage.h"

#include <algorithm>
#include <cstring>

#include "imaging/Canvas.h"

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
    const int newStride = ((w * BytesPerPixel() + 3) / 4) * 4;
    std::vector<std::uint8_t> next(static_cast<std::size_t>(newStride) * h, 0);
    const int copyRows = std::min(h, height_);
    const int copyBytes = std::min(w, width_) * BytesPerPixel();
    for (int y = 0; y < copyRows; ++y)
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
    if (src.format_ != format_)
        return;
    const int bpp = BytesPerPixel();
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + src.width_, width_), y1 = std::min(y + src.height_, height_);
    if (x0 >= x1 || y0 >= y1)
        return;
    for (int row = y0; row < y1; ++row)
        std::memcpy(ScanLine(row) + static_cast<std::size_t>(x0) * bpp,
                    src.ScanLine(row - y) + static_cast<std::size_t>(x0 - x) * bpp,
                    static_cast<std::size_t>(x1 - x0) * bpp);
    Changed();
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

#include "imaging/Canvas.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "imaging/BMPExtImage.h"

namespace {

// A dotted cosmetic pen draws three pixels and leaves three, the pattern running on along
// the segments of one polyline.
constexpr int kDotOn = 3;
constexpr int kDotPeriod = 6;

int red(TColor c) { return static_cast<int>(c & 0xFF); }
int green(TColor c) { return static_cast<int>((c >> 8) & 0xFF); }
int blue(TColor c) { return static_cast<int>((c >> 16) & 0xFF); }

} // namespace

std::uint8_t TCanvas::NearestPaletteIndex(TColor color) const
{
    const auto& pal = bitmap_.Palette();
    int best = 0;
    long bestDist = std::numeric_limits<long>::max();
    for (int n = 0; n < 256; ++n) {
        const long dr = red(color) - pal[n].Red;
        const long dg = green(color) - pal[n].Green;
        const long db = blue(color) - pal[n].Blue;
        const long d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = n;
            if (d == 0)
                break;
        }
    }
    return static_cast<std::uint8_t>(best);
}

namespace {

// Writes one pixel in the bitmap's format; the caller has clipped it.
struct PixelWriter {
    TExtBitmap& bmp;
    std::uint8_t index;
    TColor color;

    void operator()(int x, int y) const
    {
        std::uint8_t* p = bmp.ScanLine(y);
        switch (bmp.PixelFormat()) {
        case TPixelFormat::pf8bit: p[x] = index; break;
        case TPixelFormat::pf24bit:
        case TPixelFormat::pf32bit: {
            p += static_cast<std::size_t>(x) * bmp.BytesPerPixel();
            p[0] = static_cast<std::uint8_t>(blue(color));
            p[1] = static_cast<std::uint8_t>(green(color));
            p[2] = static_cast<std::uint8_t>(red(color));
            break;
        }
        }
    }
};

PixelWriter writerFor(TExtBitmap& bmp, const TCanvas& canvas, TColor color)
{
    const std::uint8_t index =
        bmp.PixelFormat() == TPixelFormat::pf8bit ? canvas.NearestPaletteIndex(color) : 0;
    return PixelWriter{bmp, index, color};
}

// Draws the pixels of the line from a to b without b itself. The minor coordinate of each
// pixel is the ideal one rounded, with exact halves going to the larger coordinate whichever
// way the line runs (so a line and its reverse cover the same pixels). Only pixels inside
// w x h are visited, so far-off end points cost nothing. `phase` is the dot-pattern position
// of the first pixel; the result is the position after the last one.
template <typename Plot>
std::int64_t bresenham(TPoint a, TPoint b, int w, int h, std::int64_t phase, bool dotted, Plot plot)
{
    const std::int64_t dx = std::int64_t{b.X} - a.X, dy = std::int64_t{b.Y} - a.Y;
    const std::int64_t adx = std::llabs(dx), ady = std::llabs(dy);
    const bool xMajor = adx > ady;
    const std::int64_t major = xMajor ? adx : ady, minor = xMajor ? ady : adx;
    if (major == 0)
        return phase;
    const int sMaj = (xMajor ? dx : dy) > 0 ? 1 : -1;
    const int sMin = (xMajor ? dy : dx) >= 0 ? 1 : -1;
    const std::int64_t maj0 = xMajor ? a.X : a.Y, min0 = xMajor ? a.Y : a.X;
    const std::int64_t majLimit = xMajor ? w : h, minLimit = xMajor ? h : w;

    // Steps i in [0, major) whose major coordinate lies inside the image.
    std::int64_t iLo, iHi;
    if (sMaj > 0) {
        iLo = std::max<std::int64_t>(0, -maj0);
        iHi = std::min<std::int64_t>(major, majLimit - maj0);
    } else {
        iLo = std::max<std::int64_t>(0, maj0 - (majLimit - 1));
        iHi = std::min<std::int64_t>(major, maj0 + 1);
    }
    if (iLo >= iHi)
        return phase + major;

    // Minor offset k(i) = floor((2 * minor * i + c) / (2 * major)): rounding half up along
    // the minor direction when it grows, half down (toward larger coordinates) when it falls.
    const std::int64_t den = 2 * major;
    const std::int64_t c = sMin > 0 ? major : major - 1;
    const __int128 num = static_cast<__int128>(2 * minor) * iLo + c;
    std::int64_t k = static_cast<std::int64_t>(num / den);
    std::int64_t rem = static_cast<std::int64_t>(num % den);
    bool entered = false;
    for (std::int64_t i = iLo; i < iHi; ++i) {
        const std::int64_t mn = min0 + sMin * k;
        if (mn >= 0 && mn < minLimit) {
            entered = true;
            if (!dotted || (phase + i) % kDotPeriod < kDotOn) {
                const std::int64_t mj = maj0 + sMaj * i;
                if (xMajor)
                    plot(static_cast<int>(mj), static_cast<int>(mn));
                else
                    plot(static_cast<int>(mn), static_cast<int>(mj));
            }
        } else if (entered) {
            break; // the minor coordinate only moves one way: the line has left the image
        }
        rem += 2 * minor;
        if (rem >= den) {
            rem -= den;
            ++k;
        }
    }
    return phase + major;
}

} // namespace

void TCanvas::Polyline(std::span<const TPoint> points)
{
    if (points.size() < 2)
        return;
    const PixelWriter put = writerFor(bitmap_, *this, Pen.Color);
    const bool dotted = Pen.Style == TPenStyle::psDot;
    std::int64_t phase = 0;
    for (std::size_t n = 1; n < points.size(); ++n)
        phase = bresenham(points[n - 1], points[n], bitmap_.Width(), bitmap_.Height(), phase, dotted, put);
    dotPhase_ = static_cast<int>(phase % kDotPeriod);
    bitmap_.Changed();
}

void TCanvas::MoveTo(int x, int y)
{
    penPos_ = TPoint{x, y};
    dotPhase_ = 0;
}

void TCanvas::LineTo(int x, int y)
{
    const TPoint to{x, y};
    const PixelWriter put = writerFor(bitmap_, *this, Pen.Color);
    const std::int64_t phase = bresenham(penPos_, to, bitmap_.Width(), bitmap_.Height(), dotPhase_,
                                         Pen.Style == TPenStyle::psDot, put);
    dotPhase_ = static_cast<int>(phase % kDotPeriod);
    penPos_ = to;
    bitmap_.Changed();
}

void TCanvas::SetPixel(int x, int y, TColor color)
{
    if (x < 0 || y < 0 || x >= bitmap_.Width() || y >= bitmap_.Height())
        return;
    writerFor(bitmap_, *this, color)(x, y);
    bitmap_.Changed();
}

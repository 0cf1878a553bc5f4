#pragma once
// A minimal drawing surface over a TExtBitmap: a pen with a colour and a style, and
// polylines that leave their final pixel unset, so that a polyline continuing another does
// not set the shared point twice.

#include <cstdint>
#include <span>

class TExtBitmap;

// Colours are 0x00BBGGRR values (red in the low byte), the order every colour of the
// program is given in.
using TColor = std::uint32_t;

enum class TPenStyle { psSolid, psDot };

struct TPoint {
    int X = 0;
    int Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TPen {
    TColor Color = 0;
    TPenStyle Style = TPenStyle::psSolid;
};

class TCanvas {
public:
    explicit TCanvas(TExtBitmap& bitmap) : bitmap_(bitmap) {}

    TPen Pen;

    TExtBitmap& Bitmap() { return bitmap_; }

    // Draws the connected segments through the points, clipped to the image; the last
    // point itself is not set.
    void Polyline(std::span<const TPoint> points);
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void SetPixel(int x, int y, TColor color);
    // The palette index (8-bit) or pixel bytes the pen colour maps to.
    std::uint8_t NearestPaletteIndex(TColor color) const;

private:
    TExtBitmap& bitmap_;
    TPoint penPos_{};
    int dotPhase_ = 0;
};

#pragma once
// Images to encode in tests, and the netpbm files the external tools read and write.

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "imaging/BMPExtImage.h"

// A smooth ramp with some structure: survives high-quality JPEG almost unchanged, yet
// every row and column differs, so misplaced rows or columns show.
inline TExtBitmap greyPattern(int w, int h)
{
    TExtBitmap b(w, h, TPixelFormat::pf8bit);
    b.MakeGreyPalette();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.ScanLine(y)[x] = static_cast<std::uint8_t>((x * 255 / (w > 1 ? w - 1 : 1) + y / 4) % 256);
    return b;
}

// Colour bands: blue, green and red each in its own third, stored blue, green, red.
inline TExtBitmap colourPattern(int w, int h)
{
    TExtBitmap b(w, h, TPixelFormat::pf24bit);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = b.ScanLine(y) + 3 * x;
            p[0] = p[1] = p[2] = 0;
            p[(3 * y / h) % 3] = static_cast<std::uint8_t>(128 + x * 127 / (w > 1 ? w - 1 : 1));
        }
    return b;
}

inline int maxDifference(const TExtBitmap& a, const TExtBitmap& b)
{
    int worst = 0;
    const int bytes = a.Width() * a.BytesPerPixel();
    for (int y = 0; y < a.Height(); ++y)
        for (int i = 0; i < bytes; ++i)
            worst = std::max(worst, std::abs(int(a.ScanLine(y)[i]) - int(b.ScanLine(y)[i])));
    return worst;
}

// Binary PGM (P5) or PPM (P6) into an 8- or 24-bit bitmap; an empty bitmap on failure.
inline TExtBitmap readPnm(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, maxval = 0;
    in >> magic >> w >> h >> maxval;
    in.get();
    if (!in || (magic != "P5" && magic != "P6") || maxval != 255)
        return {};
    const bool colour = magic == "P6";
    TExtBitmap b(w, h, colour ? TPixelFormat::pf24bit : TPixelFormat::pf8bit);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = b.ScanLine(y);
        in.read(reinterpret_cast<char*>(row), static_cast<std::streamsize>(w) * (colour ? 3 : 1));
        if (colour)
            for (int x = 0; x < w; ++x)
                std::swap(row[3 * x], row[3 * x + 2]);
    }
    return in ? b : TExtBitmap{};
}

inline void writePgm(const TExtBitmap& b, const std::string& path)
{
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << b.Width() << " " << b.Height() << "\n255\n";
    for (int y = 0; y < b.Height(); ++y)
        out.write(reinterpret_cast<const char*>(b.ScanLine(y)), b.Width());
}

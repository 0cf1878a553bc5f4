#pragma once
// The pixel bytes of an image, row after row, without the row padding.

#include <cstdint>
#include <vector>

#include "imaging/BMPExtImage.h"

inline std::vector<std::uint8_t> PixelBytes(const TExtBitmap& bmp)
{
    std::vector<std::uint8_t> out;
    for (int y = 0; y < bmp.Height(); ++y)
        out.insert(out.end(), bmp.ScanLine(y), bmp.ScanLine(y) + bmp.Width() * bmp.BytesPerPixel());
    return out;
}

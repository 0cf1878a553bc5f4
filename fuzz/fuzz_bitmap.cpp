// Bitmap files from anywhere: the reader must refuse damage with its exception and never
// read or write out of bounds.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "imaging/BMPExtImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    TExtBitmap bmp;
    try {
        bmp.LoadFromStream(in);
        if (bmp.Width() >= 3 && bmp.Height() >= 3 && bmp.PixelFormat() != TPixelFormat::pf32bit)
            bmp.Interpolate(bmp.Width() / 2 + 1, bmp.Height() / 2 + 1);
    } catch (const EInvalidGraphicOperation&) {
    } catch (const EImageError&) {
    }
    return 0;
}

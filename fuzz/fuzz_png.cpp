// Any bytes given to the PNG reader: an exception or an image, never a crash.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "imaging/PNG_IO.h"
#include "imaging/vrnPNGImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (bool force : {false, true}) {
        std::istringstream in(bytes);
        try {
            TPngImage png;
            png.ForceColor = force;
            png.LoadFromStream(in);
            TExtBitmap bitmap(3, 3, TPixelFormat::pf24bit);
            png.AssignToBitmap(bitmap, 1, 2);
        } catch (const std::exception&) {
        }
    }
    return 0;
}

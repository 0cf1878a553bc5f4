// Any bytes given to the JPEG reader: false or an image, never a crash or a hang.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "imaging/JPEG_IO.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The reader takes a file name; a per-process file keeps parallel workers apart.
    static const std::string path = "/tmp/fuzz_jpeg." + std::to_string(::getpid()) + ".jpg";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    TExtBitmap grey(1, 1, TPixelFormat::pf8bit);
    LoadJPEG(&grey, path, false, 0);
    TExtBitmap any(1, 1, TPixelFormat::pf24bit);
    LoadJPEG(&any, path, true, 3);
    int width = 0, height = 0;
    ReadJPEGSize(path, width, height);
    return 0;
}

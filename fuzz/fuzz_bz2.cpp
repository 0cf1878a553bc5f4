// Any bytes given to the bzip2 stream: an EBZip2Error or the data, never a crash or a hang.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "bzip2/BZip2.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    try {
        TBZDecompressionStream stream(in);
        char block[32768];
        while (stream.Read(block, sizeof block) > 0) {
        }
    } catch (const EBZip2Error&) {
    }
    return 0;
}

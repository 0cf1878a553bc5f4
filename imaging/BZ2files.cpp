#include "imaging/BZ2files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "imaging/BZip2.h"
#include "imaging/PartialFile.h"
#include "imaging/StreamErrors.h"

namespace {

constexpr off_t MinimumCompressedSize = 40;
constexpr std::size_t CopyBlock = 32768;

} // namespace

std::string BZ2TargetName(const std::string& fileName)
{
    const auto slash = fileName.find_last_of('/');
    const auto nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = fileName.find_last_of('.');
    if (dot == std::string::npos || dot <= nameStart)
        return {};
    return fileName.substr(0, dot);
}

bool DecompressBZ2File(const std::string& fileName)
{
    struct stat info{};
    if (::stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < MinimumCompressedSize)
        return false;
    const std::string target = BZ2TargetName(fileName);
    // Without an extension the target would be the source itself.
    if (target.empty())
        return false;

    std::ifstream source(fileName, std::ios::binary);
    if (!source)
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    TPartialFile output(target);
    {
        TBZDecompressionStream stream(source);
        std::vector<char> block(CopyBlock);
        for (;;) {
            const std::size_t got = stream.Read(block.data(), block.size());
            if (got == 0)
                break;
            output.write(block.data(), got);
        }
    }
    const bool result = output.size() > 0;
    output.commit(result ? &info.st_mtim : nullptr);
    return result;
}

#include "product/DiskGuard.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>

#include "product/outputs/ImageKinds.h"
#include "base/Files.h"
#include "mapping/CompositeLayout.h"
#include "settings/ProgramPaths.h"
#include "base/Text.h"

std::optional<std::uint64_t> FreeBytes(const std::string& directory)
{
    struct statvfs fs {};
    if (directory.empty() || ::statvfs(directory.c_str(), &fs) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
}

std::vector<std::string> WrittenDirectories(const TStationSettings& settings)
{
    std::vector<std::string> dirs;
    for (std::string d : {settings.NetCDFPath, settings.SavePath, WithTrailingDelimiter(StateDirectory())})
        if (!d.empty() && std::find(dirs.begin(), dirs.end(), d) == dirs.end()) dirs.push_back(std::move(d));
    return dirs;
}

std::uint64_t MinFreeBytes(const TStationSettings& settings)
{
    return static_cast<std::uint64_t>(settings.MinFreeMB.value_or(0)) << 20;
}

std::uint64_t WholeMB(std::uint64_t bytes)
{
    return bytes >> 20;
}

std::string DiskLowLine(const TStationSettings& settings)
{
    const std::uint64_t limit = MinFreeBytes(settings);
    if (limit == 0) return {};
    for (const std::string& dir : WrittenDirectories(settings)) {
        const auto free = FreeBytes(dir);
        if (!free || *free >= limit) continue;
        return "Disk low: " + dir + " has " + std::to_string(WholeMB(*free)) + " MB free, below the limit of "
               + std::to_string(WholeMB(limit)) + " MB; files wait in the incoming directory";
    }
    return {};
}

std::string RoomProblem(const TStationSettings& settings, const std::string& directory, std::uint64_t bytes)
{
    const auto free = FreeBytes(directory);
    const std::uint64_t limit = MinFreeBytes(settings);
    if (!free || (*free >= bytes && *free - bytes >= limit)) return {};
    // Rounded up: "needs 0 MB" would read as no need at all.
    return "needs " + std::to_string(WholeMB(bytes + (1u << 20) - 1)) + " MB in " + directory + ", which has "
           + std::to_string(WholeMB(*free)) + " MB free and keeps " + std::to_string(WholeMB(limit))
           + " MB free; left for later";
}

std::uint64_t ImageRoomNeeded(const TStationSettings& settings)
{
    const std::uint64_t pixels = static_cast<std::uint64_t>(CompositeWidth) * CompositeHeight;
    // Whether a table applies is told by its band; the room is counted as if it did.
    const bool coloured = !settings.ColourTable.empty();
    std::uint64_t bytes = 0;
    for (const TImageKind& kind : KindsMade(settings, coloured))
        bytes += kind.Colour ? 3 * pixels : kind.Extension == GeoTiffKind.Extension ? pixels + pixels / 2 : pixels + pixels / 8;
    return bytes;
}

namespace {

bool SameFileSystem(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

}  // namespace

std::string FileRoomProblem(const TStationSettings& settings, const std::string& path, std::uint64_t size)
{
    std::uint64_t needed = size;
    if (settings.SaveAsNetCDF && UpperCase(path).ends_with(".BZ2"))
        needed += std::min(size * DecompressedPerCompressed, MaxDecompressedSize);
    // The images a file makes go with the file: in the image directory, or beside the archived
    // file with long names.
    const std::string raw = settings.NetCDFPath;
    const std::string images = settings.ShortImageNames ? settings.SavePath : raw;
    const std::uint64_t imageBytes = ImageRoomNeeded(settings);
    if (SameFileSystem(raw, images))
        return RoomProblem(settings, raw, needed + imageBytes);
    if (std::string problem = RoomProblem(settings, raw, needed); !problem.empty())
        return problem;
    return RoomProblem(settings, images, imageBytes);
}

std::string MoveRoomProblem(const TStationSettings& settings, const std::string& path, const std::string& directory)
{
    struct stat source {}, target {};
    const std::string existing = DirectoryExists(directory) ? directory : settings.NetCDFPath;
    if (::stat(path.c_str(), &source) != 0 || ::stat(existing.c_str(), &target) != 0 || source.st_dev == target.st_dev)
        return {};
    return RoomProblem(settings, existing, static_cast<std::uint64_t>(source.st_size));
}

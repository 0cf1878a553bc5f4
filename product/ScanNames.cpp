#include "product/ScanNames.h"

#include <cmath>
#include <filesystem>

#include "bzip2/BZ2files.h"
#include "base/Files.h"
#include "base/Text.h"
#include "product/composite/ChannelCatalogue.h"

namespace fs = std::filesystem;

std::string LongImageName(const std::string& archivedFile, const char* extension)
{
    return fs::path(archivedFile).replace_extension(extension).string();
}

std::string ShortImageName(const std::string& imageDirectory, TDateTime imageTime, std::uint8_t channelIndex,
                           const char* extension)
{
    return imageDirectory + FormatDateTime("yyyymmddhhnn", imageTime) + "-" + ChannelNameTag(channelIndex) + extension;
}

std::string ImageName(const TStationSettings& settings, const std::string& archived, TDateTime imageTime,
                      std::uint8_t channelIndex, const char* extension)
{
    return settings.ShortImageNames
               ? ShortImageName(DatedDirectory(settings.SavePath, imageTime), imageTime, channelIndex, extension)
               : LongImageName(archived, extension);
}

std::string ArchivedScanName(const TStationSettings& settings, const std::string& scanFile, TDateTime imageTime)
{
    const std::string archived = DatedDirectory(settings.NetCDFPath, imageTime) + ExtractFileName(scanFile);
    return HasBZ2Extension(archived) ? BZ2TargetName(archived) : archived;
}

TDateTime ImageSlot(TDateTime imageTime)
{
    return static_cast<TDateTime>(std::trunc((static_cast<long double>(imageTime) + 1.0L / 210.0L) * 48.0L) / 48.0L);
}

#include "product/outputs/ImageKinds.h"

#include <algorithm>
#include <filesystem>

#include "product/composite/ChannelCatalogue.h"
#include "base/Files.h"
#include "base/Text.h"

namespace {

// Directory names that are all digits, newest first.
std::vector<std::string> DatedNames(const std::string& directory, std::size_t digits)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() == digits && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
            it->is_directory(ec))
            names.push_back(name);
    }
    std::sort(names.rbegin(), names.rend());
    return names;
}

}  // namespace

std::string NewestImageInTree(const std::string& imageRoot, std::uint8_t channel,
                              const std::vector<std::string_view>& extensions, TDateTime notAfter)
{
    if (imageRoot.empty() || !KnownChannel(channel))
        return {};
    const std::string tail = "-" + ChannelNameTag(channel);
    const std::string latest = FormatDateTime("yyyymmddhhnn", notAfter);
    for (const std::string& year : DatedNames(imageRoot, 4))
        for (const std::string& month : DatedNames(imageRoot + year + "/", 2))
            for (const std::string& day : DatedNames(imageRoot + year + "/" + month + "/", 2)) {
                const std::string directory = imageRoot + year + "/" + month + "/" + day + "/";
                std::string best;
                std::error_code ec;
                for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
                    const std::string name = it->path().filename().string();
                    const std::string_view ext = name.size() > 4 ? std::string_view(name).substr(name.size() - 4) : "";
                    if (name.size() == 12 + tail.size() + 4 && name.compare(12, tail.size(), tail) == 0 &&
                        std::find(extensions.begin(), extensions.end(), ext) != extensions.end() &&
                        name.compare(0, 8, year + month + day) == 0 && name.compare(0, 12, latest) <= 0 && name > best)
                        best = name;
                }
                if (!best.empty())
                    return directory + best;
            }
    return {};
}

std::optional<TImageKindName> SplitImageKind(std::string_view name)
{
    const std::string extension = LowerCase(std::string(FileExtension(name)));
    std::string stem(name.substr(0, name.size() - extension.size()));
    const std::string_view suffix = ColourImageSuffix;
    const bool colour = stem.size() > suffix.size() && stem.compare(stem.size() - suffix.size(), suffix.size(), suffix) == 0;
    for (const TImageKind& kind : ImageKinds)
        if (kind.Extension == extension && kind.Colour == colour) {
            if (colour)
                stem.resize(stem.size() - suffix.size());
            return TImageKindName{stem + std::string(name.substr(name.size() - extension.size())), kind};
        }
    return std::nullopt;
}

bool IsGreyPictureName(std::string_view name)
{
    const std::optional<TImageKindName> split = SplitImageKind(name);
    return split && !split->Kind.Colour && split->Kind.Extension != GeoTiffKind.Extension;
}

bool IsRestartImage(const TStationSettings& settings, std::string_view name)
{
    if (IsGreyPictureName(name))
        return true;
    const std::optional<TImageKindName> split = SplitImageKind(name);
    return !settings.SavesPictures() && split && split->Kind.Extension == GeoTiffKind.Extension;
}

std::string ImageKindFile(const std::string& name, const TImageKind& kind)
{
    const std::optional<TImageKindName> split = SplitImageKind(name);
    const std::string grey = split ? split->Grey : name;
    const std::string stem = grey.substr(0, grey.size() - FileExtension(grey).size());
    return stem + (kind.Colour ? ColourImageSuffix : "") + std::string(kind.Extension);
}

std::vector<std::string> ImageKindFiles(const std::string& name)
{
    std::vector<std::string> files;
    for (const TImageKind& kind : ImageKinds)
        files.push_back(ImageKindFile(name, kind));
    return files;
}

std::vector<TImageKind> KindsMade(const TStationSettings& settings, bool coloured)
{
    std::vector<TImageKind> kinds;
    for (const TImageKind& kind : ImageKinds)
        if (settings.*kind.Setting && (!kind.Colour || coloured))
            kinds.push_back(kind);
    return kinds;
}

std::optional<TColourTable> ChannelColourTable(const TStationSettings& settings, std::uint8_t channel, std::string* why)
{
    // An ABI band takes the table of the GOES-15 channel it stands nearest to: the greys mean
    // the same temperatures.
    const std::uint8_t nearest = NearestGoes15Channel(channel);
    if (nearest == 0 || !KnownChannel(channel))
        return std::nullopt;
    const std::string name = ColourTableForBand(settings.ColourTable, ChannelCatalogue[nearest].ChannelDigit);
    if (name.empty())
        return std::nullopt;
    TColourTable table;
    if (std::string problem = LoadColourTable(ColourTablePath(name), table); !problem.empty()) {
        if (why)
            *why = std::move(problem);
        return std::nullopt;
    }
    return table;
}

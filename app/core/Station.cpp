#include "app/core/Station.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <vector>

#include "app/core/GeoTiffOutput.h"
#include "app/core/EventPump.h"
#include "base/Files.h"
#include "base/DateTime.h"

TStation::TStation(TProcessingOptions& options, std::unique_ptr<IAnimationNotifier> notifier,
                   TComposites::TMaking making)
    : Composites(making), Notifier(std::move(notifier)), Product(options, Composites, Mask), options_(options)
{
    Mapping.SegmentIndex = CompositeSegmentRow;
    Mapping.LongitudeOffset = CompositeLongitudeOffset;
    try {
        LineStoreSource = LoadStartupLineStore(LineStore);
    } catch (const std::exception& e) {
        LineStoreSource.clear();
        LineStore.LoadProblems.push_back(std::string("cannot be loaded: ") + e.what());
    }
    LineStore.Mapping = &Mapping;
    Product.PrepareMask = [this] { loadMask(); };
    Product.OnLogLine = [this](const std::string& line) {
        if (OnLogLine) OnLogLine(line);
    };
    Product.Notifier = Notifier.get();
    Product.DrawBoundaries = [this](TExtBitmap& composite) {
        if (LineStore.Count() == 0) {
            // Said once: the option is on, yet every image will come out without lines.
            if (!emptyStoreReported_ && OnLogLine) OnLogLine("Boundaries: no coastlines loaded, nothing to draw");
            emptyStoreReported_ = true;
            return;
        }
        ChangePumping(composite, [this](TExtBitmap& lined) {
            LineStore.DrawOnBitmap(lined, 0, 0);
            return true;
        });
    };
}

void TStation::loadMask()
{
    if (maskTried_)
        return;
    maskTried_ = true;
    MaskLoaded = LoadBuiltInMask(Mask);
}

std::vector<std::string> TStation::CoastlinesLogLines() const
{
    std::vector<std::string> lines;
    if (LineStoreSource.empty())
        lines.push_back(std::string("Coastlines: none found (install gmt-gshhg-low or set ") + kGshhsEnvironmentVariable + ")");
    else
        lines.push_back("Coastlines: " + LineStoreSource + ", " + std::to_string(LineStore.Count()) + " segments");
    for (const std::string& problem : LineStore.LoadProblems)
        lines.push_back("Coastlines: " + problem);
    return lines;
}

namespace {

// The image time a saved image carries as its modification time; 0 for none.
TDateTime SavedTimeOf(const std::string& file)
{
    return file.empty() ? 0 : GetFileDateTime(file).value_or(0);
}

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

} // namespace

// The newest short-named image of a channel in the dated image tree; empty when there is none.
std::string NewestImageInTree(const std::string& imageRoot, std::uint8_t channel)
{
    if (imageRoot.empty() || !ChannelExists(channel))
        return {};
    const std::string tail = "-g10-" + std::string(ChannelCatalogue[channel].ChannelTag);
    for (const std::string& year : DatedNames(imageRoot, 4))
        for (const std::string& month : DatedNames(imageRoot + year + "/", 2))
            for (const std::string& day : DatedNames(imageRoot + year + "/" + month + "/", 2)) {
                const std::string directory = imageRoot + year + "/" + month + "/" + day + "/";
                std::string best;
                std::error_code ec;
                for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
                    const std::string name = it->path().filename().string();
                    const std::string ext = name.size() > 4 ? name.substr(name.size() - 4) : std::string();
                    if (name.size() == 12 + tail.size() + 4 && name.compare(12, tail.size(), tail) == 0 &&
                        (ext == ".jpg" || ext == ".png") && name > best)
                        best = name;
                }
                if (!best.empty())
                    return directory + best;
            }
    return {};
}

void TStation::ContinueFrom(std::uint8_t channel, const std::string& savedImage,
                            const std::function<void(const std::string&)>& notRestored)
{
    if (options_.Ticked("ClearImages"))
        return;
    if (std::string why; !LoadSavedImage(Composites.Image(channel), savedImage, &why) && notRestored)
        notRestored(savedImage + " not restored (" + why + "); the composite goes on from what it holds");
    if (options_.Ticked("SaveAsGeoTIFF"))
        RestoreCleanComposite(Composites, channel, savedImage, notRestored);
}

int TStation::RestoreComposites(const std::array<std::unique_ptr<TRegistryString>, ChannelCount>& lastSaved,
                                const std::function<void(std::uint8_t, const std::string&)>& restoredHint,
                                const std::function<void(const std::string&)>& notRestored)
{
    if (options_.Ticked("ClearImages"))
        return 0;
    // Said through the composites: a composite prepared ahead of its first use says it then.
    const auto tell = [this, notRestored](const std::string& name, const std::string& file, const std::string& why) {
        if (notRestored)
            Composites.Say([notRestored, line = name + " " + file + " not restored (" + why + "); the composite starts blank"] {
                notRestored(line);
            });
    };
    const auto restore = [this, restoredHint, tell](const std::string& name, const std::string& file,
                                                    std::uint8_t channel, TExtBitmap& composite) {
        std::string why;
        if (LoadSavedImage(composite, file, &why)) {
            if (restoredHint)
                Composites.Say([restoredHint, channel, hint = "Restored from full disk: " + ExtractFileName(file)] {
                    restoredHint(channel, hint);
                });
            return true;
        }
        tell(name, file, why);
        return false;
    };
    // Composites made on first use are restored then, from these files.
    std::array<std::string, ChannelCount> files, names;
    int restored = 0;
    for (std::size_t i = 0; i < ChannelCount; ++i) {
        if (!ChannelExists(i) || !lastSaved[i])
            continue;
        // A LastSaved value that could not be written (a full settings disk) names an older
        // image than the channel's newest: the composite continues from the newest.
        if (const std::string newest = NewestImageInTree(options_.SavePath(), static_cast<std::uint8_t>(i));
            !newest.empty() && SavedTimeOf(newest) > SavedTimeOf(lastSaved[i]->Value)) {
            if (notRestored)
                notRestored(lastSaved[i]->Name + " " + (lastSaved[i]->Value.empty() ? "(empty)" : lastSaved[i]->Value) +
                            " is older than " + newest + "; the composite continues from the newer image");
            lastSaved[i]->Value = newest;
        }
        const std::string& file = lastSaved[i]->Value;
        if (file.empty())
            continue;
        if (Composites.Made(i)) {
            restored += restore(lastSaved[i]->Name, file, static_cast<std::uint8_t>(i), Composites.Images[i]) ? 1 : 0;
            continue;
        }
        // Told now what the file's header already shows; only a picture that fails to decode
        // is told when its band first comes.
        if (const std::string why = SavedImageProblem(file); !why.empty()) {
            tell(lastSaved[i]->Name, file, why);
            continue;
        }
        files[i] = file;
        names[i] = lastSaved[i]->Name;
        ++restored;
    }
    if (options_.Ticked("SaveAsGeoTIFF"))
        RestoreCleanComposites(Composites, lastSaved, notRestored);
    Composites.FirstUse = [files, names, restore](std::size_t i, TExtBitmap& composite) {
        if (!files[i].empty())
            restore(names[i], files[i], static_cast<std::uint8_t>(i), composite);
    };
    return restored;
}

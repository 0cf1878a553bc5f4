#include "station/Station.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <vector>

#include "product/outputs/GeoTiffOutput.h"
#include "product/outputs/ImageKinds.h"
#include "product/EventPump.h"
#include "base/Files.h"
#include "base/DateTime.h"
#include "settings/ProgramPaths.h"
#include "settings/RegistryVariables.h"

std::string CompanionMapFile() { return FindDefaultMapFile(ReadAppPath("Velmora"), ProgramDataDir()); }

TStation::TStation(TProcessingOptions& options, std::unique_ptr<IAnimationNotifier> notifier,
                   TComposites::TMaking making)
    : Composites(making), LineStore(CompanionMapFile()), Notifier(std::move(notifier)),
      Product(options, Composites, Mask), options_(options)
{
    Mapping = CompositeMappingAt(options_.SatelliteLongitude());
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
    Product.DrawBoundaries = [this](TExtBitmap& composite, const TAbiProjection* abi) {
        // Set here, on the thread that hands the drawing over, never while lines are drawn.
        Mapping = CompositeMappingAt(Product.Settings().SatelliteLongitude);
        if (abi)
            AbiMapping = TAbiGridMapping(*abi);
        LineStore.Mapping = abi ? static_cast<const TMapping*>(&AbiMapping) : &Mapping;
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

bool TStation::PixelToGeo(int x, int y, float& longitude, float& latitude) const
{
    return CompositeMappingAt(options_.SatelliteLongitude()).PixelToGeo(x, y, longitude, latitude);
}

bool TStation::PixelToGeo(std::size_t channel, int x, int y, float& longitude, float& latitude) const
{
    if (!IsAbiChannel(channel))
        return PixelToGeo(x, y, longitude, latitude);
    return TAbiGridMapping(Product.AbiProjection(AbiSatelliteOf(channel))).PixelToGeo(x, y, longitude, latitude);
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

void TStation::ContinueFrom(std::uint8_t channel, const std::string& savedImage,
                            const std::function<void(const std::string&)>& notRestored)
{
    const TStationSettings& settings = Product.Settings();
    if (settings.ClearImages)
        return;
    // A GeoTIFF saved alone continues the clean copy only: it has no picture for the composite.
    if (std::string why;
        IsGreyPictureName(savedImage) && !LoadSavedImage(Composites.Image(channel), savedImage, &why) && notRestored)
        notRestored(savedImage + " not restored (" + why + "); the composite goes on from what it holds");
    if (settings.SaveAsGeoTIFF)
        RestoreCleanComposite(Composites, channel, savedImage, settings.SavePath, notRestored);
}

int TStation::RestoreComposites(const std::array<std::unique_ptr<TRegistryString>, ChannelCount>& lastSaved,
                                const std::function<void(std::uint8_t, const std::string&)>& restoredHint,
                                const std::function<void(const std::string&)>& notRestored)
{
    const TStationSettings& settings = Product.Settings();
    if (settings.ClearImages)
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
        // A LastSaved value that was never written, or names an image since gone or spoilt,
        // leaves the composite to continue from the channel's newest image of the tree; never
        // from one named for a time to come, which no station of ours wrote.
        const std::string& value = lastSaved[i]->Value;
        // A station that saves GeoTIFFs alone remembers its GeoTIFF, which continues the clean
        // copy below; the composite has no picture to come from.
        if (!value.empty() && !IsGreyPictureName(value))
            continue;
        std::error_code ec;
        const std::string unusable = value.empty() ? std::string()
                                     : !std::filesystem::exists(value, ec) ? std::string("no such file")
                                                                           : SavedImageProblem(value);
        if (value.empty() || !unusable.empty()) {
            const std::string newest =
                NewestImageInTree(settings.SavePath, static_cast<std::uint8_t>(i), {".jpg", ".png"}, UtcNow());
            if (!newest.empty() && newest != value) {
                if (notRestored)
                    notRestored(lastSaved[i]->Name + " " +
                                (value.empty() ? "(empty) is older than " + newest + "; the composite continues from the newer image"
                                               : value + " cannot be used (" + unusable + "); the composite continues from " + newest));
                lastSaved[i]->Value = newest;
            }
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
    if (settings.SaveAsGeoTIFF)
        RestoreCleanComposites(Composites, lastSaved, settings.SavePath, notRestored);
    // An ABI band has no LastSaved value: it goes on from its newest image in the tree, never
    // one named for a time to come.
    Composites.FirstUse = [this, files, names, restore, notRestored](std::size_t i, TExtBitmap& composite) {
        if (i < ChannelCount) {
            if (!files[i].empty())
                restore(names[i], files[i], static_cast<std::uint8_t>(i), composite);
            return;
        }
        const TStationSettings& now = Product.Settings();
        const auto channel = static_cast<std::uint8_t>(i);
        const std::string newest = NewestImageInTree(now.SavePath, channel, {".jpg", ".png"}, UtcNow());
        if (!newest.empty())
            restore("The newest image", newest, channel, composite);
        if (now.SaveAsGeoTIFF && !newest.empty())
            RestoreCleanComposite(Composites, channel, newest, now.SavePath, notRestored);
    };
    return restored;
}

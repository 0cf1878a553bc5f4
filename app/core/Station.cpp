#include "app/core/Station.h"

#include <exception>

#include "app/core/Utils.h"

TStation::TStation(TProcessingOptions& options, std::unique_ptr<IAnimationNotifier> notifier)
    : Notifier(std::move(notifier)), Product(options, Composites, Mask), options_(options)
{
    Mapping.SegmentIndex = CompositeSegmentRow;
    Mapping.LongitudeOffset = CompositeLongitudeOffset;
    try {
        LineStoreSource = LoadStartupLineStore(LineStore);
    } catch (const std::exception&) {
        LineStoreSource.clear();
    }
    LineStore.Mapping = &Mapping;
    MaskLoaded = LoadBuiltInMask(Mask);
    Product.Notifier = Notifier.get();
    Product.DrawBoundaries = [this](TExtBitmap& composite) {
        if (LineStore.Count() == 0) {
            // Said once: the option is on, yet every image will come out without lines.
            if (!emptyStoreReported_ && OnLogLine) OnLogLine("Boundaries: no coastlines loaded, nothing to draw");
            emptyStoreReported_ = true;
            return;
        }
        LineStore.DrawOnBitmap(composite, 0, 0);
    };
}

std::string TStation::CoastlinesLogLine() const
{
    if (LineStoreSource.empty())
        return std::string("Coastlines: none found (install gmt-gshhg-low or set ") + kGshhsEnvironmentVariable + ")";
    return "Coastlines: " + LineStoreSource + ", " + std::to_string(LineStore.Count()) + " segments";
}

int TStation::RestoreComposites(const std::array<std::unique_ptr<TRegistryString>, ChannelCount>& lastSaved,
                                const std::function<void(std::uint8_t, const std::string&)>& restoredHint,
                                const std::function<void(const std::string&)>& notRestored)
{
    if (options_.Ticked("ClearImages"))
        return 0;
    int restored = 0;
    for (std::size_t i = 0; i < ChannelCount; ++i) {
        if (!ChannelExists(i) || !lastSaved[i])
            continue;
        const std::string& file = lastSaved[i]->Value;
        if (file.empty())
            continue;
        std::string why;
        if (LoadSavedImage(Composites.Images[i], file, &why)) {
            ++restored;
            if (restoredHint)
                restoredHint(static_cast<std::uint8_t>(i), "Restored from full disk: " + ExtractFileName(file));
        } else if (notRestored) {
            notRestored(lastSaved[i]->Name + " " + file + " not restored (" + why + "); the composite starts blank");
        }
    }
    return restored;
}

#include "app/Station.h"

#include <exception>

#include "app/Utils.h"

TStation::TStation(TProcessingOptions& options, std::unique_ptr<IAnimationNotifier> notifier)
    : Notifier(std::move(notifier)), Product(options, Composites, Mask), options_(options)
{
    Mapping.SegmentIndex = 125;
    Mapping.LongitudeOffset = 7.0f;
    try {
        LineStoreSource = LoadStartupLineStore(LineStore);
    } catch (const std::exception&) {
        LineStoreSource.clear();
    }
    LineStore.Mapping = &Mapping;
    MaskLoaded = LoadBuiltInMask(Mask);
    Product.Notifier = Notifier.get();
    Product.DrawBoundaries = [this](TExtBitmap& composite) { LineStore.DrawOnBitmap(composite, 0, 0); };
}

int TStation::RestoreComposites(const std::array<std::unique_ptr<TRegistryString>, ChannelCount>& lastSaved,
                                const std::function<void(std::uint8_t, const std::string&)>& restoredHint)
{
    if (options_.Ticked("ClearImages"))
        return 0;
    int restored = 0;
    for (std::size_t i = 0; i < ChannelCount; ++i) {
        if (!ChannelExists(i) || !lastSaved[i])
            continue;
        const std::string& file = lastSaved[i]->Value;
        if (LoadSavedImage(Composites.Images[i], file)) {
            ++restored;
            if (restoredHint)
                restoredHint(static_cast<std::uint8_t>(i), "Restored from full disk: " + ExtractFileName(file));
        }
    }
    return restored;
}

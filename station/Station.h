#pragma once
// The long-lived objects of a running station: the composites, the mask, the composite's
// mapping, the coastline store and the per-file product that works on them. The window owns
// one, and so does the headless runner, so both process files with the same code.

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "product/AnimationNotify.h"
#include "product/composite/Composites.h"
#include "product/GoesProduct.h"
#include "cartography/vrnCartography.h"
#include "mapping/AbiGrid.h"
#include "mapping/SegmentStuff.h"
#include "settings/ProgramSettings.h"
#include "settings/RegistryVariables.h"

// The default map file "Countries.dat" beside the companion tracking program, as its path
// under App Paths names it, else in the program's data directory; empty when neither has one.
std::string CompanionMapFile();

class TStation {
public:
    // Builds the composites (all at once for the window, or each when first used), the
    // mapping and the line store. The mask is decoded when it is first applied.
    TStation(TProcessingOptions& options, std::unique_ptr<IAnimationNotifier> notifier,
             TComposites::TMaking making = TComposites::AllNow);

    // Reloads each composite from its last saved full-disk image (the cycle's "LastSaved"
    // values as they are now) unless "Clear images" is ticked; returns how many were restored
    // or, for composites made on first use, will be then. restoredHint gets the channel and
    // "Restored from full disk: <name>"; notRestored a log line saying which file was not
    // taken and why: at once when the file's header tells, else when the composite is made.
    int RestoreComposites(const std::array<std::unique_ptr<TRegistryString>, ChannelCount>& lastSaved,
                          const std::function<void(std::uint8_t, const std::string&)>& restoredHint = {},
                          const std::function<void(const std::string&)>& notRestored = {});

    // Continues the channel's composite (and its clean copy while GeoTIFFs are saved) from a
    // saved image, as a restarted station would; notRestored gets why not, if so.
    void ContinueFrom(std::uint8_t channel, const std::string& savedImage,
                      const std::function<void(const std::string&)>& notRestored);

    TComposites Composites;
    TExtBitmap Mask;
    bool MaskLoaded = false;  // decoded and usable, once a first file has been masked
    // The composite's mapping the lines were last drawn by: it follows SatelliteLongitude
    // from the next image on.
    TSegmentMapping Mapping;
    // The ABI satellite's view the lines were last drawn in.
    TAbiGridMapping AbiMapping;
    // Where a composite's pixel lies by the satellite's longitude as set now; false off the
    // Earth.
    bool PixelToGeo(int x, int y, float& longitude, float& latitude) const;
    // The same for any channel's composite: an ABI band's by its satellite's fixed grid.
    bool PixelToGeo(std::size_t channel, int x, int y, float& longitude, float& latitude) const;
    TCartogList LineStore;
    std::string LineStoreSource;  // what the line store was loaded from, for the log
    // The start-up's coastline lines: "Coastlines: <path list>, N segments" (or that none were
    // found), then a line for each file that brought nothing or less than it holds.
    std::vector<std::string> CoastlinesLogLines() const;
    // Receives the one line that says "Boundaries" is ticked but there is nothing to draw.
    std::function<void(const std::string&)> OnLogLine;
    std::unique_ptr<IAnimationNotifier> Notifier;
    TGoesProduct Product;

private:
    void loadMask();

    TProcessingOptions& options_;
    bool maskTried_ = false;
    bool emptyStoreReported_ = false;
};

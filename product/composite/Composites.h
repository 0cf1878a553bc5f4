#pragma once
// The per-channel composite pictures and the off-Earth mask they are masked with.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "product/composite/ChannelCatalogue.h"
#include "imaging/BMPExtImage.h"
#include "mapping/CompositeLayout.h"
#include "mapping/DiscMask.h"
#include "netcdf/AbiL1b.h"

// One composite per existing channel, each CompositeWidth x CompositeHeight, 8-bit grey,
// filled with its background; the ABI's bands on their 2 km fixed grid, AbiGridSize square,
// each made only when first used (a window shows the GOES-15 ones from the start). The entry
// of the missing channel stays empty.
struct TComposites {
    enum TMaking { AllNow, OnFirstUse };
    // AllNow suits the window, which shows every composite from the start. A run without a
    // window may see one band only: OnFirstUse makes each composite when Image() first asks
    // for it, and then hands it to FirstUse (to restore it from its last saved image).
    explicit TComposites(TMaking making = AllNow);

    TExtBitmap& Image(std::size_t channelIndex);
    bool Made(std::size_t channelIndex) const { return made_[channelIndex]; }
    // Makes a composite before its first use (while its scan is decoded); what FirstUse says
    // through Say meanwhile is said when Image() first asks for it, as if made then.
    void Prepare(std::size_t channelIndex);
    // What FirstUse has to say: said now, or held while the composite is prepared.
    void Say(std::function<void()> saying);

    std::array<TExtBitmap, AllChannelCount> Images;
    // While GeoTIFFs are saved, each channel's composite without the lines drawn over it
    // (GeoTiffOutput.h); empty otherwise.
    std::array<TExtBitmap, AllChannelCount> Clean;
    std::function<void(std::size_t channelIndex, TExtBitmap& composite)> FirstUse;

private:
    void make(std::size_t channelIndex);
    std::array<bool, AllChannelCount> made_{};
    std::array<bool, AllChannelCount> prepared_{};  // made by Prepare, not yet asked for
    std::array<std::vector<std::function<void()>>, AllChannelCount> held_;
    std::vector<std::function<void()>>* holding_ = nullptr;
};

// A channel's composite as it starts: 8-bit grey at the channel's size (the ABI's on their
// 2 km grid), filled with its background. The drawn composites and the GeoTIFFs' clean copies
// are both made so.
void MakeBlankComposite(TExtBitmap& image, std::size_t channelIndex);
bool HasCompositeSize(const TExtBitmap& image, std::size_t channelIndex);

// Sets every pixel the mask marks 0 to the channel's off-Earth value. Nothing happens when
// either image is not 8-bit or their sizes differ.
void ApplyMask(const TExtBitmap& mask, TExtBitmap& composite, std::uint8_t channelIndex);

// Draws a placed scan into a composite: the composite cleared to its background first when
// clear, the scan at (x, y), and the pixels off the Earth set by the mask when one is given.
// The drawn composite and the GeoTIFF's clean copy are both placed by it, so they agree on
// every pixel no line covers.
// With valid, a picture of the scan's size, only the scan's pixels it does not mark 0 are
// drawn: the composite keeps what it had where the scan holds no data.
void PlaceScan(TExtBitmap& composite, const TExtBitmap& scan, int x, int y, std::uint8_t channelIndex, bool clear,
               const TExtBitmap* mask, const TExtBitmap* valid = nullptr);
// The disc of the ABI's 2 km grid for a satellite of this ellipsoid and height (it does not
// depend on the satellite's longitude), and the off-Earth mask made of it, each made once.
const std::vector<TDiscRun>& AbiDisc(const TAbiProjection& projection);
const TExtBitmap& AbiMask(const TAbiProjection& projection);
// Loads the built-in mask ("MASK256") into an 8-bit grey image; false when it cannot be read.
bool LoadBuiltInMask(TExtBitmap& mask);

// Loads a saved image (".jpg" or ".png", by its extension in any case) into the composite.
// Only an 8-bit image of the composite's size is taken; otherwise the composite stays as it
// was, the result is false and why says what was wrong with the file.
bool LoadSavedImage(TExtBitmap& composite, const std::string& fileName, std::string* why = nullptr);

// Why LoadSavedImage would not take the file into a composite of its full size, as far as the
// file's name and header tell without decoding the picture; empty when it looks right.
std::string SavedImageProblem(const std::string& fileName);

#pragma once
// The per-channel composite pictures and the off-Earth mask they are masked with.

#include <array>
#include <cstdint>
#include <string>

#include "app/core/ChannelCatalogue.h"
#include "imaging/BMPExtImage.h"
#include "mapping/CompositeLayout.h"

// One composite per existing channel, each CompositeWidth x CompositeHeight, 8-bit grey,
// filled with its background. The entry of the missing channel stays empty.
struct TComposites {
    TComposites();
    std::array<TExtBitmap, ChannelCount> Images;
};

// Sets every pixel the mask marks 0 to the channel's off-Earth value. Nothing happens when
// either image is not 8-bit or their sizes differ.
void ApplyMask(const TExtBitmap& mask, TExtBitmap& composite, std::uint8_t channelIndex);

// Loads the built-in mask ("MASK256") into an 8-bit grey image; false when it cannot be read.
bool LoadBuiltInMask(TExtBitmap& mask);

// Loads a saved image (".jpg" or ".png", by its extension in any case) into the composite.
// Only an 8-bit image of the composite's size is taken; otherwise the composite stays as it
// was, the result is false and why says what was wrong with the file.
bool LoadSavedImage(TExtBitmap& composite, const std::string& fileName, std::string* why = nullptr);

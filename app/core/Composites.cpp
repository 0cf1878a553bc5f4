#include "app/core/Composites.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <sstream>
#include <string_view>

#include "app/core/Utils.h"
#include "imaging/JPEG_IO.h"
#include "imaging/PNG_IO.h"
#include "resources/Mask256.h"

TComposites::TComposites()
{
    for (std::size_t i = 0; i < ChannelCount; ++i) {
        if (!ChannelExists(i))
            continue;
        TExtBitmap& image = Images[i];
        image.SetPixelFormat(TPixelFormat::pf8bit);
        image.MakeGreyPalette();
        image.SetSize(CompositeWidth, CompositeHeight);
        image.Fill(CompositeBackground(i));
    }
}

void ApplyMask(const TExtBitmap& mask, TExtBitmap& composite, std::uint8_t channelIndex)
{
    if (mask.PixelFormat() != TPixelFormat::pf8bit || composite.PixelFormat() != TPixelFormat::pf8bit ||
        mask.Width() != composite.Width() || mask.Height() != composite.Height())
        return;
    const std::uint8_t offEarth = OffEarthValue(channelIndex);
    const int width = composite.Width();
    for (int y = 0; y < composite.Height(); ++y) {
        const std::uint8_t* m = mask.ScanLine(y);
        std::uint8_t* k = composite.ScanLine(y);
        for (int x = 0; x < width; ++x)
            if (m[x] == 0)
                k[x] = offEarth;
    }
    composite.Changed();
}

bool LoadBuiltInMask(TExtBitmap& mask)
{
    try {
        const auto png = Mask256Png();
        std::istringstream stream(std::string(reinterpret_cast<const char*>(png.data()), png.size()));
        mask.SetPixelFormat(TPixelFormat::pf8bit);
        mask.MakeGreyPalette();
        return LoadPNGMaskFromStream(mask, stream, false);
    } catch (const std::exception&) {
        return false;
    }
}

bool LoadSavedImage(TExtBitmap& composite, const std::string& fileName, std::string* why)
{
    const auto fail = [why](std::string reason) {
        if (why) *why = std::move(reason);
        return false;
    };
    std::error_code ec;
    if (fileName.empty() || !std::filesystem::exists(fileName, ec))
        return fail("no such file");
    const std::string ext = UpperCase(std::filesystem::path(fileName).extension().string());
    // Read beside the composite, so that a file of another kind never replaces it: a small or
    // huge picture would otherwise set the size of every later image of the channel.
    TExtBitmap loaded;
    loaded.SetPixelFormat(TPixelFormat::pf8bit);
    loaded.MakeGreyPalette();
    try {
        bool ok = false;
        if (ext == ".JPG")
            ok = LoadJPEG(&loaded, fileName, false, 0);
        else if (ext == ".PNG")
            ok = LoadPNGGraphic(&loaded, fileName, false, false);
        else
            return fail("neither .jpg nor .png");
        if (!ok)
            return fail("cannot be read");
    } catch (const std::exception& e) {
        return fail(std::string("cannot be read: ") + e.what());
    } catch (...) {
        return fail("cannot be read");
    }
    if (loaded.PixelFormat() != TPixelFormat::pf8bit)
        return fail("not an 8-bit image");
    if (loaded.Width() != composite.Width() || loaded.Height() != composite.Height())
        return fail(std::to_string(loaded.Width()) + " x " + std::to_string(loaded.Height()) + ", not "
                    + std::to_string(composite.Width()) + " x " + std::to_string(composite.Height()));
    for (int y = 0; y < loaded.Height(); ++y)
        std::copy_n(loaded.ScanLine(y), loaded.Width(), composite.ScanLine(y));
    composite.Changed();
    return true;
}

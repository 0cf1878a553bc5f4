#include "app/Composites.h"

#include <exception>
#include <filesystem>
#include <sstream>
#include <string_view>

#include "app/Utils.h"
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

bool LoadSavedImage(TExtBitmap& composite, const std::string& fileName)
{
    std::error_code ec;
    if (fileName.empty() || !std::filesystem::exists(fileName, ec))
        return false;
    const std::string ext = UpperCase(std::filesystem::path(fileName).extension().string());
    try {
        if (ext == ".JPG")
            return LoadJPEG(&composite, fileName, false, 0);
        if (ext == ".PNG")
            return LoadPNGGraphic(&composite, fileName, false, false);
    } catch (const std::exception&) {
    }
    return false;
}

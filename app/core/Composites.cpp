#include "app/core/Composites.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <sstream>
#include <string_view>

#include "imaging/JPEG_IO.h"
#include "imaging/PNG_IO.h"
#include "resources/Mask256.h"
#include "base/Text.h"

TComposites::TComposites(TMaking making)
{
    if (making == AllNow)
        for (std::size_t i = 0; i < ChannelCount; ++i)
            make(i);
}

void TComposites::make(std::size_t i)
{
    made_[i] = true;
    if (!ChannelExists(i))
        return;
    TExtBitmap& image = Images[i];
    image.SetPixelFormat(TPixelFormat::pf8bit);
    image.MakeGreyPalette();
    image.SetSize(CompositeWidth, CompositeHeight);
    image.Fill(CompositeBackground(i));
}

TExtBitmap& TComposites::Image(std::size_t channelIndex)
{
    if (!made_[channelIndex]) {
        make(channelIndex);
        if (FirstUse && ChannelExists(channelIndex))
            FirstUse(channelIndex, Images[channelIndex]);
    }
    return Images[channelIndex];
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

namespace {

// What a saved image's name and presence say: its extension in upper case, or why it is no
// saved image at all.
std::string savedImageKind(const std::string& fileName, std::string& why)
{
    std::error_code ec;
    if (fileName.empty() || !std::filesystem::exists(fileName, ec)) {
        why = "no such file";
        return {};
    }
    std::string ext = UpperCase(std::filesystem::path(fileName).extension().string());
    if (ext != ".JPG" && ext != ".PNG") {
        why = "neither .jpg nor .png";
        return {};
    }
    return ext;
}

std::string sizeProblem(int width, int height, int compositeWidth, int compositeHeight)
{
    if (width == compositeWidth && height == compositeHeight)
        return {};
    return std::to_string(width) + " x " + std::to_string(height) + ", not " + std::to_string(compositeWidth)
           + " x " + std::to_string(compositeHeight);
}

} // namespace

std::string SavedImageProblem(const std::string& fileName)
{
    std::string why;
    const std::string ext = savedImageKind(fileName, why);
    if (ext.empty())
        return why;
    int width = 0, height = 0;
    bool eightBit = true;
    if (!(ext == ".JPG" ? ReadJPEGSize(fileName, width, height) : ReadPNGHeader(fileName, width, height, eightBit)))
        return "cannot be read";
    if (!eightBit)
        return "not an 8-bit image";
    return sizeProblem(width, height, CompositeWidth, CompositeHeight);
}

bool LoadSavedImage(TExtBitmap& composite, const std::string& fileName, std::string* why)
{
    const auto fail = [why](std::string reason) {
        if (why) *why = std::move(reason);
        return false;
    };
    std::string problem;
    const std::string ext = savedImageKind(fileName, problem);
    if (ext.empty())
        return fail(problem);
    // Read beside the composite, so that a file of another kind never replaces it: a small or
    // huge picture would otherwise set the size of every later image of the channel.
    TExtBitmap loaded;
    loaded.SetPixelFormat(TPixelFormat::pf8bit);
    loaded.MakeGreyPalette();
    try {
        const bool ok = ext == ".JPG" ? LoadJPEG(&loaded, fileName, false, 0)
                                      : LoadPNGGraphic(&loaded, fileName, false, false);
        if (!ok)
            return fail("cannot be read");
    } catch (const std::exception& e) {
        return fail(std::string("cannot be read: ") + e.what());
    } catch (...) {
        return fail("cannot be read");
    }
    if (loaded.PixelFormat() != TPixelFormat::pf8bit)
        return fail("not an 8-bit image");
    if (problem = sizeProblem(loaded.Width(), loaded.Height(), composite.Width(), composite.Height()); !problem.empty())
        return fail(problem);
    for (int y = 0; y < loaded.Height(); ++y)
        std::copy_n(loaded.ScanLine(y), loaded.Width(), composite.ScanLine(y));
    composite.Changed();
    return true;
}

#include "product/composite/Composites.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>

#include "imaging/JPEG_IO.h"
#include "imaging/PNG_IO.h"
#include "mapping/AbiGrid.h"
#include "product/composite/Mask256.h"
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
    if (KnownChannel(i))
        MakeBlankComposite(Images[i], i);
}

bool HasCompositeSize(const TExtBitmap& image, std::size_t channelIndex)
{
    return IsAbiChannel(channelIndex) ? image.Width() == AbiGridSize && image.Height() == AbiGridSize
                                      : image.Width() == CompositeWidth && image.Height() == CompositeHeight;
}

void MakeBlankComposite(TExtBitmap& image, std::size_t channelIndex)
{
    image.SetPixelFormat(TPixelFormat::pf8bit);
    image.MakeGreyPalette();
    if (IsAbiChannel(channelIndex))
        image.SetSize(AbiGridSize, AbiGridSize);
    else
        image.SetSize(CompositeWidth, CompositeHeight);
    image.Fill(CompositeBackground(NearestGoes15Channel(channelIndex)));
}

TExtBitmap& TComposites::Image(std::size_t channelIndex)
{
    if (!made_[channelIndex]) {
        make(channelIndex);
        if (FirstUse && KnownChannel(channelIndex))
            FirstUse(channelIndex, Images[channelIndex]);
    } else if (prepared_[channelIndex]) {
        prepared_[channelIndex] = false;
        std::vector<std::function<void()>> held = std::move(held_[channelIndex]);
        held_[channelIndex].clear();
        for (const auto& saying : held)
            saying();
    }
    return Images[channelIndex];
}

void TComposites::Prepare(std::size_t channelIndex)
{
    if (channelIndex >= AllChannelCount || made_[channelIndex])
        return;
    make(channelIndex);
    prepared_[channelIndex] = true;
    if (!FirstUse || !KnownChannel(channelIndex))
        return;
    holding_ = &held_[channelIndex];
    try {
        FirstUse(channelIndex, Images[channelIndex]);
    } catch (...) {
        holding_ = nullptr;
        throw;
    }
    holding_ = nullptr;
}

void TComposites::Say(std::function<void()> saying)
{
    if (holding_)
        holding_->push_back(std::move(saying));
    else if (saying)
        saying();
}

void ApplyMask(const TExtBitmap& mask, TExtBitmap& composite, std::uint8_t channelIndex)
{
    if (mask.PixelFormat() != TPixelFormat::pf8bit || composite.PixelFormat() != TPixelFormat::pf8bit ||
        mask.Width() != composite.Width() || mask.Height() != composite.Height())
        return;
    const std::uint8_t offEarth = OffEarthValue(NearestGoes15Channel(channelIndex));
    const auto width = static_cast<std::size_t>(composite.Width());
    // Eight pixels at a time in one 64-bit word (a full disk's mask runs over nine million
    // pixels): every byte of `keep` is 0xFF where the mask is not 0, found without a branch.
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7FULL, ones = 0x0101010101010101ULL;
    const std::uint64_t off = offEarth * ones;
    for (int y = 0; y < composite.Height(); ++y) {
        const std::uint8_t* m = mask.ScanLine(y);
        std::uint8_t* k = composite.ScanLine(y);
        std::size_t x = 0;
        for (; x + 8 <= width; x += 8) {
            std::uint64_t m8 = 0, k8 = 0;
            std::memcpy(&m8, m + x, 8);
            std::memcpy(&k8, k + x, 8);
            const std::uint64_t nonZero = (((m8 & low7) + low7) | m8) & ~low7;
            const std::uint64_t keep = (nonZero >> 7) * 0xFF;
            k8 = (k8 & keep) | (off & ~keep);
            std::memcpy(k + x, &k8, 8);
        }
        for (; x < width; ++x)
            if (m[x] == 0)
                k[x] = offEarth;
    }
    composite.Changed();
}

void PlaceScan(TExtBitmap& composite, const TExtBitmap& scan, int x, int y, std::uint8_t channelIndex, bool clear,
               const TExtBitmap* mask, const TExtBitmap* valid)
{
    if (clear)
        composite.Fill(CompositeBackground(NearestGoes15Channel(channelIndex)));
    if (valid && valid->Width() == scan.Width() && valid->Height() == scan.Height() &&
        scan.PixelFormat() == TPixelFormat::pf8bit && composite.PixelFormat() == TPixelFormat::pf8bit) {
        // Only the part of the scan inside the composite.
        const int fromX = std::max(0, -x), toX = std::min(scan.Width(), composite.Width() - x);
        for (int row = std::max(0, -y); row < std::min(scan.Height(), composite.Height() - y); ++row) {
            const std::uint8_t* from = scan.ScanLine(row);
            const std::uint8_t* holds = valid->ScanLine(row);
            std::uint8_t* to = composite.ScanLine(y + row) + x;
            for (int column = fromX; column < toX; ++column)
                if (holds[column] != 0)
                    to[column] = from[column];
        }
        composite.Changed();
    } else {
        composite.Draw(x, y, scan);
    }
    if (mask)
        ApplyMask(*mask, composite, channelIndex);
}

namespace {

// A station sees one or two satellites, all of the same shape: one of each is kept.
std::array<double, 3> Shape(const TAbiProjection& p) { return {p.SemiMajorAxis, p.SemiMinorAxis, p.PerspectiveHeight}; }

} // namespace

const std::vector<TDiscRun>& AbiDisc(const TAbiProjection& projection)
{
    static std::mutex lock;
    static std::optional<std::pair<std::array<double, 3>, std::vector<TDiscRun>>> made;
    std::lock_guard guard(lock);
    if (!made || made->first != Shape(projection))
        made.emplace(Shape(projection), AbiDiscRuns(projection));
    return made->second;
}

const TExtBitmap& AbiMask(const TAbiProjection& projection)
{
    static std::mutex lock;
    static std::optional<std::pair<std::array<double, 3>, TExtBitmap>> made;
    std::lock_guard guard(lock);
    if (!made || made->first != Shape(projection)) {
        TExtBitmap mask(AbiGridSize, AbiGridSize);
        mask.MakeGreyPalette();
        const std::vector<TDiscRun>& runs = AbiDisc(projection);
        for (int y = 0; y < AbiGridSize; ++y) {
            std::uint8_t* row = mask.ScanLine(y);
            std::fill_n(row, AbiGridSize, std::uint8_t{0});
            const TDiscRun& run = runs[static_cast<std::size_t>(y)];
            std::fill(row + run.First, row + std::max(run.First, run.End), std::uint8_t{255});
        }
        made.emplace(Shape(projection), std::move(mask));
    }
    return made->second;
}

bool LoadBuiltInMask(TExtBitmap& mask)
{
    try {
        const TMask256Runs mask256 = Mask256Runs();
        mask.SetPixelFormat(TPixelFormat::pf8bit);
        mask.MakeGreyPalette();
        mask.SetSize(mask256.Width, mask256.Height);
        std::size_t run = 0;
        for (int y = 0; y < mask256.Height; ++y) {
            std::uint8_t* row = mask.ScanLine(y);
            for (int x = 0; x < mask256.Width; ++run) {
                if (run >= mask256.Runs.size())
                    return false;
                const std::uint32_t length = mask256.Runs[run] & 0xFFFF;
                if (length == 0 || length > static_cast<std::uint32_t>(mask256.Width - x))
                    return false;
                std::memset(row + x, static_cast<int>(mask256.Runs[run] >> 16), length);
                x += static_cast<int>(length);
            }
        }
        mask.Changed();
        return run == mask256.Runs.size();
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
        std::string reason;
        const bool ok = ext == ".JPG" ? LoadJPEG(&loaded, fileName, false, 0)
                                      : LoadPNGGraphic(&loaded, fileName, false, false, &reason);
        if (!ok)
            return fail(reason.empty() ? "cannot be read" : "cannot be read: " + reason);
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

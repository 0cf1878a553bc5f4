#include "imaging/BitmapFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <span>
#include <vector>

#include "imaging/BMPExtImage.h"

std::uint32_t BitmapU32(std::span<const std::uint8_t> data, std::size_t at)
{
    return std::uint32_t{data[at]} | std::uint32_t{data[at + 1]} << 8 | std::uint32_t{data[at + 2]} << 16 |
           std::uint32_t{data[at + 3]} << 24;
}

std::uint16_t BitmapU16(std::span<const std::uint8_t> data, std::size_t at)
{
    return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
}

void PutBitmapU32(std::uint8_t* at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

namespace {

void putU16(std::uint8_t* at, std::uint16_t v)
{
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}

[[noreturn]] void invalid() { throw EInvalidGraphicOperation(kInvalidBitmap); }

int bitsOf(TPixelFormat f)
{
    switch (f) {
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf24bit: return 24;
    case TPixelFormat::pf32bit: return 32;
    }
    return 8;
}

} // namespace

std::vector<std::uint8_t> EncodeBitmapFile(const TExtBitmap& bmp)
{
    const bool paletted = bmp.PixelFormat() == TPixelFormat::pf8bit;
    const std::size_t paletteBytes = paletted ? 256 * 4 : 0;
    const std::size_t rowBytes = static_cast<std::size_t>(bmp.Width()) * bmp.BytesPerPixel();
    const std::size_t stride = (rowBytes + 3) / 4 * 4;
    const std::size_t imageBytes = stride * bmp.Height();
    const std::size_t offset = kBitmapHeadersSize + paletteBytes;
    std::vector<std::uint8_t> out(offset + imageBytes, 0);

    std::uint8_t* p = out.data();
    p[0] = 'B';
    p[1] = 'M';
    PutBitmapU32(p + 2, static_cast<std::uint32_t>(out.size()));
    PutBitmapU32(p + 10, static_cast<std::uint32_t>(offset));
    PutBitmapU32(p + 14, kBitmapInfoHeaderSize);
    PutBitmapU32(p + 18, static_cast<std::uint32_t>(bmp.Width()));
    PutBitmapU32(p + 22, static_cast<std::uint32_t>(bmp.Height())); // positive: bottom-up rows
    putU16(p + 26, 1);
    putU16(p + 28, static_cast<std::uint16_t>(bitsOf(bmp.PixelFormat())));
    PutBitmapU32(p + 34, static_cast<std::uint32_t>(imageBytes));
    // Colours used 0 means the full 256-entry table that follows.
    if (paletted) {
        std::uint8_t* pal = p + kBitmapHeadersSize;
        for (const TRGBQuad& q : bmp.Palette()) {
            *pal++ = q.Blue;
            *pal++ = q.Green;
            *pal++ = q.Red;
            *pal++ = 0;
        }
    }
    for (int y = 0; y < bmp.Height(); ++y) {
        const std::size_t fileRow = static_cast<std::size_t>(bmp.Height() - 1 - y);
        if (rowBytes > 0)
            std::memcpy(p + offset + fileRow * stride, bmp.ScanLine(y), rowBytes);
    }
    return out;
}

void DecodeBitmapFile(std::span<const std::uint8_t> data, TExtBitmap& bmp)
{
    if (data.size() < kBitmapHeadersSize || data[0] != 'B' || data[1] != 'M')
        invalid();
    const std::uint32_t infoSize = BitmapU32(data, 14);
    // The info header and its later, longer versions all begin with the same 40 bytes.
    if (infoSize < kBitmapInfoHeaderSize || infoSize > data.size() - kBitmapFileHeaderSize)
        invalid();
    const auto width = static_cast<std::int32_t>(BitmapU32(data, 18));
    const auto height = static_cast<std::int32_t>(BitmapU32(data, 22));
    const std::uint16_t planes = BitmapU16(data, 26);
    const std::uint16_t bits = BitmapU16(data, 28);
    const std::uint32_t compression = BitmapU32(data, 30);
    const std::uint32_t coloursUsed = BitmapU32(data, 46);
    if (planes != 1 || compression != 0 || width <= 0 || height == 0 ||
        height == std::numeric_limits<std::int32_t>::min())
        invalid();

    TPixelFormat format;
    switch (bits) {
    case 8: format = TPixelFormat::pf8bit; break;
    case 24: format = TPixelFormat::pf24bit; break;
    case 32: format = TPixelFormat::pf32bit; break;
    default: invalid();
    }
    std::uint64_t colours = coloursUsed;
    if (bits == 8 && colours == 0)
        colours = 256;
    if (colours > 256)
        invalid();

    const std::uint64_t paletteAt = kBitmapFileHeaderSize + infoSize;
    const std::uint64_t paletteEnd = paletteAt + 4 * colours;
    const std::uint64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
    const std::uint64_t rowBytes = static_cast<std::uint64_t>(width) * (bits / 8);
    const std::uint64_t stride = (rowBytes + 3) / 4 * 4;
    const std::uint64_t imageBytes = stride * rows;
    if (paletteEnd > data.size() || imageBytes > data.size())
        invalid();
    // Pixels start where the file header says; a header pointing into the colour table or
    // past the end is not trusted, and the pixels are taken to follow the table.
    std::uint64_t pixelsAt = BitmapU32(data, 10);
    if (pixelsAt < paletteEnd || pixelsAt + imageBytes > data.size())
        pixelsAt = paletteEnd;
    if (pixelsAt + imageBytes > data.size())
        invalid();

    std::array<TRGBQuad, 256> palette{};
    for (std::uint64_t n = 0; bits == 8 && n < colours; ++n) {
        const std::size_t at = paletteAt + 4 * n;
        palette[n] = TRGBQuad{data[at], data[at + 1], data[at + 2], 0};
    }

    bmp.SetHeight(0);
    bmp.SetPixelFormat(format);
    bmp.SetSize(width, static_cast<int>(rows));
    if (bits == 8)
        bmp.Palette() = palette;
    for (std::uint64_t r = 0; r < rows; ++r) {
        const int y = static_cast<int>(height > 0 ? rows - 1 - r : r);
        std::memcpy(bmp.ScanLine(y), data.data() + pixelsAt + r * stride, rowBytes);
    }
    bmp.Changed();
}

// The image type reads and writes BMP files through this codec: its file members live here, so
// the type itself does not depend on the codec that depends on it.
void TExtBitmap::SaveToStream(std::ostream& out) const
{
    const std::vector<std::uint8_t> file = EncodeBitmapFile(*this);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    if (!out)
        throw EImageError("Stream write error");
}

void TExtBitmap::SaveToFile(const std::string& fileName) const
{
    // Only 8-bit images carry a colour table in the file; 24-bit ones are written without.
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out)
        throw EImageError("Cannot create file \"" + fileName + "\".");
    SaveToStream(out);
    out.close();
    if (!out)
        throw EImageError("Stream write error");
}

void TExtBitmap::LoadFromFile(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw EImageError("Cannot open file \"" + fileName + "\".");
    LoadFromStream(in);
}

void TExtBitmap::LoadFromStream(std::istream& in)
{
    const bool atStart = in.tellg() == std::streampos(0);
    std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

    // Two kinds of damaged files that other programs wrote get straightened out first.
    if (atStart && data.size() > kBitmapHeadersSize && data[0] == 'B' && data[1] == 'M') {
        const std::span<const std::uint8_t> file(data);
        const std::uint32_t used = BitmapU32(file, 46), important = BitmapU32(file, 50);
        const auto width = static_cast<std::int32_t>(BitmapU32(file, 18));
        const auto height = static_cast<std::int32_t>(BitmapU32(file, 22));
        if (used == important && (used == 200 || used == 224)) {
            // A full 256-entry colour table behind a header claiming fewer colours: keep the
            // colours it claims, drop the unused rest, and point the header at the pixels.
            const std::size_t keep = std::min<std::size_t>(4 * used, data.size() - kBitmapHeadersSize);
            const std::size_t rest = std::min<std::size_t>(kBitmapHeadersSize + 1024, data.size());
            std::vector<std::uint8_t> copy(data.begin(), data.begin() + kBitmapHeadersSize + keep);
            copy.insert(copy.end(), data.begin() + rest, data.end());
            PutBitmapU32(copy.data() + 10, static_cast<std::uint32_t>(kBitmapHeadersSize + 4 * used));
            DecodeBitmapFile(copy, *this);
            return;
        }
        if (BitmapU16(file, 26) == 1 && BitmapU16(file, 28) == 8 && width == 2080) {
            const std::uint32_t pixels = static_cast<std::uint32_t>(width) *
                                         static_cast<std::uint32_t>(height < 0 ? -std::int64_t{height} : height);
            if (BitmapU32(file, 34) != pixels) {
                std::vector<std::uint8_t> copy(data);
                PutBitmapU32(copy.data() + 34, pixels);
                DecodeBitmapFile(copy, *this);
                return;
            }
        }
    }
    try {
        DecodeBitmapFile(data, *this);
    } catch (const EInvalidGraphicOperation&) {
        // Some writers append two stray bytes; one more try without them.
        if (data.size() < 2)
            throw;
        data.resize(data.size() - 2);
        DecodeBitmapFile(data, *this);
    }
}

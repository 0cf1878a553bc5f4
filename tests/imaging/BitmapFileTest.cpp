#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "PixelBytes.h"
#include "imaging/BMPExtImage.h"
#include "imaging/BitmapFile.h"

namespace {

TExtBitmap sample(int w, int h, TPixelFormat f = TPixelFormat::pf8bit)
{
    TExtBitmap bmp(w, h, f);
    bmp.MakeGreyPalette();
    std::mt19937 rng(w * 31 + h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * bmp.BytesPerPixel(); ++x)
            bmp.ScanLine(y)[x] = static_cast<std::uint8_t>(rng());
    return bmp;
}

std::string bytes(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

TExtBitmap load(const std::string& file)
{
    std::istringstream in(file);
    TExtBitmap bmp;
    bmp.LoadFromStream(in);
    return bmp;
}

class BitmapRoundTrip : public ::testing::TestWithParam<std::tuple<TPixelFormat, int, int>> {};

TEST_P(BitmapRoundTrip, SavedFilesLoadBackExactly)
{
    const auto [f, w, h] = GetParam();
    const TExtBitmap src = sample(w, h, f);
    std::ostringstream out;
    src.SaveToStream(out);
    const TExtBitmap back = load(out.str());
    EXPECT_EQ(back.PixelFormat(), f);
    EXPECT_EQ(back.Width(), w);
    EXPECT_EQ(back.Height(), h);
    EXPECT_EQ(PixelBytes(back), PixelBytes(src));
    if (f == TPixelFormat::pf8bit) {
        EXPECT_EQ(back.Palette(), src.Palette());
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, BitmapRoundTrip,
                         ::testing::Combine(::testing::Values(TPixelFormat::pf8bit, TPixelFormat::pf24bit,
                                                              TPixelFormat::pf32bit),
                                            ::testing::Values(1, 13, 2080), ::testing::Values(1, 5)));

TEST(BitmapFile, HeaderOfAnEightBitFile)
{
    const std::vector<std::uint8_t> file = EncodeBitmapFile(sample(13, 2));
    ASSERT_EQ(file.size(), 54u + 1024 + 16 * 2);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(BitmapU32(file, 2), file.size());
    EXPECT_EQ(BitmapU32(file, 10), 1078u);
    EXPECT_EQ(BitmapU32(file, 14), 40u);
    EXPECT_EQ(BitmapU32(file, 22), 2u); // bottom-up
    EXPECT_EQ(BitmapU16(file, 28), 8);
    EXPECT_EQ(BitmapU32(file, 34), 32u);
    EXPECT_EQ(file[54 + 4 * 200], 200); // grey palette entry 200
}

TEST(BitmapFile, SaveToFileAndLoadFromFile)
{
    const auto path = std::filesystem::temp_directory_path() / ("orvanta_bmp_" + std::to_string(::getpid()) + ".bmp");
    const TExtBitmap src = sample(7, 3);
    src.SaveToFile(path.string());
    TExtBitmap back;
    back.LoadFromFile(path.string());
    EXPECT_EQ(PixelBytes(back), PixelBytes(src));
    std::filesystem::remove(path);
    EXPECT_THROW(back.LoadFromFile(path.string()), EImageError);
    EXPECT_THROW(src.SaveToFile("/nonexistent-dir/x.bmp"), EImageError);
}

TEST(BitmapFile, TopDownRowsAreRead)
{
    const TExtBitmap src = sample(4, 3);
    std::vector<std::uint8_t> file = EncodeBitmapFile(src);
    // Reverse the stored rows and flip the height's sign: the same picture, stored top first.
    std::vector<std::uint8_t> flipped(file.begin(), file.begin() + 1078);
    for (int r = 2; r >= 0; --r)
        flipped.insert(flipped.end(), file.begin() + 1078 + r * 4, file.begin() + 1078 + r * 4 + 4);
    PutBitmapU32(flipped.data() + 22, static_cast<std::uint32_t>(-3));
    EXPECT_EQ(PixelBytes(load(bytes(flipped))), PixelBytes(src));
}

// A writer that claims N colours used and important but stores the whole 1024-byte table.
std::vector<std::uint8_t> shortPaletteFile(const TExtBitmap& src, std::uint32_t n, std::uint32_t offset)
{
    std::vector<std::uint8_t> file = EncodeBitmapFile(src);
    PutBitmapU32(file.data() + 46, n);
    PutBitmapU32(file.data() + 50, n);
    PutBitmapU32(file.data() + 10, offset);
    for (std::size_t e = n; e < 256; ++e)
        file[54 + 4 * e] = file[54 + 4 * e + 1] = file[54 + 4 * e + 2] = 0xEE; // junk entries
    return file;
}

TEST(BitmapFile, ShortPaletteClaimsAreRepaired)
{
    const TExtBitmap src = sample(9, 4);
    for (std::uint32_t n : {200u, 224u}) {
        for (std::uint32_t offset : {1078u, 54u + 4 * n}) {
            const TExtBitmap back = load(bytes(shortPaletteFile(src, n, offset)));
            EXPECT_EQ(PixelBytes(back), PixelBytes(src)) << n << " " << offset;
            EXPECT_EQ(back.Palette()[n - 1], (TRGBQuad{static_cast<std::uint8_t>(n - 1), static_cast<std::uint8_t>(n - 1),
                                                       static_cast<std::uint8_t>(n - 1), 0}));
            EXPECT_EQ(back.Palette()[n], TRGBQuad{}); // the unused entries are not taken over
        }
    }
    // A claim of 200 used but a different important count is an ordinary file.
    std::vector<std::uint8_t> plain = shortPaletteFile(src, 200, 1078);
    PutBitmapU32(plain.data() + 50, 0);
    EXPECT_EQ(PixelBytes(load(bytes(plain))), PixelBytes(src));
}

TEST(BitmapFile, WrongImageSizeOfA2080WideImageIsRepaired)
{
    const TExtBitmap src = sample(2080, 3);
    for (std::uint32_t bogus : {0u, 1u, 0xFFFFFFFFu}) {
        std::vector<std::uint8_t> file = EncodeBitmapFile(src);
        PutBitmapU32(file.data() + 34, bogus);
        EXPECT_EQ(PixelBytes(load(bytes(file))), PixelBytes(src));
    }
}

TEST(BitmapFile, TrailingBytesAndStreamsNotAtTheStart)
{
    const TExtBitmap src = sample(5, 5);
    std::vector<std::uint8_t> file = EncodeBitmapFile(src);
    file.push_back(0x0D);
    file.push_back(0x0A);
    EXPECT_EQ(PixelBytes(load(bytes(file))), PixelBytes(src));

    std::istringstream in("XYZ" + bytes(EncodeBitmapFile(src)));
    in.seekg(3);
    TExtBitmap bmp;
    bmp.LoadFromStream(in);
    EXPECT_EQ(PixelBytes(bmp), PixelBytes(src));
}

TEST(BitmapFile, DamagedFilesRaiseAndLeaveTheImageAlone)
{
    const std::vector<std::uint8_t> good = EncodeBitmapFile(sample(6, 6));
    TExtBitmap keep = sample(3, 3);
    const auto before = PixelBytes(keep);
    auto expectRefused = [&](const std::vector<std::uint8_t>& file) {
        std::istringstream in(bytes(file));
        try {
            keep.LoadFromStream(in);
            ADD_FAILURE() << "accepted a damaged file of " << file.size() << " bytes";
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_STREQ(e.what(), "Bitmap image is not valid");
        }
        EXPECT_EQ(PixelBytes(keep), before);
    };
    for (std::size_t len = 0; len + 4 < good.size(); len += (len < 100 ? 1 : 97))
        expectRefused(std::vector<std::uint8_t>(good.begin(), good.begin() + len));

    auto patched = [&](std::size_t at, std::uint32_t v) {
        std::vector<std::uint8_t> f = good;
        PutBitmapU32(f.data() + at, v);
        return f;
    };
    expectRefused(patched(18, 0x7FFFFFFF));        // huge width in a tiny file
    expectRefused(patched(22, 0x80000000));        // most negative height
    expectRefused(patched(18, 0));                 // empty width
    expectRefused(patched(28, 4));                 // 4 bits per pixel
    expectRefused(patched(30, 1));                 // run-length compressed
    expectRefused(patched(46, 257));               // more colours than an 8-bit image has
    expectRefused(patched(14, 0xFFFFFFF0));        // header longer than the file
    std::vector<std::uint8_t> notBm = good;
    notBm[0] = 'X';
    expectRefused(notBm);
}

} // namespace

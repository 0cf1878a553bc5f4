#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "PixelBytes.h"
#include "imaging/BMPExtImage.h"

namespace {

TExtBitmap noiseImage(int w, int h, TPixelFormat f = TPixelFormat::pf8bit, unsigned seed = 1)
{
    TExtBitmap bmp(w, h, f);
    bmp.MakeGreyPalette();
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * bmp.BytesPerPixel(); ++x)
            bmp.ScanLine(y)[x] = static_cast<std::uint8_t>(rng());
    bmp.SetModified(false);
    return bmp;
}

// What the image should hold after Interpolate with a given resampling mode.
std::vector<std::uint8_t> expectedPixels(const TExtBitmap& src, int dw, int dh, TInterpolation mode)
{
    const int ch = src.BytesPerPixel();
    std::vector<std::uint8_t> out(static_cast<std::size_t>(dw) * dh * ch);
    ResamplePlane(src.ScanLine(0), src.BytesPerRow(), src.Width(), src.Height(), out.data(), dw * ch, dw, dh, ch,
                  mode);
    return out;
}

// new width, new height, mode argument, the resampling that must happen
using InterpolateCase = std::tuple<int, int, int, TInterpolation>;
class InterpolateModes : public ::testing::TestWithParam<InterpolateCase> {};

TEST_P(InterpolateModes, PicksTheResamplingByDirectionAndMode)
{
    const auto [dw, dh, mode, how] = GetParam();
    for (TPixelFormat f : {TPixelFormat::pf8bit, TPixelFormat::pf24bit}) {
        TExtBitmap bmp = noiseImage(100, 100, f);
        const auto expected = expectedPixels(bmp, dw, dh, how);
        bmp.Interpolate(dw, dh, mode);
        EXPECT_EQ(bmp.Width(), dw);
        EXPECT_EQ(bmp.Height(), dh);
        EXPECT_EQ(bmp.PixelFormat(), f);
        EXPECT_TRUE(bmp.Modified());
        EXPECT_EQ(PixelBytes(bmp), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Directions, InterpolateModes,
    ::testing::Values(InterpolateCase{100, 150, -1, TInterpolation::Cubic},
                      InterpolateCase{137, 100, -1, TInterpolation::Cubic},
                      InterpolateCase{57, 100, -1, TInterpolation::SuperSample},
                      InterpolateCase{31, 17, -1, TInterpolation::SuperSample},
                      InterpolateCase{150, 150, 0, TInterpolation::Nearest},
                      InterpolateCase{50, 50, 0, TInterpolation::Nearest},
                      InterpolateCase{150, 120, 1, TInterpolation::Linear},
                      InterpolateCase{50, 80, 1, TInterpolation::Linear},
                      InterpolateCase{40, 40, 2, TInterpolation::Cubic},
                      InterpolateCase{300, 200, 3, TInterpolation::SuperSample}));

TEST(Interpolate, FullDiskWidthIsReducedBySuperSampling)
{
    TExtBitmap bmp = noiseImage(5212, 2704);
    const auto expected = expectedPixels(bmp, 2976, 2704, TInterpolation::SuperSample);
    bmp.Interpolate(2976, 2704);
    ASSERT_EQ(bmp.Width(), 2976);
    ASSERT_EQ(bmp.Height(), 2704);
    EXPECT_EQ(PixelBytes(bmp), expected);
    EXPECT_EQ(bmp.Palette()[200], (TRGBQuad{200, 200, 200, 0}));
}

TEST(Interpolate, SameSizeOrTinyImagesAreLeftAlone)
{
    TExtBitmap same = noiseImage(50, 40);
    const auto before = PixelBytes(same);
    same.Interpolate(50, 40);
    EXPECT_FALSE(same.Modified());
    EXPECT_EQ(PixelBytes(same), before);

    for (auto [w, h] : {std::pair{2, 100}, std::pair{100, 2}}) {
        TExtBitmap tiny = noiseImage(w, h);
        tiny.Interpolate(300, 300);
        EXPECT_EQ(tiny.Width(), w);
        EXPECT_EQ(tiny.Height(), h);
        EXPECT_FALSE(tiny.Modified());
    }
}

TEST(Interpolate, RefusesMixedDirectionsAndOtherFormatsUnchanged)
{
    TExtBitmap bmp = noiseImage(100, 100);
    const auto before = PixelBytes(bmp);
    try {
        bmp.Interpolate(120, 80);
        FAIL() << "no exception";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_STREQ(e.what(), "Error: Interpolate called with increase width and reduce height or vice-versa.");
    }
    EXPECT_EQ(PixelBytes(bmp), before);
    EXPECT_FALSE(bmp.Modified());

    TExtBitmap wide = noiseImage(10, 10, TPixelFormat::pf32bit);
    try {
        wide.Interpolate(20, 20);
        FAIL() << "no exception";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_STREQ(e.what(), "Error: Interpolate called without 8-bit or 24-bit pixels.");
    }
    EXPECT_EQ(wide.Width(), 10);
}

TEST(Interpolate, ToAnEmptySizeLeavesAnEmptyImage)
{
    TExtBitmap bmp = noiseImage(10, 10);
    bmp.Interpolate(0, 5);
    EXPECT_EQ(bmp.Width(), 0);
    EXPECT_EQ(bmp.Height(), 0);
    EXPECT_EQ(bmp.PixelFormat(), TPixelFormat::pf8bit);
}

TEST(Interpolate, OutOfMemoryLeavesTheImageEmptied)
{
    TExtBitmap bmp = noiseImage(10, 10);
    EXPECT_THROW(bmp.Interpolate(100000, 100000), EImageError);
    EXPECT_EQ(bmp.Width(), 0);
    EXPECT_EQ(bmp.Height(), 0);
}

TEST(IplRecords, BlankRecords)
{
    TExtBitmap bmp(4, 4);
    EXPECT_EQ(bmp.MakeBlankIPL(0, 10), nullptr);
    EXPECT_EQ(bmp.MakeBlankIPL(10, 0), nullptr);
    const PIplImage grey = bmp.MakeBlankIPL(5, 3);
    ASSERT_NE(grey, nullptr);
    EXPECT_EQ(grey->nChannels, 1);
    EXPECT_EQ(grey->depth, 8);
    EXPECT_EQ(grey->widthStep % 8, 0);

    TExtBitmap colour(4, 4, TPixelFormat::pf24bit);
    EXPECT_EQ(colour.MakeBlankIPL(5, 3)->nChannels, 3);

    TExtBitmap wide(4, 4, TPixelFormat::pf32bit);
    try {
        (void)wide.MakeBlankIPL(5, 3);
        FAIL() << "no exception";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_STREQ(e.what(), "Error: MakeBlankIPL called without 8 or 24-bit pixels.");
    }
}

TEST(IplRecords, OutOfMemoryMessage)
{
    TExtBitmap bmp(4, 4);
    try {
        (void)bmp.MakeBlankIPL(100000, 100000);
        FAIL() << "no exception";
    } catch (const EImageError& e) {
        EXPECT_STREQ(e.what(), "No memory can be allocated for ipl image in MakeBlankIpl\r"
                               "Request was for 1 channel image, width: 100000 x height: 100000");
    }
}

TEST(IplRecords, RoundTripKeepsPixelsAndTakesFormatFromChannels)
{
    for (TPixelFormat f : {TPixelFormat::pf8bit, TPixelFormat::pf24bit}) {
        const TExtBitmap src = noiseImage(13, 7, f);
        const PIplImage rec = src.MakeIPL();
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(rec->width, 13);
        EXPECT_EQ(rec->height, 7);
        TExtBitmap dst(3, 3, f == TPixelFormat::pf8bit ? TPixelFormat::pf24bit : TPixelFormat::pf8bit);
        dst.LoadFromIPL(rec.get());
        EXPECT_EQ(dst.PixelFormat(), f);
        EXPECT_EQ(PixelBytes(dst), PixelBytes(src));
    }
    TExtBitmap untouched = noiseImage(3, 3);
    untouched.LoadFromIPL(nullptr);
    EXPECT_EQ(untouched.Width(), 3);
    EXPECT_EQ(TExtBitmap(0, 5).MakeIPL(), nullptr);
}

TEST(Crop, DroppingTwoColumnsKeepsTheRestInPlace)
{
    TExtBitmap bmp = noiseImage(10, 6);
    const TExtBitmap before = bmp;
    bmp.Crop(0, 0, 8, 6);
    ASSERT_EQ(bmp.Width(), 8);
    ASSERT_EQ(bmp.Height(), 6);
    for (int y = 0; y < 6; ++y)
        EXPECT_EQ(std::memcmp(bmp.ScanLine(y), before.ScanLine(y), 8), 0);
}

TEST(Crop, MovesTheRectangleToTheCorner)
{
    for (TPixelFormat f : {TPixelFormat::pf8bit, TPixelFormat::pf24bit}) {
        TExtBitmap bmp = noiseImage(10, 9, f);
        const TExtBitmap before = bmp;
        const int bpp = bmp.BytesPerPixel();
        bmp.Crop(3, 2, 5, 4);
        ASSERT_EQ(bmp.Width(), 5);
        ASSERT_EQ(bmp.Height(), 4);
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(std::memcmp(bmp.ScanLine(y), before.ScanLine(y + 2) + 3 * bpp, 5 * bpp), 0);
    }
}

TEST(Crop, RectanglesReachingOutsideCopyOnlyWhatExists)
{
    TExtBitmap bmp = noiseImage(6, 6);
    const TExtBitmap before = bmp;
    bmp.Crop(4, 4, 5, 5); // only a 2 x 2 block exists in the source
    ASSERT_EQ(bmp.Width(), 5);
    ASSERT_EQ(bmp.Height(), 5);
    EXPECT_EQ(bmp.ScanLine(1)[1], before.ScanLine(5)[5]);
    EXPECT_EQ(bmp.ScanLine(4)[4], before.ScanLine(4)[4]); // no source there: left as it was

    TExtBitmap neg = noiseImage(6, 6);
    neg.Crop(-2, -3, 6, 6);
    EXPECT_EQ(neg.ScanLine(3)[2], before.ScanLine(0)[0]);
    EXPECT_EQ(neg.ScanLine(5)[5], before.ScanLine(2)[3]);
    EXPECT_EQ(neg.ScanLine(0)[0], before.ScanLine(0)[0]); // nothing was copied there

    TExtBitmap gone = noiseImage(6, 6);
    gone.Crop(100, 100, -1, 3);
    EXPECT_EQ(gone.Width(), 0);
}

TEST(Palette, GreyRamp)
{
    TExtBitmap bmp(2, 2);
    bmp.MakeGreyPalette();
    EXPECT_EQ(bmp.Palette()[200], (TRGBQuad{200, 200, 200, 0}));
    EXPECT_TRUE(bmp.Modified());
}

} // namespace

namespace {

TEST(Size, RunawaySizesAreRefusedWithoutTouchingTheImage)
{
    TExtBitmap bmp(4, 4);
    EXPECT_THROW(bmp.SetSize(INT32_MAX, 2), EImageError);
    EXPECT_THROW(bmp.SetSize(100000, 100000), EImageError);
    EXPECT_EQ(bmp.Width(), 4);
    EXPECT_EQ(bmp.Height(), 4);
}

} // namespace

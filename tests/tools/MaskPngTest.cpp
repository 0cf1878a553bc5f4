#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "imaging/PNG_IO.h"
#include "product/composite/Mask256.h"

// The program reads the built-in mask with its own PNG reader into an image that already
// has its grey palette; the palette must survive and the size be the composite's.
TEST(MaskPng, LoadsIntoAGreyImageKeepingItsPalette)
{
    const auto bytes = Mask256Png();
    std::istringstream in(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    TExtBitmap mask(1, 1, TPixelFormat::pf8bit);
    mask.MakeGreyPalette();
    ASSERT_TRUE(LoadPNGMaskFromStream(mask, in, false));
    EXPECT_EQ(mask.Width(), 2816);
    EXPECT_EQ(mask.Height(), 3248);
    EXPECT_EQ(mask.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(mask.Palette()[200], (TRGBQuad{200, 200, 200, 0}));
    EXPECT_EQ(mask.ScanLine(1625)[1408], 255);
    EXPECT_EQ(mask.ScanLine(0)[0], 0);
}

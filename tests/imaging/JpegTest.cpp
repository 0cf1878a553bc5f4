#include <cstdlib>

#include "ImageSamples.h"
#include "TempDir.h"
#include "imaging/JPEG_IO.h"

namespace {

class JpegTest : public TempDirTest {};

// What the file itself says: component count and size, read with the file-format flag.
TExtBitmap loadAsFile(const std::string& p)
{
    TExtBitmap b;
    EXPECT_TRUE(LoadJPEG(&b, p, true, 0));
    return b;
}

std::string errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EWriteError& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("other: ") + e.what();
    }
    return "(nothing raised)";
}

} // namespace

TEST_F(JpegTest, GreyImageBecomesThreeChannelsAndComesBackGrey)
{
    const TExtBitmap grey = greyPattern(300, 200);
    ASSERT_TRUE(SaveJPEG(grey, path("g.jpg"), 99, false, "http://example.org/"));
    EXPECT_EQ(loadAsFile(path("g.jpg")).PixelFormat(), TPixelFormat::pf24bit);

    TExtBitmap back(1, 1, TPixelFormat::pf8bit);
    back.SetModified(false);
    ASSERT_TRUE(LoadJPEG(&back, path("g.jpg"), false, 0));
    EXPECT_TRUE(back.Modified());
    EXPECT_EQ(back.PixelFormat(), TPixelFormat::pf8bit);
    ASSERT_EQ(back.Width(), 300);
    ASSERT_EQ(back.Height(), 200);
    EXPECT_LE(maxDifference(grey, back), 2);
}

TEST_F(JpegTest, SingleChannelGreyOnRequest)
{
    ASSERT_TRUE(SaveJPEG(greyPattern(64, 64), path("g1.jpg"), 90, true, ""));
    EXPECT_EQ(loadAsFile(path("g1.jpg")).PixelFormat(), TPixelFormat::pf8bit);
    // The flag means nothing to a colour image.
    ASSERT_TRUE(SaveJPEG(colourPattern(64, 64), path("c1.jpg"), 90, true, ""));
    EXPECT_EQ(loadAsFile(path("c1.jpg")).PixelFormat(), TPixelFormat::pf24bit);
}

TEST_F(JpegTest, ColourKeepsItsChannelOrder)
{
    const TExtBitmap colour = colourPattern(120, 90);
    ASSERT_TRUE(SaveJPEG(colour, path("c.jpg"), 99, false, ""));
    TExtBitmap back(1, 1, TPixelFormat::pf24bit);
    ASSERT_TRUE(LoadJPEG(&back, path("c.jpg"), false, 0));
    // Chroma is subsampled, so compare away from the band edges.
    for (int y : {15, 45, 75})
        for (int x : {10, 60, 110})
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(back.ScanLine(y)[3 * x + i], colour.ScanLine(y)[3 * x + i], 6)
                    << y << "," << x << "," << i;
}

TEST_F(JpegTest, ColourFileIntoAnEightBitBitmapGivesGrey)
{
    ASSERT_TRUE(SaveJPEG(colourPattern(50, 40), path("c.jpg"), 95, false, ""));
    TExtBitmap back(7, 7, TPixelFormat::pf8bit);
    ASSERT_TRUE(LoadJPEG(&back, path("c.jpg"), false, 0));
    EXPECT_EQ(back.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(back.Width(), 50);
    EXPECT_EQ(back.Height(), 40);
    // Pure blue (top third) is darker than pure green of the same level (middle third).
    EXPECT_LT(back.ScanLine(2)[45], back.ScanLine(20)[45]);
}

// Row lengths that need padding to 4 bytes and those that do not must both survive.
class JpegWidthTest : public JpegTest, public ::testing::WithParamInterface<int> {};

TEST_P(JpegWidthTest, OddWidthsRoundTrip)
{
    const TExtBitmap grey = greyPattern(GetParam(), 33);
    ASSERT_TRUE(SaveJPEG(grey, path("w.jpg"), 99, false, ""));
    TExtBitmap back;
    ASSERT_TRUE(LoadJPEG(&back, path("w.jpg"), false, 0));
    ASSERT_EQ(back.Width(), GetParam());
    EXPECT_LE(maxDifference(grey, back), 2);
}

INSTANTIATE_TEST_SUITE_P(Widths, JpegWidthTest, ::testing::Values(1, 3, 1001, 1004, 1005));

struct ScaleCase {
    int width, height, scale, expectWidth, expectHeight;
};

class JpegScaleTest : public JpegTest, public ::testing::WithParamInterface<ScaleCase> {};

TEST_P(JpegScaleTest, SizesRoundUp)
{
    const auto& c = GetParam();
    EXPECT_EQ(JpegScaledSize(c.width, c.scale), c.expectWidth);
    EXPECT_EQ(JpegScaledSize(c.height, c.scale), c.expectHeight);
    ASSERT_TRUE(SaveJPEG(greyPattern(c.width, c.height), path("s.jpg"), 80, false, ""));
    TExtBitmap back;
    ASSERT_TRUE(LoadJPEG(&back, path("s.jpg"), false, c.scale));
    EXPECT_EQ(back.Width(), c.expectWidth);
    EXPECT_EQ(back.Height(), c.expectHeight);
}

INSTANTIATE_TEST_SUITE_P(Scales, JpegScaleTest,
                         ::testing::Values(ScaleCase{2816, 3248, 1, 1408, 1624},
                                           ScaleCase{2816, 3248, 3, 352, 406},
                                           ScaleCase{1001, 9, 3, 126, 2},
                                           ScaleCase{1001, 9, 2, 251, 3},
                                           ScaleCase{1001, 9, 1, 501, 5},
                                           ScaleCase{1001, 9, 0, 1001, 9}));

// The size is read from the file's first kilobytes; a header pushed beyond them by a long
// comment is still found.
TEST_F(JpegTest, SizeIsReadWhereverTheHeaderLies)
{
    for (const std::size_t comment : {std::size_t{0}, std::size_t{65533}}) {
        ASSERT_TRUE(SaveJPEG(greyPattern(48, 32), path("h.jpg"), 90, false, std::string(comment, 'c')));
        int width = 0, height = 0;
        ASSERT_TRUE(ReadJPEGSize(path("h.jpg"), width, height)) << comment;
        EXPECT_EQ(width, 48);
        EXPECT_EQ(height, 32);
    }
}

TEST_F(JpegTest, ScaledGreyIsTheAverageOfItsBlock)
{
    TExtBitmap grey(64, 64, TPixelFormat::pf8bit);
    grey.Fill(100);
    for (int y = 0; y < 32; ++y)
        std::fill_n(grey.ScanLine(y), 64, 200);
    ASSERT_TRUE(SaveJPEG(grey, path("h.jpg"), 99, false, ""));
    TExtBitmap back;
    ASSERT_TRUE(LoadJPEG(&back, path("h.jpg"), false, 3));
    EXPECT_NEAR(back.ScanLine(0)[0], 200, 2);
    EXPECT_NEAR(back.ScanLine(7)[7], 100, 2);
}

TEST_F(JpegTest, SaveFailures)
{
    TExtBitmap empty;
    EXPECT_FALSE(SaveJPEG(empty, path("e.jpg"), 99, false, ""));
    EXPECT_FALSE(std::filesystem::exists(path("e.jpg")));

    TExtBitmap wide(10, 10, TPixelFormat::pf32bit);
    EXPECT_EQ(errorOf([&] { SaveJPEG(wide, path("w.jpg"), 99, false, ""); }), "Error writing JPEG to file");
    EXPECT_EQ(errorOf([&] { SaveJPEG(greyPattern(8, 8), path("no/such/dir.jpg"), 99, false, ""); }),
              "Error writing JPEG to file");
    EXPECT_TRUE(listing().empty());
}

TEST_F(JpegTest, LoadRefusals)
{
    ASSERT_TRUE(SaveJPEG(greyPattern(16, 16), path("ok.jpg"), 90, false, ""));
    EXPECT_FALSE(LoadJPEG(nullptr, path("ok.jpg"), false, 0));
    TExtBitmap b(5, 5);
    EXPECT_FALSE(LoadJPEG(&b, path("missing.jpg"), false, 0));
    EXPECT_EQ(b.Width(), 5);
    TExtBitmap wide(5, 5, TPixelFormat::pf32bit);
    EXPECT_FALSE(LoadJPEG(&wide, path("ok.jpg"), false, 0));
}

struct BadJpeg {
    const char* name;
    std::function<std::string(std::string)> damage;
};

class JpegDamageTest : public JpegTest, public ::testing::WithParamInterface<BadJpeg> {};

TEST_P(JpegDamageTest, GivesFalse)
{
    ASSERT_TRUE(SaveJPEG(greyPattern(200, 150), path("ok.jpg"), 99, false, "comment"));
    writeFile(path("bad.jpg"), GetParam().damage(readFile(path("ok.jpg"))));
    TExtBitmap b(1, 1);
    EXPECT_FALSE(LoadJPEG(&b, path("bad.jpg"), false, 0));
    EXPECT_FALSE(LoadJPEG(&b, path("bad.jpg"), true, 3));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JpegDamageTest,
    ::testing::Values(
        BadJpeg{"Empty", [](std::string) { return std::string(); }},
        BadJpeg{"NotJpeg", [](std::string) { return std::string(5000, 'j'); }},
        BadJpeg{"HeaderOnly", [](std::string s) { return s.substr(0, 400); }},
        BadJpeg{"Truncated", [](std::string s) { return s.substr(0, s.size() / 2); }},
        BadJpeg{"NoEndMarker", [](std::string s) { return s.substr(0, s.size() - 2); }},
        BadJpeg{"HugeDeclaredSize",
                [](std::string s) {
                    // The SOF0 marker's height and width fields become 65500 x 65500.
                    const auto sof = s.find("\xFF\xC0");
                    for (int i : {5, 7}) {
                        s[sof + i] = '\xFF';
                        s[sof + i + 1] = '\xDC';
                    }
                    return s;
                }}),
    [](const auto& info) { return std::string(info.param.name); });

// --- other programs ---

TEST_F(JpegTest, CommentIsReadByRdjpgcom)
{
    if (!hasTool("rdjpgcom"))
        GTEST_SKIP() << "rdjpgcom not installed";
    ASSERT_TRUE(SaveJPEG(greyPattern(20, 20), path("c.jpg"), 99, false, "http://www.example.org/goes"));
    ASSERT_EQ(std::system(("rdjpgcom " + path("c.jpg") + " > " + path("c.txt")).c_str()), 0);
    EXPECT_EQ(readFile(path("c.txt")), "http://www.example.org/goes\n");
}

TEST_F(JpegTest, DjpegReadsWhatWeWriteAsWeDo)
{
    if (!hasTool("djpeg"))
        GTEST_SKIP() << "djpeg not installed";
    const TExtBitmap grey = greyPattern(333, 111);
    ASSERT_TRUE(SaveJPEG(grey, path("g.jpg"), 99, false, ""));
    ASSERT_EQ(std::system(("djpeg -grayscale -pnm " + path("g.jpg") + " > " + path("g.pgm")).c_str()), 0);
    const TExtBitmap theirs = readPnm(path("g.pgm"));
    TExtBitmap ours;
    ASSERT_TRUE(LoadJPEG(&ours, path("g.jpg"), false, 0));
    ASSERT_EQ(theirs.Width(), 333);
    ASSERT_EQ(theirs.Height(), 111);
    EXPECT_EQ(maxDifference(theirs, ours), 0);
    EXPECT_LE(maxDifference(theirs, grey), 2);

    // Full colour and the scaled decoding agree with djpeg too.
    ASSERT_EQ(std::system(("djpeg -scale 1/8 -pnm " + path("g.jpg") + " > " + path("g8.ppm")).c_str()), 0);
    const TExtBitmap theirs8 = readPnm(path("g8.ppm"));
    TExtBitmap ours8(1, 1, TPixelFormat::pf24bit);
    ASSERT_TRUE(LoadJPEG(&ours8, path("g.jpg"), false, 3));
    ASSERT_EQ(theirs8.Width(), ours8.Width());
    ASSERT_EQ(theirs8.Height(), ours8.Height());
    EXPECT_EQ(maxDifference(theirs8, ours8), 0);
}

TEST_F(JpegTest, ReadsWhatCjpegWrites)
{
    if (!hasTool("cjpeg") || !hasTool("djpeg"))
        GTEST_SKIP() << "cjpeg/djpeg not installed";
    writePgm(greyPattern(257, 129), path("in.pgm"));
    for (const std::string opts : {"-quality 75", "-quality 95 -progressive", "-quality 90 -optimize"}) {
        const std::string jpg = path("in.jpg");
        ASSERT_EQ(std::system(("cjpeg " + opts + " " + path("in.pgm") + " > " + jpg).c_str()), 0);
        ASSERT_EQ(std::system(("djpeg -pnm " + jpg + " > " + path("out.pgm")).c_str()), 0);
        TExtBitmap ours;
        ASSERT_TRUE(LoadJPEG(&ours, jpg, false, 0)) << opts;
        EXPECT_EQ(maxDifference(readPnm(path("out.pgm")), ours), 0) << opts;
    }
}

#include <png.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

#include "ImageSamples.h"
#include "TempDir.h"
#include "imaging/PNG_IO.h"
#include "imaging/vrnPNGImage.h"

namespace {

struct Chunk {
    std::string type;
    std::string data;
};

std::uint32_t be32(const std::string& s, std::size_t at)
{
    return (std::uint32_t(std::uint8_t(s[at])) << 24) | (std::uint32_t(std::uint8_t(s[at + 1])) << 16) |
           (std::uint32_t(std::uint8_t(s[at + 2])) << 8) | std::uint32_t(std::uint8_t(s[at + 3]));
}

std::string putBe32(std::uint32_t v)
{
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::uint32_t crc32Of(const std::string& bytes)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

std::vector<Chunk> chunksOf(const std::string& png)
{
    std::vector<Chunk> out;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t len = be32(png, at);
        out.push_back({png.substr(at + 4, 4), png.substr(at + 8, len)});
        at += 12 + len;
    }
    return out;
}

std::string chunkBytes(const std::string& type, const std::string& data)
{
    return putBe32(static_cast<std::uint32_t>(data.size())) + type + data + putBe32(crc32Of(type + data));
}

// Inserts a chunk right after IHDR (8 signature bytes + 25 bytes of IHDR).
std::string withChunk(const std::string& png, const std::string& type, const std::string& data)
{
    return png.substr(0, 33) + chunkBytes(type, data) + png.substr(33);
}

std::string encode(const TExtBitmap& b, int interlace = 0)
{
    TPngImage png;
    png.AssignFromBitmap(b);
    png.Interlace = interlace;
    std::ostringstream out;
    png.SaveToStream(out);
    return out.str();
}

// Files of kinds our writer does not make, through libpng's simplified interface.
std::string encodeSimple(const std::vector<std::uint8_t>& pixels, int w, int h, png_uint_32 format)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = format;
    png_alloc_size_t size = 0;
    EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr));
    std::string out(size, '\0');
    EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr));
    out.resize(size);
    return out;
}

template <class F>
std::string messageOf(F f)
{
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(nothing raised)";
}

TExtBitmap decode(const std::string& bytes, bool forceColor = false)
{
    std::istringstream in(bytes);
    TExtBitmap b(1, 1);
    b.MakeGreyPalette();
    LoadPNGMaskFromStream(b, in, forceColor);
    return b;
}

class PngTest : public TempDirTest {};

} // namespace

TEST_F(PngTest, GreyPaletteWritesGreyWithoutPlte)
{
    const auto chunks = chunksOf(encode(greyPattern(40, 30)));
    ASSERT_EQ(chunks.front().type, "IHDR");
    EXPECT_EQ(chunks.front().data[8], 8);  // bit depth
    EXPECT_EQ(chunks.front().data[9], 0);  // colour type grey
    for (const auto& c : chunks)
        EXPECT_NE(c.type, "PLTE");
}

TEST_F(PngTest, AnyOtherPaletteWritesAPaletteImage)
{
    TExtBitmap b = greyPattern(40, 30);
    b.Palette()[5] = TRGBQuad{6, 5, 5, 0};  // red 5, green 5, blue 6
    const auto chunks = chunksOf(encode(b));
    EXPECT_EQ(chunks.front().data[9], 3);
    const auto plte = std::find_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.type == "PLTE"; });
    ASSERT_NE(plte, chunks.end());
    ASSERT_EQ(plte->data.size(), 768u);
    EXPECT_EQ(plte->data.substr(15, 3), std::string("\x05\x05\x06", 3));

    // Read back without colour forcing: indices and the palette itself.
    TPngImage png;
    png.ForceColor = false;
    std::istringstream in(encode(b));
    png.LoadFromStream(in);
    TExtBitmap back;
    png.AssignToBitmap(back, 0, 0);
    EXPECT_EQ(maxDifference(b, back), 0);
    EXPECT_EQ(back.Palette()[5], (TRGBQuad{6, 5, 5, 0}));
    EXPECT_EQ(back.Palette()[200], (TRGBQuad{200, 200, 200, 0}));
}

TEST_F(PngTest, TextChunksInOrderBlankValuesLeftOut)
{
    ASSERT_TRUE(SavePNGWithText(greyPattern(8, 8), path("t.png"), "  a ", "GOES-15 image from netCDF", "   ",
                                "2013-05-30 12:00"));
    std::vector<std::string> texts;
    std::vector<std::string> order;
    for (const auto& c : chunksOf(readFile(path("t.png")))) {
        order.push_back(c.type);
        if (c.type == "tEXt")
            texts.push_back(c.data);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{std::string("Author\0  a ", 11),
                                               std::string("Description\0GOES-15 image from netCDF", 37),
                                               std::string("Title\0" "2013-05-30 12:00", 22)}));
    // The time chunk follows the image data.
    const auto idat = std::find(order.begin(), order.end(), "IDAT");
    const auto time = std::find(order.begin(), order.end(), "tIME");
    ASSERT_NE(time, order.end());
    EXPECT_GT(time, idat);
    EXPECT_EQ(order.back(), "IEND");
}

TEST_F(PngTest, ReaderFillsTextsAndTime)
{
    ASSERT_TRUE(SavePNGWithText(greyPattern(8, 8), path("t.png"), "me", "desc", "soft", "title"));
    TPngImage png;
    png.LoadFromFile(path("t.png"));
    EXPECT_EQ(png.TextChk, (std::vector<std::string>{"Author=me", "Description=desc", "Software=soft", "Title=title"}));
    EXPECT_EQ(png.Author, "me");
    EXPECT_EQ(png.Description, "desc");
    EXPECT_EQ(png.Title, "title");
    EXPECT_EQ(png.Software, "");
    const double now = static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0;
    EXPECT_NEAR(png.LastModified, now, 5.0 / 86400);
}

struct TextCase {
    const char* name;
    std::string title;     // as the program holds it, UTF-8
    std::string chunkType; // what the file must carry
    std::string chunkData;
};

class PngTextTest : public TempDirTest, public ::testing::WithParamInterface<TextCase> {};

// tEXt holds Latin-1 only; anything beyond it goes into an international text chunk. Either
// way the reader gives back the program's own text.
TEST_P(PngTextTest, WrittenInTheChunkItsCharactersNeedAndReadBack)
{
    const auto& c = GetParam();
    ASSERT_TRUE(SavePNGWithText(greyPattern(8, 8), path("t.png"), "", "", "", c.title));
    std::vector<Chunk> texts;
    for (const auto& chunk : chunksOf(readFile(path("t.png"))))
        if (chunk.type == "tEXt" || chunk.type == "iTXt" || chunk.type == "zTXt")
            texts.push_back(chunk);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].type, c.chunkType);
    EXPECT_EQ(texts[0].data, c.chunkData);
    TPngImage png;
    png.LoadFromFile(path("t.png"));
    EXPECT_EQ(png.Title, c.title);
    EXPECT_EQ(png.TextChk, std::vector<std::string>{"Title=" + c.title});
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PngTextTest,
    ::testing::Values(TextCase{"ascii", "2013-05-30 12:00", "tEXt", std::string("Title\0" "2013-05-30 12:00", 22)},
                      TextCase{"latin1", "10.7 \xC2\xB5m f\xC3\xBCr", "tEXt", std::string("Title\0" "10.7 \xB5m f\xFCr", 17)},
                      TextCase{"beyond_latin1", "\xCE\xBB 10.7 \xC2\xB5m", "iTXt",
                               std::string("Title\0\0\0\0\0" "\xCE\xBB 10.7 \xC2\xB5m", 21)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PngTest, InternationalTextIsRead)
{
    const std::string title = "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1";
    const std::string itxt = std::string("Title\0\0\0el\0\0", 12) + title;
    std::istringstream in(withChunk(encode(greyPattern(8, 8)), "iTXt", itxt));
    TPngImage png;
    png.LoadFromStream(in);
    EXPECT_EQ(png.Title, title);
    EXPECT_EQ(png.TextChk, std::vector<std::string>{"Title=" + title});
}

TEST_F(PngTest, GreyAndPaletteFilesDrawOntoAnEightBitBitmap)
{
    TExtBitmap paletted = greyPattern(20, 10);
    paletted.Palette()[5] = TRGBQuad{6, 5, 5, 0};
    for (const TExtBitmap& source : {greyPattern(20, 10), paletted}) {
        TPngGraphic graphic;
        std::istringstream in(encode(source));
        graphic.LoadFromStream(in);
        TExtBitmap target(20, 10, TPixelFormat::pf8bit);
        target.MakeGreyPalette();
        graphic.Draw(target.Canvas());
        EXPECT_EQ(maxDifference(greyPattern(20, 10), target), 0);
    }
}

TEST_F(PngTest, GreyRoundTripKeepsTheBitmapPalette)
{
    const TExtBitmap grey = greyPattern(257, 19);
    const TExtBitmap back = decode(encode(grey));
    EXPECT_EQ(back.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(back.Width(), 257);
    EXPECT_EQ(maxDifference(grey, back), 0);
    EXPECT_EQ(back.Palette()[200], (TRGBQuad{200, 200, 200, 0}));
}

TEST_F(PngTest, ColourRoundTripAndForcedColour)
{
    const TExtBitmap colour = colourPattern(33, 21);
    const TExtBitmap back = decode(encode(colour));
    EXPECT_EQ(back.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(maxDifference(colour, back), 0);

    const TExtBitmap forced = decode(encode(greyPattern(9, 9)), true);
    ASSERT_EQ(forced.PixelFormat(), TPixelFormat::pf24bit);
    const std::uint8_t* p = forced.ScanLine(3) + 3 * 4;
    EXPECT_EQ(p[0], greyPattern(9, 9).ScanLine(3)[4]);
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[1], p[2]);
}

TEST_F(PngTest, InterlacedFilesRead)
{
    const TExtBitmap grey = greyPattern(50, 41);
    TPngImage png;
    std::istringstream in(encode(grey, 1));
    png.ForceColor = false;
    png.LoadFromStream(in);
    EXPECT_EQ(png.NumberOfPasses, 7);
    TExtBitmap back;
    png.AssignToBitmap(back, 0, 0);
    EXPECT_EQ(maxDifference(grey, back), 0);
}

TEST_F(PngTest, AlphaBlendsOverWhatTheBitmapHeld)
{
    // One RGBA pixel row: opaque red, half-transparent white, fully transparent blue.
    const std::vector<std::uint8_t> rgba = {255, 0, 0, 255, 255, 255, 255, 128, 0, 0, 255, 0};
    std::istringstream in(encodeSimple(rgba, 3, 1, PNG_FORMAT_RGBA));
    TPngImage png;
    png.LoadFromStream(in);
    TExtBitmap b(3, 1, TPixelFormat::pf24bit);
    for (int i = 0; i < 9; ++i)
        b.ScanLine(0)[i] = 100;
    png.AssignToBitmap(b, 0, 0);
    const std::uint8_t* p = b.ScanLine(0);
    EXPECT_EQ(std::vector<int>(p, p + 3), (std::vector<int>{0, 0, 255}));
    // stored alpha 128 -> inverted 127: (127 * 100 + 128 * 255) / 255
    EXPECT_EQ(p[3], (127 * 100 + 128 * 255) / 255);
    EXPECT_EQ(std::vector<int>(p + 6, p + 9), (std::vector<int>{100, 100, 100}));
}

TEST_F(PngTest, GreyAlphaAndSixteenBitFilesLoadAsEightBit)
{
    const std::vector<std::uint8_t> ga = {10, 255, 200, 0};
    std::istringstream in(encodeSimple(ga, 2, 1, PNG_FORMAT_GA));
    TPngImage png;
    png.ForceColor = false;
    png.LoadFromStream(in);
    TExtBitmap b(2, 1, TPixelFormat::pf8bit);
    b.Fill(50);
    png.AssignToBitmap(b, 0, 0);
    EXPECT_EQ(b.ScanLine(0)[0], 10);
    EXPECT_EQ(b.ScanLine(0)[1], 50);

    std::vector<std::uint8_t> sixteen(2 * 4);
    const std::uint16_t values[4] = {0, 0x8080, 0xFFFF, 0x1234};
    std::memcpy(sixteen.data(), values, sizeof values);
    const std::string file = encodeSimple(sixteen, 4, 1, PNG_FORMAT_LINEAR_Y);
    TPngImage deep;
    deep.ForceColor = false;
    std::istringstream in2(file);
    deep.LoadFromStream(in2);
    EXPECT_EQ(deep.BitDepth, 16);
    TExtBitmap d;
    deep.AssignToBitmap(d, 0, 0);
    ASSERT_EQ(d.Width(), 4);
    EXPECT_EQ(d.ScanLine(0)[0], 0);
    EXPECT_EQ(d.ScanLine(0)[2], 255);
}

TEST_F(PngTest, DrawsAtAnOffsetGrowingTheBitmap)
{
    TPngImage png;
    png.AssignFromBitmap(greyPattern(10, 10));
    TExtBitmap b(5, 5, TPixelFormat::pf8bit);
    b.Fill(7);
    png.AssignToBitmap(b, 3, 4);
    EXPECT_EQ(b.Width(), 13);
    EXPECT_EQ(b.Height(), 14);
    EXPECT_EQ(b.ScanLine(0)[0], 7);
    EXPECT_EQ(b.ScanLine(4 + 9)[3 + 9], greyPattern(10, 10).ScanLine(9)[9]);
}

TEST_F(PngTest, MaskLikeFileWithGammaKeepsPaletteAndValues)
{
    TExtBitmap mask(2816, 3248, TPixelFormat::pf8bit);
    mask.MakeGreyPalette();
    for (int y = 1000; y < 2000; ++y)
        std::fill_n(mask.ScanLine(y) + 500, 1500, 255);
    // gAMA 0.45455 (45455 / 100000) as the mask resource carries it.
    const std::string file = withChunk(encode(mask), "gAMA", putBe32(45455));
    TExtBitmap image(1, 1, TPixelFormat::pf8bit);
    image.MakeGreyPalette();
    std::istringstream in(file);
    ASSERT_TRUE(LoadPNGMaskFromStream(image, in, false));
    EXPECT_EQ(image.Width(), 2816);
    EXPECT_EQ(image.Height(), 3248);
    EXPECT_EQ(image.Palette()[200], (TRGBQuad{200, 200, 200, 0}));
    EXPECT_EQ(maxDifference(mask, image), 0);
}

TEST_F(PngTest, Messages)
{
    std::istringstream notPng(std::string("\x89PNX", 4) + std::string(100, '\0'));
    TPngImage png;
    EXPECT_EQ(messageOf([&] { png.LoadFromStream(notPng); }), "Is not a valid PNG !");

    const std::string big = withChunk(encode(greyPattern(8, 8)), "tEXt", "Comment" + std::string(1, '\0') +
                                                                         std::string(9000 - 8, 'x'));
    std::istringstream in(big);
    EXPECT_EQ(messageOf([&] { png.LoadFromStream(in); }), "Buffer override: needed 9000bytes for buffer !");

    TPngImage writer;
    writer.AssignFromBitmap(greyPattern(8, 8));
    writer.Title = std::string(9000, 't');
    std::ostringstream out;
    EXPECT_EQ(messageOf([&] { writer.SaveToStream(out); }), "Buffer override: needed 9000");

    TExtBitmap wide(4, 4, TPixelFormat::pf32bit);
    EXPECT_EQ(messageOf([&] { writer.AssignFromBitmap(wide); }), "Unsupported bitmap format");
    std::istringstream cut(encode(greyPattern(8, 8)).substr(0, 20));
    EXPECT_THROW(png.LoadFromStream(cut), EReadError);
}

TEST_F(PngTest, GraphicSharesItsImage)
{
    TPngGraphic a;
    EXPECT_FALSE(a.GetEmpty());
    a.Image()->AssignFromBitmap(greyPattern(6, 4));
    TPngGraphic b;
    b.Assign(a);
    EXPECT_EQ(a.UseCount(), 2);
    EXPECT_EQ(b.GetWidth(), 6);
    EXPECT_EQ(b.GetHeight(), 4);
    EXPECT_EQ(messageOf([&] { b.LoadFromClipboardFormat(); }), "Cannot load a TPngGraphic from the Clipboard");
    EXPECT_EQ(messageOf([&] { b.SaveToClipboardFormat(); }), "Cannot save a TPngGraphic to the Clipboard");
    EXPECT_EQ(messageOf([&] { b.SetHeight(1); }), "Cannot set height on a TPngGraphic");
    EXPECT_EQ(messageOf([&] { b.SetWidth(1); }), "Cannot set width on a TPngGraphic");
    {
        TPngGraphic c;
        c.Assign(b);
        EXPECT_EQ(a.UseCount(), 3);
    }
    EXPECT_EQ(a.UseCount(), 2);
}

TEST_F(PngTest, LoadPNGGraphicNeverRaises)
{
    TExtBitmap b(3, 3);
    EXPECT_FALSE(LoadPNGGraphic(&b, path("missing.png"), false, false));
    writeFile(path("junk.png"), std::string(300, 'j'));
    EXPECT_FALSE(LoadPNGGraphic(&b, path("junk.png"), false, false));
    EXPECT_FALSE(LoadPNGGraphic(nullptr, path("junk.png"), false, false));

    ASSERT_TRUE(SavePNGWithText(greyPattern(20, 10), path("ok.png"), "", "", "", ""));
    TExtBitmap big(30, 30);
    EXPECT_TRUE(LoadPNGGraphic(&big, path("ok.png"), false, true));
    EXPECT_EQ(big.Width(), 30);
    EXPECT_TRUE(LoadPNGGraphic(&big, path("ok.png"), false, false));
    EXPECT_EQ(big.Width(), 20);
    EXPECT_EQ(big.Height(), 10);
}

TEST_F(PngTest, FailedSaveLeavesNothing)
{
    EXPECT_THROW(SavePNGWithText(greyPattern(4, 4), path("nodir/x.png"), "", "", "", ""), std::exception);
    writeFile(path("x.png"), "older");
    TExtBitmap wide(4, 4, TPixelFormat::pf32bit);
    EXPECT_THROW(SavePNGWithText(wide, path("x.png"), "", "", "", ""), EInvalidGraphicOperation);
    EXPECT_EQ(readFile(path("x.png")), "older");
    EXPECT_EQ(listing(), std::vector<std::string>{"x.png"});
}

struct BadPng {
    const char* name;
    std::function<std::string(std::string)> damage;
};

class PngDamageTest : public PngTest, public ::testing::WithParamInterface<BadPng> {};

TEST_P(PngDamageTest, RaisesAndLoadGraphicGivesFalse)
{
    const std::string good = encode(greyPattern(300, 200));
    const std::string bad = GetParam().damage(good);
    std::istringstream in(bad);
    TPngImage png;
    EXPECT_THROW(png.LoadFromStream(in), std::exception);
    writeFile(path("bad.png"), bad);
    TExtBitmap b(2, 2);
    EXPECT_FALSE(LoadPNGGraphic(&b, path("bad.png"), true, false));
}

namespace {

std::string withIhdr(std::string s, std::uint32_t w, std::uint32_t h)
{
    std::string ihdr = s.substr(12, 17);
    ihdr.replace(4, 4, putBe32(w));
    ihdr.replace(8, 4, putBe32(h));
    s.replace(12, 17, ihdr);
    s.replace(29, 4, putBe32(crc32Of(ihdr)));
    return s;
}

std::string flipped(const std::string& s, std::size_t at)
{
    std::string out = s.substr(0, at);
    out += static_cast<char>(s[at] ^ 1);
    return out + s.substr(at + 1);
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    Cases, PngDamageTest,
    ::testing::Values(
        BadPng{"SignatureOnly", [](std::string s) { return s.substr(0, 8); }},
        BadPng{"TruncatedInData", [](std::string s) { return s.substr(0, s.size() / 2); }},
        BadPng{"NoEnd", [](std::string s) { return s.substr(0, s.size() - 12); }},
        BadPng{"HeaderCrc", [](std::string s) { return flipped(s, 30); }},
        BadPng{"DataCrc", [](std::string s) { return flipped(s, s.find("IDAT") + 20); }},
        BadPng{"HugeSize", [](std::string s) { return withIhdr(s, 1000000, 1000000); }},
        BadPng{"ZeroWidth", [](std::string s) { return withIhdr(s, 0, 200); }},
        BadPng{"TallerThanData", [](std::string s) { return withIhdr(s, 300, 20000); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PngTest, PngcheckAcceptsWhatWeWrite)
{
    if (!hasTool("pngcheck"))
        GTEST_SKIP() << "pngcheck not installed";
    TExtBitmap pal = greyPattern(100, 50);
    pal.Palette()[3] = TRGBQuad{1, 2, 3, 0};
    ASSERT_TRUE(SavePNGWithText(greyPattern(2816, 40), path("g.png"), "http://example.org", "GOES-15 image from netCDF",
                                "Quillon's Orvanta", "2013-05-30 12:00"));
    ASSERT_TRUE(SavePNGWithText(colourPattern(99, 51), path("c.png"), "a", "b", "c", "d"));
    ASSERT_TRUE(SavePNGWithText(pal, path("p.png"), "a", "", "", ""));
    for (const char* f : {"g.png", "c.png", "p.png"})
        EXPECT_EQ(std::system(("pngcheck -q " + path(f) + " >/dev/null").c_str()), 0) << f;
    ASSERT_EQ(std::system(("pngcheck -t " + path("g.png") + " > " + path("out.txt")).c_str()), 0);
    const std::string report = readFile(path("out.txt"));
    EXPECT_NE(report.find("Software:\n    Quillon's Orvanta"), std::string::npos) << report;
}

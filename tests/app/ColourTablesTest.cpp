#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "product/outputs/ColourTables.h"
#include "product/outputs/ImageLegend.h"
#include "imaging/PNG_IO.h"
#include "mapping/CompositeLayout.h"
#include "netcdf/Sector.h"
#include "support/TempXdg.h"
#include "netcdf/RadianceToModeAlookup.h"

namespace {

// Runs a shell command; its exit status, with what it printed on both streams in output.
int Shell(const std::string& command, std::string& output)
{
    output.clear();
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
        output.append(buffer, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct TableTextCase {
    const char* name;
    const char* text;
    const char* why;  // empty: parses
};

class TableTextTest : public ::testing::TestWithParam<TableTextCase> {};

TEST_P(TableTextTest, RefusesWithTheLineAndItsReason)
{
    TColourTable table;
    EXPECT_EQ(ParseColourTable(GetParam().text, table), GetParam().why);
}

INSTANTIATE_TEST_SUITE_P(
    ColourTables, TableTextTest,
    ::testing::Values(
        TableTextCase{"SlashesAndSpaces", "# c\n200 0/0/0 250 255/255/255\n250 1 2 3 300 4 5 6 # warm\r\nB 9/9/9\n", ""},
        // As GMT writes them: names in any case, decimals, annotation letters, labels, hex.
        TableTextCase{"GmtsOwnLayout",
                      "163\twhite\t183\tWhite\tL\n183 0/31.875/255 243 GREY U ;cold\n243 #BEBEBE 330 black B\n"
                      "B white\nF 0\nN 128\n",
                      ""},
        TableTextCase{"HsvTriples", "# COLOR_MODEL = hsv\n163 300 1 1 330 0 1 1\nN 0-0-0.50196\n", ""},
        TableTextCase{"CmykQuadruples", "# COLOR_MODEL = +CMYK\n163 0 100 100 0 330 0 0 0 100\n", ""},
        TableTextCase{"AComponentAbove255", "200 0/0/0 250 256/0/0\n", "line 1: \"256/0/0\" is not a colour"},
        TableTextCase{"AHueAbove360", "200 400-1-1 250 red\n", "line 1: \"400-1-1\" is not a colour"},
        TableTextCase{"AnUnknownName", "200 bleu 250 red\n", "line 1: \"bleu\" is not a colour"},
        TableTextCase{"AnUnknownModel", "# COLOR_MODEL = lab\n",
                      "line 1: unknown colour model \"lab\" (RGB, HSV or CMYK)"},
        TableTextCase{"TooFewFields", "\n200 0/0/0 250\n", "line 2: expected \"kelvin colour kelvin colour\""},
        TableTextCase{"NotANumber", "2x0 0/0/0 250 0/0/0\n", "line 1: \"2x0\" is not a temperature"},
        TableTextCase{"AMasterTable", "-1 blue 0 white L\n0 white 1 red B\n",
                      "line 1: the table runs from -1 to 1, not over the greys' 163 to 330 K; make a kelvin table "
                      "with \"gmt makecpt -C<table> -T163/330\""},
        TableTextCase{"Descending", "250 0/0/0 200 0/0/0\n", "line 1: the range must run from a lower to a higher temperature above 0 K"},
        TableTextCase{"Overlapping", "200 0/0/0 250 0/0/0\n240 0/0/0 260 0/0/0\n", "line 2: the range overlaps the one before it"},
        TableTextCase{"BadBackground", "200 0/0/0 250 0/0/0\nF 1/2\n", "line 2: \"1/2\" is not a colour"},
        TableTextCase{"NoBackground", "200 0/0/0 250 0/0/0\nB\n", "line 2: expected \"B colour\""},
        TableTextCase{"Empty", "# nothing\n", "line 1: no temperature range in the table"}),
    [](const auto& info) { return std::string(info.param.name); });

// A grey value becomes the colour of the temperature the viewer's readout gives it.
struct KnownGreyCase {
    std::uint8_t grey;
    TColor colour;
};

class KnownGreyTest : public ::testing::TestWithParam<KnownGreyCase> {};

TEST_P(KnownGreyTest, HasTheEnhancedTablesColour)
{
    TColourTable table;
    ASSERT_EQ(LoadColourTable(ColourTablePath("enhanced-ir"), table), "");
    EXPECT_EQ(table.GreyPalette()[GetParam().grey], GetParam().colour) << CountToKelvin(GetParam().grey) << " K";
}

INSTANTIATE_TEST_SUITE_P(ColourTables, KnownGreyTest,
                         ::testing::Values(KnownGreyCase{0, 0x000000},      // 330 K: warm, black
                                           KnownGreyCase{255, 0xFFFFFF},    // 163 K: coldest, white
                                           KnownGreyCase{200, 0x46FFFF},    // 218 K: halfway through the yellows
                                           KnownGreyCase{185, 0xAA0000},    // 233 K: the blues' first, not green
                                           KnownGreyCase{176, 0xF7AB00}));  // 242 K: near the blues' cyan end

// Tables GMT writes (Debian's gmt), read here and painted grey by grey as GMT paints the same
// temperatures: every form of colour and colour model GMT writes, and the range a temperature
// on a boundary falls in (the warmer one: a range holds its lower end, not its upper one).
struct GmtTableCase {
    const char* name;
    const char* table; // a shell command that prints it
};

class GmtTableTest : public ::testing::TestWithParam<GmtTableCase> {};

TEST_P(GmtTableTest, IsReadAndEveryGreyHasGmtsColour)
{
    std::string out;
    if (Shell("command -v gmt", out) != 0)
        GTEST_SKIP() << "gmt is not installed (Debian package gmt)";
    TTempXdg tmp;
    const std::string dir = tmp.Dir("gmt");
    ASSERT_EQ(Shell("cd '" + dir + "' && " + GetParam().table + " > table.cpt", out), 0) << out;
    TColourTable table;
    ASSERT_EQ(LoadColourTable(dir + "table.cpt", table), "") << TTempXdg::ReadText(dir + "table.cpt");
    const std::array<TColor, 256> palette = table.GreyPalette();

    // GMT's colours: a grid of one node per grey, at x = grey, holding its temperature.
    std::string nodes;
    for (int g = 0; g < 256; ++g)
        nodes += std::to_string(g) + ".5 0.5 " + std::to_string(CountToKelvin(static_cast<std::uint8_t>(g))) + "\n";
    TTempXdg::WriteText(dir + "greys.xyz", nodes);
    const std::string paint = "cd '" + dir + "' && gmt xyz2grd greys.xyz -R0/256/0/1 -I1 -r -Ggreys.nc && " +
                              "gmt grdimage greys.nc -JX25.6c/1c -Ctable.cpt -Agmt.png";
    ASSERT_EQ(Shell(paint, out), 0) << out;
    TExtBitmap gmt;
    ASSERT_TRUE(LoadPNGGraphic(&gmt, dir + "gmt.png", true, false));
    ASSERT_EQ(gmt.Width(), 256);
    // A half rounds away from zero here and to even in GMT: one step apart at the most.
    std::string differ;
    for (int g = 0; g < 256; ++g) {
        const std::uint8_t* p = gmt.ScanLine(0) + g * 3;
        const TColor expected = p[2] | p[1] << 8 | p[0] << 16;
        const TColor got = palette[static_cast<std::size_t>(g)];
        const auto step = [&](int shift) { return std::abs(int(got >> shift & 0xFF) - int(expected >> shift & 0xFF)); };
        char line[96];
        if (step(0) > 1 || step(8) > 1 || step(16) > 1)
            differ += (std::snprintf(line, sizeof line, "grey %d (%g K): %06X, GMT %06X\n", g,
                                     CountToKelvin(static_cast<std::uint8_t>(g)), got, expected),
                       line);
    }
    EXPECT_EQ(differ, "") << TTempXdg::ReadText(dir + "table.cpt");
}

INSTANTIATE_TEST_SUITE_P(
    ColourTables, GmtTableTest,
    ::testing::Values(
        GmtTableCase{"Jet", "gmt makecpt -Cjet -T163/330"}, GmtTableCase{"Rainbow", "gmt makecpt -Crainbow -T163/330"},
        GmtTableCase{"NoGreen", "gmt makecpt -Cno_green -T163/330"},
        GmtTableCase{"Seis", "gmt makecpt -Cseis -T163/330"}, GmtTableCase{"Gray", "gmt makecpt -Cgray -T163/330"},
        GmtTableCase{"SeisInSteps", "gmt makecpt -Cseis -T163/330/25"},
        GmtTableCase{"RainbowInSteps", "gmt makecpt -Crainbow -T163/330/20 -Z"},
        GmtTableCase{"JetAsHsv", "gmt makecpt -Cjet -T163/330 -Fh"},
        GmtTableCase{"JetAsCmyk", "gmt makecpt -Cjet -T163/330 -Fc"},
        GmtTableCase{"EnhancedIrAsGmtWritesIt", "gmt makecpt -C" ORVANTA_SOURCE_DIR "/share/colour/enhanced-ir.cpt"},
        GmtTableCase{"ShippedEnhancedIr", "cat " ORVANTA_SOURCE_DIR "/share/colour/enhanced-ir.cpt"},
        GmtTableCase{"ShippedRainbow", "cat " ORVANTA_SOURCE_DIR "/share/colour/rainbow.cpt"},
        GmtTableCase{"ShippedWaterVapour", "cat " ORVANTA_SOURCE_DIR "/share/colour/water-vapour.cpt"},
        GmtTableCase{"ByHand",
                     "printf '# COLOR_MODEL = HSV\\n163 200 0.5 1 190 240 1 0.5 ; cold\\n"
                     "190 #7F7F7F 242 90-1-0.5 U\\n242 0/127/255 300 gray40\\n300 Navy 330 0/50/100/0 B\\n'"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ColourTables, EveryShippedTableParsesAndIsFound)
{
    const std::vector<std::string> names = ColourTableNames();
    EXPECT_EQ(names, (std::vector<std::string>{"enhanced-ir", "rainbow", "water-vapour"}));
    for (const std::string& name : names) {
        TColourTable table;
        EXPECT_EQ(LoadColourTable(ColourTablePath(name), table), "") << name;
        EXPECT_EQ(table.Name, name);
    }
    TColourTable table;
    EXPECT_NE(LoadColourTable(ColourTablePath("no-such-table"), table).find("no-such-table.cpt: no such file"),
              std::string::npos);
}

TEST(ColourTables, ASettingByBand)
{
    EXPECT_EQ(ColourTableForBand("enhanced-ir", "4"), "enhanced-ir");
    EXPECT_EQ(ColourTableForBand(" 4=enhanced-ir, 3 = water-vapour", "3"), "water-vapour");
    EXPECT_EQ(ColourTableForBand("4=enhanced-ir,3=water-vapour", "6"), "");
    EXPECT_EQ(ColourImageName("/i/201305301200-g10-ir.jpg"), "/i/201305301200-g10-ir-col.jpg");
    EXPECT_TRUE(IsColourImageName("/i/201305301200-g10-ir-col.png"));
    EXPECT_FALSE(IsColourImageName("/i/201305301200-g10-ir.png"));
}

TEST(ImageLegend, TextNamesSatelliteTimeSectorBandAndWavelength)
{
    EXPECT_EQ(LegendText(*TryEncodeDate(2019, 6, 21) + *TryEncodeTime(18, 30, 0, 0), SectorFullDisk, 3),
              "GOES-15  2019-06-21 18:30 UTC  FD band 4  10.7 µm");
    EXPECT_EQ(LegendText(*TryEncodeDate(2019, 6, 21) + *TryEncodeTime(18, 0, 0, 0), SectorNorthern, 1),
              "GOES-15  2019-06-21 18:00 UTC  NH band 2  3.9 µm");
}

// The legend reads back through OCR (Debian's tesseract-ocr) at the full size and reduced
// as a page shows it, with and without the colour bar above it.
struct LegendOcrCase {
    const char* name;
    int reduction;
    bool colour;
};

class LegendOcrTest : public ::testing::TestWithParam<LegendOcrCase> {};

TEST_P(LegendOcrTest, GivesBackTimeAndBand)
{
    TExtBitmap image(CompositeWidth, CompositeHeight);
    image.MakeGreyPalette();
    image.Fill(90);
    TColourTable table;
    ASSERT_EQ(LoadColourTable(ColourTablePath("enhanced-ir"), table), "");
    if (GetParam().colour) image = ColouredImage(image, table, nullptr);
    const std::string text = LegendText(*TryEncodeDate(2019, 6, 21) + *TryEncodeTime(18, 30, 0, 0), SectorFullDisk, 3);
    ASSERT_EQ(DrawLegend(image, text, GetParam().colour ? &table : nullptr), "");
    const int r = GetParam().reduction;
    image.Interpolate(image.Width() / r, image.Height() / r);
    // The bottom eighth: the legend, and the colour bar's numbers, which OCR reads as well.
    image.Crop(0, image.Height() - image.Height() / 8, image.Width(), image.Height() / 8);
    TTempXdg tmp;
    const std::string png = tmp.Root() + "/legend.png";
    ASSERT_TRUE(SavePNGWithText(image, png, "", "", "", ""));
    std::string read;
    Shell("tesseract " + png + " - --psm 6", read);
    EXPECT_NE(read.find("2019-06-21 18:30"), std::string::npos) << read;
    EXPECT_NE(read.find("band 4"), std::string::npos) << read;
}

INSTANTIATE_TEST_SUITE_P(ImageLegend, LegendOcrTest,
                         ::testing::Values(LegendOcrCase{"FullSize", 1, false}, LegendOcrCase{"QuarterSize", 4, false},
                                           LegendOcrCase{"ColourQuarterSize", 4, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "app/core/ColourTables.h"
#include "app/core/ImageLegend.h"
#include "imaging/PNG_IO.h"
#include "mapping/CompositeLayout.h"
#include "netcdf/SectorCode.h"
#include "support/TempXdg.h"
#include "netcdf/RadianceToModeAlookup.h"

namespace {

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
        TableTextCase{"AComponentAbove255", "200 0/0/0 250 256/0/0\n", "line 1: expected \"kelvin r/g/b kelvin r/g/b\""},
        TableTextCase{"TooFewFields", "\n200 0/0/0 250\n", "line 2: expected \"kelvin r/g/b kelvin r/g/b\""},
        TableTextCase{"NotANumber", "2x0 0/0/0 250 0/0/0\n", "line 1: expected \"kelvin r/g/b kelvin r/g/b\""},
        TableTextCase{"Descending", "250 0/0/0 200 0/0/0\n", "line 1: the range must run from a lower to a higher temperature above 0 K"},
        TableTextCase{"Overlapping", "200 0/0/0 250 0/0/0\n240 0/0/0 260 0/0/0\n", "line 2: the range overlaps the one before it"},
        TableTextCase{"BadBackground", "200 0/0/0 250 0/0/0\nF 1/2\n", "line 2: expected \"F r/g/b\""},
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
                                           KnownGreyCase{176, 0xF7AB00}));  // 242 K: near the blues' cyan end

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
              "GOES-15  2019-06-21 18:30 UTC  FD band 4  10.7 um");
    EXPECT_EQ(LegendText(*TryEncodeDate(2019, 6, 21) + *TryEncodeTime(18, 0, 0, 0), SectorNorthern, 1),
              "GOES-15  2019-06-21 18:00 UTC  NH band 2  3.9 um");
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
    if (GetParam().colour) image = ColouredImage(image, table.GreyPalette(), nullptr);
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
    if (FILE* p = ::popen(("tesseract " + png + " - --psm 6 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) read.append(buffer, n);
        ::pclose(p);
    }
    EXPECT_NE(read.find("2019-06-21 18:30"), std::string::npos) << read;
    EXPECT_NE(read.find("band 4"), std::string::npos) << read;
}

INSTANTIATE_TEST_SUITE_P(ImageLegend, LegendOcrTest,
                         ::testing::Values(LegendOcrCase{"FullSize", 1, false}, LegendOcrCase{"QuarterSize", 4, false},
                                           LegendOcrCase{"ColourQuarterSize", 4, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

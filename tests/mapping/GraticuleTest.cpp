#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <set>

#include "imaging/BMPExtImage.h"
#include "imaging/Canvas.h"
#include "mapping/DiscMask.h"
#include "mapping/Mapping.h"
#include "mapping/SegmentStuff.h"

namespace {

// Grey palette: the colours below land on these indexes.
constexpr std::uint8_t kBackground = 128;
constexpr TColor kLine = 0x646464;  // grey 100
constexpr TColor kLabel = 0xFFFFFF; // grey 255
constexpr TColor kHalo = 0x000000;  // grey 0

TExtBitmap Picture(int w, int h)
{
    TExtBitmap bmp(w, h);
    bmp.MakeGreyPalette();
    bmp.Fill(kBackground);
    bmp.SetModified(false);
    return bmp;
}

int Count(const TExtBitmap& bmp, std::uint8_t value, int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1)
{
    if (x1 < 0)
        x1 = bmp.Width();
    if (y1 < 0)
        y1 = bmp.Height();
    int n = 0;
    for (int y = std::max(0, y0); y < std::min(y1, bmp.Height()); ++y)
        for (int x = std::max(0, x0); x < std::min(x1, bmp.Width()); ++x)
            n += bmp.ScanLine(y)[x] == value;
    return n;
}

TMapping World(int w, int h)
{
    TMapping m;
    m.SetProjection(1);
    m.SetImageHeight(h);
    m.SetImageWidth(w);
    return m;
}

void Draw(TMapping& m, TExtBitmap& bmp, int lonStep, int latStep, bool noLabels = false,
          std::uint8_t special = 0, int offsetX = 0, int offsetY = 0)
{
    m.DrawGraticule(&bmp, lonStep, latStep, kLabel, kLine, offsetX, offsetY, noLabels, special, kHalo);
}

TEST(Graticule, ZeroOrNegativeStepOrNoCanvasDrawsNothing)
{
    TMapping m = World(360, 180);
    TExtBitmap bmp = Picture(360, 180);
    m.DrawGraticuleOnCanvas(&bmp.Canvas(), 0, 10, kLabel, kLine, 0, 0, false, 0x1F, kHalo);
    m.DrawGraticuleOnCanvas(&bmp.Canvas(), 10, 0, kLabel, kLine, 0, 0, false, 0x1F, kHalo);
    m.DrawGraticuleOnCanvas(&bmp.Canvas(), -10, 10, kLabel, kLine, 0, 0, false, 0x1F, kHalo);
    m.DrawGraticuleOnCanvas(&bmp.Canvas(), 10, -10, kLabel, kLine, 0, 0, false, 0x1F, kHalo);
    m.DrawGraticuleOnCanvas(nullptr, 10, 10, kLabel, kLine, 0, 0, false, 0x1F, kHalo);
    m.DrawGraticule(nullptr, 10, 10, kLabel, kLine, 0, 0, false, 0x1F, kHalo);
    EXPECT_EQ(Count(bmp, kBackground), 360 * 180);
    EXPECT_FALSE(bmp.Modified());

    TMapping none;
    none.SetImageHeight(180);
    none.SetImageWidth(360);
    Draw(none, bmp, 10, 10);
    EXPECT_EQ(Count(bmp, kBackground), 360 * 180) << "kind 0 draws nothing";
    EXPECT_FALSE(bmp.Modified());
}

TEST(Graticule, WholeWorldLinesLabelsAndModified)
{
    TMapping m = World(720, 360);
    TExtBitmap bmp = Picture(720, 360);
    Draw(m, bmp, 30, 30);
    EXPECT_TRUE(bmp.Modified());
    // Meridian 0 at column 360 and parallel 30 N at line 120.
    EXPECT_GT(Count(bmp, 100, 360, 0, 361, 300), 250);
    EXPECT_GT(Count(bmp, 100, 100, 120, 700, 121), 550);
    EXPECT_GT(Count(bmp, 255), 50) << "labels";
    EXPECT_GT(Count(bmp, 0), 100) << "halos";
    EXPECT_EQ(bmp.Canvas().Pen.Color, kLine);
    EXPECT_EQ(bmp.Canvas().Pen.Style, TPenStyle::psSolid);
}

TEST(Graticule, NoLabelsDrawsOnlyLines)
{
    TMapping m = World(720, 360);
    TExtBitmap bmp = Picture(720, 360);
    Draw(m, bmp, 30, 30, true);
    EXPECT_EQ(Count(bmp, 255), 0);
    EXPECT_EQ(Count(bmp, 0), 0);
    EXPECT_GT(Count(bmp, 100), 1000);
}

TEST(Graticule, LabelsAtTheEdgesAreLeftOut)
{
    TMapping m = World(720, 360);
    TExtBitmap bmp = Picture(720, 360);
    Draw(m, bmp, 30, 30);
    // Meridian labels sit on the bottom lines. The 180 W label would be centred on column 0
    // and 180 E on column 720: neither is drawn, while the label of 150 W (column 60) is.
    EXPECT_EQ(Count(bmp, 255, 0, 330, 25, 360), 0);
    EXPECT_EQ(Count(bmp, 255, 700, 330, 720, 360), 0);
    EXPECT_GT(Count(bmp, 255, 40, 330, 80, 360), 5);
}

TEST(Graticule, OffsetsMoveEverything)
{
    TMapping m = World(360, 180);
    TExtBitmap plain = Picture(400, 220);
    TExtBitmap moved = Picture(400, 220);
    Draw(m, plain, 30, 30);
    Draw(m, moved, 30, 30, false, 0, 20, 10);
    for (int y = 0; y + 10 < 220; ++y)
        for (int x = 0; x + 20 < 400; ++x)
            ASSERT_EQ(plain.ScanLine(y)[x], moved.ScanLine(y + 10)[x + 20]) << x << "," << y;
}

TEST(Graticule, WindowAcrossTheDateLineInTwoRanges)
{
    TMapping m;
    m.SetProjection(2);
    m.SetImageHeight(300);
    m.SetImageWidth(400);
    m.SetCentralLongitude(170.0f);
    m.SetLongitudeSpan(40.0f);
    m.SetReferenceLatitude(0.0f);
    m.SetLatitudeSpan(30.0f);
    TExtBitmap bmp = Picture(400, 300);
    Draw(m, bmp, 10, 10, true);
    // 160 E and 170 E from the western range, 180 from the range past the date line.
    for (int column : {100, 200, 300})
        EXPECT_GT(Count(bmp, 100, column, 20, column + 1, 250), 200) << column;
    EXPECT_LT(Count(bmp, 100, 250, 20, 251, 250), 20) << "no meridian between 175 and 176";
}

// A globe on which a band around the equator is hidden, so that every meridian leaves the
// visible part in its middle.
class BandedGlobe : public TMapping {
public:
    bool GeoToPixel(int& X, int& Y, float Longitude, float Latitude) const override
    {
        const bool ok = TMapping::GeoToPixel(X, Y, Longitude, Latitude);
        return ok && std::fabs(Latitude) > 5.0f;
    }
};

TEST(Graticule, MeridianCutInTheMiddleIsTwoPolylines)
{
    BandedGlobe m;
    m.SetProjection(7);
    m.SetImageHeight(400);
    m.SetImageWidth(400);
    m.SetReferenceLatitude(0.0f);
    TExtBitmap bmp = Picture(400, 400);
    Draw(m, bmp, 360, 1000, true); // only the central meridian and the equator's parallel
    // The central meridian lies on column 200; nothing joins its two parts across the band.
    EXPECT_GT(Count(bmp, 100, 200, 100, 201, 180), 60);
    EXPECT_GT(Count(bmp, 100, 200, 220, 201, 300), 60);
    EXPECT_EQ(Count(bmp, 100, 195, 190, 206, 211), 0);
}

TEST(Graticule, SpecialLatitudesAreDotted)
{
    TMapping m = World(720, 360);
    TExtBitmap bmp = Picture(720, 360);
    Draw(m, bmp, 1000, 1000, true, 0x02); // tropic of Cancer only (plus meridian/parallel 0)
    const int y = static_cast<int>(std::nearbyint((1 - (23.439170837402344 + 90) / 180) * 360));
    const int on = Count(bmp, 100, 20, y, 350, y + 1) + Count(bmp, 100, 371, y, 700, y + 1);
    EXPECT_GT(on, 250);
    EXPECT_LT(on, 450) << "dotted, not solid";
    EXPECT_EQ(bmp.Canvas().Pen.Style, TPenStyle::psSolid) << "pen style restored";
    TExtBitmap none = Picture(720, 360);
    Draw(m, none, 1000, 1000, true, 0);
    EXPECT_EQ(Count(none, 100, 20, y, 350, y + 1), 0);
}

TEST(Graticule, AzimuthalKindsForceTheirSteps)
{
    TMapping m;
    m.SetProjection(3);
    m.SetImageHeight(400);
    m.SetImageWidth(400);
    m.SetReferenceLatitude(90.0f);
    TExtBitmap a = Picture(400, 400);
    Draw(m, a, 7, 3, true);
    TExtBitmap b = Picture(400, 400);
    Draw(m, b, 30, 15, true);
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 400; ++x)
            ASSERT_EQ(a.ScanLine(y)[x], b.ScanLine(y)[x]);
}

TEST(Graticule, SegmentMappingDrawsOnTheDiscAndRestoresItself)
{
    TSegmentMapping m = CompositeMapping();
    const TDiscMask mask = RenderDiscMask(m);
    TExtBitmap bmp = Picture(m.ImageWidth(), m.ImageHeight());
    m.DrawGraticule(&bmp, 10, 10, kLabel, kLine, 0, 0, true, 0, kHalo);
    EXPECT_EQ(m.Projection, 0);
    EXPECT_EQ(m.CentralLongitude, 0.0f);
    int lineOffDisc = 0, lineOnDisc = 0;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x)
            if (bmp.ScanLine(y)[x] == 100)
                (mask.Pixels[static_cast<std::size_t>(y) * mask.Width + x] ? lineOnDisc : lineOffDisc)++;
    EXPECT_GT(lineOnDisc, 50000);
    // Only chords between one-degree points near the limb may cut a little outside it.
    EXPECT_LT(lineOffDisc, lineOnDisc / 50) << "grid lines stay on the Earth";
    // The equator runs through the satellite's point, on line 1626.
    EXPECT_GT(Count(bmp, 100, 1000, 1625, 1800, 1628), 700);

    TExtBitmap labelled = Picture(m.ImageWidth(), m.ImageHeight());
    m.DrawGraticule(&labelled, 10, 10, kLabel, kLine, 0, 0, false, 0, kHalo);
    EXPECT_GT(Count(labelled, 255), 1000) << "labels of meridians and parallels";
    // A parallel label between the 140 W and 130 W meridians at 40 N.
    int x40, y40;
    ASSERT_TRUE(m.GeoToPixel(x40, y40, -135.0f, 40.0f));
    EXPECT_GT(Count(labelled, 255, x40 - 80, y40 - 12, x40, y40 + 12), 5);
}

TEST(Graticule, ParallelLabelsKeepClearOfTheMeridianLabels)
{
    // The meridian labels run along the equator; the equator's own label must not be stamped
    // over the label of the meridian nearest the satellite.
    TSegmentMapping m = CompositeMapping();
    TExtBitmap all = Picture(m.ImageWidth(), m.ImageHeight());
    m.DrawGraticule(&all, 10, 10, kLabel, kLine, 0, 0, false, 0, kHalo);
    // The same grid with the parallels labelled beside a meridian behind the Earth.
    TExtBitmap meridianLabels = Picture(m.ImageWidth(), m.ImageHeight());
    m.SetProjection(7);
    m.SetCentralLongitude(50.0f);
    m.DrawGraticuleOnCanvas(&meridianLabels.Canvas(), 10, 10, kLabel, kLine, 0, 0, false, 0, kHalo);
    ASSERT_GT(Count(all, 255), Count(meridianLabels, 255) + 100) << "the parallels are labelled";

    int x, y;
    ASSERT_TRUE(m.GeoToPixel(x, y, -130.0f, 0.0f));
    ASSERT_GT(Count(all, 255, x - 40, y - 12, x + 40, y + 12), 5) << "the 130 W label";
    for (int row = y - 12; row < y + 12; ++row)
        for (int col = x - 40; col < x + 40; ++col)
            ASSERT_EQ(all.ScanLine(row)[col], meridianLabels.ScanLine(row)[col]) << col << "," << row;
}

} // namespace

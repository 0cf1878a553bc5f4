#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "imaging/BMPExtImage.h"
#include "imaging/Canvas.h"

namespace {

using Pixels = std::set<std::pair<int, int>>;

Pixels setPixels(const TExtBitmap& bmp, std::uint8_t background = 0)
{
    Pixels out;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x)
            if (bmp.ScanLine(y)[x] != background)
                out.insert({x, y});
    return out;
}

TExtBitmap greyImage(int w, int h)
{
    TExtBitmap bmp(w, h);
    bmp.MakeGreyPalette();
    return bmp;
}

Pixels drawLine(int w, int h, TPoint a, TPoint b, TPenStyle style = TPenStyle::psSolid)
{
    TExtBitmap bmp = greyImage(w, h);
    bmp.Canvas().Pen.Color = 0xFFFFFF;
    bmp.Canvas().Pen.Style = style;
    const TPoint pts[] = {a, b};
    bmp.Canvas().Polyline(pts);
    return setPixels(bmp);
}

TEST(Canvas, HorizontalLineLeavesOutItsLastPixel)
{
    const Pixels p = drawLine(10, 3, {1, 1}, {6, 1});
    EXPECT_EQ(p, (Pixels{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}}));
}

TEST(Canvas, PolylineSetsInnerVerticesButNotTheFinalPoint)
{
    TExtBitmap bmp = greyImage(8, 8);
    bmp.Canvas().Pen.Color = 0xFFFFFF;
    const TPoint pts[] = {{0, 0}, {3, 0}, {3, 3}};
    bmp.Canvas().Polyline(pts);
    EXPECT_EQ(setPixels(bmp), (Pixels{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {3, 1}, {3, 2}}));
}

TEST(Canvas, DegeneratePolylinesDrawNothing)
{
    TExtBitmap bmp = greyImage(4, 4);
    bmp.Canvas().Pen.Color = 0xFFFFFF;
    const TPoint one[] = {{1, 1}};
    bmp.Canvas().Polyline(one);
    const TPoint same[] = {{2, 2}, {2, 2}};
    bmp.Canvas().Polyline(same);
    EXPECT_TRUE(setPixels(bmp).empty());
}

TEST(Canvas, DottedPenDrawsThreeLeavesThreeAcrossSegments)
{
    TExtBitmap bmp = greyImage(16, 2);
    bmp.Canvas().Pen.Color = 0xFFFFFF;
    bmp.Canvas().Pen.Style = TPenStyle::psDot;
    const TPoint pts[] = {{0, 0}, {4, 0}, {13, 0}};
    bmp.Canvas().Polyline(pts);
    std::string row;
    for (int x = 0; x < 16; ++x)
        row += bmp.ScanLine(0)[x] ? '#' : '.';
    EXPECT_EQ(row, "###...###...#...");
}

TEST(Canvas, PenColourMapsToNearestPaletteEntry)
{
    TExtBitmap bmp = greyImage(4, 1);
    EXPECT_EQ(bmp.Canvas().NearestPaletteIndex(0x0000FF), 85); // pure red is closest to grey 85
    EXPECT_EQ(bmp.Canvas().NearestPaletteIndex(0xFFFFFF), 255);
    EXPECT_EQ(bmp.Canvas().NearestPaletteIndex(0x404040), 64);
    bmp.Canvas().SetPixel(2, 0, 0x808080);
    EXPECT_EQ(bmp.ScanLine(0)[2], 128);
}

TEST(Canvas, TrueColourImagesGetTheColourBytes)
{
    TExtBitmap bmp(4, 2, TPixelFormat::pf24bit);
    bmp.Canvas().Pen.Color = 0x112233; // blue 0x11, green 0x22, red 0x33
    const TPoint pts[] = {{0, 1}, {2, 1}};
    bmp.Canvas().Polyline(pts);
    const std::uint8_t* p = bmp.ScanLine(1);
    EXPECT_EQ(p[0], 0x11);
    EXPECT_EQ(p[1], 0x22);
    EXPECT_EQ(p[2], 0x33);
    EXPECT_EQ(p[6], 0); // end point not set
}

TEST(Canvas, ClipsFarOffLinesToTheImage)
{
    const Pixels diag = drawLine(10, 10, {-1000, -1000}, {2000, 2000});
    Pixels expected;
    for (int i = 0; i < 10; ++i)
        expected.insert({i, i});
    EXPECT_EQ(diag, expected);

    // Extreme coordinates must neither overflow nor take long.
    const Pixels wild = drawLine(10, 10, {INT_MIN, 5}, {INT_MAX, 5});
    EXPECT_EQ(wild.size(), 10u);
    EXPECT_TRUE(drawLine(10, 10, {INT_MIN, INT_MIN}, {INT_MAX, INT_MIN}).empty());
    const Pixels steep = drawLine(10, 10, {3, INT_MAX}, {4, INT_MIN});
    EXPECT_LE(steep.size(), 10u);
    SUCCEED();
}

TEST(Canvas, MoveToLineToContinuesFromTheLastPoint)
{
    TExtBitmap bmp = greyImage(6, 6);
    bmp.Canvas().Pen.Color = 0xFFFFFF;
    bmp.Canvas().MoveTo(0, 0);
    bmp.Canvas().LineTo(2, 0);
    bmp.Canvas().LineTo(2, 2);
    EXPECT_EQ(setPixels(bmp), (Pixels{{0, 0}, {1, 0}, {2, 0}, {2, 1}}));
}

// Every pixel lies within half a pixel of the ideal line along the minor axis, there is one
// pixel per major step, and a line and its reverse cover the same pixels once both end
// points are added.
TEST(Canvas, LinesAreExactAndDirectionIndependent)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> coord(-5, 44);
    for (int n = 0; n < 400; ++n) {
        const TPoint a{coord(rng), coord(rng)}, b{coord(rng), coord(rng)};
        Pixels fwd = drawLine(40, 40, a, b);
        Pixels back = drawLine(40, 40, b, a);
        auto inside = [](TPoint p) { return p.X >= 0 && p.Y >= 0 && p.X < 40 && p.Y < 40; };
        if (inside(b))
            fwd.insert({b.X, b.Y});
        if (inside(a))
            back.insert({a.X, a.Y});
        if (!(a == b)) {
            ASSERT_EQ(fwd, back) << a.X << "," << a.Y << " -> " << b.X << "," << b.Y;
        }

        const double dx = b.X - a.X, dy = b.Y - a.Y;
        for (auto [x, y] : drawLine(40, 40, a, b)) {
            if (std::fabs(dx) > std::fabs(dy)) {
                const double ideal = a.Y + dy * (x - a.X) / dx;
                ASSERT_LE(std::fabs(y - ideal), 0.5 + 1e-9);
            } else {
                const double ideal = a.X + dx * (y - a.Y) / dy;
                ASSERT_LE(std::fabs(x - ideal), 0.5 + 1e-9);
            }
        }
    }
}

TEST(Canvas, HalfwayPixelsGoToTheLargerCoordinate)
{
    // From (0,0) to (4,1): at x = 2 the line is exactly halfway between rows 0 and 1.
    EXPECT_TRUE(drawLine(8, 8, {0, 0}, {4, 1}).count({2, 1}));
    EXPECT_TRUE(drawLine(8, 8, {4, 1}, {0, 0}).count({2, 1}));
}

} // namespace

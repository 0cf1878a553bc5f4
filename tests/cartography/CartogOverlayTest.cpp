// The overlay through the composite's own mapping, on published coastlines and borders.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <QImage>

#include "LineFiles.h"
#include "cartography/CartogDraw.h"
#include "cartography/vrnCartography.h"
#include "imaging/BMPExtImage.h"
#include "mapping/DiscMask.h"
#include "mapping/SegmentStuff.h"

using namespace linefiles;

namespace {

struct Store : TCartogList {
    Store() : TCartogList(std::string()) {}
};

constexpr std::uint8_t kBackground = 240;
constexpr std::uint8_t kLine = 160;   // pen colour 10526880 on the grey palette
constexpr TColor kPen = 10526880;

TExtBitmap blankComposite(const TSegmentMapping& m)
{
    TExtBitmap bmp(m.ImageWidth(), m.ImageHeight());
    bmp.MakeGreyPalette();
    bmp.Fill(kBackground);
    bmp.Canvas().Pen.Color = kPen;
    return bmp;
}

bool lineNear(const TExtBitmap& bmp, int x, int y, int radius)
{
    for (int yy = y - radius; yy <= y + radius; ++yy)
        for (int xx = x - radius; xx <= x + radius; ++xx)
            if (xx >= 0 && yy >= 0 && xx < bmp.Width() && yy < bmp.Height() && bmp.ScanLine(yy)[xx] == kLine)
                return true;
    return false;
}

// The longest step, in either direction, of any polyline the overlay hands to the canvas.
int longestStep(TCartogList& s, const TSegmentMapping& m, const std::string& pathList)
{
    s.LoadFromPathList(pathList);
    int longest = 0;
    cartography::DrawLineStore(
        s, m.ImageWidth(), [&](int& x, int& y, float lon, float lat) { return m.GeoToPixel(x, y, lon, lat); },
        [&](std::span<const TPoint> p) {
            for (std::size_t i = 1; i < p.size(); ++i)
                longest = std::max({longest, std::abs(p[i].X - p[i - 1].X), std::abs(p[i].Y - p[i - 1].Y)});
        },
        0, 0);
    return longest;
}

}  // namespace

TEST(DrawOnBitmap, NothingHappensWithoutAMappingOrSegments)
{
    Store s;
    s.LoadFromMemory(gshhsFile({{1, 0, {{-100000000, 30000000}, {-90000000, 30000000}}, -1}}), "c.b");
    ASSERT_EQ(s.Count(), 1);
    const TSegmentMapping m = CompositeMapping();
    TExtBitmap bmp = blankComposite(m);
    bmp.SetModified(false);
    s.DrawOnBitmap(bmp, 0, 0);
    EXPECT_FALSE(bmp.Modified());
    Store empty;
    TSegmentMapping mm = CompositeMapping();
    empty.Mapping = &mm;
    empty.DrawOnBitmap(bmp, 0, 0);
    EXPECT_FALSE(bmp.Modified());
    s.Mapping = &mm;
    s.DrawOnBitmap(bmp, 0, 0);
    EXPECT_TRUE(bmp.Modified());
    int x = 0, y = 0;
    ASSERT_TRUE(mm.GeoToPixel(x, y, -100.0f, 30.0f));
    EXPECT_EQ(bmp.ScanLine(y)[x], kLine);
}

TEST(DrawOnBitmap, RealCoastsFallOnTheDiscWithoutChords)
{
    if (!std::filesystem::exists(shared("gshhs/gshhs_c.b"))) GTEST_SKIP() << "no shared GSHHS data";
    Store s;
    s.LoadFromPathList(shared("gshhs/gshhs_c.b") + "|" + shared("gshhs/wdb_borders_c.b"));
    ASSERT_GT(s.Count(), 0);
    TSegmentMapping m = CompositeMapping();
    s.Mapping = &m;

    // No step of a shoreline may cross a good part of the disc. Borders have long straight
    // legs of their own (the 49th parallel, maritime lines in the Pacific), but nothing near
    // the width of the disc.
    EXPECT_LT(longestStep(s, m, shared("gshhs/gshhs_c.b")), 150);
    EXPECT_LT(longestStep(s, m, shared("gshhs/gshhs_c.b") + "|" + shared("gshhs/wdb_borders_c.b")), 600);

    TExtBitmap bmp = blankComposite(m);
    s.DrawOnBitmap(bmp, 0, 0);
    long drawn = 0, offDisc = 0;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x)
            if (bmp.ScanLine(y)[x] == kLine) {
                ++drawn;
                bool near = false;
                for (int d = -2; d <= 2 && !near; ++d)
                    near = m.PixelOnDisc(x + d, y) || m.PixelOnDisc(x, y + d);
                if (!near) ++offDisc;
            }
    EXPECT_GT(drawn, 20000);
    EXPECT_EQ(offDisc, 0);

    struct Place {
        float lon, lat;
        bool coast;
    };
    // Coasts and borders seen by the satellite, and open sea far from any island.
    for (const Place& p : {Place{-81.33f, -4.68f, true},     // Punta Parinas, Peru
                           Place{-97.14f, 25.96f, true},     // mouth of the Rio Grande
                           Place{-80.6f, 28.4f, true},       // Cape Canaveral
                           Place{-120.0f, -20.0f, false},    // South Pacific
                           Place{-130.0f, 10.0f, false}}) {  // North Pacific
        int x = 0, y = 0;
        ASSERT_TRUE(m.GeoToPixel(x, y, p.lon, p.lat));
        EXPECT_EQ(lineNear(bmp, x, y, p.coast ? 6 : 30), p.coast) << p.lon << ", " << p.lat;
    }

    // ORVANTA_OVERLAY_PNG=file writes the picture (the disc in dark grey) for a look.
    if (const char* out = std::getenv("ORVANTA_OVERLAY_PNG")) {
        QImage img(bmp.Width(), bmp.Height(), QImage::Format_Grayscale8);
        for (int y = 0; y < bmp.Height(); ++y)
            for (int x = 0; x < bmp.Width(); ++x) {
                const std::uint8_t v = bmp.ScanLine(y)[x];
                img.scanLine(y)[x] = v == kLine ? 255 : (m.PixelOnDisc(x, y) ? 60 : 0);
            }
        img.save(QString::fromLocal8Bit(out));
    }
}

// ---- the far-side cull ----------------------------------------------------------------

TEST(LimbCull, NeverHidesAPointTheMappingSees)
{
    auto check = [](TSegmentMapping& m, float step) -> int {
        const auto cull = cartography::LimbCullFor(m);
        int hidden = 0;
        for (float lat = -90.0f; lat <= 90.0f; lat += step)
            for (float lon = -180.0f; lon < 540.0f; lon += step) {
                if (!cull.CertainlyHidden(lon, lat)) continue;
                ++hidden;
                int x = 0, y = 0;
                EXPECT_FALSE(m.GeoToPixel(x, y, lon, lat)) << "row " << int(m.SegmentIndex) << " at " << lon << ", " << lat;
            }
        return hidden;
    };
    for (int row = 0; row <= 157; ++row) {
        TSegmentMapping m;
        m.SegmentIndex = static_cast<std::uint8_t>(row);
        m.LongitudeOffset = 7.0f;
        check(m, 4.0f);
    }
    TSegmentMapping m = CompositeMapping();
    for (float offset : {0.0f, -30.0f, 200.0f}) {
        m.LongitudeOffset = offset;
        // Well over half of the globe (counted twice in longitude) goes without projecting.
        EXPECT_GT(check(m, 3.0f), 8000);
    }
}

TEST(LimbCull, OnlyForTheSatelliteViewRowsOfTheMappingItself)
{
    struct Derived : TSegmentMapping {};
    Derived d;
    d.SegmentIndex = 125;
    EXPECT_FALSE(cartography::LimbCullFor(d).Enabled);
    for (int row : {0, 92, 95, 96, 143, 145, 151, 153, 156, 157}) {
        TSegmentMapping m;
        m.SegmentIndex = static_cast<std::uint8_t>(row);
        EXPECT_FALSE(cartography::LimbCullFor(m).Enabled) << row;
    }
    EXPECT_TRUE(cartography::LimbCullFor(CompositeMapping()).Enabled);
}

TEST(LimbCull, DrawingWithItGivesTheSameLinesWithFewerProjections)
{
    if (!std::filesystem::exists(shared("gshhs/gshhs_l.b"))) GTEST_SKIP() << "no shared GSHHS data";
    Store s;
    s.LoadFromPathList(shared("gshhs/gshhs_l.b") + "|" + shared("gshhs/wdb_borders_i.b"));
    const TSegmentMapping m = CompositeMapping();
    auto walk = [&](const cartography::TLimbCull& cull, long& projected) {
        std::vector<std::vector<TPoint>> out;
        cartography::DrawLineStore(
            s, m.ImageWidth(),
            [&](int& x, int& y, float lon, float lat) {
                ++projected;
                return m.GeoToPixel(x, y, lon, lat);
            },
            [&](std::span<const TPoint> p) { out.emplace_back(p.begin(), p.end()); }, 0, 0, cull);
        return out;
    };
    long all = 0, culled = 0;
    const auto plain = walk({}, all);
    const auto fast = walk(cartography::LimbCullFor(m), culled);
    EXPECT_EQ(plain, fast);
    EXPECT_GT(plain.size(), 1000u);
    EXPECT_LT(culled, all * 3 / 4);
}

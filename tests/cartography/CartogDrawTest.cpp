// The overlay walk against a plain projection: longitude is the column, latitude the line,
// and a latitude of kHidden lies behind the limb.

#include <gtest/gtest.h>

#include <vector>

#include "cartography/CartogDraw.h"
#include "imaging/BMPExtImage.h"

using cartography::DrawLineStore;

namespace {

constexpr int kWidth = 2816;  // jump threshold 2346
constexpr float kHidden = -500.0f;

struct Store : TCartogList {
    Store() : TCartogList(std::string()) {}

    void add(std::vector<TGeoPoint> pts, std::uint8_t kind = 1)
    {
        auto seg = std::make_unique<TLineSegment>();
        for (auto p : pts) seg->AddPoint(p.Lon, p.Lat);
        seg->Count = static_cast<std::int32_t>(pts.size());
        seg->Kind = kind;
        if (MaxPoints < seg->Count) MaxPoints = seg->Count;
        AddSegment(std::move(seg));
    }
};

bool plainProjection(int& x, int& y, float lon, float lat)
{
    if (lat == kHidden) {
        x = y = -1;
        return false;
    }
    x = static_cast<int>(lon);
    y = static_cast<int>(lat);
    return true;
}

using Polylines = std::vector<std::vector<TPoint>>;

Polylines draw(const Store& s, int xOffset = 0, int yOffset = 0, int width = kWidth)
{
    Polylines out;
    DrawLineStore(s, width, plainProjection,
                  [&](std::span<const TPoint> pts) { out.emplace_back(pts.begin(), pts.end()); }, xOffset, yOffset);
    return out;
}

std::vector<TPoint> pts(std::initializer_list<std::pair<int, int>> xy)
{
    std::vector<TPoint> v;
    for (auto [x, y] : xy) v.push_back({x, y});
    return v;
}

}  // namespace

TEST(OverlayWalk, JumpThresholdOfTheComposite)
{
    EXPECT_EQ(cartography::JumpThreshold(2816), 2346);
    EXPECT_EQ(cartography::JumpThreshold(5), 4);
}

TEST(OverlayWalk, LineBehindTheLimbIsDrawnAsTwoSeparateParts)
{
    Store s;
    s.ClosePolygons = false;
    s.add({{10, 10}, {20, 10}, {30, kHidden}, {40, kHidden}, {50, 12}, {60, 12}});
    EXPECT_EQ(draw(s), (Polylines{pts({{10, 10}, {20, 10}}), pts({{50, 12}, {60, 12}})}));
}

TEST(OverlayWalk, RingIsClosedOnlyWhenAskedTo)
{
    Store s;
    s.add({{10, 10}, {20, 10}, {20, 20}});
    EXPECT_EQ(draw(s), (Polylines{pts({{10, 10}, {20, 10}, {20, 20}, {10, 10}})}));
    s.ClosePolygons = false;
    EXPECT_EQ(draw(s), (Polylines{pts({{10, 10}, {20, 10}, {20, 20}})}));
    // A segment's own file has the last word over the store's.
    s.Items(0)->Closed = true;
    EXPECT_EQ(draw(s), (Polylines{pts({{10, 10}, {20, 10}, {20, 20}, {10, 10}})}));
}

TEST(OverlayWalk, RingCutByTheLimbClosesFromItsLastRunToItsFirstVisiblePoint)
{
    Store s;
    s.add({{5, kHidden}, {10, 10}, {20, 10}, {30, kHidden}, {50, 12}, {60, 12}});
    EXPECT_EQ(draw(s), (Polylines{pts({{10, 10}, {20, 10}}), pts({{50, 12}, {60, 12}, {10, 10}})}));
}

TEST(OverlayWalk, OnlyAHorizontalJumpBeyondTheThresholdCuts)
{
    Store s;
    s.ClosePolygons = false;
    s.add({{0, 0}, {2346, 0}, {2346, 3000}});
    s.add({{0, 0}, {2347, 0}, {2347, 5}});
    s.add({{2400, 0}, {53, 0}});
    EXPECT_EQ(draw(s), (Polylines{pts({{0, 0}, {2346, 0}, {2346, 3000}}), pts({{2347, 0}, {2347, 5}})}));
}

TEST(OverlayWalk, PointsOnTheLastPixelAreDropped)
{
    Store s;
    s.ClosePolygons = false;
    s.add({{10.2f, 10}, {10.7f, 10.9f}, {11, 10}, {11, 10}, {10, 10}});
    EXPECT_EQ(draw(s), (Polylines{pts({{10, 10}, {11, 10}, {10, 10}})}));
}

TEST(OverlayWalk, LongRunsAreSplitSharingOnePoint)
{
    Store s;
    s.ClosePolygons = false;
    std::vector<TGeoPoint> line;
    for (int i = 0; i < 40000; ++i) line.push_back({static_cast<float>(i % 2000), static_cast<float>(i / 2000)});
    s.add(line);
    const auto out = draw(s);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].size(), 16000u);
    EXPECT_EQ(out[1].size(), 16000u);
    EXPECT_EQ(out[2].size(), 8002u);
    EXPECT_EQ(out[0].back(), out[1].front());
    EXPECT_EQ(out[1].back(), out[2].front());
    EXPECT_EQ(out[2].back(), (TPoint{1999, 19}));
}

TEST(OverlayWalk, RunsOfExactlyTheLimitStayWhole)
{
    Store s;
    s.ClosePolygons = false;
    std::vector<TGeoPoint> line;
    for (int i = 0; i < 16001; ++i) line.push_back({static_cast<float>(i % 2000), static_cast<float>(i / 2000)});
    line.pop_back();
    s.add(line);
    line.push_back({1, 80});
    s.add(line);
    const auto out = draw(s);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].size(), 16000u);
    EXPECT_EQ(out[1].size(), 16000u);
    EXPECT_EQ(out[2].size(), 2u);
}

struct KindCase {
    std::uint8_t kind;
    bool drawn;
};

class OverlayKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(OverlayKinds, OnlyKindsZeroFourAndEightAreDrawn)
{
    Store s;
    s.add({{10, 10}, {20, 10}}, GetParam().kind);
    EXPECT_EQ(draw(s).size(), GetParam().drawn ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, OverlayKinds,
                         ::testing::Values(KindCase{0, true}, KindCase{1, true}, KindCase{4, true}, KindCase{5, true},
                                           KindCase{8, true}, KindCase{9, true}, KindCase{2, false},
                                           KindCase{3, false}, KindCase{6, false}, KindCase{7, false},
                                           KindCase{10, false}, KindCase{11, false}, KindCase{12, false},
                                           KindCase{255, false}));

TEST(OverlayWalk, OffsetsMoveRightAndUp)
{
    Store s;
    s.ClosePolygons = false;
    s.add({{100, 100}, {110, 120}});
    EXPECT_EQ(draw(s, 10, 20), (Polylines{pts({{110, 80}, {120, 100}})}));
}

TEST(OverlayWalk, SinglePointsAndHiddenSegmentsDrawNothing)
{
    Store s;
    s.ClosePolygons = false;
    s.add({{10, 10}});
    s.add({{10, kHidden}, {20, kHidden}});
    s.add({});
    EXPECT_TRUE(draw(s).empty());
}

// ---- onto a real canvas --------------------------------------------------------------

TEST(OverlayWalk, CanvasLeavesTheFinalPixelOfEachPolylineUnset)
{
    Store s;
    s.ClosePolygons = false;
    s.add({{1, 2}, {5, 2}, {5, 4}});
    TExtBitmap bmp(8, 8);
    bmp.MakeGreyPalette();
    bmp.Fill(0);
    auto& canvas = bmp.Canvas();
    canvas.Pen.Color = 0xA0A0A0;
    DrawLineStore(s, 8, plainProjection, [&](std::span<const TPoint> p) { canvas.Polyline(p); }, 0, 0);
    for (int x = 1; x <= 5; ++x) EXPECT_EQ(bmp.ScanLine(2)[x], 160) << x;
    EXPECT_EQ(bmp.ScanLine(3)[5], 160);
    EXPECT_EQ(bmp.ScanLine(4)[5], 0);
}

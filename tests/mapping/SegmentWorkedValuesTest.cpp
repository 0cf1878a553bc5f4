#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "mapping/DiscMask.h"
#include "mapping/SegmentStuff.h"

namespace {

TSegmentMapping Composite(float offset = 7.0f)
{
    TSegmentMapping m;
    m.SegmentIndex = 125;
    m.LongitudeOffset = offset;
    return m;
}

TEST(SegmentWorkedValues, NewObject)
{
    const TSegmentMapping m;
    EXPECT_EQ(m.Projection, 0);
    EXPECT_EQ(m.SegmentIndex, 0);
    EXPECT_EQ(m.PixelScale, 1.0f);
    EXPECT_EQ(m.LongitudeOffset, 0.0f);
    EXPECT_EQ(m.ImageWidth(), 0);
    EXPECT_EQ(m.ImageHeight(), 0);
}

TEST(SegmentWorkedValues, CompositeSize)
{
    const TSegmentMapping m = Composite();
    EXPECT_EQ(m.ImageWidth(), 2816);
    EXPECT_EQ(m.ImageHeight(), 3248);
}

TEST(SegmentWorkedValues, SubSatellitePoint)
{
    const TSegmentMapping m = Composite();
    float fx = 0, fy = 0;
    ASSERT_TRUE(m.GeoToSegmentXY(fx, fy, -128.0f, 0.0f));
    EXPECT_NEAR(fx, 1408.45, 0.005);
    EXPECT_NEAR(fy, 1625.67, 0.005);
    int x = -1, y = -1;
    ASSERT_TRUE(m.GeoToPixel(x, y, -128.0f, 0.0f));
    EXPECT_EQ(x, 1408);
    EXPECT_EQ(y, 1626);
}

TEST(SegmentWorkedValues, NorthAmerica)
{
    const TSegmentMapping m = Composite();
    int x = -1, y = -1;
    ASSERT_TRUE(m.GeoToPixel(x, y, -100.0f, 30.0f));
    EXPECT_EQ(x, 2029);
    EXPECT_EQ(y, 870);
}

TEST(SegmentWorkedValues, NorthernLimbOnTheSubSatelliteMeridian)
{
    const TSegmentMapping m = Composite();
    int x = -1, y = -1;
    ASSERT_TRUE(m.GeoToPixel(x, y, -128.0f, 81.2f));
    EXPECT_EQ(x, 1408);
    EXPECT_EQ(y, 275);
    EXPECT_FALSE(m.GeoToPixel(x, y, -128.0f, 81.4f));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
}

TEST(SegmentWorkedValues, ColumnStaysOnTheSubSatelliteMeridian)
{
    const TSegmentMapping m = Composite();
    int previous = 1 << 30;
    for (int tenth = -812; tenth <= 812; ++tenth) {
        int x = -1, y = -1;
        ASSERT_TRUE(m.GeoToPixel(x, y, -128.0f, tenth / 10.0f)) << tenth;
        EXPECT_EQ(x, 1408) << tenth;
        EXPECT_LE(y, previous) << "lines must fall as the latitude rises";
        previous = y;
    }
}

TEST(SegmentWorkedValues, FarSideIsNotVisible)
{
    const TSegmentMapping m = Composite();
    int x = -1, y = -1;
    EXPECT_FALSE(m.GeoToPixel(x, y, 0.0f, 0.0f));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    float fx = -1, fy = -1;
    EXPECT_FALSE(m.GeoToSegmentXY(fx, fy, 0.0f, 0.0f));
    EXPECT_EQ(fx, 0.0f);
    EXPECT_EQ(fy, 0.0f);
}

TEST(SegmentWorkedValues, LongitudeGivenAWholeTurnAway)
{
    const TSegmentMapping m = Composite();
    int x1, y1, x2, y2;
    ASSERT_TRUE(m.GeoToPixel(x1, y1, -128.0f, 0.0f));
    ASSERT_TRUE(m.GeoToPixel(x2, y2, -488.0f, 0.0f));
    EXPECT_EQ(x1, x2);
    EXPECT_EQ(y1, y2);
    ASSERT_TRUE(m.GeoToPixel(x1, y1, -100.0f, 30.0f));
    ASSERT_TRUE(m.GeoToPixel(x2, y2, 260.0f, 30.0f));
    EXPECT_EQ(x1, x2);
    EXPECT_EQ(y1, y2);
}

TEST(SegmentWorkedValues, CentreInverse)
{
    const TSegmentMapping m = Composite();
    float lon = 0, lat = 0;
    ASSERT_TRUE(m.PixelToGeo(1408, 1625, lon, lat));
    EXPECT_NEAR(lon, -128.016, 0.0005);
    EXPECT_NEAR(lat, 0.024, 0.0005);
}

TEST(SegmentWorkedValues, OffsetMovesTheSatellite)
{
    const TSegmentMapping m = Composite(0.0f);
    float lon = 0, lat = 0;
    ASSERT_TRUE(m.PixelToGeo(1408, 1626, lon, lat));
    EXPECT_NEAR(lon, -135.0, 0.02);
    EXPECT_NEAR(lat, 0.0, 0.02);
}

TEST(SegmentWorkedValues, CornerIsOffTheDisc)
{
    const TSegmentMapping m = Composite();
    float lon = 1, lat = 1;
    EXPECT_FALSE(m.PixelToGeo(0, 0, lon, lat));
    EXPECT_EQ(lon, -128.0f);
    EXPECT_EQ(lat, 0.0f);
    EXPECT_FALSE(m.PixelToGeo(2815, 3247, lon, lat));
    EXPECT_EQ(lon, -128.0f);
    EXPECT_EQ(lat, 0.0f);
}

TEST(SegmentWorkedValues, WesternLimbWrapsAcrossTheDateLine)
{
    const TSegmentMapping m = Composite();
    float lon = 0, lat = 0;
    ASSERT_TRUE(m.PixelToGeo(100, 1626, lon, lat));
    EXPECT_NEAR(lon, 165.5, 0.1);
    EXPECT_GE(lon, -180.0f);
    EXPECT_LT(lon, 180.0f);
}

TEST(SegmentWorkedValues, InverseLongitudesStayInRange)
{
    const TSegmentMapping m = Composite();
    for (int y = 0; y < m.ImageHeight(); y += 7) {
        for (int x = 0; x < m.ImageWidth(); x += 7) {
            float lon = 0, lat = 0;
            m.PixelToGeo(x, y, lon, lat);
            ASSERT_FALSE(std::isnan(lon) || std::isnan(lat)) << x << "," << y;
            ASSERT_GE(lon, -180.0f);
            ASSERT_LT(lon, 180.0f);
            ASSERT_LE(std::fabs(lat), 90.0f);
        }
    }
}

// Every on-disc pixel comes back within one pixel. All lines are walked; the interior of
// each line in steps, the first and last eight pixels of the disc on each line in full,
// since the limb is where the two directions part most.
TEST(SegmentWorkedValues, RoundTripOfOnDiscPixels)
{
    const TSegmentMapping m = Composite();
    const TDiscMask mask = RenderDiscMask(m);
    long checked = 0;
    for (int y = 0; y < m.ImageHeight(); ++y) {
        const std::uint8_t* row = mask.Pixels.data() + static_cast<std::size_t>(y) * mask.Width;
        int first = -1, last = -1;
        for (int x = 0; x < mask.Width; ++x) {
            if (row[x] != 0) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
        if (first < 0)
            continue;
        for (int x = first; x <= last; ++x) {
            if (x - first >= 8 && last - x >= 8 && (x + 3 * y) % 23 != 0)
                continue;
            float lon = 0, lat = 0;
            ASSERT_TRUE(m.PixelToGeo(x, y, lon, lat)) << x << "," << y;
            int bx = -1, by = -1;
            ASSERT_TRUE(m.GeoToPixel(bx, by, lon, lat)) << x << "," << y;
            ASSERT_LE(std::abs(bx - x), 1) << x << "," << y;
            ASSERT_LE(std::abs(by - y), 1) << x << "," << y;
            ++checked;
        }
    }
    EXPECT_GT(checked, 250000);
}

TEST(SegmentWorkedValues, InverseWithoutARowChangesNothing)
{
    TSegmentMapping m;
    float lon = 12.5f, lat = -3.25f;
    EXPECT_FALSE(m.PixelToGeo(1408, 1625, lon, lat));
    EXPECT_EQ(lon, 12.5f);
    EXPECT_EQ(lat, -3.25f);
    m.SegmentIndex = 200;
    EXPECT_FALSE(m.PixelToGeo(1408, 1625, lon, lat));
    EXPECT_EQ(lon, 12.5f);
    EXPECT_EQ(lat, -3.25f);
}

TEST(SegmentWorkedValues, ForwardWithoutARowIsNotVisible)
{
    for (std::uint8_t row : {std::uint8_t{0}, std::uint8_t{157}, std::uint8_t{255}}) {
        TSegmentMapping m;
        m.SegmentIndex = row;
        int x = -1, y = -1;
        EXPECT_FALSE(m.GeoToPixel(x, y, -128.0f, 0.0f));
        EXPECT_EQ(x, 0);
        EXPECT_EQ(y, 0);
        float fx = -1, fy = -1;
        EXPECT_FALSE(m.GeoToSegmentXY(fx, fy, -128.0f, 0.0f));
        EXPECT_EQ(fx, 0.0f);
        EXPECT_EQ(fy, 0.0f);
    }
}

TEST(SegmentWorkedValues, HostileInputsDoNotProduceNumbers)
{
    const TSegmentMapping m = Composite();
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (auto [lon, lat] : {std::pair{nan, 0.0f}, std::pair{0.0f, nan}, std::pair{inf, 0.0f},
                            std::pair{-128.0f, inf}}) {
        int x = -1, y = -1;
        EXPECT_FALSE(m.GeoToPixel(x, y, lon, lat));
        EXPECT_EQ(x, 0);
        EXPECT_EQ(y, 0);
    }
    // A huge but finite position is only a number: whatever comes back is a pixel or false.
    int x = -1, y = -1;
    m.GeoToPixel(x, y, 1e30f, 1e30f);
    float lon = 0, lat = 0;
    EXPECT_FALSE(m.PixelToGeo(std::numeric_limits<int>::max(), std::numeric_limits<int>::min(), lon, lat));
    EXPECT_FALSE(std::isnan(lon));
}

TEST(SegmentWorkedValues, PixelScaleDividesTheForwardOnly)
{
    TSegmentMapping m = Composite();
    m.PixelScale = 2.0f;
    int x = -1, y = -1;
    ASSERT_TRUE(m.GeoToPixel(x, y, -100.0f, 30.0f));
    float fx, fy;
    ASSERT_TRUE(m.GeoToSegmentXY(fx, fy, -100.0f, 30.0f));
    EXPECT_EQ(x, static_cast<int>(std::nearbyint(fx / 2.0f)));
    EXPECT_EQ(y, static_cast<int>(std::nearbyint(fy / 2.0f)));
    float lon, lat;
    ASSERT_TRUE(m.PixelToGeo(1408, 1625, lon, lat));
    EXPECT_NEAR(lon, -128.016, 0.0005);
}

TEST(SegmentWorkedValues, OriginsShiftBothDirections)
{
    TSegmentMapping m = Composite();
    m.SetOriginX(10);
    m.SetOriginY(-20);
    int x = -1, y = -1;
    ASSERT_TRUE(m.GeoToPixel(x, y, -128.0f, 0.0f));
    EXPECT_EQ(x, 1418);
    EXPECT_EQ(y, 1646);
    float lon, lat;
    ASSERT_TRUE(m.PixelToGeo(1418, 1645, lon, lat));
    EXPECT_NEAR(lon, -128.016, 0.0005);
    EXPECT_NEAR(lat, 0.024, 0.0005);
    EXPECT_FALSE(m.GeoToPixel(x, y, 0.0f, 0.0f));
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
}

TEST(SegmentWorkedValues, AssignCopiesTheRowButNotTheOffsetOrScale)
{
    TSegmentMapping source = Composite();
    source.PixelScale = 3.0f;
    TSegmentMapping target;
    target.Assign(source);
    EXPECT_EQ(target.SegmentIndex, 125);
    EXPECT_EQ(target.LongitudeOffset, 0.0f);
    EXPECT_EQ(target.PixelScale, 1.0f);
    EXPECT_EQ(target.Lines, 3248);
    EXPECT_EQ(target.Columns, 2816);

    TMapping plain;
    plain.SetProjection(1);
    target.Assign(plain);
    EXPECT_EQ(target.SegmentIndex, 125) << "a plain source has no row to copy";
    EXPECT_EQ(target.Projection, 1);
}

} // namespace

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "mapping/Mapping.h"
#include "mapping/SegmentStuff.h"

namespace {

TEST(Mapping, NewObjectAnswersFalseEverywhere)
{
    TMapping m;
    EXPECT_EQ(m.Projection, 0);
    EXPECT_EQ(m.ImageWidth(), 0);
    EXPECT_EQ(m.ImageHeight(), 0);
    int x = 5, y = 6;
    EXPECT_FALSE(m.GeoToPixel(x, y, 10.0f, 20.0f));
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 6);
    float fx = 5, fy = 6;
    EXPECT_FALSE(m.GeoToPixelF(fx, fy, 10.0f, 20.0f));
    EXPECT_EQ(fx, 5.0f);
    float lon = 1, lat = 2;
    EXPECT_FALSE(m.PixelToGeo(0, 0, lon, lat));
    m.SetImageWidth(100);
    m.SetImageHeight(100);
    EXPECT_FALSE(m.PixelToGeo(10, 10, lon, lat)) << "kind 0 has no inverse";
    EXPECT_EQ(lon, 1.0f);
    EXPECT_FALSE(m.IsMapProjection());
}

TEST(Mapping, ReferenceLatitudeNearTheEquator)
{
    TMapping m;
    m.SetProjection(9);
    m.SetReferenceLatitude(0.0005f);
    EXPECT_EQ(m.ReferenceLatitude, 0.001f);
    EXPECT_FALSE(m.Southern);
    m.SetReferenceLatitude(0.0f);
    EXPECT_EQ(m.ReferenceLatitude, -0.001f);
    EXPECT_TRUE(m.Southern);
    m.SetProjection(10);
    m.SetReferenceLatitude(0.0f);
    EXPECT_EQ(m.ReferenceLatitude, -0.001f);
    EXPECT_TRUE(m.Southern);
    m.SetReferenceLatitude(-0.0002f);
    EXPECT_EQ(m.ReferenceLatitude, -0.001f);
    m.SetProjection(2);
    m.SetReferenceLatitude(0.0005f);
    EXPECT_EQ(m.ReferenceLatitude, 0.0005f);
    m.SetReferenceLatitude(0.0f);
    EXPECT_EQ(m.ReferenceLatitude, 0.0f);
    EXPECT_FALSE(m.Southern);
}

TEST(Mapping, ReferenceLatitudeResetsTheParallels)
{
    TMapping m;
    m.SetProjection(10);
    m.SetParallel1(-44.5f);
    m.SetParallel2(44.0f);
    EXPECT_EQ(m.Parallel1, 44.5f);
    EXPECT_EQ(m.Parallel2, 44.0f);
    m.SetReferenceLatitude(-25.7f);
    EXPECT_EQ(m.Parallel1, 25.7f);
    EXPECT_EQ(m.Parallel2, 25.7f);
    EXPECT_TRUE(m.Southern);
    EXPECT_NEAR(m.SinReference, std::sin(-25.7 * M_PI / 180), 1e-7);
    EXPECT_NEAR(m.CosReference, std::cos(-25.7 * M_PI / 180), 1e-7);
}

TEST(Mapping, DerivedConstants)
{
    TMapping m;
    m.SetProjection(2);
    m.SetImageHeight(301);
    m.SetImageWidth(400);
    m.SetCentralLongitude(10.0f);
    m.SetLongitudeSpan(40.0f);
    m.SetReferenceLatitude(30.0f);
    m.SetLatitudeSpan(200.0f);
    EXPECT_EQ(m.LatitudeSpan, 180.0f) << "capped";
    EXPECT_EQ(m.WestEdge, -10.0f);
    EXPECT_EQ(m.SouthEdge, -60.0f);
    EXPECT_EQ(m.HalfLines, 150);
    EXPECT_FLOAT_EQ(m.LinesInverse, 1.0f / 301);
    EXPECT_FLOAT_EQ(m.ColumnsInverse, 1.0f / 400);
    EXPECT_FLOAT_EQ(m.Eccentricity, static_cast<float>(std::sqrt(0.006694318)));
    EXPECT_FLOAT_EQ(m.HalfEccentricity, m.Eccentricity / 2);
    EXPECT_FLOAT_EQ(m.Eccentricity * m.Eccentricity, 0.0066943178f);

    TMapping w;
    w.SetProjection(13);
    w.SetLatitudeSpan(360.0f);
    EXPECT_EQ(w.LatitudeSpan, 360.0f) << "the world azimuthal map may span more";
}

TEST(Mapping, NewObjectIsConsistentAboutItsReferenceLatitude)
{
    TMapping m;
    EXPECT_EQ(m.ReferenceLatitude, 0.0f);
    EXPECT_EQ(m.SinReference, 0.0f);
    EXPECT_EQ(m.CosReference, 1.0f);
    m.SetProjection(7);
    m.SetImageHeight(400);
    m.SetImageWidth(400);
    int x, y;
    ASSERT_TRUE(m.GeoToPixel(x, y, 0.0f, 30.0f));
    EXPECT_EQ(x, 200);
    EXPECT_EQ(y, 200 - 160) << "0.8 x sin 30 x 400 above the centre";
}

TEST(Mapping, ZeroImageSizeKeepsTheInverses)
{
    TMapping m;
    m.SetImageHeight(200);
    m.SetImageHeight(0);
    EXPECT_EQ(m.Lines, 0);
    EXPECT_FLOAT_EQ(m.LinesInverse, 1.0f / 200);
}

struct TScaleCase {
    std::uint8_t Kind;
    float Scale;
};

class DefaultScales : public ::testing::TestWithParam<TScaleCase> {};

TEST_P(DefaultScales, WithoutALatitudeSpan)
{
    TMapping m;
    m.SetProjection(GetParam().Kind);
    EXPECT_FLOAT_EQ(m.Scale, GetParam().Scale) << int(GetParam().Kind);
}

INSTANTIATE_TEST_SUITE_P(All, DefaultScales,
                         ::testing::Values(TScaleCase{3, 0.75f}, TScaleCase{4, 0.4f}, TScaleCase{7, 0.8f},
                                           TScaleCase{8, 0.8f}, TScaleCase{9, 1.7f}, TScaleCase{11, 0.4f},
                                           TScaleCase{12, 0.155f}, TScaleCase{13, 0.15915494f}));

TEST(Mapping, FittedScales)
{
    TMapping m;
    m.SetProjection(7);
    m.SetImageHeight(1595);
    m.SetImageWidth(1595);
    m.SetLatitudeSpan(180.0f);
    EXPECT_FLOAT_EQ(m.Scale, 0.5f) << "the globe fills the picture";

    TMapping w;
    w.SetProjection(13);
    w.SetImageHeight(500);
    w.SetImageWidth(1000);
    EXPECT_FLOAT_EQ(w.Scale, static_cast<float>(0.5 / (2 * M_PI)));
    w.SetLatitudeSpan(90.0f);
    EXPECT_FLOAT_EQ(w.Scale, static_cast<float>(0.5 / (M_PI / 2)));

    TMapping p;
    p.SetProjection(9);
    p.SetReferenceLatitude(60.0f);
    EXPECT_FLOAT_EQ(p.Scale, 1.7f);
    EXPECT_FLOAT_EQ(p.PolarOffset, 0.25f * 1.7f);
    EXPECT_FLOAT_EQ(p.ScaleInverse, 1 / 1.7f);

    TMapping g;
    g.SetProjection(12);
    EXPECT_FLOAT_EQ(g.GrintenScale, static_cast<float>(0.155 * M_PI));
    EXPECT_FLOAT_EQ(g.GrintenInverse, static_cast<float>(1 / (0.155 * M_PI)));
}

TEST(Mapping, SetProjectionDefaults)
{
    TMapping m;
    m.SetCentralLongitude(50.0f);
    m.SetProjection(5);
    EXPECT_EQ(m.CentralLongitude, 0.0f);
    EXPECT_EQ(m.LongitudeSpan, 360.0f);
    m.SetCentralLongitude(50.0f);
    m.SetProjection(2);
    EXPECT_EQ(m.CentralLongitude, 0.0f);
}

TEST(Mapping, IsMapProjectionByKind)
{
    TMapping m;
    for (int k = 0; k <= 15; ++k) {
        m.SetProjection(static_cast<std::uint8_t>(k));
        const bool expected = (k >= 1 && k <= 7) || (k >= 9 && k <= 13);
        EXPECT_EQ(m.IsMapProjection(), expected) << k;
    }
}

TEST(Mapping, DrawingLimits)
{
    TMapping m;
    m.SetImageHeight(300);
    m.SetImageWidth(500);
    EXPECT_EQ(m.DrawingHeight(), 500);
    EXPECT_EQ(m.DrawingWidth(), 500);
    m.SetImageHeight(700);
    EXPECT_EQ(m.DrawingHeight(), 700);
}

TEST(Mapping, WholeWorldEdges)
{
    TMapping m;
    m.SetProjection(1);
    m.SetImageHeight(500);
    m.SetImageWidth(1000);
    int x, y;
    ASSERT_TRUE(m.GeoToPixel(x, y, -180.0f, 90.0f));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    ASSERT_TRUE(m.GeoToPixel(x, y, 180.0f, -90.0f));
    EXPECT_EQ(x, 1000);
    EXPECT_EQ(y, 500);
    ASSERT_TRUE(m.GeoToPixel(x, y, 540.0f, 0.0f));
    EXPECT_EQ(x, 1000);
    EXPECT_EQ(y, 250);
    // Halves go to the even neighbour: 0.18 degrees is 0.5 pixel here.
    ASSERT_TRUE(m.GeoToPixel(x, y, -179.82f, 0.0f));
    EXPECT_EQ(x, 0);
}

// A 600 x 400 Mercator window 60 degrees wide and 30 high around (20 E, 45 N).
TMapping EuropeMercator()
{
    TMapping m;
    m.SetProjection(6);
    m.SetImageHeight(400);
    m.SetImageWidth(600);
    m.SetCentralLongitude(20.0f);
    m.SetLongitudeSpan(60.0f);
    m.SetReferenceLatitude(45.0f);
    m.SetLatitudeSpan(30.0f);
    return m;
}

TEST(Mapping, RegionalMercatorOutsideTheWindow)
{
    TMapping m = EuropeMercator();
    int x, y;
    ASSERT_TRUE(m.GeoToPixel(x, y, 20.0f, 45.0f));
    EXPECT_NEAR(x, 300, 1);
    EXPECT_NEAR(y, 200, 15);
    EXPECT_FALSE(m.GeoToPixel(x, y, 50.5f, 45.0f));
    EXPECT_EQ(x, 605) << "computed although outside";
    EXPECT_FALSE(m.GeoToPixel(x, y, 20.0f, 75.0f));
    EXPECT_LT(y, 0);
    float fx, fy;
    EXPECT_FALSE(m.GeoToPixelF(fx, fy, -10.5f, 45.0f));
    EXPECT_FLOAT_EQ(fx, -5.0f);
}

TEST(Mapping, OriginsReadBackAndShiftEveryResult)
{
    TMapping m = EuropeMercator();
    m.SetOriginX(-36);
    m.SetOriginY(306);
    EXPECT_EQ(m.OriginX(), -36);
    EXPECT_EQ(m.OriginY(), 306);
    int x, y;
    ASSERT_TRUE(m.GeoToPixel(x, y, 20.0f, 45.0f));
    EXPECT_NEAR(x, 300 - 36, 1);
    EXPECT_FALSE(m.GeoToPixel(x, y, 50.5f, 45.0f));
    EXPECT_EQ(x, 605 - 36);
    float lon, lat;
    ASSERT_TRUE(m.PixelToGeo(300 - 36, 200 - 306, lon, lat));
    EXPECT_NEAR(lon, 20.0f, 0.1f);

    TMapping s;
    s.SetProjection(7);
    s.SetImageHeight(100);
    s.SetImageWidth(100);
    s.SetOriginX(7);
    s.SetOriginY(3);
    EXPECT_FALSE(s.GeoToPixel(x, y, 180.0f, 0.0f)) << "beyond the distance limit";
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, -3);
}

TEST(Mapping, DistanceLimits)
{
    TMapping m;
    m.SetImageHeight(800);
    m.SetImageWidth(800);
    int x, y;
    // 6300 km on the equator is 56.6 degrees of arc.
    m.SetProjection(7);
    EXPECT_TRUE(m.GeoToPixel(x, y, 56.5f, 0.0f));
    EXPECT_FALSE(m.GeoToPixel(x, y, 56.7f, 0.0f));
    m.SetProjection(3);
    EXPECT_TRUE(m.GeoToPixel(x, y, 107.7f, 0.0f)); // 12000 km is 107.8 degrees
    EXPECT_FALSE(m.GeoToPixel(x, y, 107.9f, 0.0f));
    m.SetProjection(10);
    m.SetReferenceLatitude(40.0f);
    EXPECT_FALSE(m.GeoToPixel(x, y, 0.0f, -50.0f));
    m.SetProjection(8);
    EXPECT_TRUE(m.GeoToPixel(x, y, 0.0f, 40.0f));
    EXPECT_FALSE(m.GeoToPixel(x, y, 0.0f, 101.0f - 0.5f)); // beyond 60 degrees in the turned frame
}

TEST(Mapping, GnomonicHorizonAndCentre)
{
    TMapping m;
    m.SetProjection(11);
    m.SetImageHeight(800);
    m.SetImageWidth(800);
    m.SetReferenceLatitude(45.0f);
    int x, y;
    // The centre is on the map (the middle pixel).
    ASSERT_TRUE(m.GeoToPixel(x, y, 0.0f, 45.0f));
    EXPECT_EQ(x, 400);
    EXPECT_EQ(y, 400);
    // 90 degrees or more away: behind the horizon of the gnomonic plane.
    EXPECT_FALSE(m.GeoToPixel(x, y, 0.0f, -45.0f));
    EXPECT_FALSE(m.GeoToPixel(x, y, 95.0f, 0.0f));
}

TEST(Mapping, WorldAzimuthalShowsNothingBeyondTheAntipode)
{
    TMapping m;
    m.SetProjection(13);
    m.SetImageHeight(800);
    m.SetImageWidth(800);
    m.SetReferenceLatitude(40.0f);
    float lon, lat;
    // Scale 1/(2 pi): the antipode circle touches the picture's edges.
    ASSERT_TRUE(m.PixelToGeo(400, 5, lon, lat));
    EXPECT_NEAR(lat, -37.75f, 0.01f); // 177.75 degrees north over the pole
    EXPECT_FALSE(m.PixelToGeo(0, 0, lon, lat));
    EXPECT_FALSE(m.PixelToGeo(5000, 400, lon, lat));
}

TEST(Mapping, ObliqueViewHasNoInverse)
{
    TMapping m;
    m.SetProjection(8);
    m.SetImageHeight(800);
    m.SetImageWidth(800);
    float lon, lat;
    EXPECT_FALSE(m.PixelToGeo(400, 400, lon, lat));
}

TEST(Mapping, MercatorOrdinate)
{
    EXPECT_EQ(MercatorOrdinate(0), 0);
    EXPECT_NEAR(static_cast<double>(MercatorOrdinate(45)), 180 / M_PI * std::log(std::tan(67.5 * M_PI / 180)), 1e-12);
    EXPECT_EQ(MercatorOrdinate(-30), -MercatorOrdinate(30));
    for (int lat = -85; lat <= 85; lat += 5)
        EXPECT_NEAR(static_cast<double>(MercatorLatitude(MercatorOrdinate(lat))), lat, 1e-12);
}

TEST(Mapping, VanDerGrintenOuterCircle)
{
    TMapping m;
    m.SetProjection(12);
    m.SetImageHeight(1000);
    m.SetImageWidth(1000);
    const double radius = 0.155 * M_PI * 1000;
    for (int lat = -85; lat <= 85; lat += 5) {
        float fx, fy;
        ASSERT_TRUE(m.GeoToPixelF(fx, fy, 180.0f, static_cast<float>(lat)));
        EXPECT_NEAR(std::hypot(fx - 500.0, fy - 500.0), radius, 0.01) << lat;
    }
    float fx, fy;
    ASSERT_TRUE(m.GeoToPixelF(fx, fy, 0.0f, 90.0f));
    EXPECT_NEAR(fy, 500 - radius, 0.01);
    ASSERT_TRUE(m.GeoToPixelF(fx, fy, 90.0f, 0.0f));
    EXPECT_NEAR(fx, 500 + radius / 2, 0.01) << "the equator is evenly spaced";
    float lon, lat;
    EXPECT_FALSE(m.PixelToGeo(0, 0, lon, lat)) << "outside the circle";
}

TEST(Mapping, AssignCopiesTheSettings)
{
    TMapping src;
    src.SetProjection(10);
    src.SetImageHeight(300);
    src.SetImageWidth(400);
    src.Tile = 3;
    src.Rotation = 15.0f;
    src.SetLongitudeSpan(50.0f);
    src.SetLatitudeSpan(40.0f);
    src.SetCentralLongitude(-100.0f);
    src.SetReferenceLatitude(45.0f);
    src.SetParallel1(33.0f);
    src.SetParallel2(45.0f);
    src.SetOriginX(12);
    src.SetOriginY(-7);
    src.LongitudeOffset = 5.0f;

    TMapping dst;
    dst.CopyFrom(src);
    EXPECT_EQ(dst.Projection, 10);
    EXPECT_EQ(dst.Lines, 300);
    EXPECT_EQ(dst.Columns, 400);
    EXPECT_EQ(dst.Tile, 3);
    EXPECT_EQ(dst.Rotation, 15.0f);
    EXPECT_EQ(dst.LongitudeSpan, 50.0f);
    EXPECT_EQ(dst.LatitudeSpan, 40.0f);
    EXPECT_EQ(dst.CentralLongitude, -100.0f);
    EXPECT_EQ(dst.ReferenceLatitude, 45.0f);
    EXPECT_EQ(dst.Parallel1, 33.0f);
    EXPECT_EQ(dst.Parallel2, 45.0f);
    EXPECT_EQ(dst.OriginX(), 12);
    EXPECT_EQ(dst.OriginY(), -7);
    EXPECT_EQ(dst.LongitudeOffset, 0.0f);
    EXPECT_EQ(dst.ConeConstant, src.ConeConstant);
    EXPECT_EQ(dst.ConeOriginRadius, src.ConeOriginRadius);

    dst.Assign(dst);
    EXPECT_EQ(dst.CentralLongitude, -100.0f) << "assigning to itself changes nothing";
}

TEST(Presets, ConfiguredAsTheirRows)
{
    const TMapping* lcc = SegmentPreset(95);
    ASSERT_NE(lcc, nullptr);
    EXPECT_EQ(lcc->Projection, 10);
    EXPECT_EQ(lcc->ImageHeight(), 1024);
    EXPECT_EQ(lcc->ImageWidth(), 1024);
    EXPECT_EQ(lcc->CentralLongitude, 128.5f);
    EXPECT_EQ(lcc->ReferenceLatitude, 25.7f);
    EXPECT_EQ(lcc->Parallel1, 44.5f) << "the second pass sets the parallels last";
    EXPECT_EQ(lcc->Parallel2, 44.0f);
    EXPECT_EQ(lcc->LatitudeSpan, 46.6f);
    EXPECT_EQ(lcc->OriginX(), 171);
    EXPECT_EQ(lcc->OriginY(), 0);

    const TMapping* lcc4 = SegmentPreset(96);
    ASSERT_NE(lcc4, nullptr);
    EXPECT_EQ(lcc4->ImageWidth(), 4096);
    EXPECT_EQ(lcc4->Parallel1, 44.5f);
    EXPECT_EQ(lcc4->Parallel2, 44.0f);
    EXPECT_EQ(lcc4->OriginX(), 684);
    EXPECT_EQ(lcc4->ConeConstant, lcc->ConeConstant);

    const TMapping* gms = SegmentPreset(92);
    ASSERT_NE(gms, nullptr);
    EXPECT_EQ(gms->Projection, 9);
    EXPECT_EQ(gms->CentralLongitude, 135.0f);
    EXPECT_EQ(gms->ReferenceLatitude, 35.45f);
    EXPECT_EQ(gms->Parallel1, 35.45f);
    EXPECT_EQ(gms->OriginX(), 137);

    const TMapping* icao = SegmentPreset(145);
    ASSERT_NE(icao, nullptr);
    EXPECT_EQ(icao->ImageHeight(), 877);
    EXPECT_EQ(icao->ImageWidth(), 1078);
    EXPECT_EQ(icao->CentralLongitude, -45.0f);
    EXPECT_EQ(icao->ReferenceLatitude, 90.0f);
    EXPECT_EQ(icao->LatitudeSpan, 101.68f);
    EXPECT_EQ(icao->OriginX(), -36);
    EXPECT_EQ(icao->OriginY(), 306);

    const TMapping* mts = SegmentPreset(143);
    ASSERT_NE(mts, nullptr);
    EXPECT_EQ(mts->Projection, 7);
    EXPECT_EQ(mts->ImageHeight(), 1595);
    EXPECT_EQ(mts->ImageWidth(), 1595);
    EXPECT_EQ(mts->CentralLongitude, 140.5f);
    EXPECT_EQ(mts->ReferenceLatitude, 0.0f);
    EXPECT_EQ(mts->LatitudeSpan, 180.0f);
    EXPECT_FLOAT_EQ(mts->Scale, 0.5f);
    EXPECT_EQ(mts->OriginX(), 58);
    EXPECT_EQ(mts->OriginY(), -52);
}

TEST(Presets, PolarMapHasThePoleInTheMiddle)
{
    const TMapping* icao = SegmentPreset(145);
    int x, y;
    ASSERT_TRUE(icao->GeoToPixel(x, y, 0.0f, 90.0f));
    EXPECT_EQ(x, 1078 / 2 - 36);
    EXPECT_EQ(y, 877 / 2 - 306);
}

// ---------------------------------------------------------------------------------------------
// Round trips of every kind: pixel -> position -> pixel.

struct TKindSetup {
    std::string Name;
    std::uint8_t Kind;
    int Lines, Columns;
    float CentralLongitude, ReferenceLatitude, LatitudeSpan, LongitudeSpan;
    float Parallel1 = 0, Parallel2 = 0;
    std::uint8_t Tile = 0;
    int OriginX = 0, OriginY = 0;
    bool Wraps = true;
};

TMapping Build(const TKindSetup& s)
{
    TMapping m;
    m.SetProjection(s.Kind);
    m.SetImageHeight(s.Lines);
    m.SetImageWidth(s.Columns);
    m.Tile = s.Tile;
    m.SetLongitudeSpan(s.LongitudeSpan);
    m.SetLatitudeSpan(s.LatitudeSpan);
    m.SetCentralLongitude(s.CentralLongitude);
    m.SetReferenceLatitude(s.ReferenceLatitude);
    if (s.Parallel1 != 0) {
        m.SetParallel1(s.Parallel1);
        m.SetParallel2(s.Parallel2);
    }
    m.SetOriginX(s.OriginX);
    m.SetOriginY(s.OriginY);
    return m;
}

class KindRoundTrip : public ::testing::TestWithParam<TKindSetup> {};

TEST_P(KindRoundTrip, PixelsComeBack)
{
    const TKindSetup& s = GetParam();
    const TMapping m = Build(s);
    int inverse = 0, both = 0;
    for (int y = 0; y < s.Lines; y += 7) {
        for (int x = 0; x < s.Columns; x += 7) {
            const int px = x + s.OriginX, py = y - s.OriginY;
            float lon, lat;
            if (!m.PixelToGeo(px, py, lon, lat))
                continue;
            ++inverse;
            ASSERT_TRUE(std::isfinite(lon) && std::isfinite(lat)) << px << "," << py;
            ASSERT_LE(std::fabs(lat), 90.0f + 1e-4f) << px << "," << py;
            if (s.Wraps) {
                ASSERT_GE(lon, -180.0f);
                ASSERT_LT(lon, 180.0f);
            }
            int bx, by;
            if (!m.GeoToPixel(bx, by, lon, lat))
                continue; // beyond the forward's distance limit or window
            ++both;
            ASSERT_LE(std::abs(bx - px), 1) << s.Name << " " << px << "," << py << " -> " << lon << "," << lat;
            ASSERT_LE(std::abs(by - py), 1) << s.Name << " " << px << "," << py << " -> " << lon << "," << lat;
        }
    }
    EXPECT_GT(both, 200) << s.Name;
    EXPECT_GT(both * 3, inverse) << s.Name << ": most inverse points must come back";
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, KindRoundTrip,
    ::testing::Values(
        TKindSetup{"WholeWorld", 1, 500, 1000, 0, 0, 0, 0},
        TKindSetup{"Regional", 2, 400, 600, 170, 30, 30, 40},
        TKindSetup{"RegionalFixedGrid", 14, 400, 600, -60, -20, 60, 80},
        TKindSetup{"AzimuthalEquidistant", 3, 800, 800, -100, 40, 0, 0},
        TKindSetup{"AzimuthalFitted", 4, 600, 800, 10, 50, 60, 0},
        TKindSetup{"AzimuthalNorthPole", 4, 600, 600, 0, 90, 60, 0},
        TKindSetup{"AzimuthalSouthPole", 4, 600, 600, 30, -90, 60, 0},
        TKindSetup{"WorldMercator", 5, 800, 800, 0, 0, 0, 0},
        TKindSetup{"RegionalMercator", 6, 600, 800, 20, 40, 40, 60},
        TKindSetup{"Orthographic", 7, 800, 800, -128, 0, 180, 0, 0, 0, 0, 0, 0, false},
        TKindSetup{"OrthographicTilted", 7, 600, 600, 30, 45, 0, 0, 0, 0, 0, 0, 0, false},
        TKindSetup{"PolarNorth", 9, 800, 800, 135, 35.45f, 46.6f, 0, 0, 0, 0, 137, 0, false},
        TKindSetup{"PolarSouth", 9, 700, 900, 0, -70, 40, 0, 0, 0, 0, 0, 0, false},
        TKindSetup{"PolarDefault", 9, 800, 800, -45, 60, 0, 0, 0, 0, 0, 0, 0, false},
        TKindSetup{"PolarIcao", 9, 877, 1078, -45, 90, 101.68f, 0, 0, 0, 0, -36, 306, false},
        TKindSetup{"ConicNorth", 10, 1024, 1024, 128.5f, 25.7f, 46.6f, 0, 44.5f, 44.0f, 0, 171, 0, false},
        TKindSetup{"ConicOneParallel", 10, 600, 800, -96, 39, 0, 0, 0, 0, 0, 0, 0, false},
        TKindSetup{"ConicSouth", 10, 600, 800, 135, -30, 0, 0, 50.0f, 70.0f, 0, 0, 0, false},
        TKindSetup{"Gnomonic", 11, 800, 800, 0, 45, 60, 0},
        TKindSetup{"VanDerGrinten", 12, 500, 1000, 0, 0, 0, 0, 0, 0, 0, 0, 0, false},
        TKindSetup{"VanDerGrintenQuarter", 12, 500, 1000, 20, 0, 0, 0, 0, 0, 3, 0, 0, false},
        TKindSetup{"VanDerGrintenNinth", 12, 500, 1000, 0, 0, 0, 0, 0, 0, 9, 0, 0, false},
        TKindSetup{"WorldAzimuthal", 13, 800, 800, 0, 40, 0, 0},
        TKindSetup{"WorldAzimuthalWide", 13, 500, 1000, -100, -20, 0, 0},
        TKindSetup{"WorldAzimuthalFitted", 13, 800, 800, 10, 60, 90, 0}),
    [](const auto& info) { return info.param.Name; });

} // namespace

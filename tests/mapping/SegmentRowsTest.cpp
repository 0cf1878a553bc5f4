#include <gtest/gtest.h>

#include <cmath>
#include <string_view>

#include "mapping/AbiGrid.h"
#include "mapping/DiscMask.h"
#include "mapping/SegmentStuff.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A second geostationary forward transform, written in vector form and in double precision,
// to hold the segment mapping to: the surface point from the geodetic latitude through the
// prime-vertical radius, the line of sight as a vector from the satellite.
struct TReference {
    double a, b, H, subLon;
    double lineOffset, columnOffset, pixelFactor;
    int columns, lines;

    bool Forward(double lonDeg, double latDeg, double& X, double& Y) const
    {
        const double phi = latDeg * kPi / 180, dl = (lonDeg - subLon) * kPi / 180;
        const double e2 = 1 - (b * b) / (a * a);
        const double N = a / std::sqrt(1 - e2 * std::sin(phi) * std::sin(phi));
        const double px = N * std::cos(phi) * std::cos(dl);
        const double py = N * std::cos(phi) * std::sin(dl);
        const double pz = N * (1 - e2) * std::sin(phi);
        // Visible when the satellite lies above the tangent plane at the point.
        if ((H - px) * px / (a * a) - py * py / (a * a) - pz * pz / (b * b) < 0)
            return false;
        const double x = std::atan2(py, H - px) * 180 / kPi;
        const double y = std::atan2(pz, std::hypot(py, H - px)) * 180 / kPi;
        const double xb = ((1249.5 - x / 0.0072 - columnOffset) + 0.5) * pixelFactor - 0.5;
        const double yb = ((y / 0.0072 + 1249.5 - lineOffset) + 0.5) * pixelFactor - 0.5;
        X = (columns - 1) - xb;
        Y = (lines - 1) - yb;
        return true;
    }
};

TReference ReferenceOfComposite()
{
    return {6378.140, 6356.755, 42155.0, -128.0, -196.0, -4.5, 1.1216000318527222, 2816, 3248};
}

TEST(SegmentAgainstReference, ForwardAgreesToAHundredthOfAPixel)
{
    TSegmentMapping m;
    m.SegmentIndex = 125;
    m.LongitudeOffset = 7.0f;
    const TReference ref = ReferenceOfComposite();
    int compared = 0;
    for (int lat10 = -850; lat10 <= 850; lat10 += 13) {
        for (int lon10 = -2200; lon10 <= -400; lon10 += 17) {
            const float lon = lon10 / 10.0f, lat = lat10 / 10.0f;
            double rx = 0, ry = 0;
            float fx = 0, fy = 0;
            const bool visible = ref.Forward(lon, lat, rx, ry);
            const bool ours = m.GeoToSegmentXY(fx, fy, lon, lat);
            // Right at the limb the two may differ in the last bit of the test value; only the
            // side that sees the point has placed it.
            if (visible != ours) {
                const double x = visible ? rx : fx, y = visible ? ry : fy;
                EXPECT_TRUE(std::hypot(x - 1408.45, y - 1625.67) > 1300) << lon << "," << lat;
                continue;
            }
            if (!visible)
                continue;
            ASSERT_NEAR(fx, rx, 0.01) << lon << "," << lat;
            ASSERT_NEAR(fy, ry, 0.01) << lon << "," << lat;
            ++compared;
        }
    }
    EXPECT_GT(compared, 5000);
}

TEST(SegmentAgainstReference, InverseLandsOnThePixel)
{
    TSegmentMapping m;
    m.SegmentIndex = 125;
    m.LongitudeOffset = 7.0f;
    const TReference ref = ReferenceOfComposite();
    int compared = 0;
    for (int y = 0; y < 3248; y += 29) {
        for (int x = 0; x < 2816; x += 31) {
            float lon, lat;
            if (!m.PixelToGeo(x, y, lon, lat))
                continue;
            double rx, ry;
            ASSERT_TRUE(ref.Forward(lon, lat, rx, ry)) << x << "," << y;
            // Single-precision degrees near the limb carry a few hundredths of a pixel.
            const double tolerance = std::hypot(x - 1408.45, y - 1625.67) < 1200 ? 0.01 : 0.1;
            ASSERT_NEAR(rx, x, tolerance) << x << "," << y;
            ASSERT_NEAR(ry, y, tolerance) << x << "," << y;
            ++compared;
        }
    }
    EXPECT_GT(compared, 5000);
}

TEST(SegmentTable, HasEveryRowInOrder)
{
    const auto table = SegmentTable();
    ASSERT_EQ(table.size(), 156u);
    EXPECT_EQ(SegmentData(0), nullptr);
    EXPECT_EQ(SegmentData(157), nullptr);
    EXPECT_EQ(SegmentData(1)->Name, "~ImageOnly");
    EXPECT_EQ(SegmentData(156)->Name, "~world");
    EXPECT_EQ(SegmentData(5)->Name, "C1D");
    EXPECT_EQ(SegmentData(5)->AltName, "D1");
    EXPECT_EQ(SegmentData(59)->AltName, "~marf");
    EXPECT_EQ(SegmentData(74)->Name, "");
    EXPECT_EQ(SegmentData(74)->AltName, "~GOES-E NE");
    EXPECT_EQ(SegmentData(146)->AltName, "GOMS1-4km");
    EXPECT_EQ(SegmentData(143)->Name, "MTSat-1700x1700");
    for (const auto& row : table) {
        EXPECT_FALSE(row.Name.empty() && row.AltName.empty());
        EXPECT_NE(row.PixelFactor, 0.0f) << row.Name;
    }
}

struct TGoesRow {
    int Row;
    std::string_view Label;
    float LineOffset, ColumnOffset;
    int Columns, Lines;
    float PixelFactor, NominalLongitude;
};

class GoesRows : public ::testing::TestWithParam<TGoesRow> {};

TEST_P(GoesRows, CarryTheirLayout)
{
    const TGoesRow& e = GetParam();
    const TASegmentData* d = SegmentData(e.Row);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Name.empty() ? d->AltName : d->Name, e.Label);
    EXPECT_EQ(d->LineOffset, e.LineOffset);
    EXPECT_EQ(d->ColumnOffset, e.ColumnOffset);
    EXPECT_EQ(d->Columns, e.Columns);
    EXPECT_EQ(d->Lines, e.Lines);
    EXPECT_EQ(d->PixelFactor, e.PixelFactor);
    EXPECT_EQ(d->NominalLongitude, e.NominalLongitude);
}

INSTANTIATE_TEST_SUITE_P(
    All, GoesRows,
    ::testing::Values(
        TGoesRow{60, "~goes-EN-01", 1595.0f, 944.0f, 1214, 865, 1.1212f, -75.0f},
        TGoesRow{61, "~goes-EN-02", 1586.0f, 944.0f, 1214, 883, 1.1212f, -75.0f},
        TGoesRow{62, "~goes-E-conus", 1548.0f, 974.0f, 1200, 1000, 1.12f, -75.0f},
        TGoesRow{63, "~goes-FD-01", 49.0f, -195.0f, 2976, 2705, 1.1212f, -75.0f},
        TGoesRow{64, "~goes-W-conus", 1548.0f, 418.0f, 1200, 1000, 1.12f, -135.0f},
        TGoesRow{68, "PDUS-E", 0.5f, 0.5f, 1250, 1250, 0.5f, -75.0f},
        TGoesRow{69, "PDUS-W", 0.5f, 0.5f, 1250, 1250, 0.5f, -135.0f},
        TGoesRow{74, "~GOES-E NE", 1109.0f, 40.0f, 800, 800, 0.561f, -75.0f},
        TGoesRow{75, "~GOES-E NW", 1109.0f, 1034.0f, 800, 800, 0.561f, -75.0f},
        TGoesRow{76, "~GOES-E SE", -22.0f, 40.0f, 800, 800, 0.561f, -75.0f},
        TGoesRow{77, "~GOES-E SW", -22.0f, 1034.0f, 800, 800, 0.561f, -75.0f},
        TGoesRow{78, "~GOES-E NWNE", 1109.0f, 40.0f, 1357, 800, 0.561f, -75.0f},
        TGoesRow{79, "~GOES-E NH", 1061.0f, 624.0f, 800, 800, 0.561f, -75.0f},
        TGoesRow{80, "~GOES-E US", 1563.0f, 1149.0f, 800, 800, 1.122f, -75.0f},
        TGoesRow{81, "~GOES-W NH", 1050.0f, 620.0f, 800, 800, 0.561f, -135.0f},
        TGoesRow{82, "LR", 150.0f, 300.0f, 800, 800, 0.6153846f, -75.0f},
        TGoesRow{83, "LY", 1150.0f, 750.0f, 800, 800, 0.6153846f, -75.0f},
        TGoesRow{84, "LZ", 1650.0f, 750.0f, 800, 800, 1.0f, -75.0f},
        TGoesRow{85, "gsfc-goes-E-fulldisk", -171.5f, -464.0f, 1200, 1000, 0.374f, -75.0f},
        TGoesRow{86, "gsfc-goes-W-fulldisk", -176.5f, -476.0f, 1200, 1000, 0.3736f, -135.0f},
        TGoesRow{88, "~seg_msfc_GoesE_north", 782.0f, 289.5f, 1978, 1827, 1.1212f, -75.0f},
        TGoesRow{89, "~seg_msfc_GoesW_fulldisk", 48.0f, 49.0f, 2970, 3689, 1.1212f, -135.0f},
        TGoesRow{90, "~seg_msfc_GoesE_fullres", -171.0f, -467.0f, 3600, 3000, 1.1216f, -75.0f},
        TGoesRow{91, "~seg_msfc_GoesW_fullres", -152.0f, -475.0f, 3600, 3000, 1.1216f, -135.0f},
        TGoesRow{93, "~GOES8raw", 1442.2f, 944.0f, 8504, 3532, 7.85408f, -75.0f},
        TGoesRow{123, "MSG1-GOES_E", -198.0f, -5.0f, 2816, 3248, 1.122f, -75.0f},
        TGoesRow{124, "MSG1-GOES_E_WV", -400.0f, -2.5f, 1408, 1856, 0.561f, -75.0f},
        TGoesRow{125, "MSG1-GOES_W", -196.0f, -4.5f, 2816, 3248, 1.1216f, -135.0f},
        TGoesRow{126, "MSG1-GOES_W_WV", -400.0f, -2.5f, 1408, 1856, 0.561f, -135.0f},
        TGoesRow{151, "GOES-16 2km", 0.0f, 0.0f, 5424, 5424, 1.0f, -75.0f},
        TGoesRow{152, "GOES-R-1", 0.0f, 0.0f, 10848, 10848, 1.0f, -75.0f},
        TGoesRow{153, "GOES-17 2km", 0.0f, 0.0f, 5424, 5424, 1.0f, -137.0f}));

TEST(SegmentTable, CompositePixelFactorIsTheSinglePrecisionValue)
{
    EXPECT_EQ(static_cast<double>(SegmentData(125)->PixelFactor), 1.1216000318527222);
}

struct TModelCase {
    int Row;
    float Polar, Equatorial, Distance;
};

class EarthModels : public ::testing::TestWithParam<TModelCase> {};

TEST_P(EarthModels, ByRow)
{
    const TModelCase& c = GetParam();
    const TEarthModel em = EarthModelOfRow(c.Row);
    EXPECT_EQ(em.PolarRadius, c.Polar) << c.Row;
    EXPECT_EQ(em.EquatorialRadius, c.Equatorial) << c.Row;
    EXPECT_EQ(em.SatelliteDistance, c.Distance) << c.Row;
}

constexpr TModelCase kA(int row) { return {row, 6356.755f, 6378.140f, 42155.0f}; }
constexpr TModelCase kB(int row) { return {row, 6356.584f, 6378.169f, 42164.0f}; }
constexpr TModelCase kC(int row) { return {row, 6356.752f, 6378.137f, 42164.16f}; }
constexpr TModelCase kD(int row) { return {row, 6356.7842f, 6378.169f, 42164.01f}; }

INSTANTIATE_TEST_SUITE_P(
    All, EarthModels,
    ::testing::Values(kA(1), kA(63), kA(96), kA(110), kA(111), kA(123), kA(125), kA(126),
                      kA(131), kA(136), kA(146), kA(147), kA(156), kB(97), kB(109), kB(112),
                      kB(119), kB(127), kB(129), kB(135), kB(148), kB(150), kC(151), kC(152),
                      kC(153), kD(130), kD(132), kD(134), kD(154), kD(155)));

TEST(FixedGridRows, SubSatellitePointAtTheGridOrigin)
{
    TSegmentMapping m;
    m.SegmentIndex = 97;
    float fx, fy;
    ASSERT_TRUE(m.GeoToSegmentXY(fx, fy, 0.0f, 0.0f));
    EXPECT_FLOAT_EQ(fx, 1856.0f);
    EXPECT_FLOAT_EQ(fy, 1856.0f);
    m.SegmentIndex = 98;
    ASSERT_TRUE(m.GeoToSegmentXY(fx, fy, 0.0f, 0.0f));
    EXPECT_FLOAT_EQ(fy, 1854.0f);
    m.SegmentIndex = 152;
    ASSERT_TRUE(m.GeoToSegmentXY(fx, fy, -75.0f, 0.0f));
    EXPECT_FLOAT_EQ(fx, 5424.0f);
    EXPECT_FLOAT_EQ(fy, 5424.0f);
}

TEST(FixedGridRows, ScaleIsPixelsPerDegreeOfScanAngle)
{
    TSegmentMapping m;
    m.SegmentIndex = 97;
    // Eastward and northward: columns grow, lines fall.
    float x1, y1, x2, y2;
    ASSERT_TRUE(m.GeoToSegmentXY(x1, y1, 10.0f, 0.0f));
    ASSERT_TRUE(m.GeoToSegmentXY(x2, y2, 0.0f, 10.0f));
    EXPECT_GT(x1, 1856.0f);
    EXPECT_LT(y2, 1856.0f);
    // 10 degrees of longitude on the equator, seen from 42164 km, is 1.768 degrees of scan.
    EXPECT_NEAR((x1 - 1856.0f) / 208.165542602539f, 1.768, 0.001);
}

struct TRoundTripRow {
    int Row;
    float Offset;
};

class RowRoundTrip : public ::testing::TestWithParam<TRoundTripRow> {};

// Pixel -> position -> pixel for a sample of pixels of the row's picture.
TEST_P(RowRoundTrip, PixelsComeBack)
{
    TSegmentMapping m;
    m.SegmentIndex = static_cast<std::uint8_t>(GetParam().Row);
    m.LongitudeOffset = GetParam().Offset;
    const int w = m.ImageWidth(), h = m.ImageHeight();
    ASSERT_GT(w, 0);
    int onDisc = 0;
    for (int y = 0; y < h; y += std::max(1, h / 61)) {
        for (int x = 0; x < w; x += std::max(1, w / 59)) {
            float lon, lat;
            if (!m.PixelToGeo(x, y, lon, lat))
                continue;
            EXPECT_EQ(m.PixelOnDisc(x, y), true) << x << "," << y;
            int bx, by;
            const bool back = m.GeoToPixel(bx, by, lon, lat);
            if (SegmentPreset(m.SegmentIndex) != nullptr) {
                // The presets' own kinds: the orthographic inverse reaches beyond the forward's
                // distance limit, and the polar and orthographic kinds do not wrap longitudes.
                if (!back)
                    continue;
            } else {
                ASSERT_GE(lon, -180.0f);
                ASSERT_LT(lon, 180.0f);
                ASSERT_TRUE(back) << x << "," << y << " " << lon << "," << lat;
            }
            EXPECT_LE(std::abs(bx - x), 1) << x << "," << y;
            EXPECT_LE(std::abs(by - y), 1) << x << "," << y;
            ++onDisc;
        }
    }
    EXPECT_GT(onDisc, 50);
}

INSTANTIATE_TEST_SUITE_P(
    All, RowRoundTrip,
    ::testing::Values(TRoundTripRow{125, 7.0f}, TRoundTripRow{125, 0.0f}, TRoundTripRow{123, 0.0f},
                      TRoundTripRow{63, 0.0f}, TRoundTripRow{89, 0.0f}, TRoundTripRow{68, 0.0f},
                      TRoundTripRow{93, 0.0f}, TRoundTripRow{97, 0.0f}, TRoundTripRow{111, 0.0f},
                      TRoundTripRow{130, 0.0f}, TRoundTripRow{151, 0.0f}, TRoundTripRow{152, 0.0f},
                      TRoundTripRow{153, 0.0f}, TRoundTripRow{156, 0.0f}, TRoundTripRow{92, 0.0f},
                      TRoundTripRow{95, 0.0f}, TRoundTripRow{96, 0.0f}, TRoundTripRow{143, 0.0f},
                      TRoundTripRow{145, 0.0f}),
    [](const auto& info) { return "Row" + std::to_string(info.param.Row) + (info.param.Offset != 0 ? "Moved" : ""); });

TEST(FixedGridEngine, SubSatellitePoints)
{
    TSegmentMapping m;
    m.SegmentIndex = 151;
    m.LongitudeOffset = 30.0f; // takes no part in this engine
    float fx, fy;
    ASSERT_TRUE(m.GeoToSegmentXY(fx, fy, -75.0f, 0.0f));
    EXPECT_FLOAT_EQ(fx, 2712.0f);
    EXPECT_FLOAT_EQ(fy, 2712.0f);
    float lon, lat;
    ASSERT_TRUE(m.PixelToGeo(2712, 2712, lon, lat));
    EXPECT_NEAR(lon, -75.0f, 1e-4);
    EXPECT_NEAR(lat, 0.0f, 1e-4);
    m.SegmentIndex = 153;
    ASSERT_TRUE(m.GeoToSegmentXY(fx, fy, -137.0f, 0.0f));
    EXPECT_FLOAT_EQ(fx, 2712.0f);
    ASSERT_TRUE(m.PixelToGeo(2712, 2712, lon, lat));
    EXPECT_NEAR(lon, -137.0f, 1e-4);
}

TEST(FixedGridEngine, FarSideAndOffDisc)
{
    TSegmentMapping m;
    m.SegmentIndex = 151;
    float fx = 1, fy = 1;
    EXPECT_FALSE(m.GeoToSegmentXY(fx, fy, 105.0f, 0.0f));
    EXPECT_EQ(fx, 0.0f);
    EXPECT_EQ(fy, 0.0f);
    float lon = 1, lat = 1;
    EXPECT_FALSE(m.PixelToGeo(0, 0, lon, lat));
    EXPECT_EQ(lon, 0.0f);
    EXPECT_EQ(lat, 0.0f);
}

TEST(FixedGridEngine, NorthIsUpAndEastIsRight)
{
    TSegmentMapping m;
    m.SegmentIndex = 151;
    float x0, y0, x1, y1;
    ASSERT_TRUE(m.GeoToSegmentXY(x0, y0, -75.0f, 40.0f));
    ASSERT_TRUE(m.GeoToSegmentXY(x1, y1, -60.0f, 0.0f));
    EXPECT_NEAR(x0, 2712.0f, 1e-3);
    EXPECT_LT(y0, 2712.0f);
    EXPECT_GT(x1, 2712.0f);
    EXPECT_NEAR(y1, 2712.0f, 1e-3);
}

TEST(WorldRow, ForwardTruncates)
{
    TSegmentMapping m;
    m.SegmentIndex = 156;
    const int w = m.ImageWidth(), h = m.ImageHeight();
    int x, y;
    ASSERT_TRUE(m.GeoToPixel(x, y, -180.0f, 90.0f));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    ASSERT_TRUE(m.GeoToPixel(x, y, 180.0f, 0.0f)); // 180 is brought to -180
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, h / 2);
    ASSERT_TRUE(m.GeoToPixel(x, y, 539.99f, -89.99f));
    EXPECT_EQ(x, w - 1);
    EXPECT_EQ(y, h - 1);
}

TEST(WorldRow, InverseOnlyInsideThePicture)
{
    TSegmentMapping m;
    m.SegmentIndex = 156;
    const int w = m.ImageWidth(), h = m.ImageHeight();
    float lon = 7, lat = 8;
    ASSERT_TRUE(m.PixelToGeo(0, 0, lon, lat));
    EXPECT_FLOAT_EQ(lon, static_cast<float>((0.5 / w - 0.5) * 360));
    EXPECT_FLOAT_EQ(lat, static_cast<float>((0.5 / h - 0.5) * -180));
    lon = 7;
    lat = 8;
    EXPECT_FALSE(m.PixelToGeo(w, 0, lon, lat));
    EXPECT_FALSE(m.PixelToGeo(-1, 0, lon, lat));
    EXPECT_FALSE(m.PixelToGeo(0, h, lon, lat));
    EXPECT_EQ(lon, 7.0f);
    EXPECT_EQ(lat, 8.0f);
}

TEST(DelegatedRows, AnswerThroughTheirPresets)
{
    for (int row : {92, 95, 96, 143, 145}) {
        const TMapping* preset = SegmentPreset(row);
        ASSERT_NE(preset, nullptr) << row;
        TSegmentMapping m;
        m.SegmentIndex = static_cast<std::uint8_t>(row);
        m.LongitudeOffset = 20.0f; // presets ignore it
        const float lon = preset->CentralLongitude + 3.0f, lat = preset->ReferenceLatitude - 4.0f;
        int px, py, sx, sy;
        const bool pv = preset->GeoToPixel(px, py, lon, lat);
        const bool sv = m.GeoToPixel(sx, sy, lon, lat);
        EXPECT_EQ(pv, sv) << row;
        EXPECT_EQ(px, sx) << row;
        EXPECT_EQ(py, sy) << row;
        float plon, plat, slon, slat;
        ASSERT_EQ(preset->PixelToGeo(px, py, plon, plat), m.PixelToGeo(px, py, slon, slat));
        EXPECT_EQ(plon, slon);
        EXPECT_EQ(plat, slat);
    }
    EXPECT_EQ(SegmentPreset(125), nullptr);
}

TEST(RawRow, InverseUndoesTheSqueeze)
{
    TSegmentMapping m;
    m.SegmentIndex = 93;
    float fx, fy;
    ASSERT_TRUE(m.GeoToSegmentXY(fx, fy, -80.0f, 35.0f));
    float lon, lat;
    ASSERT_TRUE(m.PixelToGeo(static_cast<int>(std::lround(fx)), static_cast<int>(std::lround(fy)), lon, lat));
    EXPECT_NEAR(lon, -80.0f, 0.05);
    EXPECT_NEAR(lat, 35.0f, 0.05);
}

TEST(DiscTest, AgreesWithTheInverseTransform)
{
    for (int row : {125, 97, 151, 156, 95, 63}) {
        TSegmentMapping m;
        m.SegmentIndex = static_cast<std::uint8_t>(row);
        m.LongitudeOffset = row == 125 ? 7.0f : 0.0f;
        const int w = m.ImageWidth(), h = m.ImageHeight();
        for (int y = -3; y < h + 3; y += std::max(1, h / 97)) {
            for (int x = -3; x < w + 3; x += std::max(1, w / 89)) {
                float lon, lat;
                ASSERT_EQ(m.PixelOnDisc(x, y), m.PixelToGeo(x, y, lon, lat)) << row << ":" << x << "," << y;
            }
        }
    }
}

// The GeoTIFF's mask and the clean copy's masking describe the disc by one run per line: a
// line that met the disc twice, or a run off by a pixel, would mark real data as none.
TEST(DiscTest, RunsDescribeTheRenderedMaskExactly)
{
    const TSegmentMapping m = CompositeMapping();
    const TDiscMask mask = RenderDiscMask(m);
    const std::vector<TDiscRun> runs = DiscRuns(m);
    ASSERT_EQ(runs.size(), static_cast<std::size_t>(mask.Height));
    for (int y = 0; y < mask.Height; ++y)
        for (int x = 0; x < mask.Width; ++x)
            ASSERT_EQ(mask.Pixels[static_cast<std::size_t>(y) * mask.Width + x] == 255,
                      x >= runs[y].First && x < runs[y].End)
                << x << "," << y;
}

TEST(DiscTest, RenderedMaskOfARowWithoutSeparableAngles)
{
    TSegmentMapping m;
    m.SegmentIndex = 145;
    const TDiscMask mask = RenderDiscMask(m);
    ASSERT_EQ(mask.Width, 1078);
    ASSERT_EQ(mask.Height, 877);
    for (int y = 0; y < mask.Height; y += 37)
        for (int x = 0; x < mask.Width; x += 41) {
            float lon, lat;
            EXPECT_EQ(mask.Pixels[static_cast<std::size_t>(y) * mask.Width + x] == 255,
                      m.PixelToGeo(x, y, lon, lat));
        }
}

} // namespace

// The ABI's own grid agrees with the table's engine for GOES-18 (row 153 stands where it
// does), but counts pixels by their centres: the sub-satellite point lies between two pixels
// of a full disk of 5424, at 2711.5, where the row says 2712. A mix-up would shift every
// coastline by half a pixel.
TEST(FixedGridEngine, TheAbiGridIsRow153HalfAPixelOn)
{
    TSegmentMapping row;
    row.SegmentIndex = 153;
    TAbiProjection west;
    west.SubLongitude = -137.0;
    const TAbiGridMapping abi(west);
    int compared = 0;
    for (float lat = -70.0f; lat <= 70.0f; lat += 10.0f)
        for (float lon = -205.0f; lon <= -70.0f; lon += 7.5f) {
            float rx = 0, ry = 0, ax = 0, ay = 0;
            const bool seen = row.GeoToSegmentXY(rx, ry, lon, lat);
            ASSERT_EQ(abi.GeoToPixelF(ax, ay, lon, lat), seen) << lon << ", " << lat;
            if (!seen)
                continue;
            EXPECT_NEAR(ax, rx - 0.5f, 0.01f) << lon << ", " << lat;
            EXPECT_NEAR(ay, ry - 0.5f, 0.01f) << lon << ", " << lat;
            float backLon = 0, backLat = 0;
            const int px = static_cast<int>(std::lround(ax)), py = static_cast<int>(std::lround(ay));
            ASSERT_TRUE(abi.PixelToGeo(px, py, backLon, backLat));
            float fx = 0, fy = 0;
            ASSERT_TRUE(abi.GeoToPixelF(fx, fy, backLon, backLat));
            EXPECT_NEAR(fx, px, 0.01f);
            EXPECT_NEAR(fy, py, 0.01f);
            ++compared;
        }
    EXPECT_GT(compared, 100);
}

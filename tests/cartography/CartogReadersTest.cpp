#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <locale>
#include <string>
#include <vector>

#include <unistd.h>

#include "LineFiles.h"
#include "cartography/vrnCartography.h"
#include "base/StreamErrors.h"

using namespace linefiles;

namespace {

// Stores loaded from memory never look for the default map file.
struct Store : TCartogList {
    Store() : TCartogList(std::string()) {}
};

GshhsPolygon square(int level = 1, std::uint32_t area = 1000)
{
    return {level, area, {{10000000, 20000000}, {11000000, 20000000}, {11000000, 21500000}, {10000000, 20000000}}, -1};
}

}  // namespace

// ---- GSHHS ------------------------------------------------------------------------

TEST(ReadGshhs, BigEndianPolygonBecomesSegmentOfKindOne)
{
    Store s;
    s.LoadFromMemory(gshhsFile({square()}), "coast.b");
    ASSERT_EQ(s.Count(), 1);
    const auto* seg = s.Items(0);
    EXPECT_EQ(seg->Count, 4);
    EXPECT_EQ(seg->Kind, 1);
    ASSERT_EQ(seg->Points.size(), 4u);
    EXPECT_EQ(seg->Points[1], (TGeoPoint{11.0f, 20.0f}));
    EXPECT_EQ(seg->Points[2], (TGeoPoint{11.0f, 21.5f}));
    EXPECT_FLOAT_EQ(seg->West, 10.0f);
    EXPECT_FLOAT_EQ(seg->East, 11.0f);
    EXPECT_FLOAT_EQ(seg->South, 20.0f);
    EXPECT_FLOAT_EQ(seg->North, 21.5f);
    EXPECT_EQ(s.MaxPoints, 4);
    EXPECT_FALSE(s.ClosePolygons);
}

TEST(ReadGshhs, SmallCountsReadLittleEndianAreUsedWithoutReversal)
{
    Store s;
    s.LoadFromMemory(gshhsFile({square(), square(3)}, /*bigEndian=*/false), "coast.b");
    ASSERT_EQ(s.Count(), 2);
    EXPECT_EQ(s.Items(1)->Points[2], (TGeoPoint{11.0f, 21.5f}));
}

TEST(ReadGshhs, HeaderSizeFollowsTheFirstHeader)
{
    for (int version : {0, 3, 7, 9, 15}) {
        Store s;
        s.LoadFromMemory(gshhsFile({square(), square(1), square(3)}, true, version), "coast.b");
        ASSERT_EQ(s.Count(), 3) << "version " << version;
        EXPECT_EQ(s.Items(2)->Points[2], (TGeoPoint{11.0f, 21.5f})) << "version " << version;
    }
}

struct LevelCase {
    int level;
    std::uint32_t area;
    bool kept;
};

class GshhsLevelFilter : public ::testing::TestWithParam<LevelCase> {};

TEST_P(GshhsLevelFilter, KeepsLandIslandsBigLakesAndGroundingLine)
{
    const auto c = GetParam();
    Store s;
    // The polygon under test sits between two kept ones, so a dropped one must be skipped
    // exactly by its point count.
    s.LoadFromMemory(gshhsFile({square(), square(c.level, c.area), square(3)}), "coast.b");
    EXPECT_EQ(s.Count(), c.kept ? 3 : 2);
    EXPECT_EQ(s.Items(s.Count() - 1)->Points[2], (TGeoPoint{11.0f, 21.5f}));
}

INSTANTIATE_TEST_SUITE_P(Levels, GshhsLevelFilter,
                         ::testing::Values(LevelCase{1, 0, true}, LevelCase{3, 0, true}, LevelCase{6, 0, true},
                                           LevelCase{2, 99, false}, LevelCase{2, 100, true},
                                           LevelCase{2, 0xFFFFFFFFu, true}, LevelCase{4, 100000, false},
                                           LevelCase{5, 100000, false}, LevelCase{0, 100000, false},
                                           LevelCase{7, 100000, false}));

TEST(ReadGshhs, PolygonAcrossTheDateLineKeepsItsPointsAndWrapsTheBox)
{
    Store s;
    s.LoadFromMemory(gshhsFile({{1, 0, {{170000000, 10000000}, {190000000, 11000000}, {175000000, 12000000}}, -1}}),
                     "coast.b");
    ASSERT_EQ(s.Count(), 1);
    EXPECT_FLOAT_EQ(s.Items(0)->West, 170.0f);
    EXPECT_FLOAT_EQ(s.Items(0)->East, -170.0f);
    EXPECT_FLOAT_EQ(s.Items(0)->Points[1].Lon, 190.0f);
}

TEST(ReadGshhs, ZeroFirstWordMeansGshhsWhateverTheExtension)
{
    Store s;
    s.LoadFromMemory(gshhsFile({square()}), "track.gpx");
    EXPECT_EQ(s.Count(), 1);
    EXPECT_FALSE(s.ClosePolygons);
}

// ---- hostile GSHHS ------------------------------------------------------------------

TEST(ReadGshhs, TruncatedLastPolygonIsDroppedAndEarlierOnesStay)
{
    auto bytes = gshhsFile({square(), square(3)});
    bytes.resize(bytes.size() - 3);
    Store s;
    s.LoadFromMemory(bytes, "coast.b");
    EXPECT_EQ(s.Count(), 1);
    EXPECT_EQ(s.MaxPoints, 4);
    // Cut or whole, a GSHHS file never has its polylines closed by a chord.
    EXPECT_FALSE(s.ClosePolygons);
}

TEST(ReadGshhs, CountsBeyondTheFileAllocateNothing)
{
    for (std::int64_t claimed : {0x10000000LL, 0x7FFFFFFFLL, 0xFFFFFFFFLL, 0x80000000LL}) {
        auto poly = square();
        poly.claimedCount = claimed;
        Store s;
        s.LoadFromMemory(gshhsFile({square(), poly, square()}), "coast.b");
        EXPECT_EQ(s.Count(), 1) << claimed;
        EXPECT_EQ(s.MaxPoints, 4) << claimed;
        EXPECT_FALSE(s.ClosePolygons) << claimed;
    }
}

TEST(ReadGshhs, DroppedPolygonWithHugeCountSkipsPastTheEnd)
{
    auto poly = square(5);
    poly.claimedCount = 0x7FFFFFFF;
    Store s;
    s.LoadFromMemory(gshhsFile({square(), poly, square()}), "coast.b");
    EXPECT_EQ(s.Count(), 1);
}

TEST(ReadGshhs, FileShorterThanOneHeaderLoadsNothing)
{
    auto bytes = gshhsFile({square()});
    bytes.resize(43);
    Store s;
    s.LoadFromMemory(bytes, "coast.b");
    EXPECT_EQ(s.Count(), 0);
    s.LoadFromMemory(Bytes{0, 0, 0}, "coast.b");
    EXPECT_EQ(s.Count(), 0);
    EXPECT_TRUE(s.ClosePolygons);
}

// ---- compact map ----------------------------------------------------------------------

TEST(ReadCompactMap, MinutesOfArcBecomeDegreesWithTheStoredKind)
{
    Store s;
    s.LoadFromMemory(compactFile({{std::nullopt, 5, {{-6000, 1800}, {10830, -30}, {-6000, 1800}}}, {std::nullopt, 9, {{60, 60}}}}),
                     "Countries.dat");
    ASSERT_EQ(s.Count(), 2);
    const auto* a = s.Items(0);
    EXPECT_EQ(a->Kind, 5);
    EXPECT_EQ(a->Count, 3);
    EXPECT_EQ(a->Points[0], (TGeoPoint{-100.0f, 30.0f}));
    EXPECT_EQ(a->Points[1], (TGeoPoint{180.5f, -0.5f}));
    // No wrap of the box for this format.
    EXPECT_FLOAT_EQ(a->East, 180.5f);
    EXPECT_FLOAT_EQ(a->West, -100.0f);
    EXPECT_EQ(s.Items(1)->Kind, 9);
    EXPECT_EQ(s.MaxPoints, 3);
    EXPECT_TRUE(s.ClosePolygons);
}

TEST(ReadCompactMap, TrailingCountAndKindWithoutPointsIsDiscarded)
{
    auto bytes = compactFile({{std::nullopt, 1, {{60, 60}, {120, 60}}}});
    putWord(bytes, 7, false);
    bytes.push_back(4);
    Store s;
    s.LoadFromMemory(bytes, "Countries.dat");
    EXPECT_EQ(s.Count(), 1);
    EXPECT_EQ(s.MaxPoints, 2);
}

TEST(ReadCompactMap, DamagedRecordsEndTheFileKeepingEarlierOnes)
{
    const CompactRecord good{std::nullopt, 1, {{60, 60}, {120, 60}}};
    for (std::int32_t claimed : {3, 1000, 0x7FFFFFFF, -1 - 0x7FFFFFFF, -5}) {
        CompactRecord bad{claimed, 1, {{60, 60}, {120, 60}}};
        Store s;
        s.LoadFromMemory(compactFile({good, bad, good}), "Countries.dat");
        // A claim that still fits consumes the following record as points; that is all
        // the format allows us to know.
        EXPECT_LE(s.Count(), 2) << claimed;
        EXPECT_LE(s.MaxPoints, 5) << claimed;
        EXPECT_EQ(s.Items(0)->Count, 2) << claimed;
    }
    auto cut = compactFile({good, good});
    cut.resize(cut.size() - 1);
    Store s;
    s.LoadFromMemory(cut, "Countries.dat");
    EXPECT_EQ(s.Count(), 1);
}

TEST(ReadCompactMap, ThreeByteFileLoadsNothing)
{
    Store s;
    s.LoadFromMemory(Bytes{5, 0, 0}, "Countries.dat");
    EXPECT_EQ(s.Count(), 0);
    EXPECT_EQ(s.LoadProblems, std::vector<std::string>{"Countries.dat: too short for a map file"});
}

TEST(LoadFile, AFileThatCannotBeReadSaysWhyAndANewListStartsAfresh)
{
    Store s;
    s.LoadFromPathList("/nonexistent/orvanta/a.dat|/nonexistent/orvanta/b.dat");
    EXPECT_EQ(s.LoadProblems, (std::vector<std::string>{"/nonexistent/orvanta/a.dat: cannot be read",
                                                        "/nonexistent/orvanta/b.dat: cannot be read"}));
    s.LoadFromPathList("");
    EXPECT_TRUE(s.LoadProblems.empty());
}

TEST(LoadFile, HashDashBFileLoadsNothingWhateverItsExtension)
{
    for (const char* name : {"a.gpx", "a.dat", "a.b"}) {
        Store s;
        s.LoadFromMemory(text("# -b\n<trkseg>\n<trkpt lat=\"1\" lon=\"2\">\n</trkseg>\n"), name);
        EXPECT_EQ(s.Count(), 0) << name;
    }
}

// ---- GPX --------------------------------------------------------------------------

TEST(ReadGpx, TrackPointsBecomeOneSegmentPerTrackSegment)
{
    const std::string gpx =
        "<?xml version=\"1.0\"?>\r\n<gpx>\r\n <trk>\r\n  <TRKSEG>  \r\n"
        "   <trkpt lat=\"40.5\" lon=\"-105.1\">\r\n   </trkpt>\r\n"
        "   <trkpt lon=\"190.25\" lat=\"41\"><ele>3</ele></trkpt>\r\n"
        "   <trkpt lat=\"42\">\r\n"
        "   <trkpt lat=\"4x2\" lon=\"1\">\r\n"
        "  </trkseg>\r\n  <trkseg>\r\n  <trkpt lat=\"1\" lon=\"2\"/>\r\n  </trkseg>\r\n</trk>\r\n</gpx>\r\n";
    Store s;
    s.LoadFromMemory(text(gpx), "walk.GpX");
    ASSERT_EQ(s.Count(), 2);
    const auto* a = s.Items(0);
    ASSERT_EQ(a->Count, 2);
    EXPECT_EQ(a->Kind, 1);
    EXPECT_EQ(a->Points[0], (TGeoPoint{-105.1f, 40.5f}));
    EXPECT_EQ(a->Points[1], (TGeoPoint{190.25f, 41.0f}));
    EXPECT_FLOAT_EQ(a->East, -169.75f);
    EXPECT_FLOAT_EQ(a->West, -105.1f);
    EXPECT_EQ(s.Items(1)->Points[0], (TGeoPoint{2.0f, 1.0f}));
    EXPECT_EQ(s.MaxPoints, 2);
    EXPECT_TRUE(s.ClosePolygons);
}

TEST(ReadGpx, UnclosedLastSegmentIsDropped)
{
    Store s;
    s.LoadFromMemory(text("<trkseg>\n<trkpt lat=\"1\" lon=\"2\">\n</trkseg>\n<trkseg>\n<trkpt lat=\"3\" lon=\"4\">\n"),
                     "t.gpx");
    EXPECT_EQ(s.Count(), 1);
}

TEST(ReadGpx, OneLineFileAndEmptySegmentsAddNothing)
{
    Store s;
    s.LoadFromMemory(text("<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"2\"></trkpt></trkseg></trk></gpx>"), "t.gpx");
    EXPECT_EQ(s.Count(), 0);
    s.LoadFromMemory(text("<trkseg>\n</trkseg>\n"), "t.gpx");
    EXPECT_EQ(s.Count(), 0);
}

TEST(ReadGpx, NumbersIgnoreLocaleAndRejectJunk)
{
    const std::string gpx = "<trkseg>\n"
                            "<trkpt lat=\"1,5\" lon=\"2\">\n"
                            "<trkpt lat=\"nan\" lon=\"2\">\n"
                            "<trkpt lat=\"1e999\" lon=\"2\">\n"
                            "<trkpt lat=\"\" lon=\"2\">\n"
                            "<trkpt lat=\" +1.25 \" lon=\"-.5\">\n"
                            "<trkpt lat=\"12345678901234567890123456789012345678901234567890123456789012345678901"
                            "234567890123456789012345678901\" lon=\"2\">\n"
                            "</trkseg>\n";
    Store s;
    s.LoadFromMemory(text(gpx), "t.gpx");
    ASSERT_EQ(s.Count(), 1);
    ASSERT_EQ(s.Items(0)->Count, 1);
    EXPECT_EQ(s.Items(0)->Points[0], (TGeoPoint{-0.5f, 1.25f}));
}

TEST(ReadGpx, CommaLocaleOfTheUserDoesNotChangeTheNumbers)
{
    struct CommaDecimal : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    const std::locale before = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    const std::locale during = std::locale();
    Store s;
    s.LoadFromMemory(text("<trkseg>\n<trkpt lat=\"40.5\" lon=\"-105.1\">\n</trkseg>\n"), "t.gpx");
    const bool unchanged = std::locale() == during;
    std::locale::global(before);
    ASSERT_EQ(s.Count(), 1);
    EXPECT_EQ(s.Items(0)->Points[0], (TGeoPoint{-105.1f, 40.5f}));
    EXPECT_TRUE(unchanged);
}

TEST(ReadGpx, ByteOrderMarksAreHonoured)
{
    const std::string body = "<trkseg>\n<trkpt lat=\"1\" lon=\"2\">\n</trkseg>\n";
    Bytes utf8{0xEF, 0xBB, 0xBF};
    utf8.insert(utf8.end(), body.begin(), body.end());
    Bytes utf16le{0xFF, 0xFE}, utf16be{0xFE, 0xFF};
    for (char c : body) {
        utf16le.insert(utf16le.end(), {static_cast<std::uint8_t>(c), 0});
        utf16be.insert(utf16be.end(), {0, static_cast<std::uint8_t>(c)});
    }
    for (const Bytes* b : {&utf8, &utf16le, &utf16be}) {
        Store s;
        s.LoadFromMemory(*b, "t.gpx");
        ASSERT_EQ(s.Count(), 1);
        EXPECT_EQ(s.Items(0)->Points[0], (TGeoPoint{2.0f, 1.0f}));
    }
}

TEST(LoadFile, OtherTextIsTakenForACompactMapAndFailsQuietly)
{
    Store s;
    s.LoadFromMemory(text("<trkseg>\n<trkpt lat=\"1\" lon=\"2\">\n</trkseg>\n"), "t.xml");
    EXPECT_EQ(s.Count(), 0);
    EXPECT_TRUE(s.ClosePolygons);
}

// ---- binned netCDF ------------------------------------------------------------------

namespace {

// Degrees of a position in offset units of the test files' 180-degree bins.
float binDegrees(int units, float origin) { return static_cast<float>(units * 180.0L / 65535 + origin); }

void replaceVar(std::vector<NcIntVar>& vars, const NcIntVar& v)
{
    for (auto& old : vars)
        if (old.name == v.name) old = v;
}

}  // namespace

TEST(ReadBinned, PiecesBecomeOpenSegmentsThatMeetOnTheBinEdge)
{
    Store s;
    const auto file = netcdfFile(binnedBorderVars());
    ASSERT_FALSE(file.empty());
    s.LoadFromMemory(file, "binned_border_x.nc");
    ASSERT_EQ(s.Count(), 2);
    EXPECT_FALSE(s.ClosePolygons);
    EXPECT_EQ(s.MaxPoints, 2);
    const auto* west = s.Items(0);
    const auto* east = s.Items(1);
    EXPECT_EQ(west->Kind, 1);
    EXPECT_EQ(west->Points[0], (TGeoPoint{binDegrees(21845, 0), binDegrees(43690, -90)}));
    // The same float on both sides of the edge, or the drawn line would show a gap there.
    EXPECT_EQ(west->Points[1], (TGeoPoint{180.0f, binDegrees(43690, -90)}));
    EXPECT_EQ(east->Points[0], west->Points[1]);
    EXPECT_EQ(east->Points[1], (TGeoPoint{binDegrees(65535 + 43690, 0), binDegrees(21845, -90)}));
    // Longitudes stay as stored (0..360); only the box is brought back.
    EXPECT_FLOAT_EQ(east->East, binDegrees(65535 + 43690, 0) - 360.0f);
}

struct DamagedBinnedCase {
    const char* name;
    NcIntVar change;
    int segments;  // what stays in the store
};

class DamagedBinned : public ::testing::TestWithParam<DamagedBinnedCase> {};

TEST_P(DamagedBinned, StopsWhereTheArraysCannotBackTheCounts)
{
    auto vars = binnedBorderVars();
    replaceVar(vars, GetParam().change);
    const auto file = netcdfFile(vars);
    ASSERT_FALSE(file.empty());
    Store s;
    s.LoadFromMemory(file, "binned_border_x.nc");
    EXPECT_EQ(s.Count(), GetParam().segments);
    EXPECT_FALSE(s.ClosePolygons);
    for (int i = 0; i < s.Count(); ++i) EXPECT_EQ(s.Items(i)->Count, static_cast<int>(s.Items(i)->Points.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedBinned,
    ::testing::Values(
        DamagedBinnedCase{"BinsNotTilingTheGlobe", {"N_bins_in_360_longitude_range", NC_INT, {3}}, 0},
        DamagedBinnedCase{"BinSizeZero", {"Bin_size_in_minutes", NC_INT, {0}}, 0},
        DamagedBinnedCase{"BinArraysShorterThanTheBins", {"N_segments_in_a_bin", NC_SHORT, {1}}, 0},
        DamagedBinnedCase{"BinPiecesBeyondThePieceArrays", {"N_segments_in_a_bin", NC_SHORT, {1, 2}}, 1},
        DamagedBinnedCase{"NegativeFirstPiece", {"Id_of_first_segment_in_a_bin", NC_INT, {0, -1}}, 1},
        DamagedBinnedCase{"PointCountBeyondThePointArrays", {"N_points_for_a_segment", NC_SHORT, {2, 30000}}, 1},
        DamagedBinnedCase{"NegativePointCount", {"N_points_for_a_segment", NC_SHORT, {-2, 2}}, 0},
        DamagedBinnedCase{"FirstPointBeyondTheArrays", {"Id_of_first_point_in_a_segment", NC_INT, {0, 3}}, 1},
        DamagedBinnedCase{"LevelArrayShorterThanThePieces", {"Hierarchial_level_of_a_segment", NC_SHORT, {1}}, 0},
        DamagedBinnedCase{"LatitudesShorterThanLongitudes", {"Relative_latitude_from_SW_corner_of_bin", NC_SHORT, {1, 2}}, 0},
        DamagedBinnedCase{"TwoDimensionalOffsets",
                          {"Relative_longitude_from_SW_corner_of_bin", NC_SHORT, {21845, -1, 0, -21846}, 2}, 0},
        DamagedBinnedCase{"OffsetBeyondSixteenBits", {"Relative_longitude_from_SW_corner_of_bin", NC_INT, {21845, -1, 0, 70000}}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

// The two pieces of the border file as shoreline pieces of level 1, both of them Antarctic,
// of the given polygons.
std::vector<NcIntVar> antarcticShorelineVars(int westPolygon, int eastPolygon)
{
    auto vars = binnedBorderVars();
    std::erase_if(vars, [](const NcIntVar& v) {
        return v.name == "N_points_for_a_segment" || v.name == "Hierarchial_level_of_a_segment";
    });
    const int packed = (2 << 9) | (1 << 6);
    vars.push_back({"Embedded_npts_levels_exit_entry_for_a_segment", NC_INT, {packed, packed}});
    vars.push_back({"Embedded_ANT_flag", NC_BYTE, {1, 1}});
    vars.push_back({"Id_of_GSHHS_ID", NC_INT, {westPolygon, eastPolygon}});
    return vars;
}

}  // namespace

// The flag marks the Antarctic islands too; only the continent's ice front is the outline
// the grounding line stands in for.
TEST(ReadBinned, AntarcticIslandsStayAndTheIceFrontGoes)
{
    const auto file = netcdfFile(antarcticShorelineVars(4, 145));
    ASSERT_FALSE(file.empty());
    Store s;
    s.LoadFromMemory(file, "binned_GSHHS_x.nc");
    ASSERT_EQ(s.Count(), 1);
    EXPECT_EQ(s.Items(0)->Points[0], (TGeoPoint{180.0f, binDegrees(43690, -90)}));
}

TEST(ReadBinned, OtherOrUnreadableNetCdfLoadsNothingAndKeepsWhatCameBefore)
{
    auto vars = binnedBorderVars();
    vars.pop_back();  // no latitudes: some other netCDF file
    const auto other = netcdfFile(vars);
    const auto intact = netcdfFile(binnedBorderVars());
    ASSERT_FALSE(other.empty());
    Store s;
    s.LoadFromMemory(gshhsFile({square()}), "coast.b");
    // Neither is a compact map file: reading one as such would throw away the coast.
    s.LoadFromMemory(other, "Countries.dat");
    EXPECT_EQ(s.Count(), 1);
    EXPECT_TRUE(s.ClosePolygons);
    s.LoadFromMemory(Bytes(intact.begin(), intact.begin() + static_cast<long>(intact.size() / 2)), "Countries.dat");
    EXPECT_EQ(s.Count(), 1);
}

// ---- the store ------------------------------------------------------------------------

TEST(CartogList, CursorWalksEverySegmentOnce)
{
    Store s;
    int cursor = 42;
    EXPECT_EQ(s.FirstSegment(cursor), nullptr);
    EXPECT_EQ(cursor, 1);
    s.LoadFromMemory(gshhsFile({square(), square(), square()}), "c.b");
    int seen = 0;
    for (auto* seg = s.FirstSegment(cursor); seg; seg = s.NextSegment(cursor)) {
        EXPECT_EQ(seg, s.Items(seen));
        ++seen;
    }
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(cursor, 4);
}

TEST(CartogList, CapacityGrowsInSteps)
{
    Store s;
    EXPECT_EQ(s.Capacity(), 1500);
    for (int i = 0; i < 1500; ++i) s.AddSegment(std::make_unique<TLineSegment>());
    EXPECT_EQ(s.Capacity(), 6500);
    const auto bytes = gshhsFile({square()});
    TMemoryReadStream stream(bytes);
    s.ReadGshhs(stream);
    EXPECT_EQ(s.Capacity(), 6500 + static_cast<int>(bytes.size() / 120));
}

TEST(LoadFromPathList, CompactMapClearsWhatCameBefore)
{
    TempDir dir;
    const auto g1 = dir.file("a.b", gshhsFile({square(), square()}));
    const auto c = dir.file("Countries.dat", compactFile({{std::nullopt, 1, {{60, 60}, {120, 60}, {120, 120}}}}));
    const auto g2 = dir.file("b.b", gshhsFile({square(3)}));
    Store s;
    s.LoadFromPathList(g1 + "|" + c + "|" + g2);
    ASSERT_EQ(s.Count(), 2);
    EXPECT_EQ(s.Items(0)->Count, 3);
    EXPECT_EQ(s.Items(1)->Count, 4);
    EXPECT_FALSE(s.ClosePolygons);
}

TEST(LoadFromPathList, MissingFilesAreSkippedAndTheLastFileSetsClosing)
{
    TempDir dir;
    const auto g = dir.file("a.b", gshhsFile({square()}));
    Store s;
    s.LoadFromPathList(dir.path() + "/missing.b|" + g + "|" + dir.path());
    EXPECT_EQ(s.Count(), 1);
    // The directory at the end isn't loaded, yet it still counts as the last file.
    EXPECT_TRUE(s.ClosePolygons);
    s.LoadFromPathList(g + "|" + dir.path() + "/missing.b");
    EXPECT_EQ(s.Count(), 1);
    EXPECT_TRUE(s.ClosePolygons);
    s.LoadFromPathList(g);
    EXPECT_FALSE(s.ClosePolygons);
    // Spaces belong to the names.
    s.LoadFromPathList(g + " ");
    EXPECT_EQ(s.Count(), 0);
    s.LoadFromPathList(g);
    s.LoadFromPathList("");
    EXPECT_EQ(s.Count(), 0);
    EXPECT_EQ(s.MaxPoints, 0);
}

// A GPX track or a missing file after the binned files once closed every open piece: a
// chord from each piece's end on a bin edge back to its start.
TEST(LoadFromPathList, EachFileKeepsItsOwnClosing)
{
    TempDir dir;
    const auto binned = dir.file("binned_border_x.nc", netcdfFile(binnedBorderVars()));
    const auto track = dir.file("t.gpx", text("<trkseg>\n<trkpt lat=\"1\" lon=\"2\">\n<trkpt lat=\"3\" lon=\"4\">\n"
                                              "<trkpt lat=\"5\" lon=\"2\">\n</trkseg>\n"));
    Store s;
    s.LoadFromPathList(binned + "|" + track + "|" + dir.path() + "/missing.b");
    ASSERT_EQ(s.Count(), 3);
    EXPECT_TRUE(s.ClosePolygons);
    EXPECT_EQ(s.Items(0)->Closed, false);
    EXPECT_EQ(s.Items(1)->Closed, false);
    EXPECT_EQ(s.Items(2)->Closed, true);
}

// ---- default map file and start-up list -----------------------------------------------

TEST(DefaultMapFile, CompanionDirectoryFirstThenTheProgramsOwn)
{
    TempDir companion, own;
    const std::string ownDir = own.path() + "/";
    const std::string exe = companion.path() + "/velmora.exe";
    EXPECT_EQ(FindDefaultMapFile(exe, ownDir), "");
    const auto ownFile = own.file("Countries.dat", {1});
    EXPECT_EQ(FindDefaultMapFile(exe, ownDir), ownFile);
    const auto besideFile = companion.file("Countries.dat", {1});
    EXPECT_EQ(FindDefaultMapFile(exe, ownDir), besideFile);
}

TEST(DefaultMapFile, EmptyCompanionPathLooksInTheCurrentDirectory)
{
    TempDir cwd;
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(cwd.path());
    const std::string none = FindDefaultMapFile("", "/nonexistent/");
    cwd.file("Countries.dat", {1});
    const std::string bare = FindDefaultMapFile("", "/nonexistent/");
    std::filesystem::current_path(before);
    EXPECT_EQ(none, "");
    EXPECT_EQ(bare, "Countries.dat");
}

TEST(StartupPathList, EnvironmentListWhenItsFirstFileExistsElseDefault)
{
    TempDir dir, noBinned;
    const std::string none = noBinned.path() + "/";
    const auto g = dir.file("coast.b", {0});
    const bool system = std::filesystem::exists("/usr/share/gshhg/gshhs_i.b");
    const std::string fallback = system ? kSystemGshhsPathList : "Countries.dat";
    EXPECT_EQ(StartupPathList(g + "|" + dir.path() + "/borders.b", "Countries.dat", none), g + "|" + dir.path() + "/borders.b");
    EXPECT_EQ(StartupPathList(dir.path() + "/missing.b|" + g, "Countries.dat", none), fallback);
    EXPECT_EQ(StartupPathList("", "Countries.dat", none), fallback);
}

TEST(StartupPathList, BinnedFilesOfTheBestResolutionUpToIntermediate)
{
    if (std::filesystem::exists("/usr/share/gshhg/gshhs_i.b")) GTEST_SKIP() << "the system GSHHS pair comes first";
    TempDir dir;
    const std::string d = dir.path() + "/";
    for (const char* name : {"binned_GSHHS_c.nc", "binned_border_c.nc", "binned_GSHHS_h.nc", "binned_border_h.nc"})
        dir.file(name, {1});
    EXPECT_EQ(StartupPathList("", "Countries.dat", d), d + "binned_GSHHS_c.nc|" + d + "binned_border_c.nc");
    dir.file("binned_GSHHS_l.nc", {1});
    // Without its borders the shoreline comes alone: a missing last file would close the pieces.
    EXPECT_EQ(StartupPathList("", "Countries.dat", d), d + "binned_GSHHS_l.nc");
    dir.file("binned_border_l.nc", {1});
    EXPECT_EQ(StartupPathList("", "Countries.dat", d), d + "binned_GSHHS_l.nc|" + d + "binned_border_l.nc");
    dir.file("binned_GSHHS_i.nc", {1});
    dir.file("binned_border_i.nc", {1});
    EXPECT_EQ(StartupPathList("", "Countries.dat", d), d + "binned_GSHHS_i.nc|" + d + "binned_border_i.nc");
    EXPECT_EQ(StartupPathList(d + "missing.b", "Countries.dat", d), d + "binned_GSHHS_i.nc|" + d + "binned_border_i.nc");
}

TEST(StartupPathList, LoadsTheEnvironmentList)
{
    TempDir dir;
    const auto g = dir.file("coast.b", gshhsFile({square(), square()}));
    ::setenv(kGshhsEnvironmentVariable, g.c_str(), 1);
    Store s;
    const auto list = LoadStartupLineStore(s);
    ::unsetenv(kGshhsEnvironmentVariable);
    EXPECT_EQ(list, g);
    EXPECT_EQ(s.Count(), 2);
}

#include "netcdf/Sector.h"

#include <gtest/gtest.h>

namespace {

struct PlacementCase {
    const char* name;
    int sector, width, height;
    TSectorPlacement expected;
};

class SectorPlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(SectorPlacementTest, GivesWidthCornerAndCut)
{
    const auto& c = GetParam();
    const TSectorPlacement p = SectorPlacement(c.sector, c.width, c.height);
    EXPECT_EQ(p.NewWidth, c.expected.NewWidth);
    EXPECT_EQ(p.X, c.expected.X);
    EXPECT_EQ(p.Y, c.expected.Y);
    EXPECT_EQ(p.CutTwoColumns, c.expected.CutTwoColumns);
}

INSTANTIATE_TEST_SUITE_P(
    Sectors, SectorPlacementTest,
    ::testing::Values(
        PlacementCase{"FullDisk", SectorFullDisk, 5208, 2704, {2974, 54, 268, false}},
        PlacementCase{"FullDiskWide", SectorFullDisk, 5212, 2704, {2976, 50, 270, false}},
        // The short scan wins over the wide one.
        PlacementCase{"FullDiskShortAndWide", SectorFullDisk, 5212, 2395, {2976, 57, 580, false}},
        PlacementCase{"FullDiskShort", SectorFullDisk, 5208, 2395, {2974, 57, 580, false}},
        PlacementCase{"Northern", SectorNorthern, 3312, 1354, {1893, 255, 268, false}},
        PlacementCase{"NorthernWidth5212", SectorNorthern, 5212, 1354, {2978, 255, 268, false}},
        PlacementCase{"Southern", SectorSouthern, 2760, 1062, {1577, 249, 1606, true}},
        PlacementCase{"SouthernNarrow", SectorSouthern, 1021, 1062, {583, 255, 1606, true}},
        PlacementCase{"Unknown", SectorUnknown, 640, 480, {640, 0, 0, false}},
        PlacementCase{"OutOfRangeCode", 7, 640, 480, {640, 0, 0, false}},
        PlacementCase{"EmptyFullDisk", SectorFullDisk, 0, 0, {0, 54, 268, false}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

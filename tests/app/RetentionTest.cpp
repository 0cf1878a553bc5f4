#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "station/Retention.h"
#include "support/TempXdg.h"

namespace {

namespace fs = std::filesystem;

// Paths are relative to the test's directory: "img/" is the image tree, "raw/" the raw
// archive (with failed/ in it), "out/" lies outside both.
struct TPruneCase {
    const char* name;
    int imagesDays, netCdfDays, failedDays;
    int year, month, day;  // today, at noon
    std::vector<std::string> files;
    std::vector<std::pair<std::string, std::string>> links;  // link, target
    const char* keep;                                        // a LastSaved image; empty: none
    std::vector<std::string> gone;                           // every other file stays
    const char* logged;                                      // a line that holds this; empty: no line
    // The disk is low (PruneWhenLow): the space is enough again once this many days were
    // taken; -1: not low, the limits apply.
    int lowDiskDays = -1;
    friend void PrintTo(const TPruneCase& c, std::ostream* os) { *os << c.name; }
};

class PruneTest : public ::testing::TestWithParam<TPruneCase> {
protected:
    TTempXdg tmp_;
    std::vector<std::string> lines_;
};

TEST_P(PruneTest, RemovesOnlyOldDaysOfWhatTheStationWrote)
{
    const TPruneCase& c = GetParam();
    const std::string root = tmp_.Root() + "/";
    for (const std::string& f : c.files) {
        fs::create_directories(fs::path(root + f).parent_path());
        std::ofstream(root + f) << "0123456789";
    }
    for (const auto& [link, target] : c.links) {
        fs::create_directories(fs::path(root + link).parent_path());
        fs::create_symlink(root + target, root + link);
    }
    TRetention retention([this](const std::string& line) { lines_.push_back(line); });
    TRetentionLimits limits{root + "img/", root + "raw/", root + "raw/failed/", c.imagesDays, c.netCdfDays, c.failedDays};
    std::vector<std::string> keep;
    if (*c.keep) keep.push_back(root + c.keep);
    const TDateTime now = *TryEncodeDate(c.year, c.month, c.day) + 0.5;
    int daysTaken = 0;
    const auto prune = [&] {
        if (c.lowDiskDays < 0)
            retention.Prune(limits, keep, now);
        else
            retention.PruneOldestImages(limits, keep, now, [&] { return daysTaken++ >= c.lowDiskDays; });
    };
    prune();
    // The hourly pass says nothing new about what it already reported.
    const std::size_t said = lines_.size();
    prune();
    EXPECT_EQ(lines_.size(), said);

    std::string log;
    for (const auto& l : lines_) log += l + "\n";
    for (const std::string& f : c.files) {
        const bool gone = std::find(c.gone.begin(), c.gone.end(), f) != c.gone.end();
        EXPECT_EQ(fs::exists(root + f), !gone) << f << "\n" << log;
    }
    for (const auto& link : c.links) EXPECT_TRUE(fs::is_symlink(root + link.first)) << link.first;
    if (*c.logged) EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    else EXPECT_TRUE(lines_.empty()) << log;
}

const char* const Feb27 = "img/2026/02/27/202602271200-g10-ir.jpg";
const char* const Feb28 = "img/2026/02/28/202602281200-g10-ir.jpg";
const char* const Mar01 = "img/2026/03/01/202603011200-g10-ir.jpg";

INSTANTIATE_TEST_SUITE_P(
    Cases, PruneTest,
    ::testing::Values(
        TPruneCase{"NothingSetKeepsForEver", 0, 0, 0, 2026, 3, 1, {Feb27, Feb28, Mar01}, {}, "", {}, ""},
        // Today and the day before stay at a month's end.
        TPruneCase{
            "MonthBoundary", 1, 0, 0, 2026, 3, 1, {Feb27, Feb28, Mar01}, {}, "", {Feb27}, "Pruned 2026-02-27 from "},
        TPruneCase{"LeapDay",
                   1,
                   0,
                   0,
                   2024,
                   3,
                   1,
                   {"img/2024/02/28/202402281200-g10-vis.png", "img/2024/02/29/202402291200-g10-vis.png"},
                   {},
                   "",
                   {"img/2024/02/28/202402281200-g10-vis.png"},
                   ": 1 image, 10 bytes"},
        TPruneCase{"YearBoundary",
                   2,
                   2,
                   0,
                   2027,
                   1,
                   1,
                   {"img/2026/12/29/202612291200-g10-wv.jpg", "img/2026/12/30/202612301200-g10-wv.jpg",
                    "raw/2026/12/29/goes15.2026.363.120000.3.nc", "raw/2026/12/30/goes15.2026.364.120000.3.nc"},
                   {},
                   "",
                   {"img/2026/12/29/202612291200-g10-wv.jpg", "raw/2026/12/29/goes15.2026.363.120000.3.nc"},
                   "Pruned 2026-12-29 from "},
        // Images with long names lie in the raw archive: their own limit applies.
        TPruneCase{"NetCDFKeptWhileImagesGo",
                   1,
                   0,
                   0,
                   2026,
                   3,
                   1,
                   {"raw/2026/02/20/goes15.2026.051.120000.4.nc", "raw/2026/02/20/goes15.2026.051.120000.4.jpg"},
                   {},
                   "",
                   {"raw/2026/02/20/goes15.2026.051.120000.4.jpg"},
                   ": 1 image, 10 bytes"},
        // Every kind the station writes goes with its day, so the day itself can go.
        TPruneCase{
            "EveryKindGoes",
            1,
            0,
            0,
            2026,
            3,
            1,
            {Feb27, "img/2026/02/27/202602271200-g10-ir-col.jpg", "img/2026/02/27/202602271200-g10-ir-col.png",
             "img/2026/02/27/202602271200-g10-ir.tif", "img/2026/02/27/.202602271200-g10-ir.tif.99999999.0.part"},
            {},
            "",
            {Feb27, "img/2026/02/27/202602271200-g10-ir-col.jpg", "img/2026/02/27/202602271200-g10-ir-col.png",
             "img/2026/02/27/202602271200-g10-ir.tif", "img/2026/02/27/.202602271200-g10-ir.tif.99999999.0.part"},
            ": 5 images, 50 bytes"},
        TPruneCase{"ForeignFileKeepsItsFolder",
                   1,
                   0,
                   0,
                   2026,
                   3,
                   1,
                   {Feb27, "img/2026/02/27/notes.txt"},
                   {},
                   "",
                   {Feb27},
                   "holds 1 entry the station did not write (\"notes.txt\")"},
        TPruneCase{"LinkedDayIsNotFollowed",
                   1,
                   0,
                   0,
                   2026,
                   3,
                   1,
                   {"out/202602201200-g10-ir.jpg"},
                   {{"img/2026/02/20", "out"}},
                   "",
                   {},
                   "img/2026/02/20 is a symbolic link: not followed"},
        TPruneCase{"LinkedFileIsNotRemoved",
                   1,
                   0,
                   0,
                   2026,
                   3,
                   1,
                   {"out/x.jpg", Feb27},
                   {{"img/2026/02/27/202602270000-g10-ir.jpg", "out/x.jpg"}},
                   "",
                   {Feb27},
                   "did not write"},
        TPruneCase{"LastSavedImageStays",
                   1,
                   0,
                   0,
                   2026,
                   3,
                   1,
                   {Feb27, "img/2026/02/27/202602271230-g10-ir.jpg"},
                   {},
                   "img/2026/02/27/202602271200-g10-ir.jpg",
                   {"img/2026/02/27/202602271230-g10-ir.jpg"},
                   ": 1 image, 10 bytes"},
        // The clock was set back to 1 March: days after it are the station's newest, not old.
        TPruneCase{"ClockSetBack",
                   1,
                   0,
                   0,
                   2026,
                   3,
                   1,
                   {Feb27, "img/2026/03/05/202603051200-g10-ir.jpg"},
                   {},
                   "",
                   {Feb27},
                   "dated after today (2026-03-01); is the clock right?"},
        // Far in the future, so that anything reached would be old enough to go.
        TPruneCase{"FailedOldFileGoes",
                   0,
                   0,
                   1,
                   2099,
                   1,
                   1,
                   {"raw/failed/goes15.2013.150.120000.4.nc", "raw/failed/readme.txt"},
                   {},
                   "",
                   {"raw/failed/goes15.2013.150.120000.4.nc"},
                   "failed/: 1 file put aside more than 1 day ago, 10 bytes"},
        TPruneCase{"FailedIsALink",
                   0,
                   0,
                   1,
                   2099,
                   1,
                   1,
                   {"out/goes15.2013.150.120000.4.nc"},
                   {{"raw/failed", "out"}},
                   "",
                   {},
                   "raw/failed is a symbolic link: not followed"},
        // A disk that stays low takes every day of images but today's, whatever the limits.
        TPruneCase{"LowDiskNeverTakesToday",
                   0,
                   0,
                   0,
                   2026,
                   3,
                   1,
                   {Feb27, Feb28, Mar01},
                   {},
                   "",
                   {Feb27, Feb28},
                   "Pruned 2026-02-28 from ",
                   99},
        // The oldest day goes first, whichever tree it lies in, and no more once there is room.
        TPruneCase{"LowDiskTakesTheOldestDayFirst",
                   0,
                   0,
                   0,
                   2026,
                   3,
                   1,
                   {Feb28, "raw/2026/02/27/goes15.2026.058.120000.4.jpg"},
                   {},
                   "",
                   {"raw/2026/02/27/goes15.2026.058.120000.4.jpg"},
                   "Pruned 2026-02-27 from ",
                   1},
        // Images only: the archived scans stay, though the disk is still low.
        TPruneCase{"LowDiskKeepsTheArchive",
                   0,
                   0,
                   0,
                   2026,
                   3,
                   1,
                   {"raw/2026/02/20/goes15.2026.051.120000.4.nc", "raw/2026/02/20/goes15.2026.051.123000.4.nc.bz2",
                    "raw/2026/02/20/goes15.2026.051.120000.4.jpg"},
                   {},
                   "",
                   {"raw/2026/02/20/goes15.2026.051.120000.4.jpg"},
                   ": 1 image, 10 bytes",
                   99},
        // A user's picture, notes, or a folder even under an image's name are not the station's.
        TPruneCase{"LowDiskKeepsForeignEntries",
                   0,
                   0,
                   0,
                   2026,
                   3,
                   1,
                   {Feb27, "img/2026/02/27/notes.txt", "img/2026/02/27/photo.jpg",
                    "img/2026/02/27/202602271230-g10-ir.jpg/202602271230-g10-ir.jpg"},
                   {},
                   "",
                   {Feb27},
                   "holds 3 entries the station did not write",
                   99},
        TPruneCase{"LowDiskKeepsTheLastSaved",
                   0,
                   0,
                   0,
                   2026,
                   3,
                   1,
                   {Feb27, Feb28},
                   {},
                   Feb27,
                   {Feb28},
                   ": 1 image, 10 bytes",
                   99}),
    [](const ::testing::TestParamInfo<TPruneCase>& info) { return std::string(info.param.name); });

// A kill while a file is written leaves its temporary: the next start removes it, but never
// one a writer that still runs is filling, nor anything else.
TEST(LeftTemporariesTest, OnlyThoseOfStoppedWritersGo)
{
    TTempXdg tmp;
    const std::string root = tmp.Root() + "/";
    const std::string today = DatedDirectory(root + "img/", UtcNow());
    const std::string mine = ".a.tif." + std::to_string(::getpid()) + ".0.part";
    const std::vector<std::string> files{root + "img/latest/.ir.jpg.99999999.3.part", today + ".x.jpg.99999999.0.part",
                                         today + mine, today + "notes.part", root + "raw/.y.nc.99999999.1.part"};
    for (const std::string& f : files) {
        fs::create_directories(fs::path(f).parent_path());
        std::ofstream(f) << "0";
    }
    std::vector<std::string> lines;
    TRetention retention([&](const std::string& line) { lines.push_back(line); });
    retention.RemoveLeftTemporaries({root + "img/", root + "raw/", root + "raw/failed/", 0, 0, 0}, UtcNow());
    EXPECT_EQ(lines, std::vector<std::string>{"Removed 3 temporary files left by a writer that was stopped"});
    for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(fs::exists(files[i]), i == 2 || i == 3) << files[i];
}

TEST(MadeKindTest, OnlyTheNamesTheStationWrites)
{
    EXPECT_EQ(MadeKind("201305301200-g10-ir.jpg"), TMadeKind::Image);
    EXPECT_EQ(MadeKind("goes15.2013.150.120000.4.png"), TMadeKind::Image);
    EXPECT_EQ(MadeKind("goes15.2013.150.120000.4.nc.bz2"), TMadeKind::NetCDF);
    EXPECT_EQ(MadeKind(".goes15.2013.150.120000.4.nc.123.0.part"), TMadeKind::NetCDF);
    EXPECT_EQ(MadeKind("201305301200-g10-ir-col.jpg"), TMadeKind::Image);
    EXPECT_EQ(MadeKind("goes15.2013.150.120000.4-col.png"), TMadeKind::Image);
    EXPECT_EQ(MadeKind("201305301200-g10-ir.tif"), TMadeKind::Image);
    EXPECT_EQ(MadeKind("201305301200-g10-ir-col.tif"), TMadeKind::Foreign);
    EXPECT_EQ(MadeKind("201305301200-g10-ir.jpg.bak"), TMadeKind::Foreign);
    EXPECT_EQ(MadeKind("201305301200-g10-xx.jpg"), TMadeKind::Foreign);
    EXPECT_EQ(MadeKind("holiday.jpg"), TMadeKind::Foreign);
    // The ABI's images and files, which retention would otherwise never remove.
    EXPECT_EQ(MadeKind("202612081200-g18-c13.jpg"), TMadeKind::Image);
    EXPECT_EQ(MadeKind("202612081200-g18-c13-col.png"), TMadeKind::Image);
    EXPECT_EQ(MadeKind("OR_ABI-L1b-RadF-M6C13_G18_s20263421200210_e20263421209518_c20263421209580.nc"),
              TMadeKind::NetCDF);
    EXPECT_EQ(MadeKind("OR_ABI-L1b-RadF-M6C13_G18_s20263421200210_e20263421209518_c20263421209580.jpg"),
              TMadeKind::Image);
    EXPECT_EQ(MadeKind("202612081200-g15-c13.jpg"), TMadeKind::Foreign);
}

}  // namespace

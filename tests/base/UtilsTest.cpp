#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "base/Files.h"
#include "base/DateTime.h"
#include "base/Listeners.h"
#include "support/TempXdg.h"
#include "base/Text.h"

namespace {

struct WildcardCase {
    const char* pattern;
    const char* name;
    bool matches;
    friend void PrintTo(const WildcardCase& c, std::ostream* os) { *os << c.pattern << " ~ " << c.name; }
};

class WildcardTest : public ::testing::TestWithParam<WildcardCase> {};

TEST_P(WildcardTest, Matches)
{
    EXPECT_EQ(MatchesWildcard(GetParam().pattern, GetParam().name), GetParam().matches)
        << GetParam().pattern << " ~ " << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Incoming, WildcardTest,
    ::testing::Values(WildcardCase{"goes15.20*nc*", "goes15.2013.150.120000.1.nc", true},
                      WildcardCase{"goes15.20*nc*", "goes15.2013.150.120000.1.nc.bz2", true},
                      WildcardCase{"goes15.20*nc*", "GOES15.2013.150.120000.1.NC.BZ2", true},
                      WildcardCase{"goes15.20*nc*", "goes15.2013.150.120000_geo.nc", true},
                      WildcardCase{"goes15.20*nc*", "goes15.20nc", true},
                      WildcardCase{"goes15.20*nc*", "goes15.2013.150.120000.1.bz2", false},
                      WildcardCase{"goes15.20*nc*", "goes15.1999.150.120000.1.nc", false},
                      WildcardCase{"goes15.20*nc*", "xgoes15.2013.150.120000.1.nc", false},
                      WildcardCase{"goes15.20*nc*", "goes15.2", false},
                      WildcardCase{"a?c", "abc", true},
                      // Alternatives: the second one matching, neither, an empty one.
                      WildcardCase{"goes15.20*nc*|OR_ABI-L1b-Rad*.nc*", "or_abi-l1b-radf-m6c13_g18_s1.nc", true},
                      WildcardCase{"goes15.20*nc*|OR_ABI-L1b-Rad*.nc*", "OR_ABI-L2-CMIPF.nc", false},
                      WildcardCase{"a|", "", true},
                      WildcardCase{"a?c", "ac", false},
                      WildcardCase{"*", "", true},
                      WildcardCase{"", "x", false}));

TEST(Utils, IncomingListIsInNameOrder)
{
    std::vector<std::string> list = {
        "/in/goes15.2013.150.120000.4.nc", "/in/GOES15.2013.150.113000.1.nc",
        "/in/goes15.2013.150.120000_geo.nc", "/in/goes15.2013.150.120000.1.nc",
        "/in/goes15.2013.149.235959.1.nc", "/in/goes15.2013.150.120000.1.nc"};
    SortFileList(list);
    EXPECT_EQ(list, (std::vector<std::string>{
                        "/in/goes15.2013.149.235959.1.nc", "/in/GOES15.2013.150.113000.1.nc",
                        "/in/goes15.2013.150.120000.1.nc", "/in/goes15.2013.150.120000.4.nc",
                        "/in/goes15.2013.150.120000_geo.nc"}));
    // Names that differ only in letter case are two files here; both are kept.
    std::vector<std::string> twins = {"b", "A", "a"};
    SortFileList(twins);
    EXPECT_EQ(twins, (std::vector<std::string>{"A", "a", "b"}));
    // An older full disk is placed before the CONUS scan after it, or it would cover it.
    std::vector<std::string> abi = {"/in/OR_ABI-L1b-RadC-M6C13_G18_s20263421206170_e1_c1.nc",
                                    "/in/OR_ABI-L1b-RadF-M6C13_G18_s20263421200210_e1_c1.nc",
                                    "/in/goes15.2013.150.120000.4.nc"};
    SortFileList(abi);
    EXPECT_EQ(abi, (std::vector<std::string>{"/in/goes15.2013.150.120000.4.nc",
                                             "/in/OR_ABI-L1b-RadF-M6C13_G18_s20263421200210_e1_c1.nc",
                                             "/in/OR_ABI-L1b-RadC-M6C13_G18_s20263421206170_e1_c1.nc"}));
}

TEST(Utils, ListFilesTakesFilesAndDirectories)
{
    TTempXdg tmp;
    const std::string in = tmp.Dir("in");
    std::ofstream(in + "goes15.2013.150.120000.1.nc") << "x";
    std::ofstream(in + ".goes15.hidden.nc") << "x";
    std::ofstream(in + "readme.txt") << "x";
    std::filesystem::create_directory(in + "goes15.20dir.nc");
    std::vector<std::string> list{"kept"};
    ListFiles(in + "goes15.20*nc*", list);
    std::sort(list.begin(), list.end());
    EXPECT_EQ(list, (std::vector<std::string>{in + "goes15.2013.150.120000.1.nc", in + "goes15.20dir.nc", "kept"}));

    std::vector<std::string> none;
    ListFiles(tmp.Root() + "/missing/goes15.20*nc*", none);
    EXPECT_TRUE(none.empty());
}

TEST(Utils, UtcNowIsTheSystemClock)
{
    const auto before = std::chrono::system_clock::now();
    const TDateTime now = UtcNow();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(before.time_since_epoch()).count();
    EXPECT_NEAR(DateTimeToUnixMs(now), ms, 1000);
}

TEST(Utils, NamesAndCase)
{
    EXPECT_EQ(ExtractFileName("/a/b/c.nc"), "c.nc");
    EXPECT_EQ(ExtractFileName("c.nc"), "c.nc");
    EXPECT_EQ(ExtractFileName("/a/"), "");
    EXPECT_EQ(LowerCase("AbC_GEO.NC"), "abc_geo.nc");
    EXPECT_EQ(UpperCase("goes15\xC2\xB5"), "GOES15\xC2\xB5");
}

// Listeners hear an event in their turn, whenever they were added; one unhooked while the
// event is told is not told, and a handle may outlive the source it was given by.
TEST(Utils, ListenersHearInTheirTurnAndUnhookSafely)
{
    std::vector<std::string> heard;
    TListeners<int>::THandle outliving;
    {
        TListeners<int> event;
        TListeners<int>::THandle second;
        const auto publish = event.Add([&](int n) {
            heard.push_back("publish " + std::to_string(n));
            second.Remove();
        });
        const auto count =
            event.Add([&](int n) { heard.push_back("count " + std::to_string(n)); }, TListenerTurn::Count);
        second = event.Add([&](int n) { heard.push_back("second " + std::to_string(n)); });
        outliving = event.Add([&](int n) { heard.push_back("record " + std::to_string(n)); }, TListenerTurn::Record);
        event(1);
        event(2);
    }
    outliving.Remove();
    EXPECT_EQ(heard,
              (std::vector<std::string>{"record 1", "count 1", "publish 1", "record 2", "count 2", "publish 2"}));
}

}  // namespace

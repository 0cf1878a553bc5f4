#include <gtest/gtest.h>

#include <ostream>

#include "station/CommandLine.h"

namespace {

struct SwitchCase {
    std::vector<std::string> args;
    bool start, log, geo;
    const char* file;
    friend void PrintTo(const SwitchCase& c, std::ostream* os)
    {
        for (const auto& a : c.args) *os << a << ' ';
    }
};

class CommandLineTest : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(CommandLineTest, Switches)
{
    const auto& c = GetParam();
    TCommandLine cl(c.args);
    EXPECT_EQ(cl.FindSwitch("start"), c.start);
    EXPECT_EQ(cl.FindSwitch("log"), c.log);
    EXPECT_EQ(cl.FindSwitch("geo"), c.geo);
    EXPECT_EQ(cl.FileArgument(), c.file);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CommandLineTest,
    ::testing::Values(SwitchCase{{"/START"}, true, false, false, ""},
                      SwitchCase{{"-start"}, true, false, false, ""},
                      SwitchCase{{"-Start", "/Log", "-GEO"}, true, true, true, ""},
                      SwitchCase{{"start"}, false, false, false, "start"},
                      SwitchCase{{"--start"}, false, false, false, "--start"},
                      SwitchCase{{"-starts"}, false, false, false, "-starts"},
                      SwitchCase{{"-start", "/srv/in/goes15.2013.150.120000.1.nc"}, true, false, false,
                                 "/srv/in/goes15.2013.150.120000.1.nc"},
                      SwitchCase{{}, false, false, false, ""}));

TEST(CommandLine, FirstArgumentIsTakenAsItStands)
{
    EXPECT_EQ(TCommandLine({"-start", "x"}).FirstArgument(), "-start");
    EXPECT_EQ(TCommandLine().FirstArgument(), "");
}

}  // namespace

namespace {

struct UnknownSwitchCase {
    std::vector<std::string> args;
    bool window;
    const char* unknown;
    friend void PrintTo(const UnknownSwitchCase& c, std::ostream* os)
    {
        for (const auto& a : c.args) *os << a << ' ';
    }
};

class UnknownSwitchTest : public ::testing::TestWithParam<UnknownSwitchCase> {};

TEST_P(UnknownSwitchTest, IsNamedInsteadOfTakenForTheFile)
{
    EXPECT_EQ(UnknownSwitch(GetParam().args, GetParam().window), GetParam().unknown);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, UnknownSwitchTest,
    ::testing::Values(UnknownSwitchCase{{"-Start", "/LOG", "-geo", "/srv/in/goes15.2013.150.120000.1.nc"}, false, ""},
                      UnknownSwitchCase{{"--reprocess-all", "/srv/raw"}, true, "--reprocess-all"},
                      UnknownSwitchCase{{"-starts"}, false, "-starts"},
                      // Qt's own options are the window's, not the headless station's.
                      UnknownSwitchCase{{"-platform", "offscreen", "-start"}, true, ""},
                      UnknownSwitchCase{{"--style=fusion", "-reverse"}, true, ""},
                      UnknownSwitchCase{{"-platform", "offscreen"}, false, "-platform"}));

}  // namespace

#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <string>

#include "product/composite/ChannelCatalogue.h"

namespace {

TDateTime At(int y, int mo, int d, int h, int mi, int s = 0)
{
    return *TryEncodeDate(y, mo, d) + *TryEncodeTime(h, mi, s, 0);
}

constexpr TDateTime kUnwritten = -12345.0;
constexpr std::uint8_t kPreset = 77;

struct ParseCase {
    const char* name;
    bool ok;
    int channel;        // expected channel afterwards (kPreset when untouched)
    TDateTime time;     // expected time afterwards (kUnwritten when untouched)
    friend void PrintTo(const ParseCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }
};

class ParseGoesFileNameTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseGoesFileNameTest, ChannelAndSlot)
{
    const ParseCase& c = GetParam();
    std::uint8_t channel = kPreset;
    TDateTime time = kUnwritten;
    EXPECT_EQ(ParseGoesFileName(c.name, channel, time), c.ok) << c.name;
    EXPECT_EQ(channel, c.channel) << c.name;
    if (c.time == kUnwritten) EXPECT_EQ(time, kUnwritten) << c.name;
    else EXPECT_NEAR(time, c.time, 1e-9) << c.name << " got " << FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", time);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ParseGoesFileNameTest,
    ::testing::Values(
        // A scan just before midnight belongs to the next day's first slot.
        ParseCase{"goes15.2013.150.235959.4.nc", true, 3, At(2013, 5, 31, 0, 0)},
        ParseCase{"goes15.2013.150.122634.1.nc", true, 0, At(2013, 5, 30, 12, 0)},
        ParseCase{"goes15.2013.150.122635.1.nc", true, 0, At(2013, 5, 30, 12, 30)},
        ParseCase{"goes15.2013.150.125634.1.nc", true, 0, At(2013, 5, 30, 12, 30)},
        ParseCase{"goes15.2013.150.125635.1.nc", true, 0, At(2013, 5, 30, 13, 0)},
        ParseCase{"goes15.2013.150.120000.5.nc", false, kPreset, kUnwritten},
        ParseCase{"goes15.2013.150.120000.7.nc", false, kPreset, kUnwritten},
        ParseCase{"goes15.2013.150.120000.9.nc", false, kPreset, kUnwritten},
        ParseCase{"goes15.2013.150.120000.6.nc", true, 5, At(2013, 5, 30, 12, 0)},
        ParseCase{"goes15.2013.150.120000.2.nc.bz2", true, 1, At(2013, 5, 30, 12, 0)},
        ParseCase{"goes15.2013.150.120000.3.nc", true, 2, At(2013, 5, 30, 12, 0)},
        // A full stop as the 24th character counts as digit 0: the channel stays.
        ParseCase{"goes15.2013.150.1200000.1.nc", true, kPreset, At(2013, 5, 30, 12, 0)},
        ParseCase{"goes15.2013.150.120000.0.nc", true, kPreset, At(2013, 5, 30, 12, 0)},
        ParseCase{"goes16.2013.150.120000.1.nc", false, kPreset, kUnwritten},
        ParseCase{"goes15.1999.150.120000.1.nc", false, kPreset, kUnwritten},
        ParseCase{"GOES15.2013.150.120000.1.NC", true, 0, At(2013, 5, 30, 12, 0)},
        // The channel is written before the fields fail.
        ParseCase{"goes15.2013.150.240000.1.nc", false, 0, kUnwritten},
        ParseCase{"goes15.2013.150.126000.1.nc", false, 0, kUnwritten},
        ParseCase{"goes15.2013.150.120060.1.nc", false, 0, kUnwritten},
        ParseCase{"goes15.2013.366.120000.1.nc", true, 0, At(2014, 1, 1, 12, 0)},
        ParseCase{"goes15.2012.366.120000.1.nc", true, 0, At(2012, 12, 31, 12, 0)},
        ParseCase{"goes15.2013.000.120000.1.nc", true, 0, At(2012, 12, 31, 12, 0)},
        ParseCase{"goes15.2013.1x0.120000.1.nc", false, 0, kUnwritten},
        ParseCase{"goes15.2013.150.12 000.1.nc", false, 0, kUnwritten},
        ParseCase{"goes15.2013.150", false, kPreset, kUnwritten},
        ParseCase{"goes15.20", false, kPreset, kUnwritten},
        ParseCase{"goes15.2013.150.1200", false, kPreset, kUnwritten},
        ParseCase{"goes15.20999.150.120000.1.nc", false, kPreset, kUnwritten},
        ParseCase{"", false, kPreset, kUnwritten},
        // Geolocation files parse the same way; the band digit there is not a digit.
        ParseCase{"goes15.2013.150.120000_geo.nc", true, kPreset, At(2013, 5, 30, 12, 0)},
        // Only the name after the last '/' is parsed.
        ParseCase{"/srv/goes15.2013.1/goes15.2013.150.120000.4.nc", true, 3, At(2013, 5, 30, 12, 0)},
        ParseCase{"/srv/goes15.2013.150.120000.4.nc/other", false, kPreset, kUnwritten}));

// What --reprocess refuses, where a station counts on into another year (the rows above).
TEST(GoesFileDayProblem, OnlyDaysTheYearHasPass)
{
    for (const auto& [name, problem] : std::initializer_list<std::pair<const char*, const char*>>{
             {"/srv/goes15.2019.999.120000.4.nc", "day 999 of 2019 does not exist"},
             {"goes15.2013.366.120000.1.nc.bz2", "day 366 of 2013 does not exist"},
             {"goes15.2013.000.120000.1.nc", "day 0 of 2013 does not exist"},
             {"goes15.2012.366.235959.1.nc", ""},
             {"goes15.2013.001.000000.1.nc", ""}})
        EXPECT_EQ(GoesFileDayProblem(name), problem) << name;
}

TEST(HalfHourSlot, ValuesOnTheSlotStayPut)
{
    for (int h = 0; h < 24; ++h)
        for (int m : {0, 30}) {
            const TDateTime t = At(2013, 5, 30, h, m);
            EXPECT_EQ(HalfHourSlot(t), t) << h << ":" << m;
        }
}

TEST(ChannelCatalogue, TextsAndCodes)
{
    const std::string mu = "\xC2\xB5";
    EXPECT_EQ(ChannelCatalogue[0].ChannelDescription, "0.63 " + mu + "m  visible");
    EXPECT_EQ(ChannelCatalogue[1].ChannelDescription, " 3.9 " + mu + "m  SW IR");
    EXPECT_EQ(ChannelCatalogue[1].ChannelHint, " 3.9 " + mu + "m  shortwave IR window");
    EXPECT_EQ(ChannelCatalogue[2].ChannelDescription, "6.48 " + mu + "m  WV upper");
    EXPECT_EQ(ChannelCatalogue[2].ChannelHint, "6.48 " + mu + "m  water vapour");
    EXPECT_EQ(ChannelCatalogue[3].ChannelDescription, "10.7 " + mu + "m  thermal");
    EXPECT_EQ(ChannelCatalogue[3].ChannelHint, "10.7 " + mu + "m  longwave window");
    EXPECT_EQ(ChannelCatalogue[5].ChannelDescription, "13.3 " + mu + "m  CO2");
    EXPECT_EQ(ChannelCatalogue[5].ChannelHint, "13.3 " + mu + "m  CO2 band");

    const char* digits[] = {"1", "2", "3", "4", "", "6"};
    const char* tags[] = {"vis", "mir", "wv", "ir", "", "co2"};
    const int codes[] = {18, 56, 20, 19, 0, 0};
    for (std::size_t i = 0; i < ChannelCount; ++i) {
        EXPECT_EQ(ChannelCatalogue[i].ChannelDigit, digits[i]);
        EXPECT_EQ(ChannelCatalogue[i].ChannelTag, tags[i]);
        EXPECT_EQ(ChannelCatalogue[i].NotifyCode, codes[i]);
        EXPECT_EQ(ChannelExists(i), i != 4);
    }
    EXPECT_FALSE(ChannelExists(6));
    EXPECT_TRUE(ChannelCatalogue[4].ChannelDescription.empty());
}

}  // namespace

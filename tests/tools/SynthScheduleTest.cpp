#include "product/composite/ChannelCatalogue.h"
#include "tools/synth/SynthFiles.h"
#include "tools/synth/SynthOptions.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>

using namespace synth;

namespace {

std::int64_t Utc(const char* text)
{
    const auto t = ParseUtc(text);
    EXPECT_TRUE(t) << text;
    return t.value_or(0);
}

TOptions Parse(std::vector<std::string_view> args) { return ParseOptions(args); }

TEST(SynthNames, ImageAndGeolocationNamesAreTheBroadcastsOwn)
{
    const auto t = Utc("2018-10-16T12:00:18");
    EXPECT_EQ(ImageFileName(t, 1, true), "goes15.2018.289.120018_1.nc.bz2");
    EXPECT_EQ(ImageFileName(t, 6, false), "goes15.2018.289.120018_6.nc");
    EXPECT_EQ(GeoFileName(t, true), "goes15.2018.289.120018_geo.nc.bz2");
}

struct NameCase {
    const char* start;
    int band;
    const char* slot; // half-hour slot the product files the scan under
};

class SynthNameParseTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(SynthNameParseTest, ParserFindsChannelAndSlot)
{
    const auto& c = GetParam();
    const std::string name = "/incoming/" + ImageFileName(Utc(c.start), c.band, true);
    std::uint8_t channel = 99;
    TDateTime time = 0;
    ASSERT_TRUE(ParseGoesFileName(name, channel, time)) << name;
    EXPECT_EQ(channel, c.band - 1);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", time), c.slot);

    // The geolocation file of the same scan parses to the same slot, channel untouched.
    channel = 99;
    ASSERT_TRUE(ParseGoesFileName(GeoFileName(Utc(c.start), true), channel, time));
    EXPECT_EQ(channel, 99);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", time), c.slot);
}

INSTANTIATE_TEST_SUITE_P(Scans, SynthNameParseTest,
                         ::testing::Values(NameCase{"2018-10-16T12:00:18", 1, "2018-10-16 12:00:00"},
                                           NameCase{"2018-10-16T12:22:18", 2, "2018-10-16 12:00:00"},
                                           NameCase{"2018-10-16T12:30:18", 3, "2018-10-16 12:30:00"},
                                           NameCase{"2018-12-31T23:52:18", 4, "2018-12-31 23:30:00"},
                                           NameCase{"2020-02-29T06:00:18", 6, "2020-02-29 06:00:00"}));

TEST(SynthSchedule, NoHoursMeansOneFullDiskInTheStartsSlot)
{
    const auto o = Parse({"--out", "x", "--start", "2019-06-21T12:10"});
    const auto jobs = MakeSchedule(o);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Kind, TScanKind::FullDisk);
    EXPECT_EQ(jobs[0].Start, Utc("2019-06-21T12:00:18"));
}

TEST(SynthSchedule, SectorsOfOneSlotGetDistinctStartsInThatSlot)
{
    const auto o = Parse({"--out", "x", "--start", "2019-06-21T12:00", "--sectors", "fd,nh,sh,fd-wide"});
    const auto jobs = MakeSchedule(o);
    ASSERT_EQ(jobs.size(), 4u);
    std::set<std::int64_t> starts;
    for (const auto& j : jobs) {
        starts.insert(j.Start);
        std::uint8_t c = 0;
        TDateTime slot = 0;
        ASSERT_TRUE(ParseGoesFileName(ImageFileName(j.Start, 4, true), c, slot));
        EXPECT_EQ(FormatDateTime("hh:nn", slot), "12:00");
    }
    EXPECT_EQ(starts.size(), 4u);
}

TEST(SynthSchedule, ADayHasAFullDiskEveryThreeHoursAndSectorsBetween)
{
    const auto o = Parse({"--out", "x", "--start", "2019-06-21T00:00", "--hours", "24"});
    const auto jobs = MakeSchedule(o);
    std::map<TScanKind, int> perKind;
    std::set<std::string> names;
    for (const auto& j : jobs) {
        ++perKind[j.Kind];
        names.insert(ImageFileName(j.Start, 1, true));
        if (j.Kind == TScanKind::FullDisk) {
            EXPECT_EQ(j.Start % (3 * 3600), 18);
        }
    }
    EXPECT_EQ(perKind[TScanKind::FullDisk], 8);
    EXPECT_EQ(perKind[TScanKind::Northern], 40);
    EXPECT_EQ(perKind[TScanKind::Southern], 40);
    EXPECT_EQ(names.size(), jobs.size());
    for (std::size_t i = 1; i < jobs.size(); ++i)
        EXPECT_LT(jobs[i - 1].Start, jobs[i].Start);
}

TEST(SynthSchedule, RequestedSectorsFilterTheDay)
{
    const auto o = Parse({"--out", "x", "--start", "2019-06-21T01:00", "--hours", "1", "--sectors", "sh"});
    const auto jobs = MakeSchedule(o);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].Start, Utc("2019-06-21T01:22:18"));
    EXPECT_EQ(jobs[1].Start, Utc("2019-06-21T01:52:18"));
}

TEST(SynthOptions, DefaultsAreEveryBandOfOneFullDiskCompressedClassic)
{
    const auto o = Parse({"--out", "/tmp/feed"});
    EXPECT_EQ(o.OutDir, "/tmp/feed");
    EXPECT_EQ(o.Bands, (std::vector<int>{1, 2, 3, 4, 6}));
    EXPECT_TRUE(o.Bz2);
    EXPECT_FALSE(o.NetCdf4);
    EXPECT_FALSE(o.Geo);
    EXPECT_DOUBLE_EQ(o.Scale, 1.0);
    EXPECT_FALSE(o.Hours);
}

TEST(SynthOptions, SwitchesAreTakenAsGiven)
{
    const auto o = Parse({"--out", "d", "--bands", "4,1", "--sectors", "nh,sh-narrow", "--geo", "--no-bz2", "--netcdf4",
                          "--seed", "42", "--scale", "0.25", "--hours", "6", "--jobs", "3"});
    EXPECT_EQ(o.Bands, (std::vector<int>{4, 1}));
    EXPECT_EQ(o.Kinds, (std::vector<TScanKind>{TScanKind::Northern, TScanKind::SouthernNarrow}));
    EXPECT_TRUE(o.Geo);
    EXPECT_FALSE(o.Bz2);
    EXPECT_TRUE(o.NetCdf4);
    EXPECT_EQ(o.Seed, 42u);
    EXPECT_DOUBLE_EQ(o.Scale, 0.25);
    EXPECT_DOUBLE_EQ(o.Hours.value_or(0), 6.0);
    EXPECT_EQ(o.Jobs, 3);
}

class SynthBadOptionsTest : public ::testing::TestWithParam<std::vector<std::string_view>> {};

TEST_P(SynthBadOptionsTest, AreRefusedWithAMessage)
{
    EXPECT_THROW(ParseOptions(GetParam()), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(
    Options, SynthBadOptionsTest,
    ::testing::Values(std::vector<std::string_view>{}, std::vector<std::string_view>{"--out"},
                      std::vector<std::string_view>{"--out", "d", "--bands", "5"},
                      std::vector<std::string_view>{"--out", "d", "--bands", "1,x"},
                      std::vector<std::string_view>{"--out", "d", "--sectors", "east"},
                      std::vector<std::string_view>{"--out", "d", "--scale", "0"},
                      std::vector<std::string_view>{"--out", "d", "--scale", "1.5"},
                      std::vector<std::string_view>{"--out", "d", "--hours", "-1"},
                      std::vector<std::string_view>{"--out", "d", "--start", "2019-13-01T00:00"},
                      std::vector<std::string_view>{"--out", "d", "--start", "2019-02-29T00:00"},
                      std::vector<std::string_view>{"--out", "d", "--start", "yesterday"},
                      std::vector<std::string_view>{"--out", "d", "--seed", "-4"},
                      std::vector<std::string_view>{"--out", "d", "--frobnicate"}));

TEST(SynthOptions, UtcTimesAcceptSecondsBlankAndZone)
{
    EXPECT_EQ(ParseUtc("1970-01-01T00:00"), 0);
    EXPECT_EQ(ParseUtc("2019-06-21 12:00:30Z"), Utc("2019-06-21T12:00") + 30);
    EXPECT_FALSE(ParseUtc("2019-06-21T24:00"));
    EXPECT_FALSE(ParseUtc("2019-6-21T12:00"));
}

} // namespace

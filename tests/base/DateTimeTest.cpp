#include <gtest/gtest.h>

#include <ostream>

#include "base/DateTime.h"

namespace {

struct FormatCase {
    int y, mo, d, h, mi, s, ms;
    const char* format;
    const char* expected;
    friend void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.expected; }
};

class FormatDateTimeTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatDateTimeTest, Formats)
{
    const FormatCase& c = GetParam();
    const TDateTime t = *TryEncodeDate(c.y, c.mo, c.d) + *TryEncodeTime(c.h, c.mi, c.s, c.ms);
    EXPECT_EQ(FormatDateTime(c.format, t), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, FormatDateTimeTest,
    ::testing::Values(
        FormatCase{2013, 5, 30, 12, 0, 0, 0, "yyyy-mm-dd hh:nn", "2013-05-30 12:00"},
        FormatCase{2013, 5, 30, 7, 4, 9, 56, "yyyy-mm-dd hh:nn:ss.zzz  ", "2013-05-30 07:04:09.056  "},
        FormatCase{2013, 5, 30, 7, 4, 9, 0, "yyyy-mm-dd hh:nn:ss      ", "2013-05-30 07:04:09      "},
        FormatCase{2013, 5, 30, 12, 30, 0, 0, "yyyy-mm-dd hhnn", "2013-05-30 1230"},
        FormatCase{2013, 5, 30, 12, 0, 0, 0, "yyyymmddhhnn", "201305301200"},
        FormatCase{2013, 5, 30, 12, 0, 0, 0, "yyyy/mm/dd/", "2013/05/30/"},
        FormatCase{2000, 2, 29, 23, 59, 59, 999, "yyyy-mm-dd hh:nn:ss.zzz", "2000-02-29 23:59:59.999"},
        FormatCase{1899, 12, 30, 0, 0, 0, 0, "yyyy-mm-dd", "1899-12-30"},
        FormatCase{1, 1, 1, 0, 0, 0, 0, "yyyy-mm-dd", "0001-01-01"},
        FormatCase{9999, 12, 31, 0, 0, 0, 0, "yyyy-mm-dd", "9999-12-31"}));

TEST(DateTime, EpochsAndRanges)
{
    EXPECT_EQ(*TryEncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(*TryEncodeDate(1970, 1, 1), UnixDateDelta);
    EXPECT_EQ(*TryEncodeDate(2000, 1, 1), 36526.0);
    EXPECT_FALSE(TryEncodeDate(2013, 2, 29));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1));
    EXPECT_FALSE(TryEncodeDate(10000, 1, 1));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0));
    EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0));
    EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0));
    EXPECT_EQ(DateTimeToUnixMs(UnixMsToDateTime(1369915200123)), 1369915200123);
}

TEST(DateTime, RoundsToTheNearestMillisecond)
{
    const TDateTime t = *TryEncodeDate(2013, 5, 30) + (13.0 * 3600 - 0.0004) / 86400.0;
    EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", t), "13:00:00.000");
}

}  // namespace

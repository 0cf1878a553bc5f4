#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <filesystem>

#include "station/ProcessLog.h"
#include "support/TempXdg.h"

namespace {

TDateTime At(int y, int mo, int d, int h, int mi, int s = 0, int ms = 0)
{
    return *TryEncodeDate(y, mo, d) + *TryEncodeTime(h, mi, s, ms);
}

class ProcessLogTest : public ::testing::Test {
protected:
    ProcessLogTest() : log_(tmp_.Dir("state") + "orvanta-process.log", [this] { return now_; }) {}
    void Fill(std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i) log_.AddLogLine("line " + std::to_string(i), 0);
    }

    TTempXdg tmp_;
    TDateTime now_ = At(2013, 5, 30, 10, 0);
    TProcessLog log_;
};

TEST_F(ProcessLogTest, Stamps)
{
    log_.AddLogLine("Starting orvanta V1.0.0.0", At(2013, 5, 30, 7, 4, 9, 56));
    now_ = At(2013, 5, 30, 12, 3, 7, 999);
    log_.AddLogLine("Processed", 0);
    ASSERT_EQ(log_.Lines().size(), 2u);
    EXPECT_EQ(log_.Lines()[0], "2013-05-30 07:04:09.056  Starting orvanta V1.0.0.0");
    EXPECT_EQ(log_.Lines()[1], "2013-05-30 12:03:07      Processed");
    EXPECT_EQ(log_.LastLogSaveDay, static_cast<int>(At(2013, 5, 30, 0, 0)));
}

TEST_F(ProcessLogTest, CapDropsTheOldest499)
{
    Fill(9999);
    log_.AddLogLine("x", 0);
    EXPECT_EQ(log_.Lines().size(), 10000u);
    log_.AddLogLine("y", 0);
    EXPECT_EQ(log_.Lines().size(), 9502u);
    EXPECT_NE(log_.Lines().front().find("line 499"), std::string::npos);
    EXPECT_NE(log_.Lines().back().find("y"), std::string::npos);
}

struct DailyCase {
    int hour, minute;
    std::size_t linesBefore;
    bool saves;
    friend void PrintTo(const DailyCase& c, std::ostream* os) { *os << c.hour << ":" << c.minute << " after " << c.linesBefore << " lines"; }
};

class DailySaveTest : public ProcessLogTest, public ::testing::WithParamInterface<DailyCase> {};

TEST_P(DailySaveTest, AfterTwentyFourPastOneNextDay)
{
    const DailyCase& c = GetParam();
    Fill(c.linesBefore);
    now_ = At(2013, 5, 31, c.hour, c.minute);
    log_.AddLogLine("the line", 0);
    const TDateTime expectedDay = c.saves ? At(2013, 5, 31, 0, 0) : At(2013, 5, 30, 0, 0);
    EXPECT_EQ(log_.LastLogSaveDay, static_cast<int>(expectedDay));
}

INSTANTIATE_TEST_SUITE_P(Times, DailySaveTest,
                         ::testing::Values(DailyCase{1, 25, 16, true}, DailyCase{1, 23, 16, false},
                                           DailyCase{1, 25, 15, false}, DailyCase{23, 0, 40, true}));

TEST_F(ProcessLogTest, SavedFileHoldsEveryLine)
{
    Fill(20);
    now_ = At(2013, 6, 2, 0, 0);
    log_.AddLogLine("last", 0);
    const std::string text = TTempXdg::ReadText(log_.Path());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 21);
    EXPECT_EQ(text.substr(text.size() - 30), "2013-06-02 00:00:00      last\n");
    // Once saved today, the next lines do not save again: they are only appended.
    std::filesystem::remove(log_.Path());
    log_.AddLogLine("again", 0);
    EXPECT_EQ(TTempXdg::ReadText(log_.Path()), "2013-06-02 00:00:00      again\n");
}

TEST_F(ProcessLogTest, LinesReachTheFileAsTheyAreAddedAndTheSaveTrimsIt)
{
    TProcessLog log(tmp_.Root() + "/fresh/Quillon/orvanta-process.log", [this] { return now_; });
    log.AddLogLine("first", 0);
    log.AddLogLine("second", 0);
    EXPECT_EQ(TTempXdg::ReadText(log.Path()), "2013-05-30 10:00:00      first\n2013-05-30 10:00:00      second\n");

    for (int i = 0; i < 10000; ++i) log.AddLogLine("l", 0);
    auto lines = [&] {
        const std::string text = TTempXdg::ReadText(log.Path());
        return std::count(text.begin(), text.end(), '\n');
    };
    EXPECT_EQ(lines(), 10002);
    now_ = At(2013, 5, 31, 2, 0);
    log.AddLogLine("next day", 0);
    EXPECT_EQ(lines(), static_cast<long>(log.Lines().size()));
}

TEST_F(ProcessLogTest, FailedSaveIsTriedAgainWithTheNextLine)
{
    TProcessLog log(tmp_.Root() + "/blocked/orvanta-process.log", [this] { return now_; });
    TTempXdg::WriteText(tmp_.Root() + "/blocked", "a file where the directory should be");
    for (int i = 0; i < 20; ++i) log.AddLogLine("x", 0);
    now_ = At(2013, 5, 31, 2, 0);
    log.AddLogLine("x", 0);
    EXPECT_EQ(log.LastLogSaveDay, static_cast<int>(At(2013, 5, 30, 0, 0)));
    std::filesystem::remove(tmp_.Root() + "/blocked");
    log.AddLogLine("x", 0);
    EXPECT_EQ(log.LastLogSaveDay, static_cast<int>(At(2013, 5, 31, 0, 0)));
    EXPECT_TRUE(std::filesystem::exists(log.Path()));
}

TEST_F(ProcessLogTest, LoadKeepsTheLastTenThousandLines)
{
    std::string text;
    for (int i = 0; i < 10005; ++i) text += "l" + std::to_string(i) + "\r\n";
    TTempXdg::WriteText(log_.Path(), text);
    ASSERT_TRUE(log_.LoadFromFile());
    ASSERT_EQ(log_.Lines().size(), 10000u);
    EXPECT_EQ(log_.Lines().front(), "l5");
    EXPECT_EQ(log_.Lines().back(), "l10004");
    TProcessLog missing(tmp_.Root() + "/none.log");
    EXPECT_FALSE(missing.LoadFromFile());
}

TEST_F(ProcessLogTest, ControlCharactersCannotForgeLines)
{
    log_.AddLogLine("/in/evil\n2013-05-30 12:00:00      Processed failed", 0);
    ASSERT_EQ(log_.Lines().size(), 1u);
    EXPECT_NE(log_.Lines()[0].find("evil?2013"), std::string::npos);
}

}  // namespace

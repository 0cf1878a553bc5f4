#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/DateTime.h"
#include "base/Files.h"
#include "support/TempXdg.h"

namespace {

std::string WriteFile(const std::string& path, std::size_t size)
{
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    return path;
}

std::int64_t MTimeSeconds(const std::string& path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtim.tv_sec;
}

TEST(FileSizeOf, MeasuresOrReportsNothing)
{
    TTempXdg tmp;
    const std::string f = WriteFile(tmp.Dir("in") + "a.nc", 20000);
    ASSERT_TRUE(FileSizeOf(f).has_value());
    EXPECT_EQ(*FileSizeOf(f), 20000);
    EXPECT_FALSE(FileSizeOf(tmp.Dir("in") + "missing.nc").has_value());
}

TEST(IsFileInUse, WhileAnotherDescriptorIsOpen)
{
    TTempXdg tmp;
    const std::string f = WriteFile(tmp.Dir("in") + "b.nc", 100);
    // Old enough that the modification-time fallback cannot decide for us.
    struct timespec old[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, f.c_str(), old, 0);
    EXPECT_FALSE(IsFileInUse(f));
    const int writer = ::open(f.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    EXPECT_TRUE(IsFileInUse(f));
    ::close(writer);
    EXPECT_FALSE(IsFileInUse(f));
}

struct StampCase {
    const char* name;
    int year, month, day, hour, minute, second;
    std::int64_t expectedUnix;  // -1: the file is left alone
};

class SetFileDateTimeTest : public ::testing::TestWithParam<StampCase> {};

TEST_P(SetFileDateTimeTest, StampsEvenSecondsInUtc)
{
    const auto& c = GetParam();
    TTempXdg tmp;
    const std::string f = WriteFile(tmp.Dir("out") + "c.jpg", 10);
    const std::int64_t before = MTimeSeconds(f);
    const TDateTime t = *TryEncodeDate(c.year, c.month, c.day) + *TryEncodeTime(c.hour, c.minute, c.second, 0);
    const bool ok = SetFileDateTime(f, t);
    if (c.expectedUnix < 0) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(MTimeSeconds(f), before);
    } else {
        EXPECT_TRUE(ok);
        EXPECT_EQ(MTimeSeconds(f), c.expectedUnix);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Times, SetFileDateTimeTest,
    ::testing::Values(StampCase{"noon", 2013, 5, 30, 12, 0, 0, 1369915200},
                      StampCase{"odd second", 2013, 5, 30, 12, 0, 1, 1369915200},
                      StampCase{"before DOS", 1979, 12, 31, 23, 59, 59, -1}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (ch == ' ') ch = '_';
        return n;
    });

TEST(SetFileDateTime, ZeroTimeOrMissingFileChangesNothing)
{
    TTempXdg tmp;
    EXPECT_FALSE(SetFileDateTime(tmp.Dir("out") + "none.jpg", 41424.5));
    const std::string f = WriteFile(tmp.Dir("out") + "d.jpg", 10);
    EXPECT_FALSE(SetFileDateTime(f, 0));
}

TEST(CopyFileAtomically, CopiesWholeAndLeavesNoTemporary)
{
    TTempXdg tmp;
    const std::string src = WriteFile(tmp.Dir("in") + "e.nc.bz2", 3 << 20);
    const struct timespec received[2] = {{0, UTIME_OMIT}, {1369915200, 0}};
    ::utimensat(AT_FDCWD, src.c_str(), received, 0);
    // A name as long as a name can be still leaves room for the temporary.
    const std::string dst = tmp.Dir("raw") + std::string(247, 'e') + ".nc.bz2";
    WriteFile(dst, 5);  // an older copy is replaced
    ASSERT_TRUE(CopyFileAtomically(src, dst));
    EXPECT_EQ(*FileSizeOf(dst), 3 << 20);
    EXPECT_EQ(MTimeSeconds(dst), 1369915200);  // the time it was received
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(tmp.Dir("raw"))) ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(CopyFileAtomically, FailureLeavesTheTargetDirectoryUntouched)
{
    TTempXdg tmp;
    const std::string src = WriteFile(tmp.Dir("in") + "f.nc", 100);
    EXPECT_FALSE(CopyFileAtomically(tmp.Dir("in") + "missing.nc", tmp.Dir("raw") + "f.nc"));
    EXPECT_FALSE(CopyFileAtomically(src, tmp.Root() + "/no/such/dir/f.nc"));
    EXPECT_TRUE(std::filesystem::is_empty(tmp.Dir("raw")));
}

}  // namespace

#include <gtest/gtest.h>

#include <string>

#include "Version.h"

TEST(Version, HasFourDotSeparatedNumbers)
{
    std::string v = ORVANTA_FILE_VERSION;
    int dots = 0;
    for (char c : v) {
        if (c == '.') ++dots;
        else ASSERT_TRUE(c >= '0' && c <= '9') << v;
    }
    EXPECT_EQ(dots, 3);
}

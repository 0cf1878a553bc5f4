#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cartography/LineFiles.h"
#include "station/Station.h"

using namespace linefiles;

TEST(DefaultMapFile, FoundBesideTheCompanionProgramNamedInTheRegistry)
{
    TempDir config, companion;
    const std::string exe = companion.path() + "/velmora";
    std::filesystem::create_directories(config.path() + "/Quillon");
    config.file("Quillon/registry.reg", text("Windows Registry Editor Version 5.00\r\n\r\n"
                                             "[HKEY_CURRENT_USER\\Software\\Quillon\\App Paths]\r\n\"Velmora\"=\"" +
                                             exe + "\"\r\n"));
    const auto wanted = companion.file("Countries.dat", {1});
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    const std::string found = CompanionMapFile();
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(found, wanted);
}

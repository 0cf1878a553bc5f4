#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "settings/ProgramPaths.h"
#include "settings/RegistryFile.h"
#include "settings/RegistryVariables.h"
#include "support/TempXdg.h"

namespace {

constexpr const char* kKey = "\\Software\\Quillon\\orvanta";

class RegistryFileTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgramName("orvanta"); }
    void TearDown() override { SetProgramName(""); }
    std::string Path() const { return RegistryFilePath(); }
    TTempXdg xdg_;
};

TEST_F(RegistryFileTest, LivesUnderTheConfigHome)
{
    EXPECT_EQ(Path(), xdg_.Root() + "/config/Quillon/registry.reg");
    EXPECT_EQ(ProcessLogPath(), xdg_.Root() + "/state/Quillon/orvanta-process.log");
    EXPECT_EQ(GeoLogPath(), xdg_.Root() + "/state/Quillon/orvanta-geo.log");
    EXPECT_EQ(ProgramKey(), kKey);
}

TEST_F(RegistryFileTest, WritesTheExportFormat)
{
    TRegistryFile reg(Path());
    ASSERT_TRUE(reg.WriteString(kKey, "SourcePath", "/srv/goes/incoming/"));
    ASSERT_TRUE(reg.WriteInteger(kKey, "SaveAsPNG", 1));
    ASSERT_TRUE(reg.WriteInteger(kKey, "FormLeft", -8));
    ASSERT_TRUE(reg.WriteString(kKey, "Odd", "a\\b\"c\xC2\xB5"));
    EXPECT_EQ(TTempXdg::ReadText(Path()),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\Quillon\\orvanta]\n"
              "\"SourcePath\"=\"/srv/goes/incoming/\"\n"
              "\"SaveAsPNG\"=dword:00000001\n"
              "\"FormLeft\"=dword:fffffff8\n"
              "\"Odd\"=\"a\\\\b\\\"c\xC2\xB5\"\n\n");
    EXPECT_EQ(reg.ReadString(kKey, "odd"), "a\\b\"c\xC2\xB5");
    EXPECT_EQ(reg.ReadInteger(kKey, "FormLeft"), -8);
    EXPECT_EQ(reg.ReadInteger("Software\\Quillon\\ORVANTA", "saveaspng"), 1);
}

TEST_F(RegistryFileTest, WrongTypesReadAsMissing)
{
    TTempXdg::WriteText(Path(),
                        "Windows Registry Editor Version 5.00\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\Quillon\\orvanta]\r\n"
                        "\"SaveAsPNG\"=\"1\"\r\n"
                        "\"SourcePath\"=dword:00000001\r\n"
                        "\"Blob\"=hex:01,02\r\n");
    TRegistryFile reg(Path());
    EXPECT_FALSE(reg.IsDamaged());
    EXPECT_FALSE(reg.ReadInteger(kKey, "SaveAsPNG"));
    EXPECT_FALSE(reg.ReadString(kKey, "SourcePath"));
    EXPECT_FALSE(reg.ReadString(kKey, "Blob"));
    EXPECT_TRUE(reg.ValueExists(kKey, "Blob"));

    TRegistryBoolean png("SaveAsPNG", false);
    EXPECT_FALSE(png.Value);
    TRegistryString source("SourcePath", "dflt");
    EXPECT_EQ(source.Value, "dflt");
}

TEST_F(RegistryFileTest, ReadingNeverCreatesAnything)
{
    {
        TRegistryBoolean b("MaskImage", true);
        EXPECT_TRUE(b.Value);
        EXPECT_FALSE(std::filesystem::exists(Path()));
        TRegistryString s("SourcePath", "x");
        EXPECT_EQ(ReadAppPath("Velmora"), "");
        EXPECT_FALSE(std::filesystem::exists(Path()));
    }
    // Destruction writes both values, creating the key.
    TRegistryFile reg(Path());
    EXPECT_TRUE(reg.KeyExists(kKey));
    EXPECT_EQ(reg.ReadInteger(kKey, "MaskImage"), 1);
    EXPECT_EQ(reg.ReadString(kKey, "SourcePath"), "x");
}

TEST_F(RegistryFileTest, KeepsWhatIsNotOurs)
{
    const std::string before =
        "Windows Registry Editor Version 5.00\n\n"
        "; written by hand\n\n"
        "[HKEY_CURRENT_USER\\Software\\Quillon\\App Paths]\n"
        "\"Velmora\"=\"/opt/velmora/velmora\"\n"
        "\"Multi\"=hex(7):41,00,00,00,\\\n"
        "  00,00\n"
        "@=\"default\"\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
        "\"X\"=dword:00000002\n\n"
        "[HKEY_CURRENT_USER\\Software\\Quillon\\orvanta]\n"
        "; a comment inside our key\n"
        "\"SavePath\"=\"/old/\"\n\n";
    TTempXdg::WriteText(Path(), before);
    TRegistryFile reg(Path());
    ASSERT_TRUE(reg.WriteString(kKey, "SavePath", "/new/"));
    ASSERT_TRUE(reg.WriteInteger(kKey, "MaskImage", 0));
    std::string expected = before;
    expected.replace(expected.find("/old/"), 5, "/new/");
    expected.insert(expected.size() - 1, "\"MaskImage\"=dword:00000000\n");
    EXPECT_EQ(TTempXdg::ReadText(Path()), expected);
    EXPECT_EQ(ReadAppPath("Velmora"), "/opt/velmora/velmora");
    EXPECT_EQ(ReadAppPath("velmora"), "/opt/velmora/velmora");
    EXPECT_EQ(reg.ReadInteger("\\Software\\Other", "X"), std::nullopt);
}

TEST_F(RegistryFileTest, ReadsUtf16ExportsFromRegedit)
{
    const std::string text = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Quillon\\App Paths]\r\n"
                             "\"Velmora\"=\"C:\\\\Program Files\\\\Velmora.exe\"\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : text.substr(3)) {
        utf16 += c;
        utf16 += '\0';
    }
    TTempXdg::WriteText(Path(), utf16);
    EXPECT_EQ(ReadAppPath("Velmora"), "C:\\Program Files\\Velmora.exe");
}

class DamagedRegistryTest : public RegistryFileTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(DamagedRegistryTest, DefaultsApplyAndTheFileIsKeptAside)
{
    const std::string damaged = GetParam();
    TTempXdg::WriteText(Path(), damaged);
    TRegistryFile reg(Path());
    EXPECT_TRUE(reg.IsDamaged());
    EXPECT_FALSE(reg.KeyExists(kKey));
    {
        TRegistryBoolean b("SaveAsJPEG", true);
        EXPECT_TRUE(b.Value);
        b.Value = false;
    }
    EXPECT_FALSE(reg.IsDamaged());
    EXPECT_EQ(reg.ReadInteger(kKey, "SaveAsJPEG"), 0);

    int aside = 0;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(Path()).parent_path()))
        if (e.path().filename().string().rfind("registry.reg.damaged-", 0) == 0) {
            ++aside;
            EXPECT_EQ(TTempXdg::ReadText(e.path().string()), damaged);
        }
    EXPECT_EQ(aside, 1);
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedRegistryTest, ::testing::Values("garbage\n", "\x01\x02\xff\xfe binary"));

class OddSettingsFileTest : public RegistryFileTest, public ::testing::WithParamInterface<const char*> {};

// A FIFO at the settings file or at its lock is not the program's: nothing waits on it, no
// setting is saved over or beside it, and it is not moved aside as a damaged file.
TEST_P(OddSettingsFileTest, IsNeitherWaitedOnNorReplaced)
{
    TRegistryFile reg(Path());
    ASSERT_TRUE(reg.WriteString(kKey, "SourcePath", "/srv/in/"));
    const std::string fifo = Path() + GetParam();
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const bool lockOnly = *GetParam() != '\0';
    EXPECT_EQ(reg.ReadString(kKey, "SourcePath"), lockOnly ? std::optional<std::string>("/srv/in/") : std::nullopt);
    EXPECT_FALSE(reg.WriteString(kKey, "SavePath", "/srv/img/"));
    struct stat st {};
    EXPECT_TRUE(::lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(Path()).parent_path()))
        EXPECT_EQ(e.path().filename().string().find(".damaged-"), std::string::npos) << e.path();
}

INSTANTIATE_TEST_SUITE_P(Files, OddSettingsFileTest, ::testing::Values("", ".lock"));

struct TUnreadableCase {
    const char* line;
    bool nextValueReads;  // false where the bad line is the key's header itself
    friend void PrintTo(const TUnreadableCase& c, std::ostream* os) { *os << c.line; }
};

class UnreadableLineTest : public RegistryFileTest, public ::testing::WithParamInterface<TUnreadableCase> {
protected:
    void SetUp() override
    {
        RegistryFileTest::SetUp();
        // Reports of earlier tests' files may still wait for a receiver.
        SetSettingsReportReceiver([this](const std::string& text) {
            if (text.find(Path()) != std::string::npos) reports_.push_back(text);
        });
    }
    void TearDown() override
    {
        SetSettingsReportReceiver({});
        RegistryFileTest::TearDown();
    }
    std::vector<std::string> reports_;
};

TEST_P(UnreadableLineTest, IsSkippedReportedOnceAndKeptVerbatim)
{
    const std::string bad = GetParam().line;
    const std::string before = "Windows Registry Editor Version 5.00\n\n"
                               "[HKEY_CURRENT_USER\\Software\\Quillon\\orvanta]\n"
                               "\"SourcePath\"=\"/srv/in/\"\n" + bad + "\n"
                               "\"SaveAsJPEG\"=dword:00000000\n\n";
    TTempXdg::WriteText(Path(), before);
    TRegistryFile reg(Path());
    EXPECT_FALSE(reg.IsDamaged());
    EXPECT_EQ(reg.ReadString(kKey, "SourcePath"), "/srv/in/");
    EXPECT_EQ(reg.ReadInteger(kKey, "SaveAsJPEG").has_value(), GetParam().nextValueReads);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0], "Settings file " + Path() + " line 5 cannot be read and is skipped: " + bad);

    ASSERT_TRUE(reg.WriteInteger(kKey, "MaskImage", 0));
    EXPECT_EQ(reports_.size(), 1u);
    const std::string after = TTempXdg::ReadText(Path());
    std::istringstream lines(before);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            EXPECT_NE(after.find(line + "\n"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(reg.ReadInteger(kKey, "MaskImage"), 0);
    EXPECT_EQ(reg.ReadString(kKey, "SourcePath"), "/srv/in/");
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(Path()).parent_path()))
        EXPECT_EQ(e.path().filename().string().find(".damaged-"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, UnreadableLineTest,
    ::testing::Values(TUnreadableCase{"\"SaveAsPNG\"=1", true}, TUnreadableCase{"\"Unterminated=\"x\"", true},
                      TUnreadableCase{"\"A\"=dword:123456789", true}, TUnreadableCase{"\"A\"=\"x\" trailing", true},
                      TUnreadableCase{"\"SavePath\"=\"/srv/img/", true}, TUnreadableCase{"stray words", true},
                      TUnreadableCase{"[HKEY_CURRENT_USER\\Software\\Quillon\\orvanta", false}));

TEST_F(RegistryFileTest, UnreadableLineBeforeAnyKeyIsKept)
{
    const std::string before = "Windows Registry Editor Version 5.00\n\n\"NoKey\"=\"x\"\n\n"
                               "[HKEY_CURRENT_USER\\Software\\Quillon\\orvanta]\n\"SavePath\"=\"/old/\"\n\n";
    TTempXdg::WriteText(Path(), before);
    TRegistryFile reg(Path());
    ASSERT_TRUE(reg.WriteString(kKey, "SavePath", "/new/"));
    std::string expected = before;
    expected.replace(expected.find("/old/"), 5, "/new/");
    EXPECT_EQ(TTempXdg::ReadText(Path()), expected);
}

TEST_F(RegistryFileTest, LineBreaksCannotBeStored)
{
    TRegistryFile reg(Path());
    EXPECT_FALSE(reg.WriteString(kKey, "LastSaved1", "a\nb"));
    EXPECT_FALSE(reg.WriteString(kKey, "Bad\rName", "x"));
    EXPECT_FALSE(std::filesystem::exists(Path()));
}

TEST_F(RegistryFileTest, EmptyFileIsNotDamaged)
{
    TTempXdg::WriteText(Path(), "");
    TRegistryFile reg(Path());
    EXPECT_FALSE(reg.IsDamaged());
    EXPECT_TRUE(reg.WriteInteger(kKey, "A", 5));
    EXPECT_EQ(reg.ReadInteger(kKey, "A"), 5);
}

TEST_F(RegistryFileTest, AnotherProgramNameHasItsOwnKey)
{
    {
        TRegistryString s("SourcePath", "");
        s.Value = "/in/";
    }
    SetProgramName("orvanta-copy");
    TRegistryString other("SourcePath", "default");
    EXPECT_EQ(other.Value, "default");
    EXPECT_EQ(other.Key, "\\Software\\Quillon\\orvanta-copy");
}

TEST_F(RegistryFileTest, SubkeyImpliesItsParent)
{
    TRegistryFile reg(Path());
    ASSERT_TRUE(reg.CreateKey("\\Software\\Quillon\\orvanta\\Sub"));
    EXPECT_TRUE(reg.KeyExists(kKey));
    EXPECT_TRUE(reg.KeyExists("\\Software\\Quillon"));
    EXPECT_FALSE(reg.KeyExists("\\Software\\Quil"));
}

TEST_F(RegistryFileTest, TwoWritersAtOnceLoseNothing)
{
    constexpr int kPerWriter = 40;
    pid_t children[2];
    for (int w = 0; w < 2; ++w) {
        children[w] = ::fork();
        ASSERT_GE(children[w], 0);
        if (children[w] == 0) {
            TRegistryFile reg(Path());
            bool ok = true;
            for (int i = 0; i < kPerWriter; ++i)
                ok &= reg.WriteInteger(kKey, "W" + std::to_string(w) + "_" + std::to_string(i), i);
            ::_exit(ok ? 0 : 1);
        }
    }
    for (pid_t c : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(c, &status, 0), c);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    TRegistryFile reg(Path());
    EXPECT_FALSE(reg.IsDamaged());
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < kPerWriter; ++i)
            EXPECT_EQ(reg.ReadInteger(kKey, "W" + std::to_string(w) + "_" + std::to_string(i)), i);
    // No temporary file is left behind.
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(std::filesystem::path(Path()).parent_path()))
        ++files;
    EXPECT_EQ(files, 2);  // registry.reg and its lock file
}

}  // namespace

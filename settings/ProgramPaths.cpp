#include "settings/ProgramPaths.h"

#include "Version.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

std::string& NameOverride()
{
    static std::string name;
    return name;
}

std::string HomeDirectory()
{
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

// XDG asks to ignore relative values.
std::string XdgDirectory(const char* variable, const char* fallbackUnderHome)
{
    std::string base;
    if (const char* v = std::getenv(variable); v && v[0] == '/') base = v;
    else base = HomeDirectory() + "/" + fallbackUnderHome;
    if (base.back() != '/') base += '/';
    return base + "Quillon/";
}

}  // namespace

std::string ProgramName()
{
    if (!NameOverride().empty()) return NameOverride();
    static const std::string fromExe = [] {
        std::error_code ec;
        std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        std::string name = ec ? std::string("orvanta") : exe.stem().string();
        return name.empty() ? std::string("orvanta") : name;
    }();
    return fromExe;
}

void SetProgramName(std::string name)
{
    NameOverride() = std::move(name);
}

std::string ConfigDirectory() { return XdgDirectory("XDG_CONFIG_HOME", ".config"); }
std::string StateDirectory() { return XdgDirectory("XDG_STATE_HOME", ".local/state"); }

std::string ProgramDataDir()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    const auto exeDir = exe.parent_path();
    const auto installed = exeDir.parent_path() / "share" / "orvanta";
    if (std::filesystem::is_directory(installed, ec))
        return installed.string() + "/";
    return exeDir.string() + "/";
}
std::string RegistryFilePath() { return ConfigDirectory() + "registry.reg"; }
std::string ProcessLogPath() { return StateDirectory() + ProgramName() + "-process.log"; }
std::string GeoLogPath() { return StateDirectory() + ProgramName() + "-geo.log"; }
std::string StrikeJournalPath() { return StateDirectory() + ProgramName() + "-strikes.txt"; }
std::string StationLockPath() { return ConfigDirectory() + ProgramName() + ".lock"; }
std::string ReprocessLockPath() { return ConfigDirectory() + ProgramName() + "-reprocess.lock"; }
std::string ProgramKey() { return "\\Software\\Quillon\\" + ProgramName(); }
std::string AppPathsKey() { return "\\Software\\Quillon\\App Paths"; }

std::string ProgramNameAndVersion()
{
    return ProgramName() + " V" + ORVANTA_FILE_VERSION;
}

#pragma once
// Points XDG_CONFIG_HOME and XDG_STATE_HOME at a fresh temporary directory for one test, so
// that no test reads or writes the real user's registry or logs.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

class TTempXdg {
public:
    TTempXdg()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "orvanta-test-XXXXXX").string();
        root_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
        Save("XDG_CONFIG_HOME", savedConfig_);
        Save("XDG_STATE_HOME", savedState_);
        ::setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (root_ + "/state").c_str(), 1);
    }
    ~TTempXdg()
    {
        Restore("XDG_CONFIG_HOME", savedConfig_);
        Restore("XDG_STATE_HOME", savedState_);
        std::error_code ec;
        if (!root_.empty()) std::filesystem::remove_all(root_, ec);
    }
    TTempXdg(const TTempXdg&) = delete;
    TTempXdg& operator=(const TTempXdg&) = delete;

    const std::string& Root() const { return root_; }
    std::string Dir(const std::string& name) const
    {
        const std::string d = root_ + "/" + name + "/";
        std::filesystem::create_directories(d);
        return d;
    }

    static std::string ReadText(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void WriteText(const std::string& path, const std::string& text)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

private:
    static void Save(const char* name, std::optional<std::string>& slot)
    {
        if (const char* v = ::getenv(name)) slot = v;
    }
    static void Restore(const char* name, const std::optional<std::string>& slot)
    {
        if (slot) ::setenv(name, slot->c_str(), 1);
        else ::unsetenv(name);
    }

    std::string root_;
    std::optional<std::string> savedConfig_, savedState_;
};

#include "settings/ProgramPaths.h"

// Acts as the program "orvanta" for the lifetime of the object.
class TAsProgram {
public:
    explicit TAsProgram(std::string name = "orvanta") { SetProgramName(std::move(name)); }
    ~TAsProgram() { SetProgramName(""); }
    TAsProgram(const TAsProgram&) = delete;
    TAsProgram& operator=(const TAsProgram&) = delete;
};

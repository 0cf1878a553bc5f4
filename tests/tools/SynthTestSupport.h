#pragma once
// Shared helpers of the sample-feed generator tests.

#include <filesystem>
#include <random>
#include <string>

// A fresh directory under the system's temporary folder, removed with the object.
class TTempDir {
public:
    TTempDir()
    {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("orvanta-synth-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TTempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string ShorelineFile(const char* name)
{
    return std::string(ORVANTA_SHARED_DATA) + "/gshhs/" + name;
}

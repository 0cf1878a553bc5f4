#include "base/Files.h"

#include <filesystem>

bool LiesIn(const std::string& path, const std::string& directory)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path parent = fs::absolute(path, ec).parent_path();
    return !directory.empty() && !ec && fs::equivalent(parent, directory, ec);
}

#include "app/Utils.h"

#include <dirent.h>

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>

#include "Version.h"
#include "settings/ProgramPaths.h"

TDateTime UtcNow()
{
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    return UnixMsToDateTime(ms);
}

namespace {

bool OnApplicationThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

int CharClass(unsigned char c)
{
    if (c >= '0' && c <= '9') return 1;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return 2;
    if (c >= 0x80) return 3;
    return 0;
}

int CompareFolded(const std::string& a, const std::string& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(FoldCase(a[i]));
        const unsigned char y = static_cast<unsigned char>(FoldCase(b[i]));
        if (x == y) continue;
        const int cx = CharClass(x), cy = CharClass(y);
        if (cx != cy) return cx < cy ? -1 : 1;
        return x < y ? -1 : 1;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return 0;
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

void PeekMessages()
{
    static std::int64_t lastTick = -1;
    const std::int64_t tick = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count();
    if (tick == lastTick) return;
    lastTick = tick;
    if (OnApplicationThread()) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ProcessAllMessages()
{
    if (OnApplicationThread()) QCoreApplication::processEvents();
}

bool MatchesWildcard(std::string_view pattern, std::string_view name)
{
    // Iterative match with one back-tracking point for the last '*'.
    std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

void ListFiles(const std::string& pattern, std::vector<std::string>& list)
{
    const std::size_t slash = pattern.rfind('/');
    const std::string dirPart = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
    const std::string namePattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    std::unique_ptr<DIR, DirCloser> dir(::opendir(dirPart.empty() ? "." : dirPart.c_str()));
    if (!dir) return;
    while (const dirent* e = ::readdir(dir.get())) {
        const std::string_view name = e->d_name;
        if (name == "." || name == "..") continue;
        if (MatchesWildcard(namePattern, name)) list.push_back(dirPart + std::string(name));
    }
}

bool FileNameLess(const std::string& a, const std::string& b)
{
    const int c = CompareFolded(a, b);
    return c != 0 ? c < 0 : a < b;
}

void SortFileList(std::vector<std::string>& list)
{
    std::sort(list.begin(), list.end(), FileNameLess);
    list.erase(std::unique(list.begin(), list.end()), list.end());
}

std::string ExtractFileName(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string LowerCase(std::string_view s)
{
    std::string out(s);
    for (char& c : out) c = FoldCase(c);
    return out;
}

std::string UpperCase(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return out;
}

std::string ProgramNameAndVersion()
{
    return ProgramName() + " V" + ORVANTA_FILE_VERSION;
}

bool DirectoryExists(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

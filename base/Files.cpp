#include "base/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include "base/PartialFile.h"
#include "base/Text.h"

namespace {

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

bool LiesIn(const std::string& path, const std::string& directory)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path parent = fs::absolute(path, ec).parent_path();
    return !directory.empty() && !ec && fs::equivalent(parent, directory, ec);
}

namespace {

bool MatchesOneWildcard(std::string_view pattern, std::string_view name)
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

} // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view name)
{
    for (;;) {
        const std::size_t bar = pattern.find('|');
        if (MatchesOneWildcard(pattern.substr(0, bar), name)) return true;
        if (bar == std::string_view::npos) return false;
        pattern.remove_prefix(bar + 1);
    }
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

namespace {

// NOAA's GOES-R names give the product and sector before the scan's start
// ("OR_ABI-L1b-RadC-M6C13_G18_s2026342120117..."): from "_s" on, they sort by time.
std::string_view StartField(std::string_view name)
{
    const std::size_t slash = name.rfind('/');
    const std::string_view file = slash == std::string_view::npos ? name : name.substr(slash + 1);
    if (file.size() < 3 || FoldCase(file[0]) != FoldCase('O') || FoldCase(file[1]) != FoldCase('R') || file[2] != '_')
        return {};
    const std::size_t start = file.find("_s");
    return start == std::string_view::npos ? std::string_view() : file.substr(start);
}

} // namespace

bool FileNameLess(const std::string& a, const std::string& b)
{
    // Names with a start field come after all others, in order of it: a total order still.
    const std::string_view sa = StartField(a), sb = StartField(b);
    if (sa.empty() != sb.empty())
        return sa.empty();
    if (!sa.empty())
        if (const int c = CompareFolded(std::string(sa), std::string(sb)); c != 0)
            return c < 0;
    const int c = CompareFolded(a, b);
    return c != 0 ? c < 0 : a < b;
}

void SortFileList(std::vector<std::string>& list)
{
    std::sort(list.begin(), list.end(), FileNameLess);
    list.erase(std::unique(list.begin(), list.end()), list.end());
}

std::string_view FileExtension(std::string_view path)
{
    const auto dot = path.rfind('.');
    const auto slash = path.rfind('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return path.substr(dot);
}

std::string ExtractFileName(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool DirectoryExists(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

const char* OddFileKind(mode_t mode)
{
    if (S_ISREG(mode)) return nullptr;
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

TOpenFile OpenRegularFile(const std::string& path, int flags, mode_t mode)
{
    TOpenFile f;
    const auto refused = [&](const struct stat& st) {
        const char* kind = OddFileKind(st.st_mode);
        if (kind) f.Problem = std::string(kind) + ", not a regular file";
        return kind != nullptr;
    };
    const auto failed = [&] {
        f.Error = errno;
        f.Problem = std::strerror(f.Error);
    };
    struct stat st {};
    // A FIFO without a reader also refuses a writer at open(), with a reason that tells nothing.
    if (((flags & O_NOFOLLOW) ? ::lstat(path.c_str(), &st) : ::stat(path.c_str(), &st)) == 0 && refused(st)) return f;
    f.Fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (f.Fd < 0) {
        failed();
        return f;
    }
    // Still non-blocking here, should a FIFO have taken the file's place since.
    if (::fstat(f.Fd, &st) != 0 || refused(st)) {
        if (f.Problem.empty()) failed();
        ::close(f.Fd);
        f.Fd = -1;
        return f;
    }
    ::fcntl(f.Fd, F_SETFL, ::fcntl(f.Fd, F_GETFL) & ~O_NONBLOCK);
    return f;
}

TSmallFile ReadSmallRegularFile(const std::string& path, std::size_t maxBytes)
{
    TSmallFile f;
    const TOpenFile file = OpenRegularFile(path, O_RDONLY);
    if (file.Fd < 0) {
        f.Missing = file.Error == ENOENT;
        f.NotRegular = file.NotRegular();
        f.Problem = file.Problem;
        return f;
    }
    const int fd = file.Fd;
    struct TCloser {
        int fd;
        ~TCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        f.Problem = "larger than " + std::to_string(maxBytes) + " bytes (" + std::to_string(st.st_size) + ")";
        return f;
    }
    // The file may grow while it is read; the limit holds all the same.
    f.Text.resize(maxBytes + 1);
    std::size_t done = 0;
    while (done < f.Text.size()) {
        const ssize_t n = ::read(fd, f.Text.data() + done, f.Text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            f.Problem = std::strerror(errno);
            f.Text.clear();
            return f;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done > maxBytes) {
        f.Problem = "larger than " + std::to_string(maxBytes) + " bytes";
        f.Text.clear();
        return f;
    }
    f.Text.resize(done);
    return f;
}

std::optional<std::int64_t> FileSizeOf(const std::string& path)
{
    // Non-blocking, so a FIFO put in a file's place cannot hold the station in open().
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (!ok) return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

bool IsFileInUse(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true;
    bool inUse = false;
    if (::fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    } else if (errno == EAGAIN || errno == EBUSY) {
        inUse = true;
    } else {
        inUse = ModifiedWithin(path, 3000);
    }
    ::close(fd);
    return inUse;
}

bool SetFileDateTime(const std::string& path, TDateTime time)
{
    if (time == 0) return false;
    const TDateTimeParts parts = DecodeDateTime(time);
    if (parts.Year < 1980 || parts.Year > 2107) return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    // DOS times count whole even seconds.
    const std::int64_t ms = DateTimeToUnixMs(time);
    std::int64_t seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    seconds -= ((seconds % 2) + 2) % 2;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = 0;
    const bool ok = ::futimens(fd, times) == 0;
    ::close(fd);
    return ok;
}

bool ModifiedWithin(const std::string& path, int ms)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return true;
    const auto modified = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    return std::chrono::system_clock::now() - modified < std::chrono::milliseconds(ms);
}

bool MoveFileReplacing(const std::string& source, const std::string& target)
{
    if (::rename(source.c_str(), target.c_str()) == 0) return true;
    if (errno != EXDEV || !CopyFileAtomically(source, target)) return false;
    return ::unlink(source.c_str()) == 0;
}

std::optional<TDateTime> GetFileDateTime(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return UnixMsToDateTime(static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
}

namespace {

// Reads what fd gives next, at most n bytes, into p; 0 at its end. Raises when a read fails.
std::size_t readSome(int fd, char* p, std::size_t n)
{
    for (;;) {
        const ssize_t got = ::read(fd, p, n);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) throw std::runtime_error("read failed");
    }
}

// Reads fd to its end into data, its size a hint only: the file may still grow or shrink
// while it is read.
void readAll(int fd, std::vector<char>& data, std::size_t sizeHint)
{
    // One byte more than the hint, so that the end is seen without growing.
    data.resize(sizeHint + 1);
    std::size_t at = 0;
    for (;;) {
        if (at == data.size()) data.resize(data.size() * 2);
        const std::size_t n = readSome(fd, data.data() + at, data.size() - at);
        if (n == 0) break;
        at += n;
    }
    data.resize(at);
}

// Copies fd to its end into out, piece by piece.
void copyAll(int fd, TPartialFile& out)
{
    std::vector<char> buffer(std::size_t{1} << 20);
    while (const std::size_t n = readSome(fd, buffer.data(), buffer.size()))
        out.write(buffer.data(), n);
}

bool sameTime(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The same file, unchanged: writing to it, even back to its old modification time, changes
// its change time.
bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_ino != 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           sameTime(a.st_mtim, b.st_mtim) && sameTime(a.st_ctim, b.st_ctim);
}

// Whether a file of this status can be held in content; when not, content is emptied.
bool keepable(TFileContent& content, const struct stat& st)
{
    content.Kept = sameFile(content.Status, st) || static_cast<std::uint64_t>(st.st_size) <= MaxKeptContent;
    if (!content.Kept) content = TFileContent();
    return content.Kept;
}

// Copies source into target through a temporary; with keep, what was read stays there (the
// whole file, read once) and is written in one piece.
bool copyAtomically(const std::string& source, const std::string& target, TFileContent* keep)
{
    const int in = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) return false;
    bool ok = false;
    int error = 0;
    try {
        struct stat st {};
        if (::fstat(in, &st) != 0) throw std::runtime_error("stat failed");
        TPartialFile out(target);
        TFileContent* const read = keep;
        if (keep && !keepable(*keep, st)) keep = nullptr;
        if (keep) {
            keep->ReadBefore = sameFile(keep->Status, st);
            if (!keep->ReadBefore) readAll(in, keep->Data, static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)));
            out.write(keep->Data.data(), keep->Data.size());
        } else {
            copyAll(in, out);
        }
        // The archive keeps the time the file was received, not the time it was processed.
        out.commit(&st.st_mtim);
        // What was copied is known even when it was too large to hold: only that very file
        // may be removed once it is handled.
        if (read) {
            read->Modified = st.st_mtim;
            read->Status = st;
        }
        ok = true;
    } catch (const std::exception&) {
        error = errno;
        ok = false;
    }
    ::close(in);
    if (!ok) errno = error;
    return ok;
}

} // namespace

bool CopyFileAtomically(const std::string& source, const std::string& target)
{
    return copyAtomically(source, target, nullptr);
}

bool CopyFileAtomically(const std::string& source, const std::string& target, TFileContent& content)
{
    return copyAtomically(source, target, &content);
}

bool ReadFileContent(const std::string& path, TFileContent& content, std::uint64_t maxSize)
{
    // What the cycle leaves alone (links, devices, pipes) is never opened.
    struct stat before {};
    if (::lstat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode) ||
        static_cast<std::uint64_t>(before.st_size) > maxSize)
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    bool ok = false;
    try {
        struct stat st {}, after {};
        if (::fstat(fd, &st) == 0 && sameFile(before, st)) {
            readAll(fd, content.Data, static_cast<std::size_t>(st.st_size));
            ok = ::fstat(fd, &after) == 0 && sameFile(st, after) &&
                 content.Data.size() == static_cast<std::size_t>(st.st_size);
            content.Modified = st.st_mtim;
            content.Status = st;
        }
    } catch (const std::exception&) {
        ok = false;
    }
    ::close(fd);
    if (!ok) content = TFileContent();
    return ok;
}

bool RemoveIfUnchanged(const std::string& path, const struct stat& read)
{
    struct stat now {};
    if (read.st_ino == 0 || ::lstat(path.c_str(), &now) != 0) return false;
    if (now.st_dev != read.st_dev || now.st_ino != read.st_ino || now.st_size != read.st_size ||
        !sameTime(now.st_mtim, read.st_mtim))
        return false;
    return ::unlink(path.c_str()) == 0;
}

bool IsRegularEntry(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ForceDirectories(const std::string& path)
{
    if (path.empty())
        return false;
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec);
}

std::string SaveTextAtomically(const std::string& path, const std::string& text, bool durable)
{
    // Renamed over, a FIFO or a device put there by someone else would be gone.
    if (struct stat st{}; ::stat(path.c_str(), &st) == 0)
        if (const char* kind = OddFileKind(st.st_mode))
            return std::string(kind) + ", not a regular file";
    const std::filesystem::path target(path);
    if ((target.has_parent_path() && !ForceDirectories(target.parent_path().string())) ||
        !WriteFileAtomically(path, text, nullptr, durable))
        return std::strerror(errno);
    return {};
}

std::string AppendTextLine(const std::string& path, const std::string& line)
{
    const std::string text = line + "\n";
    TOpenFile file = OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT);
    if (file.Error == ENOENT) {
        const std::filesystem::path target(path);
        if (target.has_parent_path() && ForceDirectories(target.parent_path().string()))
            file = OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT);
    }
    if (file.Fd < 0)
        return file.Problem;
    // One write per line: with O_APPEND the line lands whole, after whatever is there.
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(file.Fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    std::string problem = done == text.size() ? std::string() : std::strerror(errno);
    if (::close(file.Fd) != 0 && problem.empty())
        problem = std::strerror(errno);
    return problem;
}

#include "base/PartialFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "base/StreamErrors.h"

namespace {

// Linking an unnamed file goes through its /proc entry.
std::string ProcFdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool ProcFdAvailable()
{
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

}  // namespace

std::string PartialFileName(const std::string& target)
{
    static std::atomic<unsigned> serial{0};
    const auto slash = target.find_last_of('/');
    const std::string directory = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // NAME_MAX is 255: the hidden name keeps a recognisable prefix of the target's name.
    return directory + "." + base.substr(0, 200) + "." + std::to_string(::getpid()) + "." +
           std::to_string(serial.fetch_add(1)) + ".part";
}

namespace {

bool AllDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The target's name and the writer's pid of a temporary's name; false when it is none.
bool SplitPartialName(std::string_view name, std::string& target, long& pid)
{
    const std::string_view tail = ".part";
    if (name.size() < 2 || name[0] != '.' || name.size() <= tail.size() || name.substr(name.size() - tail.size()) != tail)
        return false;
    std::string_view base = name.substr(1, name.size() - 1 - tail.size());
    std::string_view numbers[2];
    for (std::string_view& number : numbers) {
        const auto dot = base.rfind('.');
        if (dot == std::string_view::npos || !AllDigits(base.substr(dot + 1)))
            return false;
        number = base.substr(dot + 1);
        base = base.substr(0, dot);
    }
    if (base.empty() || base[0] == '.' || numbers[1].size() > 9)
        return false;
    target = std::string(base);
    pid = std::stol(std::string(numbers[1]));
    return true;
}

}  // namespace

std::string PartialFileTarget(std::string_view name)
{
    std::string target;
    long pid = 0;
    return SplitPartialName(name, target, pid) ? target : std::string();
}

std::size_t RemoveStalePartialFiles(const std::string& directory)
{
    std::size_t removed = 0;
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (dir == nullptr)
        return 0;
    const std::string prefix = directory.empty() || directory.back() == '/' ? directory : directory + "/";
    while (const dirent* entry = ::readdir(dir)) {
        std::string target;
        long pid = 0;
        if (!SplitPartialName(entry->d_name, target, pid))
            continue;
        // A writer that still runs (or a process of another user under its number) keeps it.
        if (pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH))
            continue;
        struct stat st {};
        const std::string path = prefix + entry->d_name;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

std::string TPartialFile::temporaryName() const { return PartialFileName(target_); }

TPartialFile::TPartialFile(const std::string& target) : target_(target)
{
    const auto slash = target.find_last_of('/');
    directory_ = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    base_ = slash == std::string::npos ? target : target.substr(slash + 1);
    // 0666 lets the umask decide, as for any file the program creates.
    if (ProcFdAvailable())
        fd_ = ::open(directory_.empty() ? "." : directory_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    for (int attempt = 0; fd_ < 0; ++attempt) {
        path_ = temporaryName();
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && (errno != EEXIST || attempt > 100)) {
            const int err = errno;
            path_.clear();
            throw EFOpenError("Cannot create file \"" + target + "\". " + std::strerror(err));
        }
    }
}

TPartialFile::~TPartialFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!path_.empty())
        ::unlink(path_.c_str());
}

void TPartialFile::write(const void* data, std::size_t count)
{
    auto p = static_cast<const char*>(data);
    while (count > 0) {
        const ssize_t n = ::write(fd_, p, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw EWriteError("Stream write error");
        p += n;
        count -= static_cast<std::size_t>(n);
        size_ += n;
    }
}

void TPartialFile::setPermissions(mode_t mode)
{
    // A file system without permissions keeps its own; the file is no less complete for it.
    ::fchmod(fd_, mode);
}

void TPartialFile::commit(const struct timespec* modified)
{
    if (durable_ && ::fsync(fd_) != 0)
        throw EWriteError("Stream write error");
    if (modified) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, *modified};
        ::futimens(fd_, times);
    }
    if (path_.empty()) {
        // Named for the instant between link and rename only.
        for (int attempt = 0; path_.empty(); ++attempt) {
            path_ = temporaryName();
            if (::linkat(AT_FDCWD, ProcFdPath(fd_).c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
                path_.clear();
                if (errno != EEXIST || attempt > 100)
                    throw EWriteError("Stream write error");
            }
        }
    }
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 || ::rename(path_.c_str(), target_.c_str()) != 0)
        throw EWriteError("Stream write error");
    path_.clear();
}

bool WriteFileAtomically(const std::string& path, std::string_view content, const struct timespec* modified,
                         bool durable)
{
    try {
        TPartialFile file(path);
        file.setDurable(durable);
        file.write(content.data(), content.size());
        file.commit(modified);
        return true;
    } catch (const std::exception&) {
        // errno still says what the failing call met.
        return false;
    }
}

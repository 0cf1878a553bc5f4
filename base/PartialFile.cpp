#include "base/PartialFile.h"

#include <fcntl.h>
#include <unistd.h>

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

std::string TPartialFile::temporaryName() const
{
    static std::atomic<unsigned> serial{0};
    // NAME_MAX is 255: the hidden name keeps a recognisable prefix of the target's name.
    return directory_ + "." + base_.substr(0, 200) + "." + std::to_string(::getpid()) + "." +
           std::to_string(serial.fetch_add(1)) + ".part";
}

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

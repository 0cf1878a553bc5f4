#include "imaging/BZ2files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "imaging/BZip2.h"
#include "imaging/StreamErrors.h"

namespace {

constexpr off_t MinimumCompressedSize = 40;
constexpr std::size_t CopyBlock = 32768;

std::string systemMessage(int err)
{
    return std::strerror(err);
}

// The half-written target: created under a hidden name beside the real one and either
// renamed into place when complete or removed, so the archive never holds a partial file.
class TPartialFile {
public:
    explicit TPartialFile(const std::string& target) : target_(target)
    {
        static std::atomic<unsigned> serial{0};
        const auto slash = target.find_last_of('/');
        const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        for (int attempt = 0; fd_ < 0; ++attempt) {
            path_ = dir + "." + base + "." + std::to_string(::getpid()) + "." +
                    std::to_string(serial.fetch_add(1)) + ".part";
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ < 0 && (errno != EEXIST || attempt > 100))
                throw EFOpenError("Cannot create file \"" + target + "\". " + systemMessage(errno));
        }
    }
    TPartialFile(const TPartialFile&) = delete;
    TPartialFile& operator=(const TPartialFile&) = delete;
    ~TPartialFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!path_.empty())
            ::unlink(path_.c_str());
    }

    void write(const char* data, std::size_t count)
    {
        while (count > 0) {
            const ssize_t n = ::write(fd_, data, count);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw EWriteError("Stream write error");
            data += n;
            count -= static_cast<std::size_t>(n);
            size_ += n;
        }
    }

    std::int64_t size() const { return size_; }

    // Makes the data durable, stamps it (when a time is given) and moves it into place
    // under the target name.
    void commit(const struct timespec* modified)
    {
        if (::fsync(fd_) != 0)
            throw EWriteError("Stream write error");
        if (modified) {
            const struct timespec times[2] = {{0, UTIME_OMIT}, *modified};
            ::futimens(fd_, times);
        }
        const int rc = ::close(fd_);
        fd_ = -1;
        if (rc != 0 || ::rename(path_.c_str(), target_.c_str()) != 0)
            throw EWriteError("Stream write error");
        path_.clear();
    }

private:
    std::string target_;
    std::string path_;
    int fd_ = -1;
    std::int64_t size_ = 0;
};

} // namespace

std::string BZ2TargetName(const std::string& fileName)
{
    const auto slash = fileName.find_last_of('/');
    const auto nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = fileName.find_last_of('.');
    if (dot == std::string::npos || dot <= nameStart)
        return {};
    return fileName.substr(0, dot);
}

bool DecompressBZ2File(const std::string& fileName)
{
    struct stat info{};
    if (::stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < MinimumCompressedSize)
        return false;
    const std::string target = BZ2TargetName(fileName);
    // Without an extension the target would be the source itself.
    if (target.empty())
        return false;

    std::ifstream source(fileName, std::ios::binary);
    if (!source)
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + systemMessage(errno));
    TPartialFile output(target);
    {
        TBZDecompressionStream stream(source);
        std::vector<char> block(CopyBlock);
        for (;;) {
            const std::size_t got = stream.Read(block.data(), block.size());
            if (got == 0)
                break;
            output.write(block.data(), got);
        }
    }
    const bool result = output.size() > 0;
    output.commit(result ? &info.st_mtim : nullptr);
    return result;
}

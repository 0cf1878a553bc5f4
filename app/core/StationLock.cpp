#include "app/core/StationLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/core/ProcessLog.h"
#include "settings/ProgramPaths.h"

namespace {

std::string ReadAll(int fd)
{
    std::string text;
    char buffer[64];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < 64;)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

// "1234: orvanta --headless -start", or just the number when the command line cannot be read.
std::string DescribeProcess(const std::string& pid)
{
    std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    std::string command = ss.str();
    while (!command.empty() && command.back() == '\0') command.pop_back();
    for (char& c : command)
        if (c == '\0') c = ' ';
    return command.empty() ? pid : pid + ": " + LogSafe(command);
}

}  // namespace

TStationLock::~TStationLock()
{
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

bool TStationLock::Acquire()
{
    if (fd_ >= 0) return true;
    refusal_.clear();
    const std::string path = StationLockPath();
    ForceDirectories(ConfigDirectory());
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        // Without a writable configuration directory nothing could be saved either; running
        // is still better than refusing, but not in silence.
        std::fprintf(stderr, "%s: cannot create %s; a second station would not be stopped\n",
                     ProgramName().c_str(), path.c_str());
        return true;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        std::string pid = ReadAll(fd);
        while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
        ::close(fd);
        refusal_ = "another " + ProgramName() + " is already running with the settings in " + RegistryFilePath()
                   + " (process " + (pid.empty() ? std::string("unknown") : DescribeProcess(pid))
                   + "); only one station may run on one configuration.";
        return false;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
        std::fprintf(stderr, "%s: cannot write %s\n", ProgramName().c_str(), path.c_str());
    fd_ = fd;
    return true;
}

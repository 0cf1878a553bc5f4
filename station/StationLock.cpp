#include "station/StationLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "station/CommandLine.h"
#include "station/ProcessLog.h"
#include "base/Files.h"
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
    std::string command = ReadSmallRegularFile("/proc/" + pid + "/cmdline", ProcFileMaxBytes).Text;
    while (!command.empty() && command.back() == '\0') command.pop_back();
    for (char& c : command)
        if (c == '\0') c = ' ';
    return command.empty() ? pid : pid + ": " + LogSafe(command);
}

// The pid a lock file holds, with its command line.
std::string LockedBy(int fd)
{
    std::string pid = ReadAll(fd);
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
    return pid.empty() ? std::string("unknown") : DescribeProcess(pid);
}

// Takes the lock on fd without waiting and writes our pid into it; false when another
// process holds it.
bool LockAndSign(int fd)
{
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        if (errno != EINTR) return false;
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
        std::fprintf(stderr, "%s: cannot write the station lock\n", ProgramName().c_str());
    return true;
}

// The process holding the lock file, from the kernel's list of locks; 0 when none.
long long LockHolder()
{
    struct stat st {};
    if (::stat(StationLockPath().c_str(), &st) != 0) return 0;
    // "1: FLOCK  ADVISORY  WRITE 1234 fe:00:10953291 0 EOF"; a waiter's line has "->".
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, type, mode, access, device;
        long long pid = 0;
        if (!(fields >> number >> type >> mode >> access >> pid >> device) || type != "FLOCK" || access != "WRITE")
            continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(device.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 && major == ::major(st.st_dev) &&
            minor == ::minor(st.st_dev) && inode == st.st_ino)
            return pid;
    }
    return 0;
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
    const std::string path = path_.empty() ? StationLockPath() : path_;
    ForceDirectories(ConfigDirectory());
    const TOpenFile file = OpenRegularFile(path, O_RDWR | O_CREAT);
    const int fd = file.Fd;
    // Nothing there could hold a lock, and nothing is ours to remove.
    if (file.NotRegular()) {
        refusal_ = "the lock file " + path + " is " + file.Problem + "; a second " +
                   (what_.empty() ? ProgramName() : what_) +
                   " on these settings could not be stopped, so this one does not start";
        return false;
    }
    if (fd < 0) {
        // Without a writable configuration directory nothing could be saved either; running
        // is still better than refusing, but not in silence.
        std::fprintf(stderr, "%s: cannot create %s; a second station would not be stopped\n",
                     ProgramName().c_str(), path.c_str());
        return true;
    }
    if (!LockAndSign(fd)) {
        refusal_ = "another " + (what_.empty() ? ProgramName() : what_) + " is already running with the settings in "
                   + RegistryFilePath() + " (process " + LockedBy(fd) + ")"
                   + (what_.empty() ? "; only one station may run on one configuration." : ".");
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

TDirectoryLock::~TDirectoryLock() { Release(); }

void TDirectoryLock::Release()
{
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    fd_ = -1;
    incoming_.clear();
    archive_.clear();
}

bool TDirectoryLock::Acquire(const std::string& incoming, const std::string& archive)
{
    // A lock whose file went with its directory (removed and made anew) holds nothing.
    if (struct stat st {}; fd_ >= 0 && incoming == incoming_ && archive == archive_ && ::fstat(fd_, &st) == 0 &&
                           st.st_nlink > 0)
        return true;
    Release();
    refusal_.clear();
    const std::string name = "." + ProgramName() + ".lock";
    std::string directory = incoming;
    TOpenFile file = OpenRegularFile(incoming + name, O_RDWR | O_CREAT | O_NOFOLLOW);
    const std::string incomingProblem = file.Problem;
    // Only a directory that takes no new file sends the lock to the archive: one that has
    // something else under the lock's name would leave this station unguarded there.
    if (file.Fd < 0 && !file.NotRegular()) {
        directory = archive;
        file = OpenRegularFile(archive + name, O_RDWR | O_CREAT | O_NOFOLLOW);
    }
    const std::string unguarded =
        "; a second station on these directories could not be stopped, so nothing is processed";
    if (file.NotRegular()) {
        refusal_ = "the station lock " + directory + name + " is " + file.Problem + unguarded;
        return false;
    }
    const int fd = file.Fd;
    if (fd < 0) {
        refusal_ = "no station lock can be made in " + incoming + " (" + incomingProblem + ") nor in " + archive +
                   " (" + file.Problem + ")" + unguarded;
        return false;
    }
    if (!LockAndSign(fd)) {
        refusal_ = "another " + ProgramName() + " is already processing the directories of " + directory +
                   " (process " + LockedBy(fd) + "); only one station may process one incoming directory";
        ::close(fd);
        return false;
    }
    fd_ = fd;
    incoming_ = incoming;
    archive_ = archive;
    return true;
}

long long StationLockHolder()
{
    const long long pid = LockHolder();
    if (pid <= 0) return 0;
    // A one-file run takes the lock too, but writes no status; only a station started to
    // process counts.
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> args;
    for (std::string arg; std::getline(in, arg, '\0');) args.push_back(arg);
    if (!args.empty()) args.erase(args.begin());
    std::erase(args, std::string("--headless"));
    const TCommandLine commandLine(std::move(args));
    return commandLine.FindSwitch("start") && commandLine.FileArgument().empty() ? pid : 0;
}

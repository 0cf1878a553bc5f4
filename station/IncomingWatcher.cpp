#include "station/IncomingWatcher.h"

#include <QSocketNotifier>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "base/Files.h"

std::string RemoteFileSystemName(const std::string& directory)
{
    struct statfs fs {};
    if (::statfs(directory.c_str(), &fs) != 0) return {};
    // Changes made by other machines (and, on FUSE, often by the file system itself) raise
    // no inotify event on these, so a watch would stay silent while files arrive.
    static const struct {
        unsigned long magic;
        const char* name;
    } kRemote[] = {{0x6969, "NFS"},           {0x517B, "SMB"},        {0xFF534D42, "CIFS"},
                   {0xFE534D42, "SMB2"},      {0x65735546, "FUSE"},   {0x5346414F, "AFS"},
                   {0x73757245, "Coda"},      {0x01021997, "9P"},     {0x00C36400, "Ceph"},
                   {0x0BD00BD0, "Lustre"},    {0x01161970, "GFS2"},   {0x7461636F, "OCFS2"}};
    const auto type = static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFul;
    for (const auto& r : kRemote)
        if (r.magic == type) return r.name;
    return {};
}

namespace {

constexpr std::uint32_t WatchedEvents =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY | IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// Files being written at once; beyond it (a flood) the in-use test alone decides.
constexpr std::size_t MaxTracked = 10000;

} // namespace

TIncomingWatcher::TIncomingWatcher(std::string pattern, QObject* parent)
    : QObject(parent), pattern_(std::move(pattern))
{
    delay_.setSingleShot(true);
    delay_.setInterval(PickUpDelay);
    connect(&delay_, &QTimer::timeout, this, &TIncomingWatcher::FilesArrived);
    check_.setInterval(CheckInterval);
    connect(&check_, &QTimer::timeout, this, &TIncomingWatcher::CheckStillThere);
}

void TIncomingWatcher::RememberIdentity()
{
    struct stat st {};
    if (::stat(directory_.c_str(), &st) != 0) return;
    watchedDevice_ = st.st_dev;
    watchedInode_ = st.st_ino;
    check_.start();
}

void TIncomingWatcher::CheckStillThere()
{
    if (!lost_.empty()) {
        Renew();
        return;
    }
    if (wd_ < 0) {
        check_.stop();
        return;
    }
    struct stat st {};
    if (::stat(directory_.c_str(), &st) != 0 || st.st_dev != watchedDevice_ || st.st_ino != watchedInode_) Lost();
}

TIncomingWatcher::~TIncomingWatcher()
{
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
}

bool TIncomingWatcher::Watch(const std::string& directory, std::string& why)
{
    if (Watching() && directory == directory_) return true;
    Unwatch();
    if (const std::string remote = RemoteFileSystemName(directory); !remote.empty()) {
        why = "a network file system (" + remote + ")";
        return false;
    }
    if (fd_ < 0) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0) {
            why = std::strerror(errno);
            return false;
        }
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, &TIncomingWatcher::ReadEvents);
    }
    // A receiver either writes in place (the file is complete when it is closed) or writes
    // elsewhere and renames it in; writes show which files are not complete yet.
    wd_ = ::inotify_add_watch(fd_, directory.c_str(), WatchedEvents);
    if (wd_ < 0) {
        why = errno == ENOSPC ? "the limit of inotify watches is reached (fs.inotify.max_user_watches)"
                              : std::strerror(errno);
        return false;
    }
    directory_ = directory;
    RememberIdentity();
    return true;
}

void TIncomingWatcher::Unwatch()
{
    if (wd_ >= 0 && fd_ >= 0) ::inotify_rm_watch(fd_, wd_);
    if (parentWd_ >= 0 && fd_ >= 0) ::inotify_rm_watch(fd_, parentWd_);
    wd_ = parentWd_ = -1;
    directory_.clear();
    lost_.clear();
    writing_.clear();
    check_.stop();
}

void TIncomingWatcher::Lost()
{
    const std::string directory = directory_.empty() ? lost_ : directory_;
    if (wd_ >= 0) ::inotify_rm_watch(fd_, wd_);
    wd_ = -1;
    directory_.clear();
    writing_.clear();
    lost_ = directory;
    std::string parent = directory;
    while (!parent.empty() && parent.back() == '/') parent.pop_back();
    parent = parent.substr(0, parent.find_last_of('/') + 1);
    if (parentWd_ < 0 && !parent.empty())
        parentWd_ = ::inotify_add_watch(fd_, parent.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
    // It may be back already.
    Renew();
}

bool TIncomingWatcher::Renew()
{
    if (lost_.empty()) return false;
    const int wd = ::inotify_add_watch(fd_, lost_.c_str(), WatchedEvents);
    if (wd < 0) return false;
    wd_ = wd;
    directory_ = lost_;
    lost_.clear();
    RememberIdentity();
    if (parentWd_ >= 0) ::inotify_rm_watch(fd_, parentWd_);
    parentWd_ = -1;
    // Files may have come with the new directory.
    PickUpSoon();
    return true;
}

void TIncomingWatcher::PickUpSoon()
{
    // The first file of a burst sets the time; later ones ride along, so a steady stream of
    // files still gets a cycle every PickUpDelay rather than never.
    if (!delay_.isActive()) delay_.start();
}

void TIncomingWatcher::ReadEvents()
{
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) return;
        for (ssize_t at = 0; at < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            if (ev->mask & IN_Q_OVERFLOW) {
                writing_.clear();
                PickUpSoon();
            } else if (ev->wd == wd_ && (ev->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF))) {
                // The directory went away (removed, renamed, unmounted): a watch that followed
                // it elsewhere would see nothing that arrives under the configured name.
                Lost();
            } else if (ev->wd == parentWd_ && parentWd_ >= 0) {
                Renew();
            } else if (ev->wd == wd_ && ev->len > 0 && !(ev->mask & IN_ISDIR)) {
                const std::string name = ev->name;
                if (ev->mask & IN_MODIFY) {
                    if (writing_.size() < MaxTracked) writing_.insert(name);
                    continue;
                }
                writing_.erase(name);
                if ((ev->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) && MatchesWildcard(pattern_, ev->name)) PickUpSoon();
            }
        }
    }
}

#pragma once
// Sees new files arrive in the incoming directory the moment the receiver closes them or
// moves them in, so a station need not wait for its next timed cycle. One signal per burst:
// a receiver drops all bands of a scan within a second, and they are best handled by one
// cycle, in name order, rather than one cycle each.

#include <QObject>
#include <QTimer>

#include <memory>
#include <set>
#include <string>

class QSocketNotifier;

class TIncomingWatcher : public QObject {
    Q_OBJECT
public:
    // From the first file of a burst to the signal.
    static constexpr int PickUpDelay = 1000;
    // How often the directory is checked for having been replaced.
    static constexpr int CheckInterval = 2000;

    // pattern: the names that count (the cycle's wildcard, case-insensitive).
    explicit TIncomingWatcher(std::string pattern, QObject* parent = nullptr);
    ~TIncomingWatcher() override;
    TIncomingWatcher(const TIncomingWatcher&) = delete;
    TIncomingWatcher& operator=(const TIncomingWatcher&) = delete;

    // Watches this directory instead of the previous one; nothing happens when it is already
    // watched. False when it cannot be watched (a network file system sees no changes made by
    // other machines, the kernel's watch limit is reached, ...); why then says why.
    bool Watch(const std::string& directory, std::string& why);
    void Unwatch();
    bool Watching() const { return wd_ >= 0; }
    const std::string& Directory() const { return directory_; }

    // Whether a file of the directory was written to and not closed yet, as far as the watch
    // has seen: known whoever owns the file, where a write lease is only granted to its owner.
    bool BeingWritten(const std::string& name)
    {
        ReadEvents();  // what happened since the event loop last ran
        return writing_.count(name) != 0;
    }

    // Emits FilesArrived after the delay, unless a burst is already pending.
    void PickUpSoon();

signals:
    void FilesArrived();

private:
    void ReadEvents();
    // The directory went (removed, renamed away): its parent is watched for one of that name
    // to come back, and the watch is renewed the moment it does.
    void Lost();
    bool Renew();

    std::string pattern_;
    std::string directory_;
    int fd_ = -1;
    int wd_ = -1;
    int parentWd_ = -1;     // the parent's watch while the directory is gone
    std::string lost_;      // the directory that went, to be watched again
    std::set<std::string> writing_;
    // The watched directory's identity, checked now and then: a directory removed while a
    // file in it is still open (our own lock) tells the watch nothing until that file closes.
    QTimer check_;
    unsigned long long watchedDevice_ = 0, watchedInode_ = 0;
    void CheckStillThere();
    void RememberIdentity();
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer delay_;
};

// Why changes made elsewhere would not be seen in this directory; empty for a local one.
std::string RemoteFileSystemName(const std::string& directory);

#pragma once
// Sees new files arrive in the incoming directory the moment the receiver closes them or
// moves them in, so a station need not wait for its next timed cycle. One signal per burst:
// a receiver drops all bands of a scan within a second, and they are best handled by one
// cycle, in name order, rather than one cycle each.

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>

class QSocketNotifier;

class TIncomingWatcher : public QObject {
    Q_OBJECT
public:
    // From the first file of a burst to the signal.
    static constexpr int PickUpDelay = 1000;

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

    // Emits FilesArrived after the delay, unless a burst is already pending.
    void PickUpSoon();

signals:
    void FilesArrived();

private:
    void ReadEvents();

    std::string pattern_;
    std::string directory_;
    int fd_ = -1;
    int wd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer delay_;
};

// Why changes made elsewhere would not be seen in this directory; empty for a local one.
std::string RemoteFileSystemName(const std::string& directory);

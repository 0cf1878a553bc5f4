#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal delivered by the event loop, so that the
// program stops between files instead of in the middle of one.

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// Catches SIGTERM, SIGINT and SIGHUP from this moment on; a signal that arrives before any
// TSignalWatcher exists waits for the first one. Called first thing in main(), so that a stop
// request during start-up is not the default death.
void CatchShutdownSignals();

class TSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit TSignalWatcher(QObject* parent = nullptr);
    ~TSignalWatcher() override;

signals:
    void Received(int signalNumber);

private:
    void ReadPipe();
    std::unique_ptr<QSocketNotifier> notifier_;
};

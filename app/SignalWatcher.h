#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal delivered by the event loop, so that the
// program stops between files instead of in the middle of one.

#include <QObject>
#include <QSocketNotifier>

#include <memory>

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

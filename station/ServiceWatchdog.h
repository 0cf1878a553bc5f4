#pragma once
// A station run by systemd as a Type=notify service tells it once it is ready, and from then
// on that it is alive, at half the watchdog interval the unit asks for. The pings come from a
// timer of the station's own event loop, which runs while it is idle and between files: a
// station stuck in one file stops pinging, and systemd kills and restarts it. Outside such a
// service (no NOTIFY_SOCKET, no WATCHDOG_USEC) nothing is sent.

#include <QObject>
#include <QTimer>

class TServiceWatchdog : public QObject {
    Q_OBJECT
public:
    explicit TServiceWatchdog(QObject* parent = nullptr);

    // READY=1: set up and processing; the pings start.
    void Ready();
    // STOPPING=1: closing has begun; the file in hand may still take its time.
    void Stopping();
    // Milliseconds between pings; 0 when no watchdog is asked for.
    int PingInterval() const { return pingInterval_; }

private:
    void Ping();

    QTimer timer_;
    int pingInterval_ = 0;
};

#include "station/ServiceWatchdog.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdint>

TServiceWatchdog::TServiceWatchdog(QObject* parent) : QObject(parent)
{
    std::uint64_t usec = 0;
    // Zero without a watchdog, or when the variables were meant for another process.
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        pingInterval_ = static_cast<int>(std::clamp<std::uint64_t>(usec / 2000, 1, 24u * 3600 * 1000));
    timer_.setTimerType(Qt::CoarseTimer);
    connect(&timer_, &QTimer::timeout, this, &TServiceWatchdog::Ping);
}

void TServiceWatchdog::Ready()
{
    sd_notify(0, "READY=1");
    if (pingInterval_ == 0) return;
    Ping();
    timer_.start(pingInterval_);
}

void TServiceWatchdog::Stopping()
{
    sd_notify(0, "STOPPING=1");
}

void TServiceWatchdog::Ping()
{
    sd_notify(0, "WATCHDOG=1");
}

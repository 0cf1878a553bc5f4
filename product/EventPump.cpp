#include "product/EventPump.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

bool OnApplicationThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

}  // namespace

void PeekMessages()
{
    // Per thread: the workers of a reprocessing run call it too (and process no events).
    thread_local std::int64_t lastTick = -1;
    const std::int64_t tick = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count();
    if (tick == lastTick) return;
    lastTick = tick;
    if (OnApplicationThread()) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

namespace {
std::function<void()>& WaitPump()
{
    static std::function<void()> pump;
    return pump;
}
}  // namespace

void SetWaitPump(std::function<void()> pump)
{
    WaitPump() = std::move(pump);
}

bool WaitAnswersUser()
{
    return OnApplicationThread() && static_cast<bool>(WaitPump());
}

void YieldProcessorToUser()
{
    // Linux keeps a nice value per thread, and a process forked from a thread starts with its
    // value. Set from the process's own (its first thread's), so calling twice lowers no further.
    errno = 0;
    const int base = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    if (errno == 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), std::min(base + 5, 19));
}

void PumpWhileWaiting()
{
    if (!OnApplicationThread()) return;
    if (WaitPump())
        WaitPump()();
    else
        PeekMessages();
}

void ProcessAllMessages()
{
    if (OnApplicationThread()) QCoreApplication::processEvents();
}

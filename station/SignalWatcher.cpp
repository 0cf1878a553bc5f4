#include "station/SignalWatcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace {

int g_pipe[2] = {-1, -1};

extern "C" void OnSignal(int signo)
{
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &b, 1);
    errno = saved;
}

}  // namespace

void CatchShutdownSignals()
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(s, &sa, nullptr);
        sigaddset(&set, s);
    }
    // A parent may have left them blocked; a station must always be stoppable. One already
    // pending arrives now, and is answered as soon as the event loop runs.
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

TSignalWatcher::TSignalWatcher(QObject* parent) : QObject(parent)
{
    CatchShutdownSignals();
    if (g_pipe[0] < 0) return;
    // A signal already waiting in the pipe makes the notifier fire at once.
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TSignalWatcher::ReadPipe);
}

TSignalWatcher::~TSignalWatcher()
{
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(s, &sa, nullptr);
}

void TSignalWatcher::ReadPipe()
{
    unsigned char b;
    while (::read(g_pipe[0], &b, 1) == 1) emit Received(b);
}

#include "base/Contained.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>
#include <thread>

std::function<void()> ContainedWorkerSeam;

TSharedArena::TSharedArena(std::size_t capacity)
{
    void* p = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    base_ = p;
    capacity_ = capacity;
}

TSharedArena::~TSharedArena() { ::munmap(base_, capacity_); }

void* TSharedArena::take(std::size_t count)
{
    constexpr std::size_t align = alignof(std::max_align_t);
    const std::size_t start = (used_ + align - 1) / align * align;
    if (start > capacity_ || count > capacity_ - start)
        throw std::bad_alloc();
    used_ = start + count;
    return data() + start;
}

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers reserve terabytes of shadow memory: an address-space limit would stop them.
constexpr bool LimitAddressSpace = false;
#else
constexpr bool LimitAddressSpace = true;
#endif

// How the worker ended, as it tells it through shared memory.
struct TWorkerReport {
    enum : int { Running = 0, Done = 1, OutOfMemory = 2, Raised = 3 };
    int Code = Running;
    char Text[1000] = {};
};

std::uint64_t AddressSpaceInUse()
{
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return 0;
    unsigned long pages = 0;
    const int read = std::fscanf(statm, "%lu", &pages);
    std::fclose(statm);
    return read == 1 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) : 0;
}

[[noreturn]] void RunWorker(const std::function<void()>& work, const TContainmentLimits& limits, TWorkerReport* report,
                            int ready)
{
    // Ends with the station, and keeps working through the stop signals sent to the whole
    // service: the station finishes the file in hand and waits for it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGXFSZ})
        ::signal(signal, SIG_IGN);
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_UNBLOCK, &all, nullptr);
    // It may not grow a file (a write fails with EFBIG), nor leave a core of a hostile file.
    const struct rlimit none{0, 0};
    ::setrlimit(RLIMIT_FSIZE, &none);
    ::setrlimit(RLIMIT_CORE, &none);
    if (LimitAddressSpace) {
        const rlim_t cap = AddressSpaceInUse() + limits.MemoryBytes;
        const struct rlimit memory{cap, cap};
        ::setrlimit(RLIMIT_AS, &memory);
    }
    try {
        if (ContainedWorkerSeam)
            ContainedWorkerSeam();
        work();
        report->Code = TWorkerReport::Done;
    } catch (const std::bad_alloc&) {
        report->Code = TWorkerReport::OutOfMemory;
    } catch (const std::exception& e) {
        std::snprintf(report->Text, sizeof report->Text, "%s", e.what());
        report->Code = TWorkerReport::Raised;
    } catch (...) {
        std::snprintf(report->Text, sizeof report->Text, "decoder failed");
        report->Code = TWorkerReport::Raised;
    }
    // The answer is complete: the station need not wait while this process tears its memory down.
    const char done = 1;
    while (::write(ready, &done, 1) < 0 && errno == EINTR) {
    }
    ::_exit(0);
}

enum class TAwaited { Answered, Ended, TimedOut };

// Waits until the worker has answered (its report is complete), has ended, or the deadline has
// passed; status is set when it ended.
TAwaited AwaitWorker(pid_t pid, int ready, int& status, std::chrono::steady_clock::time_point deadline)
{
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    TAwaited result = TAwaited::TimedOut;
    for (;;) {
        char byte = 0;
        if (::read(ready, &byte, 1) == 1) {
            result = TAwaited::Answered;
            break;
        }
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) {
            result = TAwaited::Ended;
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        struct pollfd watch[2] = {{ready, POLLIN, 0}, {pidfd, POLLIN, 0}};
        ::poll(watch, pidfd >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left.count(), pidfd >= 0 ? 1000 : 2)));
    }
    if (pidfd >= 0)
        ::close(pidfd);
    return result;
}

// A worker that answered is still tearing its memory down, which the caller need not wait
// for; it is collected as soon as it has ended, by a thread that waits for that worker alone
// (a SIGCHLD handler would take the ends of other children from their own waits). Left to
// the next worker's start, the last ones would stay zombies as long as the station idles.
void CollectWhenEnded(pid_t pid)
{
    const auto collect = [pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    };
    // Where workers may not start beside other threads' allocations, no thread may end (and
    // free) beside them either: the teardown is waited for here.
    if (!WorkersMayStartFromThreads) {
        collect();
        return;
    }
    try {
        std::thread(collect).detach();
    } catch (const std::system_error&) {
        collect();
    }
}

} // namespace

std::string SignalName(int signal)
{
    const char* abbreviation = ::sigabbrev_np(signal);
    return abbreviation ? std::string("SIG") + abbreviation : "signal " + std::to_string(signal);
}

TContainedOutcome RunContained(const std::function<void()>& work, const TContainmentLimits& limits,
                               const std::function<void()>& meanwhile)
{
    TSharedArena shared(sizeof(TWorkerReport));
    auto* report = new (shared.data()) TWorkerReport;
    TContainedOutcome outcome;
    int ready[2] = {-1, -1};
    const pid_t pid = ::pipe2(ready, O_CLOEXEC | O_NONBLOCK) == 0 ? ::fork() : -1;
    if (pid == 0) {
        ::close(ready[0]);
        RunWorker(work, limits, report, ready[1]);
    }
    if (pid < 0) {
        for (const int fd : ready)
            if (fd >= 0)
                ::close(fd);
        work();
        if (meanwhile)
            meanwhile();
        outcome.Completed = true;
        return outcome;
    }
    ::close(ready[1]);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.Seconds);
    // Whatever meanwhile raises waits until the worker is accounted for.
    std::exception_ptr raised;
    if (meanwhile) {
        try {
            meanwhile();
        } catch (...) {
            raised = std::current_exception();
        }
    }
    const TAwaited awaited = AwaitWorker(pid, ready[0], status, deadline);
    ::close(ready[0]);
    if (awaited == TAwaited::TimedOut) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (raised)
            std::rethrow_exception(raised);
        outcome.Failure = "decoder took longer than " + std::to_string(limits.Seconds) + " s";
        return outcome;
    }
    if (awaited == TAwaited::Answered)
        CollectWhenEnded(pid);
    if (raised)
        std::rethrow_exception(raised);
    if (awaited == TAwaited::Ended && WIFSIGNALED(status)) {
        outcome.Failure = "decoder crashed (" + SignalName(WTERMSIG(status)) + ")";
    } else if (report->Code == TWorkerReport::Done) {
        outcome.Completed = true;
    } else if (report->Code == TWorkerReport::OutOfMemory) {
        outcome.Failure = "decoder ran out of memory";
    } else if (report->Code == TWorkerReport::Raised) {
        report->Text[sizeof report->Text - 1] = '\0';
        outcome.Failure = report->Text;
    } else {
        outcome.Failure = "decoder ended without a result (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    }
    return outcome;
}

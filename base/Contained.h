#pragma once
// Work on untrusted bytes (an incoming file handed to third-party decoders) done in a child
// process of the station, so that a decoder that crashes, hangs or eats memory costs that file
// and never the station. The child is a fork of the caller: it sees the caller's memory as it
// was, writes its results into shared memory the caller reads afterwards, may not grow
// regular files, and ends without running the caller's exit handlers.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Memory shared with a contained worker: mapped before the fork, so what the worker writes
// is there for the caller once the worker has ended. Address space only until written.
class TSharedArena {
public:
    explicit TSharedArena(std::size_t capacity);
    TSharedArena(const TSharedArena&) = delete;
    TSharedArena& operator=(const TSharedArena&) = delete;
    ~TSharedArena();

    // Room for count bytes after what was taken before (aligned for any value); raises
    // std::bad_alloc beyond the capacity. Meant for the worker: the caller reads the
    // pointers it left in the arena's own header.
    void* take(std::size_t count);
    char* data() const { return static_cast<char*>(base_); }
    std::size_t capacity() const { return capacity_; }

private:
    void* base_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
};

struct TContainmentLimits {
    // Well above the slowest real file (a full-disk geolocation file takes a few seconds).
    int Seconds = 120;
    // Memory the worker may take beyond what it inherits: more than the largest real file
    // needs decoded, less than a station can spare.
    std::uint64_t MemoryBytes = std::uint64_t{2} << 30;
};

// How a contained worker ended.
struct TContainedOutcome {
    bool Completed = false;  // the work ran to its end (it reports its own failures itself)
    std::string Failure;     // otherwise why, in words: "decoder crashed (SIGSEGV)", ...
};

// Whether workers may be started while other threads of the process allocate memory. The
// sanitizers' allocator takes no care of fork: a worker started while another thread holds its
// lock waits for that lock for ever. Work spread over threads that each start workers keeps to
// one thread in such a build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool WorkersMayStartFromThreads = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool WorkersMayStartFromThreads = false;
#else
inline constexpr bool WorkersMayStartFromThreads = true;
#endif
#else
inline constexpr bool WorkersMayStartFromThreads = true;
#endif

// Runs work in a worker process and waits for it. Exceptions that escape work end the
// worker: std::bad_alloc as "decoder ran out of memory", others with their text. Where no
// process can be started the work runs here, uncontained, rather than not at all.
// meanwhile, when given, runs here while the worker works (after it, where there is none).
TContainedOutcome RunContained(const std::function<void()>& work, const TContainmentLimits& limits = {},
                               const std::function<void()>& meanwhile = {});

// Called in the worker before its work (tests make a worker crash or hang through it).
extern std::function<void()> ContainedWorkerSeam;

// "SIGSEGV" for SIGSEGV; "signal N" for a number without a name.
std::string SignalName(int signal);

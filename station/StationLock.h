#pragma once
// One station per settings file: two stations on one configuration would take the same
// incoming files and write over each other's log. The lock lives beside the settings file and
// holds the process id of the station that has it, so a second one can say who is running.

#include <string>

class TStationLock {
public:
    TStationLock() = default;
    // Another lock of one per settings file, at path; a refusal names what holds it.
    TStationLock(std::string path, std::string what) : path_(std::move(path)), what_(std::move(what)) {}
    ~TStationLock();
    TStationLock(const TStationLock&) = delete;
    TStationLock& operator=(const TStationLock&) = delete;

    // True when this process now holds the lock (or already did). False when another process
    // holds it; Refusal() then says which.
    bool Acquire();
    // "another orvanta is already running with the settings in ... (process 1234: orvanta
    // --headless -start)".
    const std::string& Refusal() const { return refusal_; }

private:
    int fd_ = -1;
    std::string refusal_;
    std::string path_, what_;
};

// The process that holds the station lock now, from the kernel's list of locks (reading it
// takes no lock, so a station starting meanwhile is not refused); 0 when none holds it.
long long StationLockHolder();

// One station per set of directories: two stations with different settings files on the same
// directories would both take each incoming file, and each keeps its own composite, so the
// last save would lose the other's scan. The lock lives in the incoming directory, or in the
// raw archive where the incoming one takes no new file (a receiver's directory the station
// may only read), and holds the process id of the station that has it.
class TDirectoryLock {
public:
    TDirectoryLock() = default;
    ~TDirectoryLock();
    TDirectoryLock(const TDirectoryLock&) = delete;
    TDirectoryLock& operator=(const TDirectoryLock&) = delete;

    // True when this process now holds the lock for these directories (or already did); a
    // lock held for other directories is let go first. False when another station holds it,
    // or no lock can be made in either directory: Refusal() then says why.
    bool Acquire(const std::string& incoming, const std::string& archive);
    void Release();
    const std::string& Refusal() const { return refusal_; }

private:
    int fd_ = -1;
    std::string incoming_, archive_;
    std::string refusal_;
};

#pragma once
// A file that appears under its name only when complete: the one way the program replaces a
// file. Images, archive copies, decompressed files, the process log, the status file, the
// settings and the geolocation reports are all written through it, under one contract:
// a temporary beside the target, the data written and made durable (fsync), the
// modification time stamped where the caller gives one, then renamed over the target.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Written as an unnamed file in the target's directory and given a name only when complete
// (linked under a hidden name and renamed over the target by commit()), so a failure
// (damaged input, full disk, a crash, even SIGKILL) never leaves a half-written file under
// the real name nor a temporary that piles up, and an older file of that name survives.
// Where the file system has no unnamed files, a hidden named temporary stands in; it is
// removed on destruction.
class TPartialFile {
public:
    // Raises EFOpenError when the directory does not take a new file.
    explicit TPartialFile(const std::string& target);
    TPartialFile(const TPartialFile&) = delete;
    TPartialFile& operator=(const TPartialFile&) = delete;
    ~TPartialFile();

    // Raises EWriteError when not everything could be written.
    void write(const void* data, std::size_t count);
    std::int64_t size() const { return size_; }
    // Asks for exactly these permissions instead of the umask's choice.
    void setPermissions(mode_t mode);
    // A file made again from the program's state soon after (a web page, metrics) need not
    // survive a power cut, only never be seen half-written: it skips the wait for the disk.
    void setDurable(bool durable) { durable_ = durable; }

    // Makes the data durable, stamps it with the modification time when one is given and
    // moves it into place. Raises EWriteError on failure (the target is then untouched).
    void commit(const struct timespec* modified = nullptr);

private:
    // A hidden name beside the target that fits the file-name limit whatever the target's.
    std::string temporaryName() const;

    std::string target_;
    std::string directory_;
    std::string base_;
    std::string path_;  // the named temporary; empty for an unnamed file
    int fd_ = -1;
    std::int64_t size_ = 0;
    bool durable_ = true;
};

// Writes content as the whole of path through a TPartialFile, stamped with modified when
// given. False when that failed: errno tells why, and a file that was there before is
// untouched.
bool WriteFileAtomically(const std::string& path, std::string_view content,
                         const struct timespec* modified = nullptr, bool durable = true);

// The one form of a temporary beside a target, for every file the program writes under a
// name only once complete: ".<name>.<pid>.<serial>.part", the name cut to fit the limit.
std::string PartialFileName(const std::string& target);
// The target's name a temporary of that form stands for; empty when name is no such thing.
std::string PartialFileTarget(std::string_view name);
// Removes from the directory the temporaries of that form left by processes that no longer
// run (a kill, a power cut); a running writer's stay. Returns how many went.
std::size_t RemoveStalePartialFiles(const std::string& directory);

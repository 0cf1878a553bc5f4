#pragma once
// A file that appears under its name only when complete.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Created under a hidden name beside the target and either renamed into place by commit()
// or removed on destruction, so a failure (damaged input, full disk, a crash) never leaves
// a half-written file under the real name, and an older file of that name survives.
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

    // Makes the data durable, stamps it with the modification time when one is given and
    // moves it into place. Raises EWriteError on failure (the target is then untouched).
    void commit(const struct timespec* modified = nullptr);

private:
    std::string target_;
    std::string path_;
    int fd_ = -1;
    std::int64_t size_ = 0;
};

#pragma once
// Files as the station handles them: listing and ordering the incoming directory, reading and
// copying them safely (atomic copies, in-use tests, refusals of what is not a regular file),
// their times and sizes, and where they lie.

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"

// Whether path lies directly in directory (the same directory, however either is spelt).
// Only what lies in the incoming directory is the station's to remove: a file named on the
// command line may be an operator's own copy, or the archive's only one.
bool LiesIn(const std::string& path, const std::string& directory);

// Appends the pattern's directory part + name of every directory entry (files and directories
// alike, hidden ones too) whose name matches the pattern's last part. '*' and '?' are
// wildcards, letters match in either case, '|' separates alternatives. A missing directory
// adds nothing.
void ListFiles(const std::string& pattern, std::vector<std::string>& list);
bool MatchesWildcard(std::string_view pattern, std::string_view name);

// The order of the incoming list: letters without regard to case, punctuation before digits
// before letters, so names that begin with year, day and time sort oldest first. NOAA's
// GOES-R names ("OR_..._s<start>...") come after all others, oldest start first, whatever
// their sector. Names that differ only in case both stay, in byte order.
bool FileNameLess(const std::string& a, const std::string& b);
// Sorts with FileNameLess and drops exact duplicates.
void SortFileList(std::vector<std::string>& list);

bool DirectoryExists(const std::string& path);

// The part after the last '/'.
std::string ExtractFileName(std::string_view path);
// The name's extension with its dot (".bz2"), as written; empty when the last part of the
// path has none.
std::string_view FileExtension(std::string_view path);

// The size of a file in bytes; nullopt when it cannot be measured (missing, unreadable).
std::optional<std::int64_t> FileSizeOf(const std::string& path);

// What a file system entry is when it is not a regular file ("a directory", "a FIFO", ...);
// null for a regular file.
const char* OddFileKind(mode_t mode);
// Whether path is a regular file itself, not a link to one: what the cycle takes in and the
// status counts as waiting.
bool IsRegularEntry(const std::string& path);

// A file the station keeps its state in (a log, a lock, the settings), opened without ever
// waiting on what stands at its path: a FIFO would hold open() until a reader or writer came,
// and every read or write after it, and the station could not even be stopped. Anything but
// a regular file is refused, before it is opened where it can be told (opening a device may
// do something); flags are open(2)'s, with O_NONBLOCK (for the open only), O_NOCTTY and
// O_CLOEXEC added. The caller closes Fd.
struct TOpenFile {
    int Fd = -1;
    int Error = 0;        // errno of the call that failed; 0 when refused for what it is
    std::string Problem;  // "a FIFO, not a regular file", or what the failing call met
    bool NotRegular() const { return Fd < 0 && Error == 0; }
};
TOpenFile OpenRegularFile(const std::string& path, int flags, mode_t mode = 0644);

// A small file read whole, or why it was not: anything but a regular file is refused before
// it is read (a FIFO would block the reader for ever, a device could be read for ever), and
// so is a file larger than the limit (it would cost its size in memory).
struct TSmallFile {
    bool Missing = false;
    bool NotRegular = false;
    std::string Problem;  // empty when read; "a FIFO, not a regular file", "larger than ...", ...
    std::string Text;
};
TSmallFile ReadSmallRegularFile(const std::string& path, std::size_t maxBytes);
// Enough for any line of /proc/<pid>/ that the station reads (stat, cmdline).
inline constexpr std::size_t ProcFileMaxBytes = 1 << 20;

// True while another process holds the file open (a receiver still writing it). Where the
// kernel refuses leases (another owner, a network file system) a file modified within the
// last three seconds counts as in use.
bool IsFileInUse(const std::string& path);

// Stamps the file's modification time with the date-time (UTC, no zone conversion) at the
// two-second resolution of a DOS time; a time of 0 leaves the file alone. False when the
// file cannot be opened for writing or the time is outside the DOS range.
bool SetFileDateTime(const std::string& path, TDateTime time);
// The file's modification time (UTC); nullopt when it cannot be read.
std::optional<TDateTime> GetFileDateTime(const std::string& path);

// True when the file was modified within the last `ms` milliseconds (or cannot be examined).
bool ModifiedWithin(const std::string& path, int ms);

// Copies source to target, replacing it: the copy is written beside the target under a
// temporary name and renamed into place when complete, so a full disk or a crash never
// leaves a truncated file under the final name. The copy keeps the source's modification
// time. On failure errno tells why.
bool CopyFileAtomically(const std::string& source, const std::string& target);

// A file's bytes and modification time, as read once.
struct TFileContent {
    std::vector<char> Data;
    struct timespec Modified {};
    // The file's status when it was read: any change to the file since shows in it.
    struct stat Status {};
    // Set by CopyFileAtomically when Data already held the file as it still is, so that it
    // was not read again.
    bool ReadBefore = false;
    // Whether Data holds the file: one larger than MaxKeptContent is copied piece by piece
    // and must be read from the copy.
    bool Kept = false;
};
// Larger than any compressed scan, small enough that a stray huge file in the incoming
// directory is never held in memory whole.
inline constexpr std::uint64_t MaxKeptContent = std::uint64_t{128} << 20;
// The same, keeping what was read in content (complete only on success, and only up to
// MaxKeptContent bytes), so the caller works on the bytes without reading the file again. When content already holds the source
// as it still is (read by ReadFileContent), those bytes are written.
bool CopyFileAtomically(const std::string& source, const std::string& target, TFileContent& content);

// Reads a regular file of at most maxSize bytes whole, not through a link; false when it
// cannot be read, is larger, or changed while it was read.
bool ReadFileContent(const std::string& path, TFileContent& content, std::uint64_t maxSize);

// Removes path only while it is still the file that was read (the same device, inode, size
// and modification time): a receiver may have put a new copy under the same name since,
// which is a new arrival. False when it was not removed.
bool RemoveIfUnchanged(const std::string& path, const struct stat& read);

// Moves source to target, replacing it: a rename, or across file systems a complete copy
// followed by the removal of the source. On failure the source stays and errno tells why.
bool MoveFileReplacing(const std::string& source, const std::string& target);

// Creates the directory and its parents; false when it cannot be made.
bool ForceDirectories(const std::string& path);

// Appends line and a line break to path, creating the file and its directory when missing;
// returns why it was not written ("a FIFO, not a regular file", ...), empty when it was.
std::string AppendTextLine(const std::string& path, const std::string& line);

// WriteFileAtomically, creating the directory when missing; returns why it was not written,
// empty when it was. Anything but a regular file at the path is left standing and refused.
std::string SaveTextAtomically(const std::string& path, const std::string& text, bool durable = true);

#include "app/core/ProcessLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "base/DateTime.h"
#include "base/Files.h"
#include "base/PartialFile.h"
#include "settings/ProgramPaths.h"

namespace {

// Enough for far more than MaxLines lines; a larger file is read from its tail.
constexpr std::uintmax_t kMaxLoadBytes = 32u << 20;

}  // namespace

std::string LogSafe(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') c = '?';
    return out;
}

std::string SaveTextAtomically(const std::string& path, const std::string& text, bool durable)
{
    // Renamed over, a FIFO or a device put there by someone else would be gone.
    if (struct stat st {}; ::stat(path.c_str(), &st) == 0)
        if (const char* kind = OddFileKind(st.st_mode)) return std::string(kind) + ", not a regular file";
    const std::filesystem::path target(path);
    if ((target.has_parent_path() && !ForceDirectories(target.parent_path().string())) ||
        !WriteFileAtomically(path, text, nullptr, durable))
        return std::strerror(errno);
    return {};
}

std::string AppendTextLine(const std::string& path, const std::string& line)
{
    const std::string text = line + "\n";
    TOpenFile file = OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT);
    if (file.Error == ENOENT) {
        const std::filesystem::path target(path);
        if (target.has_parent_path() && ForceDirectories(target.parent_path().string()))
            file = OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT);
    }
    if (file.Fd < 0) return file.Problem;
    // One write per line: with O_APPEND the line lands whole, after whatever is there.
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(file.Fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    std::string problem = done == text.size() ? std::string() : std::strerror(errno);
    if (::close(file.Fd) != 0 && problem.empty()) problem = std::strerror(errno);
    return problem;
}

TProcessLog::TProcessLog(std::string path, TClock clock)
    : path_(std::move(path)), clock_(std::move(clock))
{
    LastLogSaveDay = static_cast<std::int32_t>(std::trunc(Now()));
}

TDateTime TProcessLog::Now() const
{
    return clock_ ? clock_() : UtcNow();
}

void TProcessLog::AddLogLine(const std::string& text, TDateTime time)
{
    if (lines_.size() > MaxLines - 1) {
        lines_.erase(lines_.begin(), lines_.begin() + LinesDroppedWhenFull);
        if (sink_) sink_->LogLinesRemoved(LinesDroppedWhenFull);
    }
    const std::string stamp = time != 0 ? FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz  ", time)
                                        : FormatDateTime("yyyy-mm-dd hh:nn:ss      ", Now());
    lines_.push_back(stamp + LogSafe(text));
    // On disk at once, so that a crash or a kill loses nothing already logged; the daily and
    // closing saves below replace the file by the lines kept, which trims it to the cap.
    const std::string problem = AppendTextLine(path_, lines_.back());
    if (problem.empty() != appendWorks_) {
        // Where the log cannot go (a full disk), the service manager's journal still takes
        // standard error: said once, and once more when the file takes lines again.
        const std::string why = problem.empty() ? std::string("is written again") : "cannot be written: " + problem;
        std::fprintf(stderr, "%s: log file %s %s\n", ProgramName().c_str(), path_.c_str(), why.c_str());
        std::fflush(stderr);
        appendWorks_ = problem.empty();
    }
    if (sink_) sink_->LogLineAdded(lines_.back());

    const TDateTime now = Now();
    if (now > LastLogSaveDay + 1.0 + 84.0 / 1440.0 && lines_.size() > 16) {
        // A failed save is simply tried again with the next line.
        if (SaveToFile()) LastLogSaveDay = static_cast<std::int32_t>(std::trunc(now));
    }
}

bool TProcessLog::LoadFromFile()
{
    const TOpenFile file = OpenRegularFile(path_, O_RDONLY);
    if (file.Fd < 0) return false;
    std::string text;
    struct stat st {};
    const bool measured = ::fstat(file.Fd, &st) == 0;
    const auto size = static_cast<std::uintmax_t>(measured ? st.st_size : 0);
    const bool tail = size > kMaxLoadBytes;
    text.resize(tail ? kMaxLoadBytes : size);
    std::size_t done = 0;
    while (measured && done < text.size()) {
        const ssize_t n = ::pread(file.Fd, text.data() + done, text.size() - done,
                                  static_cast<off_t>(size - text.size() + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(file.Fd);
    if (!measured || done < text.size()) return false;

    std::deque<std::string> lines;
    std::istringstream in(text);
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (first && tail) {  // the rest of a line cut by the seek
            first = false;
            continue;
        }
        first = false;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        if (lines.size() > MaxLines) lines.pop_front();
    }
    lines_ = std::move(lines);
    if (sink_) sink_->LogReset();
    return true;
}

bool TProcessLog::SaveToFile() const
{
    std::string text;
    for (const auto& l : lines_) {
        text += l;
        text += '\n';
    }
    return SaveTextAtomically(path_, text).empty();
}

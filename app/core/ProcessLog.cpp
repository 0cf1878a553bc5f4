#include "app/core/ProcessLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/DateTime.h"
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

bool SaveTextAtomically(const std::string& path, const std::string& text, bool durable)
{
    const std::filesystem::path target(path);
    if (target.has_parent_path() && !ForceDirectories(target.parent_path().string())) return false;
    return WriteFileAtomically(path, text, nullptr, durable);
}

bool AppendTextLine(const std::string& path, const std::string& line)
{
    const std::string text = line + "\n";
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 && errno == ENOENT) {
        const std::filesystem::path target(path);
        if (target.has_parent_path() && ForceDirectories(target.parent_path().string()))
            fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }
    if (fd < 0) return false;
    // One write per line: with O_APPEND the line lands whole, after whatever is there.
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0 && done == text.size();
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
    const bool appended = AppendTextLine(path_, lines_.back());
    if (appended != appendWorks_) {
        // Where the log cannot go (a full disk), the service manager's journal still takes
        // standard error: said once, and once more when the file takes lines again.
        const std::string why = appended ? std::string("is written again") : std::string("cannot be written: ") + std::strerror(errno);
        std::fprintf(stderr, "%s: log file %s %s\n", ProgramName().c_str(), path_.c_str(), why.c_str());
        std::fflush(stderr);
        appendWorks_ = appended;
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
    std::ifstream in(path_, std::ios::binary);
    if (!in) return false;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path_, ec);
    if (ec) return false;
    const bool tail = size > kMaxLoadBytes;
    if (tail) in.seekg(static_cast<std::streamoff>(size - kMaxLoadBytes));

    std::deque<std::string> lines;
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
    return SaveTextAtomically(path_, text);
}

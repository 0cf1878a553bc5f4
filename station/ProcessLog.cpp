#include "station/ProcessLog.h"

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
#include "base/Text.h"
#include "base/PartialFile.h"
#include "settings/ProgramPaths.h"

namespace {

// Enough for far more than MaxLines lines; a larger file is read from its tail.
constexpr std::uintmax_t kMaxLoadBytes = 32u << 20;

}  // namespace

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

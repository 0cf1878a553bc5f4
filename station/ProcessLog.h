#pragma once
// The processing log: stamped lines kept in memory (at most 10 000), mirrored to whatever shows
// them (the window's memo, standard output), appended to the log file one by one, and saved
// whole (trimmed to the lines kept) once a day after 01:24 UTC and when the program closes.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "base/DateTime.h"
#include "base/Files.h"
#include "base/Text.h"

class TLogSink {
public:
    virtual ~TLogSink() = default;
    virtual void LogLineAdded(const std::string& line) = 0;
    // The oldest `count` lines were dropped.
    virtual void LogLinesRemoved(std::size_t count) { (void)count; }
    // The lines were replaced wholesale (loaded from the file).
    virtual void LogReset() {}
};

class TProcessLog {
public:
    using TClock = std::function<TDateTime()>;

    static constexpr std::size_t MaxLines = 10000;
    static constexpr std::size_t LinesDroppedWhenFull = 499;

    // The clock defaults to UtcNow; tests inject their own.
    explicit TProcessLog(std::string path, TClock clock = {});

    // time 0 stamps the line with the clock to the second, any other time to the millisecond.
    void AddLogLine(const std::string& text, TDateTime time);

    // Replaces the lines by the file's (its last MaxLines lines); false when it cannot be read.
    bool LoadFromFile();
    // Replaces the file by the lines, atomically; false when it cannot be written.
    bool SaveToFile() const;

    const std::deque<std::string>& Lines() const { return lines_; }
    const std::string& Path() const { return path_; }
    void SetSink(TLogSink* sink) { sink_ = sink; }

    // Whole UTC day of the last save; the current day when the log is created.
    std::int32_t LastLogSaveDay;

private:
    TDateTime Now() const;

    std::string path_;
    TClock clock_;
    std::deque<std::string> lines_;
    TLogSink* sink_ = nullptr;
    bool appendWorks_ = true;
};


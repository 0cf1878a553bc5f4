#pragma once
// How a station is doing, for an operator or a monitoring system that should not have to read
// the log: after every file and every cycle the running station replaces one small JSON file
// (whole, never half-written), and `orvanta --status` reads it back for a person or a health
// check.

#include <QJsonObject>
#include <QMetaObject>
#include <QTimer>

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>
#include <string>

#include "product/composite/ChannelCatalogue.h"
#include "base/DateTime.h"
#include "station/ProcessingCycle.h"

// StateDirectory() + ProgramName() + "-status.json".
std::string StatusFilePath();

class TStationStatus {
public:
    using TClock = std::function<TDateTime()>;

    // Follows the cycle's files and cycles from now on and writes the first status at once.
    // coastlines: what the line store was loaded from.
    TStationStatus(TProcessingCycle& cycle, std::string coastlines, std::string path = StatusFilePath(),
                   TClock clock = {});
    ~TStationStatus();
    TStationStatus(const TStationStatus&) = delete;
    TStationStatus& operator=(const TStationStatus&) = delete;

    // The process is ending: the last status says so, and nothing is written after it.
    void Closed();
    // False when the file could not be written (a full disk, say); the station goes on, and
    // OnLogLine hears of it once, and once more when it is written again.
    bool Write();
    std::function<void(const std::string&)> OnLogLine;

    QJsonObject ToJson() const;
    // The image time of the newest image saved, of any channel; 0 before the first.
    TDateTime NewestImageTime() const;
    const std::string& Path() const { return path_; }

private:
    struct TCounts {
        int Processed = 0, Skipped = 0, Failed = 0;
    };
    struct TLastImage {
        TDateTime Time = 0;
        std::string File;
        std::string Sector;
    };
    void FileHandled(const THandledEntry& handled);
    void CycleEnded();
    void RollDay(TDateTime now);
    void CarryOverToday(TDateTime now);

    TProcessingCycle& cycle_;
    std::string coastlines_;
    std::string path_;
    TClock clock_;
    QMetaObject::Connection cycleFinished_;
    TListeners<const THandledEntry&>::THandle fileHandled_;
    QTimer refresh_;
    std::string writeFailure_;  // why the last write failed; empty while writes succeed
    bool writeFailureTold_ = false;
    TDateTime started_ = 0;
    TDateTime lastCycle_ = 0;
    TDateTime lastFile_ = 0;
    TDateTime closed_ = 0;
    std::int32_t day_ = 0;
    TCounts sinceStart_, today_;
    std::array<TLastImage, AllChannelCount> lastImages_{};
    // The last ABI file processed: its pixels by quality, as the status gives them; empty
    // before the first, and the status then says nothing of them.
    QJsonObject lastAbiQuality_;
    TDateTime lastFailureTime_ = 0;
    std::string lastFailureFile_, lastFailureReason_;
    std::set<std::string> failedFiles_, failedToday_;  // each counted once, however often tried
    std::set<std::string> beingWritten_;  // files whose writer was not done at their last try
};

enum class TStatusHealth { Healthy = 0, NotHealthy = 1 };

// A station whose last file or cycle is older than this is taken as hung: twice the timed
// cycle and some slack for a long file.
constexpr int StatusStaleSeconds = 2 * TProcessingCycle::CycleInterval / 1000 + 30;
// A running station rewrites its status at least this often, stopped or not, so a status
// older than StatusStaleSeconds means it could not be written (or the station hangs), never
// that nothing happened.
constexpr int StatusRefreshSeconds = 60;
static_assert(StatusRefreshSeconds < StatusStaleSeconds);
// A status file is a few kilobytes; a larger one is not the station's.
constexpr std::size_t StatusMaxBytes = 1 << 20;

// Prints the status file for a person; Healthy when the station that wrote it is still
// running, processing, its last cycle or file is recent and so is the status itself.
TStatusHealth PrintStatus(const std::string& path, std::FILE* out, TDateTime now);

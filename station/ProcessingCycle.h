#pragma once
// The processing cycle: a timer fires, the incoming files of the source directory are handed,
// oldest first, to the per-file handler (image files) or the geolocation handler ("_geo.nc"
// files), one log line is written per image file, and the timer is re-armed. The cycle knows
// nothing of widgets: the window and the headless runner drive the same object and show its
// state through a TCycleView.

#include <QObject>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "product/composite/ChannelCatalogue.h"
#include "product/FileResult.h"
#include "product/ScanNames.h"
#include "station/StationLock.h"
#include "base/DateTime.h"
#include "base/Listeners.h"
#include "station/ProcessLog.h"
#include "station/Retention.h"
#include "settings/ProgramSettings.h"
#include "settings/StationSettings.h"
#include "settings/RegistryVariables.h"

class TIncomingWatcher;

enum class TLamp { Idle, Busy, Halted };

// Where the cycle shows its state: the LED, the Start/Stop button, the status bar.
class TCycleView {
public:
    virtual ~TCycleView() = default;
    // The receive lamp: idle between cycles, busy while one runs, halted between cycles while
    // the station runs but processes nothing (a directory written below its free-space limit,
    // a setting to mend, another station's lock, nothing to keep).
    virtual void SetLamp(TLamp lamp) = 0;
    // Caption "Stop   " with the LED-on glyph, or "Start  " with the LED-off glyph.
    virtual void ShowRunning(bool running) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void RepaintStatus() {}
    // The channel's thumbnail now shows the image of this time and sector (ImageTimeText).
    virtual void ShowImageTime(std::uint8_t /*channelIndex*/, const std::string& /*text*/) {}
};

// One entry a cycle handled, as its listeners hear of it.
struct THandledEntry {
    const std::string& Entry;
    TFileOutcome Outcome;
    // The image file's result; for any other entry its Fate alone is its own.
    const TGoesFileResult& Result;
    // The log text of a failure; empty for none.
    const std::string& Failure;
    // No regular file, and met before: the same news every cycle, not a new failure.
    bool LeftAloneAgain;
};

class TProcessingCycle : public QObject {
    Q_OBJECT
public:
    static constexpr int FirstInterval = 100;
    static constexpr int CycleInterval = 50000;
    static constexpr int SkippedPause = 250;
    // The names a cycle takes from the source directory (case-insensitive).
    static constexpr const char* IncomingPattern = IncomingScanPattern;

    TProcessingCycle(TProcessingOptions& options, TProcessLog& log, TCycleView& view,
                     QObject* parent = nullptr);
    ~TProcessingCycle() override;

    void SetGoesFileHandler(TGoesFileHandler* handler);
    void SetGeoFileHandler(TGeoFileHandler* handler) { geoHandler_ = handler; }
    // Replaces the 250 ms wait after a skipped file (tests).
    void SetSleep(std::function<void(int ms)> sleep) { sleep_ = std::move(sleep); }

    // Start/Stop pressed.
    void BitBtnStartStopClick();
    // One cycle; connected to TimerProcess.
    void TimerProcessTimer();
    // Turns processing off for good (closing, shutdown): the file in hand is finished first.
    void StopProcessing();

    // From now on a scan file closed or moved into the source directory brings the next cycle
    // forward to about a second later; the 50 s timer stays as it is. A directory that cannot
    // be watched keeps the timer alone, with one log line.
    void EnableInstantPickUp();
    bool InstantPickUp() const;

    void AddLogLine(const std::string& text, TDateTime time) { log_.AddLogLine(text, time); }

    bool InCycle() const { return inCycle_; }
    // The "Disk low: ..." line while a directory written is below MinFreeMB; empty otherwise.
    const std::string& DiskLow() const { return diskLow_; }
    // Why a running station takes no files, as its last cycle or check found it; empty while it
    // processes (or is stopped: that is no fault).
    std::string HaltReason() const;
    // Looks again, between cycles, at what made the last cycle stop short: a setting mended, a
    // directory back, space freed. What no longer holds is cleared from the lamp and the status
    // bar at once, not a cycle later; a new problem still waits for the cycle that meets it.
    void Recheck();
    // Retention runs at the first cycle and then once an hour.
    static constexpr int PruneIntervalSeconds = 3600;
    TFileOutcome LastOutcome() const { return lastOutcome_; }
    // Takes the lock of the directories this station owns (each cycle does, and again when
    // they change); false when another station holds it or none can be made:
    // DirectoryLockRefusal() says which.
    bool LockDirectories();
    const std::string& DirectoryLockRefusal() const { return directoryLock_.Refusal(); }
    // Regular files of the last listing still in the incoming directory: counted from the
    // cycle's own listing, so that telling it after every file costs no directory scan.
    // nullopt before the first listing.
    std::optional<std::size_t> Backlog() const { return backlog_; }
    TProcessingOptions& Options() { return options_; }
    // In a cycle, the settings it took at its start; between cycles, those the options give
    // now, which the next cycle takes (the web page is written at start and at close too).
    TStationSettings Settings() const { return inCycle_ ? settings_ : StationSettings(options_); }
    TProcessLog& Log() { return log_; }

    // A station that was off for a while finds hundreds of files. For a cycle that found more
    // than ProgressAbove entries this is called before each one with the count done so far,
    // and once more at the end with an empty name. The window lowers it to 0: a normal slot
    // of five full disks takes long enough to be worth a word too.
    static constexpr std::size_t ProgressThreshold = 5;
    std::size_t ProgressAbove = ProgressThreshold;
    std::function<void(std::size_t done, std::size_t found, const std::string& file)> OnProgress;
    // After every entry a cycle handled. The images a file brings are heard from the file
    // handler's OnImageSaved, where the cycle records each in its turn before the others.
    TListeners<const THandledEntry&> OnFileHandled;
    // How long the last entry handled took, in seconds.
    double LastEntrySeconds() const { return lastEntrySeconds_; }

    bool Running = false;
    bool SingleFileMode = false;
    bool GeoMode = false;
    std::string GeoLogPath;
    std::string SingleFileName;  // the file of single-file mode
    QTimer TimerProcess;
    // "LastSaved" + digit, by channel index; none for index 4.
    std::array<std::unique_ptr<TRegistryString>, ChannelCount> LastSavedSettings;

signals:
    void CycleFinished();

private:
    void HandleEntry(const std::string& entry, TGoesFileResult& result);
    void ImageRoute(const std::string& entry, TGoesFileResult& result);
    void WatchSourceDirectory();
    void FilesArrived();
    void LogFailure(const std::string& entry, const std::string& reason);
    // Records the channel's newest image in its "LastSaved" value at once.
    void RememberSaved(std::size_t channelIndex, const std::string& savedFileName);
    bool LeftAlone(const std::string& entry);
    void PruneWhenDue();
    // Checks the free space of the directories written; says it once when it runs low and
    // once when it is back. False while low.
    bool DiskHasRoom();
    void TellDiskBack(const TStationSettings& settings);
    // The status bar's text for a problem or failure, which a later check may clear.
    void ShowAlarm(const std::string& text);
    void ClearAlarm();
    // The images the "LastSaved" values name: retention never removes them.
    std::vector<std::string> LastSavedFiles() const;

    TProcessingOptions& options_;
    TStationSettings settings_;
    TProcessLog& log_;
    TCycleView& view_;
    TRetention retention_;
    std::optional<std::chrono::steady_clock::time_point> lastPrune_;
    std::string diskLow_;
    TGoesFileHandler* goesHandler_ = nullptr;
    TListeners<std::uint8_t, const std::string&>::THandle imageSaved_;
    TGeoFileHandler* geoHandler_ = nullptr;
    std::function<void(int)> sleep_;
    bool inCycle_ = false;
    std::string settingsProblem_;  // the one logged last; empty while all is well
    // The status bar shows a failure or a problem of the cycle's, cleared when a cycle or a
    // recheck finds it over.
    bool alarmShown_ = false;
    bool failedThisCycle_ = false;
    TDirectoryLock directoryLock_;
    std::string lockRefusal_;      // the one logged last
    bool lastSavedUnwritten_ = false;  // a LastSaved value could not be written; told once
    TFileOutcome lastOutcome_ = TFileOutcome::None;
    std::unique_ptr<TIncomingWatcher> watcher_;
    std::string unwatchableDirectory_;  // logged once, not every cycle
    bool pickUpPending_ = false;
    std::string failure_;  // the failure line of the entry in hand
    bool nothingKeptLogged_ = false;
    std::vector<std::string> leftAlone_;  // reported once each
    // Every entry left alone since the start: the log says one again when it comes back, its
    // listeners count it once.
    std::set<std::string> leftAloneHeard_;
    bool leftAloneAgain_ = false; // the entry in hand
    std::vector<std::string> waiting_;    // files still being written, reported once each
    std::optional<std::size_t> backlog_;
    double lastEntrySeconds_ = 0;
};

// Said when the settings keep nothing of a file (TStationSettings::KeepsSomething).
extern const char* const NothingKeptText;

// Ends the line a settings problem is logged and shown with.
inline constexpr const char* SettingsProblemSuffix = "; nothing is processed";

// "12 of 340 done, now goes15.2013.150.120000.1.nc"; "12 of 340 done" without a file.
std::string ProgressText(std::size_t done, std::size_t found, const std::string& file);

// "2013-05-30 12:00  FD": the slot and sector of the image a thumbnail shows.
std::string ImageTimeText(TDateTime slotTime, std::uint8_t sector);

#include "station/ProcessingCycle.h"

#include "product/outputs/ImageKinds.h"

#include "product/outputs/ColourTables.h"
#include "base/Files.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <filesystem>
#include <thread>
#include <utility>

#include "product/DiskGuard.h"
#include "product/ScanDecoding.h"
#include "station/IncomingWatcher.h"
#include "product/EventPump.h"
#include "base/DateTime.h"
#include "settings/ProgramPaths.h"
#include "base/Text.h"

std::string ProgressText(std::size_t done, std::size_t found, const std::string& file)
{
    std::string text = std::to_string(done) + " of " + std::to_string(found) + " done";
    // A line break in a name must not split the progress line of a headless station.
    if (!file.empty()) text += ", now " + LogSafe(file);
    return text;
}

const char* const NothingKeptText =
    "Nothing would be kept of the incoming files: tick \"Save as JPEG\", \"Save as PNG\", \"Save as GeoTIFF\" or "
    "\"Save as NetCDF\"; files are left where they are";

namespace {

// Geolocation files go their own route; every other listed file is an image file.
bool TakesImageRoute(const std::string& entry)
{
    return LowerCase(ExtractFileName(entry)).find("_geo.nc") == std::string::npos;
}

}  // namespace

std::string ImageTimeText(TDateTime slotTime, std::uint8_t sector)
{
    std::string text = FormatDateTime("yyyy-mm-dd hh:nn  ", slotTime) + SectorLabel(sector);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

TProcessingCycle::TProcessingCycle(TProcessingOptions& options, TProcessLog& log, TCycleView& view,
                                   QObject* parent)
    : QObject(parent), options_(options), log_(log), view_(view),
      retention_([this](const std::string& line) { log_.AddLogLine(line, 0); })
{
    TimerProcess.setSingleShot(true);
    TimerProcess.setInterval(FirstInterval);
    connect(&TimerProcess, &QTimer::timeout, this, &TProcessingCycle::TimerProcessTimer);
    for (std::size_t i = 0; i < ChannelCount; ++i)
        if (ChannelExists(i))
            LastSavedSettings[i] = std::make_unique<TRegistryString>(
                "LastSaved" + std::string(ChannelCatalogue[i].ChannelDigit), "");
    sleep_ = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}

TProcessingCycle::~TProcessingCycle() = default;

void TProcessingCycle::SetGoesFileHandler(TGoesFileHandler* handler)
{
    goesHandler_ = handler;
    imageSaved_ = {};
    if (handler) {
        // Recorded before anyone else hears of the image: a station killed while another
        // listener works on it still continues from it after a restart.
        imageSaved_ = handler->OnImageSaved.Add(
            [this](std::uint8_t channel, const std::string& saved) {
                if (IsRestartImage(settings_, saved))
                    RememberSaved(channel, saved);
            },
            TListenerTurn::Record);
        handler->BeingWritten = [this](const std::string& path) {
            return watcher_ && watcher_->Watching() && watcher_->BeingWritten(ExtractFileName(path));
        };
    }
}

// Every saved image is the channel's newest picture, whatever its sector: a restart continues
// from it, so the northern scan of a half hour is not lost under the southern one, which is
// saved under the same name.
void TProcessingCycle::RememberSaved(std::size_t channelIndex, const std::string& savedFileName)
{
    if (channelIndex >= ChannelCount || !LastSavedSettings[channelIndex]) return;
    TRegistryString& setting = *LastSavedSettings[channelIndex];
    if (setting.Value == savedFileName) return;
    setting.Value = savedFileName;
    // A restart would continue from an older image without it: said once, until it works again.
    if (!setting.SaveChecked()) {
        if (!lastSavedUnwritten_) {
            const std::string text = "The last saved image " + savedFileName + " could not be recorded in " +
                                     RegistryFilePath() + ": " + std::strerror(errno) +
                                     "; a restart would continue from the older image recorded there";
            log_.AddLogLine(text, 0);
            view_.SetStatusText(LogSafe(text));
        }
        lastSavedUnwritten_ = true;
    } else {
        lastSavedUnwritten_ = false;
    }
}

void TProcessingCycle::BitBtnStartStopClick()
{
    Running = !Running;
    if (!Running) {
        TimerProcess.stop();
        view_.ShowRunning(false);
    } else {
        view_.ShowRunning(true);
        TimerProcess.start();  // 100 ms before the first cycle, 50 s once one has ended running
        WatchSourceDirectory();
    }
}

bool TProcessingCycle::LockDirectories()
{
    const TStationSettings settings = Settings();
    return directoryLock_.Acquire(settings.SourcePath, settings.NetCDFPath);
}

void TProcessingCycle::EnableInstantPickUp()
{
    if (watcher_) return;
    watcher_ = std::make_unique<TIncomingWatcher>(IncomingPattern);
    connect(watcher_.get(), &TIncomingWatcher::FilesArrived, this, &TProcessingCycle::FilesArrived);
    if (Running) WatchSourceDirectory();
}

bool TProcessingCycle::InstantPickUp() const
{
    return watcher_ && watcher_->Watching();
}

void TProcessingCycle::WatchSourceDirectory()
{
    // The source path may change between cycles (the Setup page, the settings file).
    if (!watcher_) return;
    const std::string dir = Settings().SourcePath;
    std::string why;
    if (!DirectoryExists(dir) || watcher_->Watch(dir, why)) {
        unwatchableDirectory_.clear();
        return;
    }
    if (dir == unwatchableDirectory_) return;
    unwatchableDirectory_ = dir;
    log_.AddLogLine("New files in " + dir + " wait for the next cycle: the directory cannot be watched, " + why, 0);
}

void TProcessingCycle::FilesArrived()
{
    if (!Running || SingleFileMode) return;
    if (inCycle_) {
        // The cycle in hand may have listed the directory before the file came.
        pickUpPending_ = true;
        return;
    }
    // The timer is held while the window asks whether to close; a new file waits for it too.
    if (TimerProcess.isActive()) TimerProcessTimer();
}

void TProcessingCycle::StopProcessing()
{
    TimerProcess.stop();
    Running = false;
}

void TProcessingCycle::TimerProcessTimer()
{
    // Stop and Start pressed while a cycle lets events through arm the timer again; the cycle in
    // hand re-arms it when it ends, so a second one must not start inside it.
    if (inCycle_) return;
    TimerProcess.stop();
    if (!Running) {
        view_.SetLamp(TLamp::Idle);
        return;
    }
    inCycle_ = true;
    failedThisCycle_ = false;
    pickUpPending_ = false;
    view_.SetLamp(TLamp::Busy);
    options_.Refresh();
    settings_ = StationSettings(options_);
    if (goesHandler_)
        goesHandler_->UseSettings(settings_);
    WatchSourceDirectory();

    std::vector<std::string> list;
    const std::string problem = options_.SettingsProblem();
    if (problem.empty() && !SingleFileMode && !LockDirectories()) {
        // Said once, not every cycle; the station waits for the other one to go.
        if (directoryLock_.Refusal() != lockRefusal_) {
            log_.AddLogLine(directoryLock_.Refusal(), 0);
            ShowAlarm(directoryLock_.Refusal());
        }
        lockRefusal_ = directoryLock_.Refusal();
    } else if (problem.empty()) {
        lockRefusal_.clear();
        if (!SingleFileMode) PruneWhenDue();
        ListFiles(settings_.SourcePath + IncomingPattern, list);
        SortFileList(list);
        if (SingleFileMode) list.assign(1, SingleFileName);
        std::erase_if(leftAlone_, [&](const std::string& e) { return std::find(list.begin(), list.end(), e) == list.end(); });
        std::erase_if(waiting_, [&](const std::string& e) { return std::find(list.begin(), list.end(), e) == list.end(); });
        // Processing would take every file in and keep nothing of it: the files wait instead.
        if (!settings_.KeepsSomething()) {
            if (!nothingKeptLogged_) {
                log_.AddLogLine(NothingKeptText, 0);
                ShowAlarm(NothingKeptText);
            }
            nothingKeptLogged_ = true;
            list.clear();
        } else {
            nothingKeptLogged_ = false;
            if (!DiskHasRoom()) list.clear();
        }
    } else if (problem != settingsProblem_) {
        // Said once, not every cycle; the station waits for the setting to be mended.
        const std::string text = problem + SettingsProblemSuffix;
        log_.AddLogLine(text, 0);
        ShowAlarm(text);
    }
    settingsProblem_ = problem;

    backlog_ = std::count_if(list.begin(), list.end(), IsRegularEntry);
    TGoesFileResult result;
    const bool showProgress = OnProgress && list.size() > ProgressAbove;
    std::size_t done = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string& entry = list[i];
        if (!Running) break;
        // A disk that runs low in the middle of a cycle leaves the rest where they are.
        if (i > 0 && !DiskHasRoom()) break;
        if (showProgress) OnProgress(done, list.size(), ExtractFileName(entry));
        PeekMessages();
        failure_.clear();
        leftAloneAgain_ = false;
        result.Fate = TFileFate::Finished;
        if (goesHandler_)
            goesHandler_->NextFile = i + 1 < list.size() && TakesImageRoute(list[i + 1]) ? list[i + 1] : std::string();
        const auto started = std::chrono::steady_clock::now();
        HandleEntry(entry, result);
        lastEntrySeconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (*backlog_ > 0 && !IsRegularEntry(entry)) --*backlog_;
        OnFileHandled(THandledEntry{entry, lastOutcome_, result, failure_, leftAloneAgain_});
        ++done;
    }
    if (showProgress) OnProgress(done, list.size(), "");
    if (goesHandler_) goesHandler_->NextFile.clear();

    if (Running) {
        TimerProcess.setInterval(CycleInterval);
        TimerProcess.start();
    }
    inCycle_ = false;
    // A failure of an earlier cycle that this one did not meet again is over.
    if (!failedThisCycle_ && HaltReason().empty()) ClearAlarm();
    view_.SetLamp(HaltReason().empty() ? TLamp::Idle : TLamp::Halted);
    if (pickUpPending_ && Running && watcher_) watcher_->PickUpSoon();
    pickUpPending_ = false;
    // The run of one file ends by stopping; should Stop already have been pressed, pressing
    // the button again would start processing instead.
    if (SingleFileMode && Running) BitBtnStartStopClick();
    emit CycleFinished();
}

std::vector<std::string> TProcessingCycle::LastSavedFiles() const
{
    std::vector<std::string> files;
    for (std::size_t channel = 0; channel < ChannelCount; ++channel) {
        const auto& setting = LastSavedSettings[channel];
        if (!setting || setting->Value.empty()) continue;
        // Every kind beside the image too: a restart continues the GeoTIFFs' clean copy from
        // the one beside it, or, when that one is gone, from the channel's newest up to the
        // image's time (RestoreCleanComposite), not a newer one a reprocessed outage made.
        const std::vector<std::string> kinds = ImageKindFiles(setting->Value);
        files.insert(files.end(), kinds.begin(), kinds.end());
        std::error_code ec;
        if (!std::filesystem::exists(ImageKindFile(setting->Value, GeoTiffKind), ec))
            files.push_back(NewestImageInTree(settings_.SavePath, static_cast<std::uint8_t>(channel), {".tif"},
                                              GetFileDateTime(setting->Value).value_or(UtcNow())));
    }
    return files;
}

void TProcessingCycle::PruneWhenDue()
{
    // A steady clock: an hour is an hour even when the wall clock is set back or forward.
    const auto now = std::chrono::steady_clock::now();
    if (lastPrune_ && now - *lastPrune_ < std::chrono::seconds(PruneIntervalSeconds)) return;
    // Once the directories are the station's own: what a stopped writer left half-made goes.
    if (!lastPrune_)
        retention_.RemoveLeftTemporaries(RetentionLimits(settings_), UtcNow());
    lastPrune_ = now;
    retention_.Prune(RetentionLimits(settings_), LastSavedFiles(), UtcNow());
}

bool TProcessingCycle::DiskHasRoom()
{
    std::string line = DiskLowLine(settings_);
    if (!line.empty() && settings_.PruneWhenLow)
        retention_.PruneOldestImages(RetentionLimits(settings_), LastSavedFiles(), UtcNow(), [&] {
            line = DiskLowLine(settings_);
            return line.empty();
        });
    if (!line.empty()) {
        if (diskLow_.empty()) log_.AddLogLine(line, 0);
        ShowAlarm(line);
    } else if (!diskLow_.empty()) {
        TellDiskBack(settings_);
    }
    diskLow_ = line;
    return line.empty();
}

void TProcessingCycle::TellDiskBack(const TStationSettings& settings)
{
    const std::string back = "Disk space is back: every directory written has at least " +
                             std::to_string(WholeMB(MinFreeBytes(settings))) + " MB free; processing goes on";
    log_.AddLogLine(back, 0);
    view_.SetStatusText(back);
    alarmShown_ = false;
}

void TProcessingCycle::ShowAlarm(const std::string& text)
{
    view_.SetStatusText(LogSafe(text));
    alarmShown_ = true;
}

void TProcessingCycle::ClearAlarm()
{
    if (!std::exchange(alarmShown_, false)) return;
    view_.SetStatusText("");
}

std::string TProcessingCycle::HaltReason() const
{
    if (!Running) return {};
    if (!settingsProblem_.empty()) return settingsProblem_ + SettingsProblemSuffix;
    if (!lockRefusal_.empty()) return lockRefusal_;
    if (nothingKeptLogged_) return NothingKeptText;
    return diskLow_;
}

void TProcessingCycle::Recheck()
{
    if (inCycle_) return;
    const std::string before = HaltReason();
    const TStationSettings current = Settings();
    if (!settingsProblem_.empty() && options_.SettingsProblem().empty()) settingsProblem_.clear();
    if (!lockRefusal_.empty() && settingsProblem_.empty() && LockDirectories()) lockRefusal_.clear();
    if (nothingKeptLogged_ && current.KeepsSomething())
        nothingKeptLogged_ = false;
    // Only the clearing: running low is met, and pruned for, by the cycle.
    if (!diskLow_.empty() && DiskLowLine(current).empty()) {
        diskLow_.clear();
        TellDiskBack(current);
    }
    const std::string now = HaltReason();
    if (now == before) return;
    if (now.empty()) {
        ClearAlarm();
    } else {
        ShowAlarm(now);
    }
    view_.SetLamp(now.empty() ? TLamp::Idle : TLamp::Halted);
}

void TProcessingCycle::HandleEntry(const std::string& entry, TGoesFileResult& result)
{
    // Whatever goes wrong with one file leaves it for the next cycle and does not stop the
    // station: the timer is re-armed as usual.
    try {
        if (LeftAlone(entry)) return;
        if (TakesImageRoute(entry)) {
            ImageRoute(entry, result);
        } else if (!GeoMode) {
            std::error_code ec;
            // A geolocation file named on the command line may be the only copy there is.
            if (!SingleFileMode || LiesIn(entry, settings_.SourcePath))
                std::filesystem::remove(entry, ec);
            std::filesystem::remove(GeoLogPath, ec);
            lastOutcome_ = TFileOutcome::GeoDeleted;
        } else {
            lastOutcome_ = TFileOutcome::Failed;
            if (geoHandler_) geoHandler_->ProcessGeoFile(entry);
            lastOutcome_ = TFileOutcome::GeoProcessed;
        }
        return;
    } catch (const std::exception& e) {
        LogFailure(entry, e.what());
    } catch (...) {
        LogFailure(entry, "unexpected error");
    }
    lastOutcome_ = TFileOutcome::Failed;
    view_.RepaintStatus();
}

// Only regular files are taken in: opening a FIFO would hang the station, a device could be
// read for ever, and a link would archive (and delete) whatever it points at.
bool TProcessingCycle::LeftAlone(const std::string& entry)
{
    struct stat st {};
    const int rc = SingleFileMode ? ::stat(entry.c_str(), &st) : ::lstat(entry.c_str(), &st);
    const char* kind = rc == 0 ? OddFileKind(st.st_mode) : nullptr;
    if (!kind) return false;
    failure_ = entry + " left alone: " + kind + ", not a regular file";
    leftAloneAgain_ = !leftAloneHeard_.insert(entry).second;
    if (std::find(leftAlone_.begin(), leftAlone_.end(), entry) == leftAlone_.end()) {
        leftAlone_.push_back(entry);
        log_.AddLogLine(failure_, 0);
    }
    lastOutcome_ = TFileOutcome::Failed;
    return true;
}

void TProcessingCycle::LogFailure(const std::string& entry, const std::string& reason)
{
    const std::string text = entry + " failed" + (reason.empty() ? "" : ": " + reason);
    failure_ = text;
    failedThisCycle_ = true;
    log_.AddLogLine(text, 0);
    ShowAlarm(text);
}

void TProcessingCycle::ImageRoute(const std::string& entry, TGoesFileResult& result)
{
    std::string label;
    PeekMessages();
    lastOutcome_ = TFileOutcome::Failed;
    result.FailureReason.clear();
    const bool ok = goesHandler_ && goesHandler_->ProcessGoesFile(entry, result);
    const std::size_t index = KnownChannel(result.ChannelIndex) ? result.ChannelIndex : 4;
    const TChannelInfo& channel = ChannelInfo(index);
    const std::string band = "band " + std::string(channel.ChannelDigit);
    // An ABI file's line says how good its pixels were.
    const std::string description =
        std::string(channel.ChannelDescription) + (result.Quality ? ",  " + QualityText(*result.Quality) : "");

    if (ok && !result.SavedFileName.empty()) {
        label = SectorLabel(result.Sector);
        RememberSaved(index, result.SavedFileName);
        log_.AddLogLine("Processed  " + FormatDateTime("yyyy-mm-dd hh:nn", result.SlotTime) + " " + label
                            + band + "  " + description, 0);
        lastOutcome_ = TFileOutcome::Processed;
        // The product's "Processed" line has replaced whatever alarm was shown: a later
        // check must not clear it.
        alarmShown_ = false;
        if (goesHandler_)
            goesHandler_->ShowSavedImage(static_cast<std::uint8_t>(index), result.SavedFileName,
                                         FormatDateTime("yyyy-mm-dd hhnn  ", result.SlotTime) + label + band
                                             + "  [" + description + "]");
        view_.ShowImageTime(static_cast<std::uint8_t>(index), ImageTimeText(result.SlotTime, result.Sector));
    } else if (result.Skipped) {
        view_.SetStatusText(FormatDateTime("yyyy-mm-dd hhnn", result.ImageTime) + "  band  "
                            + std::string(channel.ChannelDigit) + "  skipped");
        alarmShown_ = false;
        log_.AddLogLine("Skipped  " + FormatDateTime("yyyy-mm-dd hh:nn", result.SlotTime) + " "
                            + SectorLabel(result.Sector) + band + "  " + description, 0);
        lastOutcome_ = TFileOutcome::Skipped;
        view_.RepaintStatus();
        sleep_(SkippedPause);
    } else if (result.Fate == TFileFate::Waiting) {
        // Its writer is not done: said once, and not a failure of the file.
        lastOutcome_ = TFileOutcome::Waiting;
        const std::string text = entry + " waiting: " + result.FailureReason;
        failure_ = text;
        if (std::find(waiting_.begin(), waiting_.end(), entry) == waiting_.end()) {
            waiting_.push_back(entry);
            log_.AddLogLine(text, 0);
        }
        view_.SetStatusText(LogSafe(text));
    } else {
        std::erase(waiting_, entry);
        std::string reason = result.FailureReason;
        if (ok && reason.empty()) reason = "no image saved";
        LogFailure(entry, reason);
    }
    view_.RepaintStatus();
    ProcessAllMessages();
}

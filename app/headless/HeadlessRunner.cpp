#include "app/headless/HeadlessRunner.h"

#include "app/headless/NotifierDBus.h"

#include <QCoreApplication>

#include <filesystem>

#include "base/DateTime.h"
#include "settings/ProgramPaths.h"
#include "settings/RegistryFile.h"

std::string UsageText()
{
    const std::string p = ProgramName();
    return "Usage: " + p + " [-start] [-log] [-geo] [file]\n"
           "       " + p + " --headless [-start] [-log] [-geo] [file]\n"
           "       " + p + " --reprocess DIR... [--from yyyy-mm-ddThh:nn] [--to yyyy-mm-ddThh:nn] [--force] [-geo]\n"
           "       " + p + " --status\n"
           "       " + p + " --help | --version\n"
           "\n"
           "Composes GOES-15 imager files dropped into the source directory into per-channel\n"
           "images. Switches may begin with '-' or '/', in any letter case.\n"
           "\n"
           "  -start      start processing at once\n"
           "  -log        show the processing log (headless: print it first)\n"
           "  -geo        run the geolocation diagnostics on \"_geo.nc\" files instead of\n"
           "              deleting them\n"
           "  file        process just this file once, then stop\n"
           "  --headless  run without a window; every log line is also printed\n"
           "  --reprocess DIR...\n"
           "              make the images of every scan file under the directories again,\n"
           "              oldest first, one worker per channel, into the image directory;\n"
           "              the files, the incoming directory, \"LastSaved\", the log and the\n"
           "              status stay untouched; existing images are skipped\n"
           "    --from, --to yyyy-mm-ddThh:nn\n"
           "              only scans of image times from --from and before --to\n"
           "    --force   make existing images again\n"
           "  --status    show how the running station is doing; exit status 0 when it\n"
           "              runs, processes and had a file or cycle within " + std::to_string(StatusStaleSeconds) + " s\n"
           "\n"
           "Headless exit status: 0 done (or stopped by SIGTERM/SIGINT/SIGHUP), 1 the single\n"
           "file was not processed and saved, 2 wrong arguments or settings, or another\n"
           "station already running on the same settings. --reprocess: 0 every file made or\n"
           "skipped (or stopped; the same command continues), 1 a file failed, 2 as above.\n"
           "An unknown switch is refused with status 2.\n"
           "\n"
           "Settings: " + RegistryFilePath() + ", key\n"
           "  [HKEY_CURRENT_USER" + ProgramKey() + "] (values \"SourcePath\", \"NetCDFPath\",\n"
           "  \"SavePath\" and the options of the Setup page; \"KeepImagesDays\",\n"
           "  \"KeepNetCDFDays\", \"KeepFailedDays\" (0 keeps for ever), \"MinFreeMB\" and\n"
           "  \"SatelliteLongitude\" (degrees east; -135 for scans before GOES-15's 2018 move)).\n"
           "Processing log: " + ProcessLogPath() + "\n"
           "Status: " + StatusFilePath() + "\n";
}

bool SettingsUsable(const TRegistryOptions& options, std::FILE* err, bool needIncoming)
{
    static const struct {
        const char* valueName;
        const char* what;
    } kDirectories[] = {{"SourcePath", "source (incoming files)"},
                        {"NetCDFPath", "raw archive (saved NetCDF files)"},
                        {"SavePath", "image"}};
    bool missing = false;
    // The operator sees which directory is missing and how to set it: there is no Setup page.
    for (const auto& d : kDirectories) {
        // A run that takes no incoming file needs no incoming directory.
        if (!needIncoming && std::string_view(d.valueName) == "SourcePath") continue;
        const std::string path = WithTrailingDelimiter(options.PathText(d.valueName));
        const std::string problem = DirectoryProblem(path);
        if (problem.empty()) continue;
        missing = true;
        if (path.empty()) std::fprintf(err, "%s: the %s directory is not set.\n", ProgramName().c_str(), d.what);
        else
            std::fprintf(err, "%s: the %s directory \"%s\" %s.\n", ProgramName().c_str(), d.what,
                         LogSafe(path).c_str(), problem.c_str());
        std::fprintf(err, "  Set it as \"%s\" under [HKEY_CURRENT_USER%s]\n  in %s, for example:\n  \"%s\"=\"%s\"\n",
                     d.valueName, ProgramKey().c_str(), RegistryFilePath().c_str(), d.valueName,
                     std::string(FindSetting(d.valueName)->Example).c_str());
    }
    for (const TSettingInfo& s : ProgramSettings) {
        const std::string text = options.PathText(s.ValueName);
        const std::string fault(SettingTextFault(s, text));
        if (fault.empty()) continue;
        missing = true;
        std::fprintf(err, "%s: the setting \"%s\" is \"%s\": not %s.\n"
                           "  Set it under [HKEY_CURRENT_USER%s]\n  in %s, for example:\n  \"%s\"=\"%s\"\n",
                     ProgramName().c_str(), std::string(s.ValueName).c_str(), LogSafe(text).c_str(), fault.c_str(),
                     ProgramKey().c_str(), RegistryFilePath().c_str(), std::string(s.ValueName).c_str(),
                     std::string(s.DefaultText).c_str());
    }
    return !missing;
}

THeadlessRunner::THeadlessRunner(TCommandLine commandLine, std::FILE* out, std::FILE* err)
    : commandLine_(std::move(commandLine)), out_(out), err_(err)
{
}

THeadlessRunner::~THeadlessRunner() { assembly_.reset(); }

namespace {

// Refuses a command line the station cannot act on; -1 when it can.
int ArgumentsRefusal(const std::string& file, bool start, std::FILE* err)
{
    if (!file.empty() && file[0] == '-') {
        std::fprintf(err, "%s: unknown switch \"%s\"\n\n%s", ProgramName().c_str(), file.c_str(), UsageText().c_str());
        return THeadlessRunner::ExitUsage;
    }
    if (file.empty() && !start) {
        std::fprintf(err, "%s: nothing to do without -start or a file to process.\n\n%s",
                     ProgramName().c_str(), UsageText().c_str());
        return THeadlessRunner::ExitUsage;
    }
    std::error_code ec;
    if (!file.empty() && !std::filesystem::is_regular_file(file, ec)) {
        std::fprintf(err, "%s: no such file: %s\n", ProgramName().c_str(), file.c_str());
        return THeadlessRunner::ExitUsage;
    }
    return -1;
}

} // namespace

int THeadlessRunner::Prepare()
{
    const std::string file = commandLine_.FileArgument();
    const bool start = commandLine_.FindSwitch("start");
    if (const int refusal = ArgumentsRefusal(file, start, err_); refusal >= 0) return refusal;

    if (!stationLock_.Acquire()) {
        std::fprintf(err_, "%s: %s\n", ProgramName().c_str(), stationLock_.Refusal().c_str());
        return ExitUsage;
    }

    options_ = std::make_unique<TRegistryOptions>();
    if (!SettingsUsable(*options_, err_, true)) return ExitUsage;
    if (!StationSettings(*options_).KeepsSomething()) {
        std::fprintf(err_, "%s: %s.\n", ProgramName().c_str(), NothingKeptText);
        return ExitUsage;
    }

    OpenLog();
    if (!MakeCycle(file)) return ExitUsage;
    MakeStation();
    StartStation(file);
    return -1;
}

void THeadlessRunner::OpenLog()
{
    assembly_ = std::make_unique<TStationAssembly>(*options_, *this, commandLine_.FindSwitch("geo"));
    TProcessLog& log = assembly_->Log();
    log.LoadFromFile();
    if (commandLine_.FindSwitch("log"))
        for (const auto& line : log.Lines())
            std::fprintf(out_, "%s\n", line.c_str());
    log.SetSink(this);
}

bool THeadlessRunner::MakeCycle(const std::string& file)
{
    TProcessingCycle& cycle = assembly_->Cycle();
    // A second station on the same directories is refused at once, naming the first.
    if (file.empty() && !cycle.LockDirectories()) {
        std::fprintf(err_, "%s: %s\n", ProgramName().c_str(), cycle.DirectoryLockRefusal().c_str());
        return false;
    }
    // Without a Diags page the latest geolocation report goes to a file and to the output.
    assembly_->GeoRoute().OnReport = [this](const TLines& lines) { WriteDiagsReport(lines, out_); };
    cycle.OnProgress = [this](std::size_t done, std::size_t found, const std::string& file) {
        std::fprintf(out_, "Progress: %s\n", ProgressText(done, found, file).c_str());
        std::fflush(out_);
    };
    connect(&cycle, &TProcessingCycle::CycleFinished, this, &THeadlessRunner::CycleFinished);
    return true;
}

void THeadlessRunner::MakeStation()
{
    // Without a window nothing shows a composite that no file needs.
    assembly_->MakeStation(std::make_unique<TDBusAnimationNotifier>(), TComposites::OnFirstUse);

    signals_ = std::make_unique<TSignalWatcher>();
    connect(signals_.get(), &TSignalWatcher::Received, this, &THeadlessRunner::SignalReceived);
}

void THeadlessRunner::StartStation(const std::string& file)
{
    TProcessingCycle& cycle = assembly_->Cycle();
    TStation& station = assembly_->Station();
    assembly_->LogStart();
    const auto logLine = [this](const std::string& line) { assembly_->Log().AddLogLine(line, 0); };
    station.RestoreComposites(cycle.LastSavedSettings, {}, logLine);
    if (!file.empty()) {
        cycle.SingleFileMode = true;
        cycle.SingleFileName = file;
        station.Product.ReadsBackSavedImages = false;
    } else {
        // A one-file run is not the station; the station's status stays as it wrote it.
        assembly_->RunOn(logLine);
    }
    cycle.BitBtnStartStopClick();
    // The one file need not wait for the first timer tick (its cycle stops the timer).
    if (!file.empty()) {
        QMetaObject::invokeMethod(&cycle, &TProcessingCycle::TimerProcessTimer, Qt::QueuedConnection);
    } else {
        watchdog_ = std::make_unique<TServiceWatchdog>();
        watchdog_->Ready();
    }
}

int THeadlessRunner::Run()
{
    const int early = Prepare();
    if (early >= 0) return early;
    int code = ExitOk;
    connect(this, &THeadlessRunner::Finished, QCoreApplication::instance(), [&code](int c) {
        code = c;
        QCoreApplication::exit(c);
    }, Qt::QueuedConnection);
    QCoreApplication::exec();
    return code;
}

void THeadlessRunner::LogLineAdded(const std::string& line)
{
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

void THeadlessRunner::SignalReceived(int)
{
    if (closing_) return;
    closing_ = true;
    if (watchdog_) watchdog_->Stopping();
    Cycle().StopProcessing();
    // Ctrl-C, a stopped service and a closed session all end the station the same way, and
    // the log tells a stop from a crash only by this line: the window logs it for every one.
    Log().AddLogLine("Windows shutdown request received", UtcNow());
    if (!Cycle().InCycle())
        Close(ExitOk);
    // Otherwise the cycle finishes the file in hand and CycleFinished closes.
}

void THeadlessRunner::CycleFinished()
{
    if (closing_) {
        Close(ExitOk);
        return;
    }
    if (Cycle().SingleFileMode) {
        const TFileOutcome o = Cycle().LastOutcome();
        Close(o == TFileOutcome::Processed || o == TFileOutcome::GeoProcessed ? ExitOk : ExitFileFailed);
    }
}

void THeadlessRunner::Close(int exitCode)
{
    if (closed_) return;
    closed_ = true;
    Cycle().StopProcessing();
    if (!assembly_->Close())
        std::fprintf(err_, "%s: could not save the log to %s\n", ProgramName().c_str(), Log().Path().c_str());
    emit Finished(exitCode);
}

#pragma once
// The station without a screen: the same cycle under a QCoreApplication, every log line also
// on standard output, the settings from the registry file. SIGTERM, SIGINT and SIGHUP finish
// the file in hand, log "Closing ...", save the log and end the program with status 0. A second
// station on the same settings refuses with status 2.

#include <QObject>

#include <cstdio>
#include <memory>
#include <string>

#include "station/CommandLine.h"
#include "station/ProcessLog.h"
#include "station/ProcessingCycle.h"
#include "station/ServiceWatchdog.h"
#include "station/SignalWatcher.h"
#include "publish/StationAssembly.h"
#include "station/Station.h"
#include "station/StationLock.h"

class THeadlessRunner : public QObject, public TCycleView, public TLogSink {
    Q_OBJECT
public:
    enum ExitCode { ExitOk = 0, ExitFileFailed = 1, ExitUsage = 2 };

    // args: the arguments after "--headless".
    explicit THeadlessRunner(TCommandLine commandLine, std::FILE* out = stdout, std::FILE* err = stderr);
    ~THeadlessRunner() override;

    // Checks the settings and the arguments; on success the cycle is set up and Start pressed.
    // Returns -1 when the event loop is to run, otherwise the exit status.
    int Prepare();
    // Prepare, then run the event loop until the end; returns the exit status.
    int Run();

    TProcessingCycle& Cycle() { return assembly_->Cycle(); }
    TProcessLog& Log() { return assembly_->Log(); }

    // TCycleView
    void SetLamp(TLamp) override {}
    void ShowRunning(bool) override {}
    void SetStatusText(const std::string&) override {}
    TStation& Station() { return assembly_->Station(); }
    // TLogSink
    void LogLineAdded(const std::string& line) override;

    void SignalReceived(int signalNumber);

signals:
    void Finished(int exitCode);

private:
    // The steps of Prepare, in order. The station's objects are made with its log, which is
    // loaded before anything is said.
    void OpenLog();
    // Wires the cycle to the output; false when another station holds the directories (said
    // on err).
    bool MakeCycle(const std::string& file);
    void MakeStation();
    void StartStation(const std::string& file);
    void CycleFinished();
    void Close(int exitCode);

    TCommandLine commandLine_;
    std::FILE* out_;
    std::FILE* err_;
    TStationLock stationLock_;
    std::unique_ptr<TRegistryOptions> options_;
    std::unique_ptr<TStationAssembly> assembly_;
    std::unique_ptr<TSignalWatcher> signals_;
    std::unique_ptr<TServiceWatchdog> watchdog_;
    bool closing_ = false;
    bool closed_ = false;
};

// Tells on err each directory setting that is not set or not there (the incoming one only
// when needed) and each number setting that is not a number; true when there is none.
bool SettingsUsable(const TRegistryOptions& options, std::FILE* err, bool needIncoming);

// The text of --help.
std::string UsageText();

#include "app/headless/ReprocessRunner.h"

#include <QCoreApplication>
#include <QTimer>

#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <thread>

#include "reprocess/Reprocess.h"
#include "station/SignalWatcher.h"
#include "station/StationLock.h"
#include "app/headless/HeadlessRunner.h"
#include "base/Contained.h"
#include "base/Files.h"
#include "settings/ProgramPaths.h"
#include "settings/ProgramSettings.h"
#include "settings/StationSettings.h"

namespace {

// The processors this process may run on (taskset and cgroups included), as many channels
// as may be made side by side.
unsigned UsableCores()
{
    if (!WorkersMayStartFromThreads)
        return 1;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

std::string Duration(double seconds)
{
    const long s = std::lround(std::max(0.0, seconds));
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// What the workers tell, taken in by the main thread.
struct TReport {
    std::mutex Lock;
    std::vector<TReprocessOutcome> Outcomes;
    std::vector<std::string> LogLines;
};

// What the run has done so far, told on standard error as the workers report it: one live line
// on a terminal, a line per file otherwise, failures always; and the summary at the end.
class TProgress {
public:
    TProgress(std::FILE* err, std::size_t total, std::size_t toMake)
        : err_(err), terminal_(::isatty(::fileno(err)) == 1), total_(total), toMake_(toMake),
          started_(std::chrono::steady_clock::now())
    {
    }
    bool Terminal() const { return terminal_; }
    TReport Report;

    // Takes in what the workers told since the last call.
    void Drain(bool stopping)
    {
        std::vector<TReprocessOutcome> outcomes;
        std::vector<std::string> lines;
        {
            const std::lock_guard<std::mutex> guard(Report.Lock);
            outcomes.swap(Report.Outcomes);
            lines.swap(Report.LogLines);
        }
        if (terminal_ && (!outcomes.empty() || !lines.empty()))
            std::fputs("\r\033[K", err_);
        for (const std::string& line : lines)
            std::fprintf(err_, "%s\n", LogSafe(line).c_str());
        for (const TReprocessOutcome& o : outcomes)
            count(o);
        if (terminal_) {
            const double seconds = elapsed();
            const std::size_t worked = made_ + failed_.size();
            const double rate = seconds > 0 ? worked / seconds : 0;
            const std::size_t left = toMake_ > worked ? toMake_ - worked : 0;
            std::fprintf(err_, "\r%zu/%zu files  %.2f files/s  %s elapsed  %s left%s\033[K", done_, total_, rate,
                         Duration(seconds).c_str(), rate > 0 ? Duration(left / rate).c_str() : "?",
                         stopping ? "  stopping after the files in hand" : "");
        }
        std::fflush(err_);
    }

    // The summary on out; the exit status.
    int Summary(std::FILE* out, const std::vector<std::string>& problems) const
    {
        std::fprintf(out, "Reprocessed %zu of %zu scan files in %s: %zu made, %zu skipped, %zu failed\n", done_, total_,
                     Duration(elapsed()).c_str(), made_, skipped_, failed_.size());
        for (const std::string& problem : problems)
            std::fprintf(out, "  %s\n", LogSafe(problem).c_str());
        for (const TReprocessOutcome& o : failed_)
            std::fprintf(out, "  failed: %s: %s\n", LogSafe(o.Path).c_str(), LogSafe(o.Reason).c_str());
        if (done_ < total_)
            std::fprintf(out, "Stopped before %zu scan files; the same command continues.\n", total_ - done_);
        std::fflush(out);
        return failed_.empty() && problems.empty() ? 0 : 1;
    }

private:
    void count(const TReprocessOutcome& o)
    {
        ++done_;
        const char* what = "made";
        if (o.Result == TReprocessResult::Made)
            ++made_;
        else if (o.Result == TReprocessResult::Skipped) {
            ++skipped_;
            what = "skipped";
        } else {
            failed_.push_back(o);
            what = "failed";
        }
        if (!terminal_ || o.Result == TReprocessResult::Failed)
            std::fprintf(err_, "%zu/%zu %s %s%s\n", done_, total_, what, LogSafe(o.Path).c_str(),
                         o.Reason.empty() ? "" : (": " + LogSafe(o.Reason)).c_str());
    }
    double elapsed() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    }

    std::FILE* err_;
    const bool terminal_;
    const std::size_t total_, toMake_;
    const std::chrono::steady_clock::time_point started_;
    std::size_t made_ = 0, skipped_ = 0, done_ = 0;
    std::vector<TReprocessOutcome> failed_;
};

}  // namespace

TReprocessRunner::TReprocessRunner(std::vector<std::string> args, std::FILE* out, std::FILE* err)
    : args_(std::move(args)), out_(out), err_(err)
{
}

int TReprocessRunner::Run()
{
    const std::string program = ProgramName();
    TReprocessRequest request;
    if (const std::string why = ParseReprocessArguments(args_, request); !why.empty()) {
        std::fprintf(err_, "%s: %s\n\n%s", program.c_str(), why.c_str(), UsageText().c_str());
        return 2;
    }
    for (const std::string& directory : request.Directories) {
        std::error_code ec;
        if (!std::filesystem::is_directory(directory, ec)) {
            std::fprintf(err_, "%s: no such directory: %s\n", program.c_str(), directory.c_str());
            return 2;
        }
    }
    // Its own lock: it may run beside the station, but two runs would make the same images.
    TStationLock lock(ReprocessLockPath(), program + " --reprocess");
    if (!lock.Acquire()) {
        std::fprintf(err_, "%s: %s\n", program.c_str(), lock.Refusal().c_str());
        return 2;
    }
    TRegistryOptions options;
    if (!SettingsUsable(options, err_, false))
        return 2;
    // The whole run makes its images with the settings as they are now.
    const TStationSettings settings = StationSettings(options);
    if (!settings.SavesImages()) {
        std::fprintf(err_, "%s: no image format is ticked (\"SaveAsJPEG\", \"SaveAsPNG\", \"SaveAsGeoTIFF\"): there is nothing to make.\n",
                     program.c_str());
        return 2;
    }

    // What a killed run was making is made again whole, though its files exist.
    ForceDirectories(StateDirectory());
    TUnfinishedImages unfinished(StateDirectory() + program + "-reprocess-unfinished.txt");
    request.Unfinished = unfinished.Load();

    std::vector<std::string> problems;
    const std::vector<TArchivedScan> scans =
        FindArchivedScans(request.Directories, settings.SourcePath, problems, settings.AbiImageMinutes);
    const std::vector<std::vector<TArchivedScan>> chains = PlanChains(scans, settings, request);
    const std::size_t total = ScansInRange(chains);
    std::size_t toMake = 0;
    for (const auto& chain : chains)
        for (const TArchivedScan& scan : chain)
            toMake += !scan.WarmUp && !scan.Skip ? 1 : 0;
    const unsigned workers = static_cast<unsigned>(std::min<std::size_t>(UsableCores(), std::max<std::size_t>(1, chains.size())));
    std::fprintf(err_, "Reprocessing %zu scan files (%zu to make) on %u worker%s\n", total, toMake, workers,
                 workers == 1 ? "" : "s");

    TProgress progress(err_, total, toMake);
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    TReport& report = progress.Report;
    std::thread work([&] {
        RunChains(
            chains, options, settings, workers, stop,
            [&](const TReprocessOutcome& outcome) {
                const std::lock_guard<std::mutex> guard(report.Lock);
                report.Outcomes.push_back(outcome);
            },
            [&](const std::string& line) {
                const std::lock_guard<std::mutex> guard(report.Lock);
                report.LogLines.push_back(line);
            },
            &unfinished);
        finished = true;
    });

    TSignalWatcher shutdown;
    QObject::connect(&shutdown, &TSignalWatcher::Received, [&](int) {
        if (!stop && !progress.Terminal())
            std::fprintf(err_, "Stopping after the files in hand\n");
        stop = true;
    });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        progress.Drain(stop);
        if (finished)
            QCoreApplication::quit();
    });
    tick.start(progress.Terminal() ? 250 : 100);
    if (!finished)
        QCoreApplication::exec();
    work.join();
    progress.Drain(stop);
    if (progress.Terminal())
        std::fputs("\n", err_);
    return progress.Summary(out_, problems);
}

#include "publish/StationStatus.h"

#include <sys/stat.h>

#include <algorithm>

#include <QJsonArray>
#include <QJsonDocument>

#include <signal.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "Version.h"
#include "station/StationLock.h"
#include "product/DiskGuard.h"
#include "product/ScanDecoding.h"
#include "base/Files.h"
#include "base/DateTime.h"
#include "settings/ProgramPaths.h"

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// ISO 8601 in UTC, to the second: what monitoring tools parse without help.
QJsonValue IsoTime(TDateTime t)
{
    if (t == 0) return QJsonValue::Null;
    return Q(FormatDateTime("yyyy-mm-dd", t) + "T" + FormatDateTime("hh:nn:ss", t) + "Z");
}

TDateTime ParseIsoTime(const QJsonValue& v)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    const std::string text = v.toString().toStdString();
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ", &y, &mo, &d, &h, &mi, &s) != 6) return 0;
    const auto date = TryEncodeDate(y, mo, d);
    const auto time = TryEncodeTime(h, mi, s, 0);
    return date && time ? *date + *time : 0;
}

std::string HumanTime(TDateTime t) { return FormatDateTime("yyyy-mm-dd hh:nn:ss", t) + " UTC"; }

// The channel an entry of the status' list stands for: a GOES-15 one by its band alone (ABI
// bands share its digits), an ABI band by its satellite too; UnknownChannel for none.
std::size_t ListedChannel(const QJsonObject& entry)
{
    const bool abi = entry["satellite"].isString();
    for (std::size_t i = 0; i < AllChannelCount; ++i)
        if (KnownChannel(i) && IsAbiChannel(i) == abi && entry["band"].toString() == Q(ChannelInfo(i).ChannelDigit) &&
            (!abi || entry["satellite"].toString() == Q(SatelliteName(i))))
            return i;
    return UnknownChannel;
}

// The kernel's start time of a process (clock ticks since boot): with the pid it names one
// process, so a pid handed to another program after a crash is not taken for the station.
std::int64_t ProcessStartTicks(std::int64_t pid)
{
    const std::string stat = ReadSmallRegularFile("/proc/" + std::to_string(pid) + "/stat", ProcFileMaxBytes).Text;
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    // State is the third field of the line; the start time the twenty-second.
    for (int i = 3; i <= 22; ++i)
        if (!(fields >> field)) return -1;
    try {
        return std::stoll(field);
    } catch (const std::exception&) {
        return -1;
    }
}

bool ProcessAlive(std::int64_t pid, std::int64_t startTicks)
{
    if (pid <= 0) return false;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
    const std::int64_t ticks = ProcessStartTicks(pid);
    return startTicks < 0 || ticks < 0 || ticks == startTicks;
}

QJsonObject CountsJson(int processed, int skipped, int failed)
{
    return QJsonObject{{"processed", processed}, {"skipped", skipped}, {"failed", failed}};
}

std::string CountsText(const QJsonObject& o)
{
    return std::to_string(o["processed"].toInt()) + " processed, " + std::to_string(o["skipped"].toInt())
           + " skipped, " + std::to_string(o["failed"].toInt()) + " failed";
}

std::string Ago(TDateTime then, TDateTime now)
{
    const auto s = static_cast<long long>(std::llround((now - then) * 86400.0));
    return s >= 0 ? " (" + std::to_string(s) + " s ago)" : "";
}

QJsonValue NumberJson(const std::optional<std::int64_t>& n)
{
    return n ? QJsonValue(static_cast<qint64>(*n)) : QJsonValue::Null;
}

std::string DaysText(const QJsonValue& days)
{
    const auto n = static_cast<std::int64_t>(days.toDouble());
    if (!days.isDouble() || n == 0) return "for ever";
    return std::to_string(n) + (n == 1 ? " day" : " days");
}

std::string Padded(std::string text, std::size_t width)
{
    // Descriptions hold a multi-byte 'µ'; pad by characters, not bytes.
    std::size_t chars = 0;
    for (unsigned char c : text) chars += (c & 0xC0) != 0x80;
    if (chars < width) text.append(width - chars, ' ');
    return text;
}

// The directory of the file when its file system has no room left for another status
// (blocks or inodes), else empty.
std::string FullDiskOf(const std::string& path)
{
    const std::string dir = path.substr(0, path.rfind('/') + 1);
    struct statvfs fs {};
    if (::statvfs(dir.empty() ? "." : dir.c_str(), &fs) != 0) return {};
    const bool noBlocks = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < 64 * 1024;
    const bool noInodes = fs.f_files > 0 && fs.f_favail == 0;
    return noBlocks || noInodes ? dir : std::string();
}

}  // namespace

std::string StatusFilePath()
{
    return StateDirectory() + ProgramName() + "-status.json";
}

TStationStatus::TStationStatus(TProcessingCycle& cycle, std::string coastlines, std::string path, TClock clock)
    : cycle_(cycle), coastlines_(std::move(coastlines)), path_(std::move(path)), clock_(std::move(clock))
{
    if (!clock_) clock_ = UtcNow;
    started_ = clock_();
    day_ = static_cast<std::int32_t>(started_);
    CarryOverToday(started_);
    // Counted before what publishes the station (the page shows this status) hears of the file.
    fileHandled_ =
        cycle_.OnFileHandled.Add([this](const THandledEntry& handled) { FileHandled(handled); }, TListenerTurn::Count);
    cycleFinished_ = QObject::connect(&cycle_, &TProcessingCycle::CycleFinished, &cycle_, [this] { CycleEnded(); });
    // From the event loop, like the cycle: a station stuck in a file stops refreshing too.
    refresh_.setInterval(StatusRefreshSeconds * 1000);
    QObject::connect(&refresh_, &QTimer::timeout, &cycle_, [this] { Write(); });
    Write();
}

TDateTime TStationStatus::NewestImageTime() const
{
    TDateTime newest = 0;
    for (const TLastImage& img : lastImages_)
        if (!img.File.empty()) newest = std::max(newest, img.Time);
    return newest;
}

TStationStatus::~TStationStatus()
{
    QObject::disconnect(cycleFinished_);
}

void TStationStatus::CarryOverToday(TDateTime now)
{
    // A station restarted during the day still counts the day's files and shows its last
    // images and failure, so an operator's morning look does not depend on a restart.
    const TSmallFile file = ReadSmallRegularFile(path_, StatusMaxBytes);
    const QJsonObject old = QJsonDocument::fromJson(QByteArray::fromStdString(file.Text)).object();
    const QJsonObject today = old["today"].toObject();
    if (today["date"].toString().toStdString() != FormatDateTime("yyyy-mm-dd", now)) return;
    today_ = {today["processed"].toInt(), today["skipped"].toInt(), today["failed"].toInt()};
    const QJsonArray channels = old["channels"].toArray();
    for (const QJsonValue& v : channels) {
        const QJsonObject c = v.toObject();
        if (const std::size_t i = ListedChannel(c); i != UnknownChannel)
            lastImages_[i] = {ParseIsoTime(c["time"]), c["file"].toString().toStdString(),
                              c["sector"].toString().toStdString()};
    }
    lastAbiQuality_ = old["abi_quality"].toObject();
    const QJsonObject failure = old["last_failure"].toObject();
    lastFailureTime_ = ParseIsoTime(failure["time"]);
    lastFailureFile_ = failure["file"].toString().toStdString();
    lastFailureReason_ = failure["reason"].toString().toStdString();
}

void TStationStatus::RollDay(TDateTime now)
{
    const auto day = static_cast<std::int32_t>(now);
    if (day == day_) return;
    day_ = day;
    today_ = {};
    failedToday_.clear();
}

void TStationStatus::FileHandled(const THandledEntry& handled)
{
    const auto& [entry, outcome, result, failure, leftAloneAgain] = handled;
    const TDateTime now = clock_();
    RollDay(now);
    lastFile_ = now;
    switch (outcome) {
    case TFileOutcome::Processed:
    case TFileOutcome::GeoProcessed:
        ++sinceStart_.Processed;
        ++today_.Processed;
        if (outcome == TFileOutcome::Processed && KnownChannel(result.ChannelIndex)) {
            const std::string sector = SectorLabel(result.Sector);
            lastImages_[result.ChannelIndex] = {result.SlotTime, result.SavedFileName,
                                                sector.substr(0, sector.find(' '))};
        }
        if (outcome == TFileOutcome::Processed && IsAbiChannel(result.ChannelIndex) && result.Quality) {
            const TAbiQuality& q = *result.Quality;
            lastAbiQuality_ =
                QJsonObject{{"file", Q(entry)},
                            {"tag", Q(ChannelNameTag(result.ChannelIndex))},
                            {"time", IsoTime(result.SlotTime)},
                            {"good", static_cast<qint64>(q.Good)},
                            {"conditional", static_cast<qint64>(q.Conditional)},
                            {"out_of_range", static_cast<qint64>(q.OutOfRange)},
                            {"no_value", static_cast<qint64>(q.NoValue)},
                            {"percent_good", q.PercentGood < 0 ? QJsonValue::Null : QJsonValue(q.PercentGood)}};
        }
        break;
    case TFileOutcome::Skipped:
        ++sinceStart_.Skipped;
        ++today_.Skipped;
        break;
    case TFileOutcome::Failed: {
        // An entry that is no file to process (a FIFO, a link) is met again every cycle; it is
        // news once, not a failure per cycle.
        if (leftAloneAgain)
            return;
        // A bad file is tried again every cycle: the counts are of files, not of tries.
        if (failedFiles_.insert(entry).second) ++sinceStart_.Failed;
        if (failedToday_.insert(entry).second) ++today_.Failed;
        lastFailureTime_ = now;
        lastFailureFile_ = entry;
        // The line reads "<file> failed", "<file> failed: <reason>" or "<file> left alone: <reason>".
        const auto colon = failure.rfind(entry, 0) == 0 ? failure.find(": ", entry.size()) : std::string::npos;
        lastFailureReason_ = colon == std::string::npos ? std::string() : failure.substr(colon + 2);
        break;
    }
    case TFileOutcome::Waiting:
        beingWritten_.insert(entry);
        break;
    case TFileOutcome::GeoDeleted:
    case TFileOutcome::None:
        break;
    }
    if (outcome != TFileOutcome::Waiting)
        beingWritten_.erase(entry);
    Write();
}

void TStationStatus::CycleEnded()
{
    lastCycle_ = clock_();
    RollDay(lastCycle_);
    Write();
}

void TStationStatus::Closed()
{
    if (closed_ != 0) return;
    closed_ = clock_();
    refresh_.stop();
    SaveTextAtomically(path_, QJsonDocument(ToJson()).toJson(QJsonDocument::Indented).toStdString());
}

QJsonObject TStationStatus::ToJson() const
{
    const TDateTime now = clock_();
    const std::string source = cycle_.Options().SourcePath();
    // Before the cycle's first listing the directory is counted once here; a FIFO or a link
    // left alone is no file waiting.
    std::size_t waiting = 0;
    if (const auto backlog = cycle_.Backlog()) {
        waiting = *backlog;
    } else {
        std::vector<std::string> listed;
        ListFiles(source + TProcessingCycle::IncomingPattern, listed);
        waiting = std::count_if(listed.begin(), listed.end(), IsRegularEntry);
    }
    const bool armed = cycle_.TimerProcess.isActive() && closed_ == 0;
    // To the second: the few milliseconds since the timer was armed are not news.
    const TDateTime next = armed ? now + std::round(cycle_.TimerProcess.remainingTime() / 1000.0) / 86400.0 : 0;

    QJsonArray channels;
    for (std::size_t i = 0; i < AllChannelCount; ++i) {
        const TLastImage& img = lastImages_[i];
        // A GOES-15 channel is listed from the start; an ABI band once it has an image.
        if (!ChannelExists(i) && (!IsAbiChannel(i) || img.File.empty()))
            continue;
        QJsonObject c{{"band", Q(ChannelInfo(i).ChannelDigit)},
                      {"description", Q(ChannelInfo(i).ChannelDescription)},
                      {"time", IsoTime(img.Time)},
                      {"file", img.File.empty() ? QJsonValue::Null : QJsonValue(Q(img.File))},
                      {"sector", img.File.empty() ? QJsonValue::Null : QJsonValue(Q(img.Sector))}};
        if (IsAbiChannel(i))
            c["satellite"] = Q(SatelliteName(i));
        channels.append(c);
    }
    const TStationSettings settings = cycle_.Settings();
    QJsonArray written;
    for (const std::string& dir : WrittenDirectories(settings)) {
        const auto free = FreeBytes(dir);
        written.append(QJsonObject{{"directory", Q(dir)},
                                   {"free_bytes", free ? QJsonValue(static_cast<qint64>(*free)) : QJsonValue::Null}});
    }
    const std::string& low = cycle_.DiskLow();
    const std::string halt = closed_ == 0 ? cycle_.HaltReason() : std::string();
    QJsonValue failure = QJsonValue::Null;
    if (lastFailureTime_ != 0)
        failure = QJsonObject{{"time", IsoTime(lastFailureTime_)},
                              {"file", Q(lastFailureFile_)},
                              {"reason", Q(lastFailureReason_)}};
    QJsonObject status{
        {"program", Q(ProgramName())},
        {"version", ORVANTA_FILE_VERSION},
        {"pid", static_cast<qint64>(::getpid())},
        {"process_start_ticks", static_cast<qint64>(ProcessStartTicks(::getpid()))},
        {"started", IsoTime(started_)},
        {"updated", IsoTime(now)},
        {"closed", IsoTime(closed_)},
        {"processing", cycle_.Running && closed_ == 0},
        {"in_cycle", cycle_.InCycle()},
        {"last_cycle", IsoTime(lastCycle_)},
        {"next_cycle", IsoTime(next)},
        {"last_file", IsoTime(lastFile_)},
        {"incoming", QJsonObject{{"directory", Q(source)},
                                 {"waiting", static_cast<int>(waiting)},
                                 {"being_written", static_cast<int>(beingWritten_.size())},
                                 {"watched", cycle_.InstantPickUp()}}},
        {"coastlines", Q(coastlines_)},
        {"since_start", CountsJson(sinceStart_.Processed, sinceStart_.Skipped, sinceStart_.Failed)},
        {"today",
         [&] {
             QJsonObject t = CountsJson(today_.Processed, today_.Skipped, today_.Failed);
             t["date"] = Q(FormatDateTime("yyyy-mm-dd", static_cast<TDateTime>(day_)));
             return t;
         }()},
        {"channels", channels},
        {"last_failure", failure},
        {"not_processing", halt.empty() ? QJsonValue::Null : QJsonValue(Q(halt))},
        {"disk", QJsonObject{{"min_free_mb", NumberJson(settings.MinFreeMB)},
                             {"low", low.empty() ? QJsonValue::Null : QJsonValue(Q(low))},
                             {"directories", written}}},
        {"retention", QJsonObject{{"keep_images_days", NumberJson(settings.KeepImagesDays)},
                                  {"keep_netcdf_days", NumberJson(settings.KeepNetCDFDays)},
                                  {"keep_failed_days", NumberJson(settings.KeepFailedDays)},
                                  {"prune_when_low", settings.PruneWhenLow}}},
    };
    if (!lastAbiQuality_.isEmpty())
        status["abi_quality"] = lastAbiQuality_;
    return status;
}

bool TStationStatus::Write()
{
    if (closed_ != 0) return false;
    refresh_.start();
    const QByteArray json = QJsonDocument(ToJson()).toJson(QJsonDocument::Indented);
    const std::string problem = SaveTextAtomically(path_, json.toStdString());
    const bool written = problem.empty();
    // The file then grows stale, and --status says it could not be written instead of
    // repeating what it last said. Said once, and once more when it is written again; a
    // failure met before anyone listens (the first write) is told with the next write.
    if (!written && writeFailure_.empty()) writeFailure_ = problem;
    if (written && !writeFailure_.empty()) {
        if (writeFailureTold_ && OnLogLine) OnLogLine("Status file " + path_ + " written again");
        writeFailure_.clear();
        writeFailureTold_ = false;
    }
    if (!writeFailure_.empty() && !writeFailureTold_ && OnLogLine) {
        OnLogLine("Status file " + path_ + " cannot be written: " + writeFailure_);
        writeFailureTold_ = true;
    }
    return written;
}

namespace {

// The incoming directory, the counts since start and today, the last failure, the coastlines.
void PrintActivity(std::FILE* out, const QJsonObject& s)
{
    const QJsonObject incoming = s["incoming"].toObject();
    const int waiting = incoming["waiting"].toInt();
    std::fprintf(out, "Incoming:      %s: %d file%s waiting; %s\n", incoming["directory"].toString().toStdString().c_str(),
                 waiting, waiting == 1 ? "" : "s",
                 incoming["watched"].toBool() ? "new files are picked up at once" : "new files wait for the timed cycle");
    std::fprintf(out, "Since start:   %s\n", CountsText(s["since_start"].toObject()).c_str());
    const QJsonObject today = s["today"].toObject();
    std::fprintf(out, "Today:         %s (%s UTC)\n", CountsText(today).c_str(),
                 today["date"].toString().toStdString().c_str());
    const QJsonObject failure = s["last_failure"].toObject();
    if (!failure.isEmpty()) {
        const std::string reason = failure["reason"].toString().toStdString();
        std::fprintf(out, "Last failure:  %s  %s: %s\n", HumanTime(ParseIsoTime(failure["time"])).c_str(),
                     failure["file"].toString().toStdString().c_str(),
                     reason.empty() ? "no reason given" : reason.c_str());
    }
    if (const QJsonObject q = s["abi_quality"].toObject(); !q.isEmpty()) {
        TAbiQuality quality;
        quality.Good = static_cast<std::int64_t>(q["good"].toDouble());
        quality.Conditional = static_cast<std::int64_t>(q["conditional"].toDouble());
        quality.OutOfRange = static_cast<std::int64_t>(q["out_of_range"].toDouble());
        quality.NoValue = static_cast<std::int64_t>(q["no_value"].toDouble());
        const TDateTime t = ParseIsoTime(q["time"]);
        std::fprintf(out, "Last ABI file: %s %s  %s\n", q["tag"].toString().toStdString().c_str(),
                     t != 0 ? FormatDateTime("yyyy-mm-dd hh:nn", t).c_str() : "?", QualityText(quality).c_str());
    }
    const std::string coastlines = s["coastlines"].toString().toStdString();
    std::fprintf(out, "Coastlines:    %s\n", coastlines.empty() ? "none loaded" : coastlines.c_str());
}

// One line per channel: its last image, or none yet.
void PrintLastImages(std::FILE* out, const QJsonArray& channels)
{
    std::fprintf(out, "Last images:\n");
    for (const QJsonValue& v : channels) {
        const QJsonObject c = v.toObject();
        const std::string label =
            Padded("band " + c["band"].toString().toStdString() + "  " + c["description"].toString().toStdString(), 30);
        const TDateTime t = ParseIsoTime(c["time"]);
        if (c["file"].isString())
            std::fprintf(out, "  %s%s %-3s %s\n", label.c_str(), t != 0 ? FormatDateTime("yyyy-mm-dd hh:nn", t).c_str() : "?",
                         c["sector"].toString().toStdString().c_str(), c["file"].toString().toStdString().c_str());
        else
            std::fprintf(out, "  %snone yet\n", label.c_str());
    }
}

void PrintDiskAndRetention(std::FILE* out, const QJsonObject& disk, const QJsonObject& retention)
{
    if (!disk.isEmpty()) {
        std::string text;
        for (const QJsonValue& v : disk["directories"].toArray()) {
            const QJsonObject d = v.toObject();
            text += (text.empty() ? "" : ", ") + d["directory"].toString().toStdString() + " "
                    + (d["free_bytes"].isDouble() ? std::to_string(WholeMB(static_cast<std::uint64_t>(d["free_bytes"].toDouble()))) + " MB"
                                                  : std::string("unknown"));
        }
        const QJsonValue limit = disk["min_free_mb"];
        text += limit.isDouble() ? "; limit " + std::to_string(static_cast<std::int64_t>(limit.toDouble())) + " MB" : "";
        std::fprintf(out, "Free space:    %s\n", text.c_str());
    }
    if (!retention.isEmpty())
        std::fprintf(out, "Retention:     images %s, NetCDF files %s, failed files %s; pruning when low %s\n",
                     DaysText(retention["keep_images_days"]).c_str(), DaysText(retention["keep_netcdf_days"]).c_str(),
                     DaysText(retention["keep_failed_days"]).c_str(), retention["prune_when_low"].toBool() ? "on" : "off");
}

}  // namespace

TStatusHealth PrintStatus(const std::string& path, std::FILE* out, TDateTime now)
{
    const std::string name = ProgramName();
    // The file may be missing, or a former station's, because the running one cannot write
    // (it was started onto a full disk): the station lock tells who runs.
    const auto unwritten = [&](const std::string& file, long long writer) {
        const long long holder = StationLockHolder();
        // The writer itself holds the lock a moment longer than it takes to write "closed".
        if (holder <= 0 || holder == writer) return false;
        const std::string full = FullDiskOf(path);
        std::fprintf(out, "%s: running, pid %lld, but its status could not be written%s%s; %s\n", name.c_str(), holder,
                     full.empty() ? "" : ": no space left on ", full.c_str(), file.c_str());
        return true;
    };
    const TSmallFile file = ReadSmallRegularFile(path, StatusMaxBytes);
    if (file.Missing) {
        if (!unwritten("there is no status file " + path, 0))
            std::fprintf(out, "%s: not running (no status file %s)\n", name.c_str(), path.c_str());
        return TStatusHealth::NotHealthy;
    }
    if (!file.Problem.empty()) {
        std::fprintf(out, "%s: the status file %s cannot be read: %s\n", name.c_str(), path.c_str(),
                     file.Problem.c_str());
        return TStatusHealth::NotHealthy;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(file.Text), &error);
    if (!doc.isObject()) {
        std::fprintf(out, "%s: the status file %s cannot be read: %s\n", name.c_str(), path.c_str(),
                     error.errorString().toStdString().c_str());
        return TStatusHealth::NotHealthy;
    }
    const QJsonObject s = doc.object();
    const auto pid = static_cast<std::int64_t>(s["pid"].toDouble());
    const TDateTime started = ParseIsoTime(s["started"]);
    const TDateTime closed = ParseIsoTime(s["closed"]);
    const TDateTime lastCycle = ParseIsoTime(s["last_cycle"]);
    const TDateTime lastFile = ParseIsoTime(s["last_file"]);
    const TDateTime nextCycle = ParseIsoTime(s["next_cycle"]);
    const bool alive = closed == 0 && ProcessAlive(pid, static_cast<std::int64_t>(s["process_start_ticks"].toDouble(-1)));
    const bool processing = s["processing"].toBool();
    // A running station rewrites the file at least every StatusRefreshSeconds; an older one
    // tells nothing about what the station does now.
    const TDateTime updated = ParseIsoTime(s["updated"]);
    const bool current = (now - updated) * 86400.0 <= StatusStaleSeconds;
    const TDateTime lastSign = std::max({started, lastCycle, lastFile});
    const bool recent = (now - lastSign) * 86400.0 <= StatusStaleSeconds;

    if (!alive && unwritten("the file is of pid " + std::to_string(pid) + ", updated " + HumanTime(updated), pid))
        return TStatusHealth::NotHealthy;

    std::string verdict;
    if (!alive)
        verdict = "not running (" + (closed != 0 ? "closed " + HumanTime(closed) : "pid " + std::to_string(pid) + " is gone")
                  + ")";
    else
        verdict = "running, pid " + std::to_string(pid) + ", since " + HumanTime(started);
    std::fprintf(out, "%s: %s\n", name.c_str(), verdict.c_str());

    std::string processingLine = !alive ? "off" : processing ? "on" : "stopped";
    if (alive && !current) processingLine += " as of " + HumanTime(updated);
    if (s["in_cycle"].toBool() && alive) processingLine += ", in a cycle";
    processingLine += lastCycle != 0 ? "; last cycle " + HumanTime(lastCycle) + Ago(lastCycle, now) : "; no cycle yet";
    if (alive && nextCycle != 0) processingLine += ", next " + HumanTime(nextCycle);
    std::fprintf(out, "Processing:    %s\n", processingLine.c_str());
    if (lastFile != 0) std::fprintf(out, "Last file:     %s%s\n", HumanTime(lastFile).c_str(), Ago(lastFile, now).c_str());

    PrintActivity(out, s);
    PrintLastImages(out, s["channels"].toArray());

    const QJsonObject disk = s["disk"].toObject();
    PrintDiskAndRetention(out, disk, s["retention"].toObject());

    const bool diskLow = alive && disk["low"].isString();
    const bool halted = alive && processing && s["not_processing"].isString();
    const std::string full = alive && !current ? FullDiskOf(path) : std::string();
    if (!full.empty())
        std::fprintf(out, "Health:        the status could not be written since %s: no space left on %s\n",
                     HumanTime(updated).c_str(), full.c_str());
    else if (diskLow)
        std::fprintf(out, "Health:        %s\n", disk["low"].toString().toStdString().c_str());
    else if (halted)
        std::fprintf(out, "Health:        %s\n", s["not_processing"].toString().toStdString().c_str());
    else if (alive && processing && !recent)
        std::fprintf(out, "Health:        no file or cycle since %s: the station seems to hang\n", HumanTime(lastSign).c_str());
    else if (alive && !current)
        std::fprintf(out, "Health:        the status could not be written since %s (or the station hangs)\n",
                     HumanTime(updated).c_str());
    else if (alive && !processing)
        std::fprintf(out, "Health:        processing is switched off\n");
    return alive && processing && recent && current && !diskLow && !halted ? TStatusHealth::Healthy : TStatusHealth::NotHealthy;
}

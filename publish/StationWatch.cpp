#include "publish/StationWatch.h"

#include "product/outputs/ColourTables.h"

#include <QJsonDocument>

#include <algorithm>
#include <filesystem>

#include "product/DiskGuard.h"
#include "station/ProcessLog.h"
#include "base/Files.h"
#include "base/DateTime.h"
#include "base/Text.h"

namespace {

// An index of a day's images of the five GOES-15 channels is some 100 kB, with ABI bands of a
// few satellites under a megabyte; a larger file is not ours.
constexpr std::size_t IndexMaxBytes = 8 << 20;

}  // namespace

void TStationWatch::TProblem::Report(const TLog& log, const std::string& what, const std::string& problem)
{
    if (problem == Current) return;
    if (log) log(problem.empty() ? what + " written again" : what + " cannot be written: " + problem + "; processing goes on");
    Current = problem;
}

TStationWatch::TStationWatch(TProcessingCycle& cycle, TGoesFileHandler& images, TStationStatus& status, TLog log,
                             std::string metricsPath, TStationStatus::TClock clock)
    : cycle_(cycle), status_(status), log_(std::move(log)), metricsPath_(std::move(metricsPath)),
      clock_(std::move(clock))
{
    if (!clock_) clock_ = UtcNow;
    // In the publishing turn: the cycle has recorded the image, and the status counted the
    // file the page shows, before either is published.
    imageSaved_ =
        images.OnImageSaved.Add([this](std::uint8_t channel, const std::string& saved) { ImageSaved(channel, saved); },
                                TListenerTurn::Publish);
    fileHandled_ = cycle_.OnFileHandled.Add([this](const THandledEntry& handled) { FileHandled(handled); },
                                            TListenerTurn::Publish);
    refresh_.setInterval(StatusRefreshSeconds * 1000);
    QObject::connect(&refresh_, &QTimer::timeout, &cycle_, [this] { Refresh(); });
    // A cycle changes the backlog and whether processing runs (the first one starts it).
    cycleFinished_ = QObject::connect(&cycle_, &TProcessingCycle::CycleFinished, &cycle_, [this] { Refresh(); });
    Refresh();
}

void TStationWatch::Refresh()
{
    if (closed_) return;
    refresh_.start();
    if (WebPageOn()) WritePage();
    WriteMetrics();
}

TStationWatch::~TStationWatch()
{
    Closed();
}

void TStationWatch::Closed()
{
    if (closed_) return;
    refresh_.stop();
    QObject::disconnect(cycleFinished_);
    imageSaved_.Remove();
    fileHandled_.Remove();
    if (WebPageOn()) WritePage();
    WriteMetrics(false);
    closed_ = true;
}

bool TStationWatch::WebPageOn() const
{
    const TStationSettings s = cycle_.Settings();
    return s.WebPage && s.SavesPictures() && !s.SavePath.empty();
}

TImageIndex& TStationWatch::Index(const std::string& imageDirectory)
{
    if (indexDirectory_ != imageDirectory) {
        index_ = {};
        index_.Load(ReadSmallRegularFile(imageDirectory + "latest/index.json", IndexMaxBytes).Text);
        indexDirectory_ = imageDirectory;
    }
    return index_;
}

void TStationWatch::ImageSaved(std::uint8_t channel, const std::string& saved)
{
    if (!KnownChannel(channel) || !WebPageOn())
        return;
    const std::string latest = cycle_.Options().SavePath() + "latest/";
    const std::string tag =
        std::string(ChannelInfo(channel).ChannelTag) + (IsColourImageName(saved) ? ColourImageSuffix : "");
    latestProblem_.Report(log_, "Latest images in " + latest, PlaceLatestImage(latest, tag, saved));
    saved_.emplace_back(channel, saved);
}

void TStationWatch::FileHandled(const THandledEntry& handled)
{
    // Counted once, as the status counts it.
    if (handled.LeftAloneAgain)
        return;
    const std::string& entry = handled.Entry;
    const TFileOutcome outcome = handled.Outcome;
    const TGoesFileResult& result = handled.Result;
    std::uint8_t channel = UnknownChannel;
    TDateTime slot = 0;
    if (outcome == TFileOutcome::Processed) channel = result.ChannelIndex;
    else
        ParseScanFileName(entry, channel, slot);
    using TKind = TStationMetrics::TKind;
    const TKind kind = outcome == TFileOutcome::Processed   ? TKind::Processed
                       : outcome != TFileOutcome::Failed    ? TKind::Other
                       : result.Fate == TFileFate::PutAside ? TKind::PutAside
                                                            : TKind::Failed;
    metrics_.FileHandled(channel, kind, cycle_.LastEntrySeconds(), kind == TKind::Processed ? result.SlotTime : 0,
                         kind == TKind::Processed ? result.Quality : std::nullopt);

    if (outcome == TFileOutcome::Processed && !saved_.empty() && WebPageOn()) {
        const std::string directory = cycle_.Options().SavePath();
        // One entry per scan, in the first format of LatestImageExtensions saved: JPEG, the
        // lighter to show, before PNG; a colour image before its grey one.
        std::string shown;
        for (const bool colour : {true, false})
            for (const std::string_view e : LatestImageExtensions)
                for (const auto& [c, name] : saved_)
                    if (shown.empty() && IsColourImageName(name) == colour && name.size() > e.size() &&
                        name.compare(name.size() - e.size(), e.size(), e) == 0)
                        shown = name;
        // An image kept beside the archived file (long names) is outside the page's reach:
        // its fixed name in latest/ stands in.
        const std::size_t shownChannel = saved_.back().first;
        const auto onPage = [&](const std::string& name) {
            return name.rfind(directory, 0) == 0 ? name.substr(directory.size())
                                                 : "latest/" + std::string(ChannelInfo(shownChannel).ChannelTag) +
                                                       (IsColourImageName(name) ? ColourImageSuffix : "") +
                                                       LowerCase(std::filesystem::path(name).extension().string());
        };
        std::vector<std::string> kinds;
        for (const auto& [c, name] : saved_)
            if (c == shownChannel && std::find(kinds.begin(), kinds.end(), onPage(name)) == kinds.end())
                kinds.push_back(onPage(name));
        const std::string sector = SectorLabel(result.Sector);
        if (!shown.empty())
            Index(directory).Add(shownChannel, onPage(shown), result.SlotTime, sector.substr(0, sector.find(' ')), std::move(kinds));
        WritePage();
    }
    saved_.clear();
    refresh_.start();
    WriteMetrics();
}

void TStationWatch::WritePage()
{
    const std::string directory = cycle_.Options().SavePath();
    const TDateTime now = clock_();
    const QJsonObject index = Index(directory).ToJson(now);
    std::string problem;
    const std::string json = QJsonDocument(index).toJson(QJsonDocument::Indented).toStdString();
    if (const std::string why = SaveTextAtomically(directory + "latest/index.json", json, false); !why.empty())
        problem = directory + "latest/index.json: " + why;
    const std::string html = WebPageHtml(index, status_.ToJson(), now);
    if (const std::string why = SaveTextAtomically(directory + "index.html", html, false); !why.empty())
        problem = directory + "index.html: " + why;
    pageProblem_.Report(log_, "Web page", problem);
}

void TStationWatch::WriteMetrics(bool up)
{
    // Asked again every time: the directories it must keep out of are settings that may change.
    std::string problem = MetricsFileRefusal(metricsPath_, cycle_.Options());
    if (problem.empty()) {
        TMetricsGauges gauges;
        gauges.Processing = cycle_.Running;
        gauges.Backlog = cycle_.Backlog();
        for (const std::string& dir : WrittenDirectories(cycle_.Settings()))
            gauges.FreeBytes.emplace_back(dir, FreeBytes(dir));
        problem = SaveTextAtomically(metricsPath_, metrics_.Text(gauges, up), false);
    }
    metricsProblem_.Report(log_, "Metrics file " + metricsPath_, problem);
}

#include "reprocess/Reprocess.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "product/GoesProduct.h"
#include "product/outputs/ImageKinds.h"
#include "product/ScanNames.h"
#include "station/Station.h"
#include "base/DateTime.h"
#include "base/Files.h"
#include "base/PartialFile.h"
#include "base/Text.h"

namespace fs = std::filesystem;

namespace {

bool EndsWith(const std::string& text, std::string_view tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The names the station takes in as image scans; "_geo.nc" files are geolocation data.
bool IsScanName(const std::string& name)
{
    const std::string lower = LowerCase(name);
    return MatchesWildcard(IncomingScanPattern, name) && (EndsWith(lower, ".nc") || EndsWith(lower, ".nc.bz2")) &&
           lower.find("_geo.nc") == std::string::npos;
}

// A scan kept both compressed and decompressed, or in two trees, is one scan.
std::string ScanKey(const std::string& path)
{
    std::string key = LowerCase(ExtractFileName(path));
    if (EndsWith(key, ".bz2"))
        key.resize(key.size() - 4);
    return key;
}

bool Compressed(const std::string& path) { return EndsWith(LowerCase(path), ".bz2"); }

// Images carry their image time as their modification time, at two-second resolution.
bool ImageOfTime(const std::string& image, TDateTime imageTime)
{
    const std::optional<TDateTime> t = GetFileDateTime(image);
    return t && std::fabs(*t - imageTime) * 86400.0 < 3.0;
}

// The image a live station would have recorded as the channel's last saved one after this scan.
std::string LastSavedImage(const TStationSettings& settings, const TArchivedScan& scan)
{
    if (scan.Channel == UnknownChannel)
        return {};
    const std::string archived = ArchivedScanName(settings, scan.Path, scan.ImageTime);
    // The JPEG is written after the PNG, so a station remembers it when both are saved; the
    // GeoTIFF only when it is saved alone.
    if (settings.SaveAsJPEG)
        return ImageName(settings, archived, scan.ImageTime, scan.Channel, ".jpg");
    if (settings.SaveAsPNG)
        return ImageName(settings, archived, scan.ImageTime, scan.Channel, ".png");
    if (settings.SaveAsGeoTIFF)
        return ImageName(settings, archived, scan.ImageTime, scan.Channel, ".tif");
    return {};
}

// The name the images of a scan are recorded under while in hand.
std::string ImageKey(const TStationSettings& settings, const TArchivedScan& scan)
{
    return ImageName(settings, ArchivedScanName(settings, scan.Path, scan.ImageTime), scan.ImageTime, scan.Channel,
                     ".jpg");
}

void RunChain(TStation& station, const TStationSettings& settings, const std::vector<TArchivedScan>& chain,
              const std::atomic<bool>& stop, const std::function<void(const TReprocessOutcome&)>& onOutcome,
              const std::function<void(const std::string&)>& onLogLine, TUnfinishedImages* unfinished)
{
    std::array<std::string, AllChannelCount> continueFrom;
    std::optional<TDateTime> inHand;
    // The image of the half hour in hand, recorded until its last scan is made.
    std::string recorded;
    const auto endRecorded = [&] {
        if (unfinished && !recorded.empty())
            unfinished->End(recorded);
        recorded.clear();
    };
    for (const TArchivedScan& scan : chain) {
        if (const std::string key =
                scan.WarmUp || scan.Skip || scan.Channel == UnknownChannel ? std::string() : ImageKey(settings, scan);
            key != recorded) {
            endRecorded();
            if (unfinished && !key.empty() && !(stop && (!inHand || scan.ImageTime != *inHand)))
                unfinished->Begin(recorded = key);
        }
        // The scans of one half hour share their short image names: they are finished together.
        if (stop && (!inHand || scan.ImageTime != *inHand))
            break;
        if (scan.WarmUp || scan.Skip) {
            std::error_code ec;
            if (const std::string last = LastSavedImage(settings, scan); !last.empty() && fs::exists(last, ec))
                continueFrom[scan.Channel] = last;
            if (!scan.WarmUp)
                onOutcome({TReprocessResult::Skipped, scan.Path, "images exist"});
            continue;
        }
        if (scan.Channel < AllChannelCount && !continueFrom[scan.Channel].empty()) {
            station.ContinueFrom(scan.Channel, continueFrom[scan.Channel], onLogLine);
            continueFrom[scan.Channel].clear();
        }
        inHand = scan.ImageTime;
        TGoesFileResult result;
        TReprocessOutcome outcome{TReprocessResult::Failed, scan.Path, {}};
        try {
            const bool ok = station.Product.ProcessGoesFile(scan.Path, result);
            if (ok && !result.SavedFileName.empty()) {
                outcome.Result = TReprocessResult::Made;
                // A station shows every saved image and so goes on from it as read back from
                // the file, which a lossy format changes a little.
                station.Product.ShowSavedImage(result.ChannelIndex, result.SavedFileName, {});
            }
            else if (ok && result.Skipped) {
                outcome.Result = TReprocessResult::Skipped;
                outcome.Reason = "sector not included";
            } else
                outcome.Reason = result.FailureReason.empty() ? "no image saved" : result.FailureReason;
        } catch (const std::exception& e) {
            outcome.Reason = e.what();
        }
        onOutcome(outcome);
    }
    endRecorded();
}

}  // namespace

std::set<std::string> TUnfinishedImages::Load()
{
    const std::lock_guard<std::mutex> guard(lock_);
    left_.clear();
    const TSmallFile file = ReadSmallRegularFile(path_, std::size_t{64} << 20);
    std::istringstream lines(file.Problem.empty() ? file.Text : std::string());
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            left_.insert(line);
    return left_;
}

void TUnfinishedImages::Begin(const std::string& image)
{
    const std::lock_guard<std::mutex> guard(lock_);
    inHand_.insert(image);
    save();
}

void TUnfinishedImages::End(const std::string& image)
{
    const std::lock_guard<std::mutex> guard(lock_);
    if (const auto at = inHand_.find(image); at != inHand_.end())
        inHand_.erase(at);
    left_.erase(image);
    save();
}

void TUnfinishedImages::save()
{
    std::set<std::string> all = left_;
    all.insert(inHand_.begin(), inHand_.end());
    std::string text;
    for (const std::string& image : all)
        text += image + "\n";
    // Written before the images: a run that cannot write it (a full disk) makes no image either.
    if (all.empty())
        ::unlink(path_.c_str());
    else
        WriteFileAtomically(path_, text);
}

std::optional<TDateTime> ParseReprocessTime(const std::string& text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    char sep = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d%n", &year, &month, &day, &sep, &hour, &minute, &used) != 6 ||
        used != static_cast<int>(text.size()) || (sep != 'T' && sep != ' '))
        return std::nullopt;
    const std::optional<TDateTime> date = TryEncodeDate(year, month, day);
    const std::optional<TDateTime> time = TryEncodeTime(hour, minute, 0, 0);
    if (!date || !time)
        return std::nullopt;
    return *date + *time;
}

std::string ParseReprocessArguments(const std::vector<std::string>& args, TReprocessRequest& request)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--from" || a == "--to") {
            if (i + 1 >= args.size())
                return a + " needs a time, yyyy-mm-ddThh:nn";
            const std::optional<TDateTime> t = ParseReprocessTime(args[++i]);
            if (!t)
                return a + " \"" + args[i] + "\" is not a time yyyy-mm-ddThh:nn";
            (a == "--from" ? request.From : request.To) = t;
        } else if (a == "--force") {
            request.Force = true;
        } else if (a.size() > 1 && a[0] == '-' && LowerCase(a) != "-geo") {
            return "unknown switch \"" + a + "\"";
        } else if (a.size() > 1 && a[0] == '-') {
            // The station's switch: geolocation files are not images and are left alone anyway.
        } else {
            request.Directories.push_back(a);
        }
    }
    if (request.Directories.empty())
        return "--reprocess needs at least one directory";
    if (request.From && request.To && *request.To <= *request.From)
        return "--to must be later than --from";
    return {};
}

std::vector<TArchivedScan> FindArchivedScans(const std::vector<std::string>& directories,
                                             const std::string& incomingDirectory, std::vector<std::string>& problems,
                                             int abiMinutes)
{
    std::vector<TArchivedScan> found;
    for (const std::string& directory : directories) {
        std::error_code ec;
        if (!fs::is_directory(directory, ec)) {
            problems.push_back(directory + ": not a directory; not searched");
            continue;
        }
        fs::recursive_directory_iterator it(directory, fs::directory_options::skip_permission_denied, ec), end;
        if (ec)
            problems.push_back(directory + ": " + ec.message() + "; not searched");
        for (; !ec && it != end; it.increment(ec)) {
            const std::string path = it->path().string();
            std::error_code kindError;
            if (!IsScanName(it->path().filename().string()) || !it->is_regular_file(kindError))
                continue;
            // The station's own files: it takes and removes them, and a reprocess must not race it.
            if (LiesIn(path, incomingDirectory))
                continue;
            // A station takes such a day for one of another year; an archive is not to be
            // made into images of a date its files never had.
            if (const std::string day = GoesFileDayProblem(path); !day.empty()) {
                problems.push_back(path + ": " + day + "; not taken");
                continue;
            }
            TArchivedScan scan;
            scan.Path = path;
            if (!ParseScanFileName(path, scan.Channel, scan.ImageTime, abiMinutes) ||
                (scan.Channel != UnknownChannel && !KnownChannel(scan.Channel)))
                continue;
            found.push_back(std::move(scan));
        }
        if (ec)
            problems.push_back(directory + ": " + ec.message() + "; not searched further");
    }
    // The station takes its files in name order, which is the order of their scan start times.
    std::sort(found.begin(), found.end(), [](const TArchivedScan& a, const TArchivedScan& b) {
        const std::string na = ExtractFileName(a.Path), nb = ExtractFileName(b.Path);
        if (FileNameLess(na, nb) != FileNameLess(nb, na))
            return FileNameLess(na, nb);
        return a.Path < b.Path;
    });
    // The compressed file is the one received; a decompressed copy beside it is the same scan.
    std::vector<TArchivedScan> scans;
    std::map<std::string, std::size_t> seen;
    for (TArchivedScan& scan : found) {
        const auto [at, fresh] = seen.emplace(ScanKey(scan.Path), scans.size());
        if (fresh)
            scans.push_back(std::move(scan));
        else if (Compressed(scan.Path) && !Compressed(scans[at->second].Path))
            scans[at->second] = std::move(scan);
    }
    return scans;
}

std::vector<std::string> ExpectedImages(const TStationSettings& settings, const TArchivedScan& scan, bool coloured)
{
    std::vector<std::string> images;
    if (scan.Channel == UnknownChannel)
        return images;
    const std::string archived = ArchivedScanName(settings, scan.Path, scan.ImageTime);
    const std::string grey = ImageName(settings, archived, scan.ImageTime, scan.Channel, ".jpg");
    for (const TImageKind& kind : KindsMade(settings, coloured))
        images.push_back(ImageKindFile(grey, kind));
    return images;
}

std::vector<std::vector<TArchivedScan>> PlanChains(const std::vector<TArchivedScan>& scans,
                                                   const TStationSettings& settings, const TReprocessRequest& request)
{
    const bool oneChain = std::any_of(scans.begin(), scans.end(), [](const TArchivedScan& s) { return s.Channel == UnknownChannel; });
    std::map<std::uint8_t, std::vector<TArchivedScan>> byChannel;
    for (TArchivedScan scan : scans) {
        if (request.To && scan.ImageTime >= *request.To)
            continue;
        scan.WarmUp = request.From && scan.ImageTime < *request.From;
        byChannel[oneChain ? 0 : scan.Channel].push_back(std::move(scan));
    }
    std::vector<std::vector<TArchivedScan>> chains;
    // Read once for the whole plan, not once a scan.
    std::array<bool, AllChannelCount> coloured{};
    for (std::size_t channel = 0; channel < AllChannelCount; ++channel)
        coloured[channel] = ChannelColourTable(settings, static_cast<std::uint8_t>(channel)).has_value();
    for (auto& [channel, chain] : byChannel) {
        // An image made again in this run (the northern scan of a half hour) is remade by
        // every later scan that writes it too, or it would lose their part.
        std::set<std::string> remade;
        for (TArchivedScan& scan : chain) {
            if (scan.WarmUp)
                continue;
            const std::vector<std::string> images =
                ExpectedImages(settings, scan, scan.Channel < AllChannelCount && coloured[scan.Channel]);
            std::error_code ec;
            const bool exists = !images.empty() && std::all_of(images.begin(), images.end(), [&](const std::string& image) {
                return fs::exists(image, ec) && ImageOfTime(image, scan.ImageTime) && !remade.contains(image);
            });
            scan.Skip = exists && !request.Force && !request.Unfinished.contains(ImageKey(settings, scan));
            if (!scan.Skip)
                remade.insert(images.begin(), images.end());
        }
        chains.push_back(std::move(chain));
    }
    return chains;
}

std::size_t ScansInRange(const std::vector<std::vector<TArchivedScan>>& chains)
{
    std::size_t n = 0;
    for (const auto& chain : chains)
        n += static_cast<std::size_t>(std::count_if(chain.begin(), chain.end(), [](const TArchivedScan& s) { return !s.WarmUp; }));
    return n;
}

void RunChains(const std::vector<std::vector<TArchivedScan>>& chains, TProcessingOptions& options,
               const TStationSettings& settings, unsigned workers, const std::atomic<bool>& stop,
               const std::function<void(const TReprocessOutcome&)>& onOutcome,
               const std::function<void(const std::string&)>& onLogLine, TUnfinishedImages* unfinished)
{
    // The longest chains first, so that no worker is left with a long one at the end.
    std::vector<std::size_t> order(chains.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return chains[a].size() > chains[b].size(); });
    const std::size_t count = std::max<std::size_t>(1, std::min<std::size_t>(workers, chains.size()));
    // Made here, one after the other: the coastline readers are not made for threads.
    std::vector<std::unique_ptr<TStation>> stations;
    for (std::size_t i = 0; i < count; ++i) {
        auto station = std::make_unique<TStation>(options, nullptr, TComposites::OnFirstUse);
        station->Product.SingleFileMode = [] { return true; };
        station->Product.ImagesOnly = true;
        station->Product.UseSettings(settings);
        station->OnLogLine = onLogLine;
        stations.push_back(std::move(station));
    }
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    for (std::size_t w = 0; w < count; ++w)
        threads.emplace_back([&, w] {
            for (std::size_t i; (i = next++) < order.size() && !stop;)
                RunChain(*stations[w], settings, chains[order[i]], stop, onOutcome, onLogLine, unfinished);
        });
    for (std::thread& t : threads)
        t.join();
}

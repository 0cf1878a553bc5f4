#include "publish/Metrics.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iterator>

#include "publish/StationStatus.h"
#include "base/Text.h"
#include "settings/ProgramPaths.h"
#include "settings/ProgramSettings.h"
#include "settings/RegistryFile.h"

namespace {

// Seconds since 1970 of a date-time (days since 1899-12-30).
double UnixSeconds(TDateTime t) { return std::round((t - 25569.0) * 86400.0); }

void Header(std::string& out, const char* name, const char* type, const char* help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

// Prometheus' labels of a channel's series: the GOES-15 channels' short tag alone, as they
// always were; an ABI band's also its satellite and band, to be summed over either.
std::string ChannelLabels(std::size_t channel)
{
    if (!KnownChannel(channel))
        return "channel=\"unknown\"";
    std::string labels = "channel=\"" + MetricsLabelValue(ChannelInfo(channel).ChannelTag) + "\"";
    if (IsAbiChannel(channel))
        labels += ",satellite=\"G" + std::to_string(AbiSatelliteOf(channel)) + "\",band=\"" +
                  std::to_string(AbiBandOf(channel)) + "\"";
    return labels;
}

}  // namespace

std::string MetricsFilePath()
{
    // Read, never written back: a station that does not set it keeps its settings file as it was.
    const std::string set = TRegistryFile(RegistryFilePath()).ReadString(ProgramKey(), "MetricsFile").value_or("");
    return set.empty() ? DefaultMetricsFilePath() : set;
}

std::string DefaultMetricsFilePath() { return StateDirectory() + "orvanta.prom"; }

std::string MetricsFileRefusal(const std::string& path, const TProcessingOptions& options)
{
    namespace fs = std::filesystem;
    // The station's own choice, wherever an operator has put the state directory.
    if (path == DefaultMetricsFilePath()) return {};
    // Under systemd the working directory is '/'.
    if (!fs::path(path).is_absolute())
        return "the setting MetricsFile is a relative path, which would be taken from the working directory";
    // As the kernel will find them: ".." and links to a directory or to the file lead to the same place.
    const auto resolved = [](std::string p) {
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        std::error_code ec;
        const fs::path r = fs::weakly_canonical(p, ec);
        return ec ? fs::path(p).lexically_normal() : r;
    };
    const fs::path file = resolved(path);
    const std::pair<std::string, const char*> stationFiles[] = {
        {RegistryFilePath(), "the settings file"},  {RegistryFilePath() + ".lock", "the settings' lock file"},
        {StationLockPath(), "the station's lock file"}, {ReprocessLockPath(), "the lock file of --reprocess"},
        {StatusFilePath(), "the status file"},      {ProcessLogPath(), "the process log"},
        {GeoLogPath(), "the geolocation log"},      {StrikeJournalPath(), "the strike journal"}};
    for (const auto& [stationFile, what] : stationFiles)
        if (file == resolved(stationFile)) return std::string("the setting MetricsFile names ") + what;
    const std::pair<std::string, const char*> directories[] = {
        {options.SourcePath(), "the incoming directory"}, {options.NetCDFPath(), "the raw archive"},
        {options.SavePath(), "the image directory"}};
    for (const auto& [directory, what] : directories) {
        if (directory.empty()) continue;
        const fs::path d = resolved(directory);
        if (std::mismatch(d.begin(), d.end(), file.begin(), file.end()).first == d.end())
            return std::string("the setting MetricsFile lies in ") + what;
    }
    return {};
}

std::string MetricsLabelValue(std::string_view text)
{
    // A file system name is bytes; one that is not UTF-8 would make the whole file unreadable
    // to Prometheus, so such bytes become U+FFFD.
    const std::string utf8 = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdString();
    std::string out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

void TStationMetrics::FileHandled(std::size_t channel, TKind kind, double seconds, TDateTime imageTime,
                                  const std::optional<TAbiQuality>& quality)
{
    TChannel& c = channels_[KnownChannel(channel) ? channel : AllChannelCount];
    switch (kind) {
    case TKind::Processed:
        ++c.Processed;
        if (imageTime > c.LastImage) c.LastImage = imageTime;
        if (quality && IsAbiChannel(channel)) {
            // A count the file cannot have (negative) adds nothing rather than wrapping round.
            const std::int64_t counts[] = {quality->Good, quality->Conditional, quality->OutOfRange, quality->NoValue};
            for (std::size_t q = 0; q < c.Pixels.size(); ++q)
                c.Pixels[q] += static_cast<std::uint64_t>(std::max<std::int64_t>(counts[q], 0));
            c.Rated = true;
        }
        break;
    case TKind::Failed: ++c.Failed; break;
    case TKind::PutAside:
        ++c.Failed;
        ++c.PutAside;
        break;
    case TKind::Other: return;
    }
    ++count_;
    sum_ += seconds;
    for (std::size_t i = 0; i < Buckets.size(); ++i)
        if (seconds <= Buckets[i]) ++bucketCounts_[i];
}

std::string TStationMetrics::Text(const TMetricsGauges& gauges, bool up) const
{
    std::string out;
    out.reserve(4096);
    Header(out, "orvanta_up", "gauge", "1 while the station runs; 0 once it has ended.");
    out += "orvanta_up " + std::string(up ? "1" : "0") + "\n";
    Header(out, "orvanta_processing", "gauge", "1 while processing is switched on.");
    out += "orvanta_processing " + std::string(up && gauges.Processing ? "1" : "0") + "\n";

    const auto perChannel = [&](const char* name, const char* type, const char* help, auto value, bool skipZero) {
        Header(out, name, type, help);
        for (std::size_t i = 0; i <= AllChannelCount; ++i) {
            if (i < ChannelCount && !ChannelExists(i)) continue;
            const TChannel& c = channels_[i];
            // An ABI band is listed once files of it came: of 64, a station receives a few.
            if (IsAbiChannel(i) && c.Processed + c.Failed == 0)
                continue;
            const double v = value(c);
            // Files of no known channel are listed only when there were any.
            if (i == AllChannelCount && v == 0)
                continue;
            if (skipZero && v == 0) continue;
            out += std::string(name) + "{" + ChannelLabels(i) + "} " + ShortestText(v) + "\n";
        }
    };
    perChannel("orvanta_files_processed_total", "counter", "Incoming files made into images, by channel.",
               [](const TChannel& c) { return static_cast<double>(c.Processed); }, false);
    perChannel("orvanta_files_failed_total", "counter", "Incoming files that failed, by channel (put aside included).",
               [](const TChannel& c) { return static_cast<double>(c.Failed); }, false);
    perChannel("orvanta_files_put_aside_total", "counter", "Failed files moved to the failed directory, by channel.",
               [](const TChannel& c) { return static_cast<double>(c.PutAside); }, false);
    // A channel without an image since the start has no sample: 0 would read as 1970.
    perChannel("orvanta_last_image_timestamp_seconds", "gauge", "Scan time of the newest image saved, by channel.",
               [](const TChannel& c) { return c.LastImage == 0 ? 0.0 : UnixSeconds(c.LastImage); }, true);
    // A station that never had an ABI file writes nothing of them.
    if (std::any_of(channels_.begin(), channels_.end(), [](const TChannel& c) { return c.Rated; })) {
        Header(out, "orvanta_abi_pixels_total", "counter",
               "Pixels of the ABI files processed by the quality their file gives them, by band.");
        static constexpr const char* qualities[] = {"good", "conditional", "out_of_range", "no_value"};
        for (std::size_t i = ChannelCount; i < AllChannelCount; ++i)
            for (std::size_t q = 0; q < std::size(qualities) && channels_[i].Rated; ++q)
                out += "orvanta_abi_pixels_total{" + ChannelLabels(i) + ",quality=\"" + qualities[q] + "\"} " +
                       std::to_string(channels_[i].Pixels[q]) + "\n";
    }

    Header(out, "orvanta_file_processing_seconds", "histogram", "Time taken by one incoming file.");
    for (std::size_t i = 0; i < Buckets.size(); ++i)
        out += "orvanta_file_processing_seconds_bucket{le=\"" + ShortestText(Buckets[i]) + "\"} "
               + std::to_string(bucketCounts_[i]) + "\n";
    out += "orvanta_file_processing_seconds_bucket{le=\"+Inf\"} " + std::to_string(count_) + "\n";
    out += "orvanta_file_processing_seconds_sum " + ShortestText(sum_) + "\n";
    out += "orvanta_file_processing_seconds_count " + std::to_string(count_) + "\n";

    if (gauges.Backlog) {
        Header(out, "orvanta_incoming_backlog_files", "gauge", "Files waiting in the incoming directory.");
        out += "orvanta_incoming_backlog_files " + std::to_string(*gauges.Backlog) + "\n";
    }
    Header(out, "orvanta_directory_free_bytes", "gauge", "Free bytes on the file system of each directory written.");
    for (const auto& [dir, bytes] : gauges.FreeBytes)
        if (bytes)
            out += "orvanta_directory_free_bytes{directory=\"" + MetricsLabelValue(dir) + "\"} " + std::to_string(*bytes)
                   + "\n";
    return out;
}

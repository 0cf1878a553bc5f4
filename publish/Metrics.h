#pragma once
// The station's numbers for a monitoring system: one small file in Prometheus' text format,
// which node_exporter's textfile collector serves beside the machine's own. Counters start
// at zero with the process, as Prometheus expects of a counter; a scrape sees a reset as one.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "product/composite/ChannelCatalogue.h"
#include "base/DateTime.h"
#include "netcdf/AbiL1b.h"

class TProcessingOptions;

// DefaultMetricsFilePath() unless the setting MetricsFile names a file.
std::string MetricsFilePath();
// StateDirectory() + "orvanta.prom".
std::string DefaultMetricsFilePath();
// Why the metrics may not be written to path, empty when they may: a relative path (written
// wherever the process happens to run), a file the station keeps (the settings, the logs,
// the status, the strike journal, a lock), or a file in a directory the station takes files
// from or writes its own into (incoming, raw archive, images). Paths compare as resolved.
std::string MetricsFileRefusal(const std::string& path, const TProcessingOptions& options);

// What the metrics file says besides the counters: read fresh at every write.
struct TMetricsGauges {
    bool Processing = false;
    std::optional<std::size_t> Backlog;
    std::vector<std::pair<std::string, std::optional<std::uint64_t>>> FreeBytes;  // directory, bytes
};

class TStationMetrics {
public:
    // Upper bounds of the processing-time histogram, in seconds.
    static constexpr std::array<double, 10> Buckets{0.05, 0.1, 0.25, 0.5, 1, 2, 5, 10, 30, 60};

    // channel: a known channel's index (KnownChannel), or anything else for a file whose name
    // tells none. imageTime: the scan time of the image saved, 0 for none. quality: an ABI
    // file's pixels, counted when it was processed.
    enum class TKind { Processed, Failed, PutAside, Other };
    void FileHandled(std::size_t channel, TKind kind, double seconds, TDateTime imageTime,
                     const std::optional<TAbiQuality>& quality = std::nullopt);
    // The whole file; up = false for the last one a station writes when it ends.
    std::string Text(const TMetricsGauges& gauges, bool up = true) const;

private:
    struct TChannel {
        std::uint64_t Processed = 0, Failed = 0, PutAside = 0;
        TDateTime LastImage = 0;
        // Good, conditional, out of range, no value; Rated once an ABI file's were counted.
        std::array<std::uint64_t, 4> Pixels{};
        bool Rated = false;
    };
    // The GOES-15 channels, the ABI bands, then one for files of no known channel.
    std::array<TChannel, AllChannelCount + 1> channels_{};
    std::array<std::uint64_t, Buckets.size()> bucketCounts_{};
    std::uint64_t count_ = 0;
    double sum_ = 0;
};

// A label value as the text format wants it: backslash, double quote and line feed escaped.
std::string MetricsLabelValue(std::string_view text);

#pragma once
// Retention: a station that runs for months removes what it made once it is old enough, so
// its disk never fills. Only whole days go, judged by the date of their yyyy/mm/dd folder,
// and only files whose names the station writes; anything else in a folder keeps the folder.
// Nothing is ever reached through a symbolic link, a folder dated after today is kept (the
// clock may have been set back), and the image a "LastSaved" value names is never removed.

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/DateTime.h"
#include "settings/ProgramSettings.h"
#include "settings/StationSettings.h"

struct TRetentionLimits {
    std::string ImageRoot;    // the image tree, with '/'
    std::string RawRoot;      // the raw archive, with '/'
    std::string FailedDir;    // where refused files are put aside
    // Whole days; 0 keeps for ever.
    std::int64_t ImagesDays = 0, NetCDFDays = 0, FailedDays = 0;
};
TRetentionLimits RetentionLimits(const TStationSettings& settings);

// What a name in a dated folder is to the station.
enum class TMadeKind { Foreign, Image, NetCDF };
TMadeKind MadeKind(const std::string& name);

class TRetention {
public:
    using TLogLine = std::function<void(const std::string&)>;
    explicit TRetention(TLogLine log) : log_(std::move(log)) {}

    // Removes what is older than the limits: in a day's folder dated before today minus the
    // limit the images and/or netCDF files, then the folder once empty; in the failed folder
    // the put-aside files older than its limit. keep: files never removed (the last saved
    // images). One log line per day pruned.
    void Prune(const TRetentionLimits& limits, const std::vector<std::string>& keep, TDateTime now);

    // Removes the images of the oldest days, never today's or later, one day at a time until
    // enough() holds; returns enough().
    bool PruneOldestImages(const TRetentionLimits& limits, const std::vector<std::string>& keep, TDateTime now,
                           const std::function<bool()>& enough);

    // Removes the temporaries a killed writer left (PartialFile.h) where the station writes:
    // the roots, latest/, the failed and state directories, and the dated folders of today and
    // yesterday. One log line when any went.
    void RemoveLeftTemporaries(const TRetentionLimits& limits, TDateTime now);

private:
    struct TDay {
        std::int32_t Date;
        std::string Path;  // root + "yyyy/mm/dd/"
        std::string Root;
    };
    using TFileIds = std::set<std::pair<std::uint64_t, std::uint64_t>>;
    std::vector<TDay> DatedFolders(const std::string& root, std::int32_t today);
    void PruneDay(const TDay& day, bool images, bool netCdf, const TFileIds& keep);
    void PruneFailed(const std::string& dir, std::int64_t days, TDateTime now);
    // Logs a problem with a place once per process: the hourly pass must not repeat it.
    void Report(const std::string& place, const std::string& line);

    TLogLine log_;
    std::set<std::string> reported_;
};

#pragma once
// Reprocessing an archive of raw scan files: the files of directory trees, oldest first, made
// into the images a station with the current settings would have made of them, without
// touching the files, the station's incoming directory, its "LastSaved" values, log or status.
// Each channel is its own chain of composites, so the chains run side by side, each in the
// order a station would have taken its files; an image that already exists is skipped, and
// the chain continues from it as a restarted station continues from its last saved image.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <optional>
#include <string>
#include <vector>

#include "product/composite/ChannelCatalogue.h"
#include "base/DateTime.h"
#include "settings/ProgramSettings.h"
#include "settings/StationSettings.h"

struct TReprocessRequest {
    std::vector<std::string> Directories;
    // Scans whose image time is at or after From and before To; earlier ones only tell where
    // each composite continues from.
    std::optional<TDateTime> From, To;
    bool Force = false;
    // The grey JPEG names of images a stopped run was making (TUnfinishedImages): remade
    // though they exist.
    std::set<std::string> Unfinished;
};

// The images of the half hours a run has in hand, kept in a small file: the scans of one half
// hour write the same images, so a run killed between them leaves images that exist, stamped
// with the half hour's time, yet lack the later scans. The next run remakes them whole. Images
// are named by the grey JPEG name of their scan, whatever the formats.
class TUnfinishedImages {
public:
    explicit TUnfinishedImages(std::string path) : path_(std::move(path)) {}
    // What stopped runs left unfinished; they stay recorded until made.
    std::set<std::string> Load();
    void Begin(const std::string& image);
    void End(const std::string& image);

private:
    void save();
    std::string path_;
    std::mutex lock_;
    std::multiset<std::string> inHand_;
    std::set<std::string> left_;
};

// Parses the arguments after "--reprocess"; returns why they cannot be taken, empty when
// they can. "-geo" (the station's switch) is accepted and changes nothing here.
std::string ParseReprocessArguments(const std::vector<std::string>& args, TReprocessRequest& request);
// "2013-05-30T12:00" (a blank instead of the "T" accepted).
std::optional<TDateTime> ParseReprocessTime(const std::string& text);

struct TArchivedScan {
    std::string Path;
    TDateTime ImageTime = 0;
    std::uint8_t Channel = UnknownChannel;
    // Before the range: not made, its image (if any) is where the composite continues from.
    bool WarmUp = false;
    // Its images exist and it is not made again; the composite continues from them.
    bool Skip = false;
};

// Every scan file (the names the station takes in, ".nc" or ".nc.bz2") under the directories,
// recursively, oldest first. A scan found twice (compressed and not, or in two trees) is taken
// once. Nothing in the station's incoming directory is taken. problems gets a line for each
// directory that cannot be read and each scan name of a day its year does not have. An ABI
// file's image time is the slot of abiMinutes its scan starts in.
std::vector<TArchivedScan> FindArchivedScans(const std::vector<std::string>& directories,
                                             const std::string& incomingDirectory, std::vector<std::string>& problems,
                                             int abiMinutes = 10);

// The chains of composites: one per channel, each oldest first, with the range applied and
// the scans whose images exist marked to be skipped (unless forced). A scan whose band only
// its content tells puts every scan into one chain.
std::vector<std::vector<TArchivedScan>> PlanChains(const std::vector<TArchivedScan>& scans,
                                                   const TStationSettings& settings, const TReprocessRequest& request);

// The files the product writes for a scan under the settings: every kind they make
// (ImageKinds.h); coloured: a colour table applies to the scan's channel.
std::vector<std::string> ExpectedImages(const TStationSettings& settings, const TArchivedScan& scan, bool coloured);

enum class TReprocessResult { Made, Skipped, Failed };

struct TReprocessOutcome {
    TReprocessResult Result = TReprocessResult::Made;
    std::string Path;
    std::string Reason;  // why it failed, or what was skipped
};

// Runs the chains on at most `workers` threads, each with a station of its own, made with the
// options and working by the settings taken from them; calls
// onOutcome (from the worker threads) for every scan of the range. Once stop is set each
// worker ends after the scans in hand (those of the same half hour, which share an image
// name). Returns when all are done.
// unfinished, when given, records the images in hand.
void RunChains(const std::vector<std::vector<TArchivedScan>>& chains, TProcessingOptions& options,
               const TStationSettings& settings, unsigned workers, const std::atomic<bool>& stop,
               const std::function<void(const TReprocessOutcome&)>& onOutcome,
               const std::function<void(const std::string&)>& onLogLine, TUnfinishedImages* unfinished = nullptr);

// How many scans of the chains are in the range (made or skipped).
std::size_t ScansInRange(const std::vector<std::vector<TArchivedScan>>& chains);

#pragma once
// What the product makes of one incoming file, and the interfaces through which the running
// station hands it files.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/DateTime.h"
#include "base/Listeners.h"
#include "netcdf/AbiL1b.h"
#include "netcdf/Sector.h"
#include "settings/StationSettings.h"

// What the product did with a file it did not finish: the station's counts and metrics take
// this, never the wording of the failure.
enum class TFileFate {
    Finished, // handled to the end, or not the product's to say
    Waiting, // its writer has not finished it: left for a later cycle without blame
    Failed, // left where it is, for another try
    PutAside, // moved to the failed directory
};

// The out-arguments of ProcessGoesFile. The cycle keeps one across the files of a cycle, so a
// value the handler does not write keeps the previous file's.
struct TGoesFileResult {
    bool Skipped = false;
    std::string SavedFileName; // the last image written; empty when none
    std::uint8_t Sector = SectorUnknown;
    TDateTime ImageTime = 0;
    TDateTime SlotTime = 0;
    std::uint8_t ChannelIndex = 0;
    // Why the file was not processed, for the " failed: " line; empty when it was.
    std::string FailureReason;
    TFileFate Fate = TFileFate::Finished;
    // An ABI file's pixels by quality; none for a GOES-15 file.
    std::optional<TAbiQuality> Quality;
};

// The per-file image product.
class TGoesFileHandler {
public:
    virtual ~TGoesFileHandler() = default;
    // True when the file was taken in and handled to the end (also when skipped); false when
    // it was refused, left for later, or failed. The handler removes the file from the source
    // directory once it has taken it in.
    virtual bool ProcessGoesFile(const std::string& path, TGoesFileResult& result) = 0;
    // The settings the files of a cycle are made with, taken at its start.
    virtual void UseSettings(const TStationSettings& /*settings*/) {}
    // Shows a newly saved image in the channel's thumbnail.
    virtual void ShowSavedImage(std::uint8_t channelIndex, const std::string& savedFileName,
                                const std::string& hint) = 0;
    // Told of each image as soon as it is saved, before the incoming file is removed, so that
    // a station killed in between continues from that image after a restart.
    TListeners<std::uint8_t /*channelIndex*/, const std::string& /*savedFileName*/> OnImageSaved;
    // Whether the watch saw the file written to and not closed yet (set by the cycle).
    std::function<bool(const std::string& path)> BeingWritten;
    // The image file the cycle hands over next, or empty: the handler may read it ahead,
    // changing nothing, while it finishes the file in hand.
    std::string NextFile;
};

// The geolocation diagnostics; only called in "geo" mode.
class TGeoFileHandler {
public:
    virtual ~TGeoFileHandler() = default;
    virtual void ProcessGeoFile(const std::string& path) = 0;
};

// What became of the last entry a cycle handled (for the single-file run's exit status).
// Waiting: a file its writer has not finished yet, left for a later cycle without blame.
enum class TFileOutcome { None, Processed, Skipped, Failed, GeoProcessed, GeoDeleted, Waiting };

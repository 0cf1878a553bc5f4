#pragma once
// The names of one file's way: which incoming files are scans, where a scan is archived, what
// its images are called and which half-hour slot they belong to.

#include <cstdint>
#include <string>

#include "base/DateTime.h"
#include "settings/StationSettings.h"

// The names a station takes from its incoming directory (case-insensitive): GOES-15 scans and
// ABI radiance files, as alternatives of one wildcard.
inline constexpr const char* IncomingScanPattern = "goes15.20*nc*|OR_ABI-L1b-Rad*.nc*";

// The half-hour slot an image time belongs to: scans that start up to about seven minutes
// before a slot count as that slot's.
TDateTime ImageSlot(TDateTime imageTime);

// Image names: long ones beside the archived file, short ones in the dated image tree.
std::string LongImageName(const std::string& archivedFile, const char* extension);
std::string ShortImageName(const std::string& imageDirectory, TDateTime imageTime, std::uint8_t channelIndex,
                           const char* extension);
// The name an image of the scan gets under the settings: archived is the scan's decompressed
// name in the dated raw archive.
std::string ImageName(const TStationSettings& settings, const std::string& archived, TDateTime imageTime,
                      std::uint8_t channelIndex, const char* extension);
// Where a scan file is kept in the raw archive, decompressed (a ".bz2" dropped).
std::string ArchivedScanName(const TStationSettings& settings, const std::string& scanFile, TDateTime imageTime);

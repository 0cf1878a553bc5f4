#pragma once
// The command line of orvanta-synth and the scan schedule it asks for.

#include "tools/synth/SynthAbi.h"
#include "tools/synth/SynthGeometry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace synth {

struct TOptions {
    std::string OutDir;
    std::int64_t Start = 0;          // seconds since 1970, UTC
    std::optional<double> Hours;     // a schedule over this many hours
    std::vector<int> Bands{1, 2, 3, 4, 6};
    std::vector<TScanKind> Kinds;    // empty: the default for the mode
    bool Geo = false;
    bool Bz2 = true;
    bool NetCdf4 = false;
    std::uint64_t Seed = 1;
    double Scale = 1.0;
    int Jobs = 0;                    // compression threads; 0: one per processor
    bool Quiet = false;
    std::string Shorelines;          // GSHHS file for the land; empty: look for one
    bool Help = false;
    // ABI radiance files of these satellites (16, 18, 19) instead of GOES-15 files.
    std::vector<int> AbiSatellites;
    std::vector<int> AbiBands{2, 7, 8, 13, 16};
    std::vector<TAbiSectorKind> AbiSectors{TAbiSectorKind::Full};
    std::string AbiTruthDir; // where to put the values behind sampled pixels; empty: nowhere
};

// Throws std::invalid_argument with a message for the user on a bad command line.
TOptions ParseOptions(const std::vector<std::string_view>& args);
std::string UsageText();

// "2019-06-21T12:00" (seconds, a blank instead of "T" and a trailing "Z" accepted).
std::optional<std::int64_t> ParseUtc(std::string_view text);

struct TScanJob {
    std::int64_t Start = 0; // scan start, seconds since 1970
    TScanKind Kind = TScanKind::FullDisk;
};

// Without hours: the requested kinds (full disk by default) in the half-hour slot of
// start. With hours: every half-hour slot from there on, a full disk every three hours
// (00, 03, ... UTC) and the northern and southern sectors in the other slots, keeping only
// the requested kinds. Scans start 18 s into their slot, southern sectors 22 min later;
// scans that would share a start time are spread a minute apart so their names differ.
std::vector<TScanJob> MakeSchedule(const TOptions& options);

struct TAbiScanJob {
    int Satellite = 16;
    TAbiSectorKind Sector = TAbiSectorKind::Full;
    std::int64_t StartTenths = 0; // tenths of a second since 1970
};

// Mode 6 per satellite: without hours one scan of each requested sector in the ten-minute
// slot of start; with hours every full disk (each ten minutes), CONUS (each five) and
// mesoscale scan (each minute) from there on. Sorted by start time.
std::vector<TAbiScanJob> MakeAbiSchedule(const TOptions& options);

} // namespace synth

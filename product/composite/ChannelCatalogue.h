#pragma once
// The imager channels this station composes, and how an incoming file's name tells which
// channel and which half-hour slot it belongs to.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/DateTime.h"

struct TChannelInfo {
    std::string_view ChannelDigit;
    std::string_view ChannelDescription;
    std::string_view ChannelHint;
    std::string_view ChannelTag;  // empty: no short image name
    int NotifyCode;               // 0: the companion program is not told
    std::string_view Wavelength; // in micrometres, as the legend and the GeoTIFF give it
};

// Indexed by channel index (band number minus one). Band 5 is not received: its row is empty.
// "\xC2\xB5" is the micro sign in UTF-8.
inline constexpr std::array<TChannelInfo, 6> ChannelCatalogue{{
    {"1", "0.63 \xC2\xB5m  visible", "0.63 \xC2\xB5m  visible", "vis", 18, "0.63"},
    {"2", " 3.9 \xC2\xB5m  SW IR", " 3.9 \xC2\xB5m  shortwave IR window", "mir", 56, "3.9"},
    {"3", "6.48 \xC2\xB5m  WV upper", "6.48 \xC2\xB5m  water vapour", "wv", 20, "6.48"},
    {"4", "10.7 \xC2\xB5m  thermal", "10.7 \xC2\xB5m  longwave window", "ir", 19, "10.7"},
    {"", "", "", "", 0, ""},
    {"6", "13.3 \xC2\xB5m  CO2", "13.3 \xC2\xB5m  CO2 band", "co2", 0, "13.3"},
}};

inline constexpr std::size_t ChannelCount = ChannelCatalogue.size();

// True for the indexes that have a channel (a thumbnail, a composite, a "LastSaved" value).
constexpr bool ChannelExists(std::size_t index)
{
    return index < ChannelCount && !ChannelCatalogue[index].ChannelDigit.empty();
}

// The ABI bands of GOES-16 to GOES-19 follow the GOES-15 channels, sixteen per satellite:
// index ChannelCount + 16 * (satellite - 16) + band - 1. They have composites, images and web
// cards like the GOES-15 channels, but no thumbnail, "LastSaved" value or notice code.
inline constexpr int AbiFirstSatellite = 16;
inline constexpr int AbiSatelliteCount = 4;
inline constexpr int AbiBandCount = 16;
inline constexpr std::size_t AllChannelCount = ChannelCount + AbiSatelliteCount * AbiBandCount;

constexpr bool IsAbiChannel(std::size_t index) { return index >= ChannelCount && index < AllChannelCount; }
constexpr std::uint8_t AbiChannel(int satellite, int band)
{
    return static_cast<std::uint8_t>(ChannelCount + (satellite - AbiFirstSatellite) * AbiBandCount + band - 1);
}
constexpr int AbiSatelliteOf(std::size_t index)
{
    return AbiFirstSatellite + static_cast<int>((index - ChannelCount) / AbiBandCount);
}
constexpr int AbiBandOf(std::size_t index) { return 1 + static_cast<int>((index - ChannelCount) % AbiBandCount); }
// Where an ABI satellite stands in service (degrees east): GOES-16 and GOES-19 at 75.2 W,
// GOES-17 at 137.2 W, GOES-18 at 137.0 W; a file's own projection says better.
double AbiNominalLongitude(int satellite);
// A channel of either imager.
constexpr bool KnownChannel(std::size_t index) { return ChannelExists(index) || IsAbiChannel(index); }

// The row of any known channel; an ABI band's is made once: digit "13", tag "g18-c13", its
// wavelength, "10.3 µm  GOES-18 ABI" as description and hint, no notice code. An empty row for an index of no channel.
const TChannelInfo& ChannelInfo(std::size_t index);
// The satellite whose imager made the channel: "GOES-15", or "GOES-18" for an ABI band.
std::string SatelliteName(std::size_t index);
// What an image name carries after its time: "g10-vis" for GOES-15, "g18-c13" for the ABI.
std::string ChannelNameTag(std::size_t index);
// The GOES-15 channel an ABI band stands nearest to in wavelength, whose grey scale, colour
// table and meaning of greys it shares (a GOES-15 channel is its own).
std::uint8_t NearestGoes15Channel(std::size_t index);

// A channel not yet known: preset before parsing, it tells a name without a band digit.
inline constexpr std::uint8_t UnknownChannel = 0xFF;

// Takes the name after the last '/'. channelIndex is written only for band digits 1-4 and 6,
// imageTime only on success; imageTime is the scan's half-hour slot, not its start.
bool ParseGoesFileName(std::string_view path, std::uint8_t& channelIndex, TDateTime& imageTime);
// ParseGoesFileName, or an ABI radiance file's name: its channel, and as image time the start
// of the slot of abiMinutes its scan starts in (an image per band per slot).
bool ParseScanFileName(std::string_view path, std::uint8_t& channelIndex, TDateTime& imageTime, int abiMinutes = 10);
// A name whose day of the year lies outside its year ("goes15.2019.999...", day 0, day 366
// of a common year), which ParseGoesFileName counts on into another year as a station always
// has: "day 999 of 2019 does not exist". Empty for any other name.
std::string GoesFileDayProblem(std::string_view path);

// The half-hour slot a scan starting at t belongs to: scans run a few minutes early.
TDateTime HalfHourSlot(TDateTime scanStart);

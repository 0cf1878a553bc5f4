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

// A channel not yet known: preset before parsing, it tells a name without a band digit.
inline constexpr std::uint8_t UnknownChannel = 0xFF;

// Takes the name after the last '/'. channelIndex is written only for band digits 1-4 and 6,
// imageTime only on success; imageTime is the scan's half-hour slot, not its start.
bool ParseGoesFileName(std::string_view path, std::uint8_t& channelIndex, TDateTime& imageTime);
// A name whose day of the year lies outside its year ("goes15.2019.999...", day 0, day 366
// of a common year), which ParseGoesFileName counts on into another year as a station always
// has: "day 999 of 2019 does not exist". Empty for any other name.
std::string GoesFileDayProblem(std::string_view path);

// The half-hour slot a scan starting at t belongs to: scans run a few minutes early.
TDateTime HalfHourSlot(TDateTime scanStart);

#include "product/composite/ChannelCatalogue.h"

#include "base/Files.h"
#include "base/Text.h"
#include "base/DateTime.h"
#include "netcdf/AbiL1b.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <deque>
#include <mutex>
#include <cmath>
#include <optional>
#include <cstdio>
#include <vector>

namespace {

std::optional<int> ToInt(std::string_view s)
{
    if (s.empty()) return std::nullopt;
    std::size_t start = 0;
    if (s[0] == '+') start = 1;
    int value = 0;
    const char* first = s.data() + start;
    const char* last = s.data() + s.size();
    if (first == last) return std::nullopt;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last) return std::nullopt;
    return value;
}

std::vector<std::string_view> SplitAtFullStops(std::string_view s)
{
    std::vector<std::string_view> fields;
    std::size_t from = 0;
    for (;;) {
        const std::size_t dot = s.find('.', from);
        if (dot == std::string_view::npos) {
            fields.push_back(s.substr(from));
            return fields;
        }
        fields.push_back(s.substr(from, dot - from));
        from = dot + 1;
    }
}

}  // namespace

TDateTime HalfHourSlot(TDateTime scanStart)
{
    const long double t = static_cast<long double>(scanStart);
    return static_cast<TDateTime>(std::trunc((t + 1.0L / 420.0L) * 48.0L) / 48.0L);
}

bool ParseGoesFileName(std::string_view path, std::uint8_t& channelIndex, TDateTime& imageTime)
{
    const std::string name = UpperCase(ExtractFileName(path));

    if (name.rfind("GOES15.20", 0) != 0) return false;

    int band = 0;
    if (name.size() >= 24 && name[23] >= '0' && name[23] <= '9') band = name[23] - '0';
    if (band == 5 || band >= 7) return false;
    if (band >= 1) channelIndex = static_cast<std::uint8_t>(band - 1);

    const auto fields = SplitAtFullStops(name);
    if (fields.size() < 4) return false;
    const std::string_view time = fields[3];
    const auto year = ToInt(fields[1]);
    const auto day = ToInt(fields[2]);
    const auto hour = ToInt(time.substr(0, 2));
    const auto minute = ToInt(time.size() > 2 ? time.substr(2, 2) : std::string_view{});
    const auto second = ToInt(time.size() > 4 ? time.substr(4, 2) : std::string_view{});
    if (!year || !day || !hour || !minute || !second) return false;

    const auto newYear = TryEncodeDate(*year, 1, 1);
    const auto timeOfDay = TryEncodeTime(*hour, *minute, *second, 0);
    if (!newYear || !timeOfDay) return false;

    const TDateTime start = *newYear + (*day - 1) + *timeOfDay;
    imageTime = HalfHourSlot(start);
    return true;
}

bool ParseScanFileName(std::string_view path, std::uint8_t& channelIndex, TDateTime& imageTime, int abiMinutes)
{
    const std::optional<TAbiName> abi = ParseAbiFileName(path);
    if (!abi)
        return ParseGoesFileName(path, channelIndex, imageTime);
    if (abi->Satellite < AbiFirstSatellite || abi->Satellite >= AbiFirstSatellite + AbiSatelliteCount ||
        abi->Band < 1 || abi->Band > AbiBandCount)
        return false;
    channelIndex = AbiChannel(abi->Satellite, abi->Band);
    // Slots counted from midnight in whole minutes; the start's tenths never move it across
    // a slot's edge.
    const long double minutesPerDay = 1440.0L, slot = std::clamp(abiMinutes, 1, 1440);
    const long double day = std::floor(static_cast<long double>(abi->Start));
    const long double minute = std::floor((static_cast<long double>(abi->Start) - day) * minutesPerDay + 1e-6L);
    imageTime = static_cast<TDateTime>(day + std::floor(minute / slot) * slot / minutesPerDay);
    return true;
}

std::string GoesFileDayProblem(std::string_view path)
{
    const std::string name = ExtractFileName(path);
    const auto fields = SplitAtFullStops(name);
    if (fields.size() < 3) return {};
    const auto year = ToInt(fields[1]);
    const auto day = ToInt(fields[2]);
    if (!year || !day || (*day >= 1 && *day <= (IsLeapYear(*year) ? 366 : 365))) return {};
    return "day " + std::to_string(*day) + " of " + std::to_string(*year) + " does not exist";
}

const TChannelInfo& ChannelInfo(std::size_t index)
{
    static const TChannelInfo none{"", "", "", "", 0, ""};
    if (index < ChannelCount)
        return ChannelCatalogue[index];
    if (!IsAbiChannel(index))
        return none;
    // The texts live as long as the rows that view them.
    static std::deque<std::string> texts;
    static std::array<TChannelInfo, AllChannelCount - ChannelCount> rows;
    static std::once_flag made;
    std::call_once(made, [] {
        const auto keep = [](std::string text) { return std::string_view(texts.emplace_back(std::move(text))); };
        for (std::size_t i = ChannelCount; i < AllChannelCount; ++i) {
            const int band = AbiBandOf(i), satellite = AbiSatelliteOf(i);
            const std::string_view wavelength = AbiBandWavelength(band);
            const std::string digits = std::to_string(band);
            const std::string_view description =
                keep(std::string(wavelength) + " \xC2\xB5m  " + SatelliteName(i) + " ABI");
            char tag[16];
            std::snprintf(tag, sizeof tag, "g%d-c%02d", satellite, band);
            rows[i - ChannelCount] = {keep(digits), description, description, keep(tag), 0, wavelength};
        }
    });
    return rows[index - ChannelCount];
}

std::string SatelliteName(std::size_t index)
{
    return "GOES-" + (IsAbiChannel(index) ? std::to_string(AbiSatelliteOf(index)) : std::string("15"));
}

std::string ChannelNameTag(std::size_t index)
{
    const std::string tag(ChannelInfo(index).ChannelTag);
    return IsAbiChannel(index) ? tag : "g10-" + tag;
}

std::uint8_t NearestGoes15Channel(std::size_t index)
{
    if (!IsAbiChannel(index))
        return static_cast<std::uint8_t>(index);
    // 3.9 um; the water-vapour bands 6.2 to 7.3 um; the windows 8.4 to 12.3 um; 13.3 um.
    const int band = AbiBandOf(index);
    return band <= 6 ? 0 : band == 7 ? 1 : band <= 10 ? 2 : band <= 15 ? 3 : 5;
}

double AbiNominalLongitude(int satellite) { return satellite == 17 ? -137.2 : satellite == 18 ? -137.0 : -75.2; }

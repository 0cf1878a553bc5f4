#include "tools/synth/SynthOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <set>
#include <stdexcept>

namespace synth {
namespace {

constexpr std::int64_t kSlot = 1800;
constexpr std::int64_t kDefaultStart = 1561150800; // 2019-06-21 21:00 UTC: noon over the disc

template <typename T>
bool ParseNumber(std::string_view text, T& value)
{
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end;
}

std::vector<std::string_view> SplitList(std::string_view text)
{
    std::vector<std::string_view> items;
    while (!text.empty()) {
        const auto comma = text.find(',');
        items.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return items;
}

// A comma list of distinct items in the order given; parse returns nothing for an item it
// does not know (or throws its own message).
template <typename T, typename Parse>
std::vector<T> ParseList(std::string_view text, const char* option, const char* what, Parse parse)
{
    std::vector<T> items;
    for (auto item : SplitList(text)) {
        const std::optional<T> v = parse(item);
        if (!v)
            throw std::invalid_argument(std::string(option) + ": unknown " + what + ": " + std::string(item));
        if (std::find(items.begin(), items.end(), *v) == items.end())
            items.push_back(*v);
    }
    if (items.empty())
        throw std::invalid_argument(std::string(option) + ": no " + what + " given");
    return items;
}

// "G18" or "18".
std::optional<int> AbiSatelliteNumber(std::string_view item)
{
    if (!item.empty() && (item.front() == 'G' || item.front() == 'g'))
        item.remove_prefix(1);
    int s = 0;
    if (!ParseNumber(item, s) || !AbiSatelliteLongitude(s))
        return std::nullopt;
    return s;
}

bool IsFullDisk(TScanKind k) { return ScanKindInfo(k).Sector == SectorFullDisk; }

std::int64_t OffsetInSlot(TScanKind k) { return ScanKindInfo(k).Sector == SectorSouthern ? 22 * 60 + 18 : 18; }

} // namespace

std::optional<std::int64_t> ParseUtc(std::string_view text)
{
    if (!text.empty() && (text.back() == 'Z' || text.back() == 'z'))
        text.remove_suffix(1);
    int year, month, day, hour = 0, minute = 0, second = 0;
    if (text.size() != 16 && text.size() != 19)
        return std::nullopt;
    if (text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != ' ') || text[13] != ':' ||
        (text.size() == 19 && text[16] != ':'))
        return std::nullopt;
    if (!ParseNumber(text.substr(0, 4), year) || !ParseNumber(text.substr(5, 2), month) ||
        !ParseNumber(text.substr(8, 2), day) || !ParseNumber(text.substr(11, 2), hour) ||
        !ParseNumber(text.substr(14, 2), minute) || (text.size() == 19 && !ParseNumber(text.substr(17, 2), second)))
        return std::nullopt;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
        (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return static_cast<std::int64_t>(timegm(&parts));
}

std::string UsageText()
{
    return "Usage: orvanta-synth --out DIR [--start 2019-06-21T21:00] [--hours N] [--bands 1,2,3,4,6]\n"
           "                     [--sectors fd,nh,sh] [--geo] [--no-bz2] [--netcdf4] [--seed N]\n"
           "                     [--scale F] [--jobs N] [--shorelines FILE] [--quiet]\n"
           "                     [--abi G16,G18,G19 [--abi-bands 2,7,8,13,16] [--abi-sectors F,C,M1,M2]\n"
           "                      [--abi-truth DIR]]\n"
           "Writes sample GOES-15 imager files (and with --geo geolocation files) into DIR.\n"
           "Without --hours: one scan of each requested sector (full disk by default) in the\n"
           "start's half-hour slot. With --hours: a day's schedule, a full disk every three hours\n"
           "and the northern and southern sectors in between.\n"
           "Sectors: fd, nh, sh, and the rarer sizes fd-wide (5212 elements), fd-short (2395\n"
           "lines), sh-narrow (1021 elements). --scale F (0 < F <= 1) shrinks every scan.\n"
           "--abi writes GOES-16/18/19 ABI Level 1b radiance files (netCDF-4) instead: one scan\n"
           "of each sector in the start's ten-minute slot, or with --hours a full disk every 10\n"
           "minutes, CONUS/PACUS every 5 and each mesoscale sector every minute. --abi-truth DIR\n"
           "writes, per file, the position and scene value behind a sample of its pixels.\n";
}

TOptions ParseOptions(const std::vector<std::string_view>& args)
{
    TOptions o;
    o.Start = kDefaultStart;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= args.size())
                throw std::invalid_argument(std::string(a) + " needs a value");
            return args[++i];
        };
        if (a == "--out") {
            o.OutDir = std::string(value());
        } else if (a == "--start") {
            const auto v = value();
            const auto t = ParseUtc(v);
            if (!t)
                throw std::invalid_argument("--start: not a UTC time like 2019-06-21T12:00: " + std::string(v));
            o.Start = *t;
        } else if (a == "--hours") {
            double h = 0;
            const auto v = value();
            if (!ParseNumber(v, h) || !(h > 0) || h > 24 * 366)
                throw std::invalid_argument("--hours: expected a positive number of hours: " + std::string(v));
            o.Hours = h;
        } else if (a == "--bands") {
            o.Bands = ParseList<int>(value(), "--bands", "band", [](std::string_view item) -> std::optional<int> {
                int b = 0;
                if (!ParseNumber(item, b) || (b < 1 || b > 6 || b == 5))
                    throw std::invalid_argument("--bands: GOES-15 imager bands are 1, 2, 3, 4 and 6: " + std::string(item));
                return b;
            });
        } else if (a == "--sectors") {
            o.Kinds = ParseList<TScanKind>(value(), "--sectors", "sector", ScanKindByName);
        } else if (a == "--abi") {
            // Repeatable: each occurrence adds satellites.
            for (int s : ParseList<int>(value(), "--abi", "satellite", AbiSatelliteNumber))
                if (std::find(o.AbiSatellites.begin(), o.AbiSatellites.end(), s) == o.AbiSatellites.end())
                    o.AbiSatellites.push_back(s);
        } else if (a == "--abi-bands") {
            o.AbiBands =
                ParseList<int>(value(), "--abi-bands", "band", [](std::string_view item) -> std::optional<int> {
                    int b = 0;
                    if (!ParseNumber(item, b) || !AbiBand(b))
                        throw std::invalid_argument("--abi-bands: ABI bands are 1 to 16: " + std::string(item));
                    return b;
                });
        } else if (a == "--abi-sectors") {
            o.AbiSectors = ParseList<TAbiSectorKind>(value(), "--abi-sectors", "sector", AbiSectorByName);
        } else if (a == "--abi-truth") {
            o.AbiTruthDir = std::string(value());
        } else if (a == "--geo") {
            o.Geo = true;
        } else if (a == "--no-bz2") {
            o.Bz2 = false;
        } else if (a == "--netcdf4") {
            o.NetCdf4 = true;
        } else if (a == "--seed") {
            const auto v = value();
            if (!ParseNumber(v, o.Seed))
                throw std::invalid_argument("--seed: expected a whole number: " + std::string(v));
        } else if (a == "--scale") {
            const auto v = value();
            if (!ParseNumber(v, o.Scale) || !(o.Scale > 0.0 && o.Scale <= 1.0))
                throw std::invalid_argument("--scale: expected a number above 0 and at most 1: " + std::string(v));
        } else if (a == "--jobs") {
            const auto v = value();
            if (!ParseNumber(v, o.Jobs) || o.Jobs < 1 || o.Jobs > 64)
                throw std::invalid_argument("--jobs: expected 1 to 64: " + std::string(v));
        } else if (a == "--shorelines") {
            o.Shorelines = std::string(value());
        } else if (a == "--quiet") {
            o.Quiet = true;
        } else if (a == "--help" || a == "-h") {
            o.Help = true;
        } else {
            throw std::invalid_argument("unknown option: " + std::string(a));
        }
    }
    if (o.OutDir.empty() && !o.Help)
        throw std::invalid_argument("--out DIR is required");
    // Options of the one kind of file given for the other would be silently ignored.
    const bool abi = !o.AbiSatellites.empty();
    std::string_view stray;
    for (std::string_view a : args) {
        const bool abiOption = a.starts_with("--abi-");
        const bool goes15Option =
            a == "--sectors" || a == "--bands" || a == "--geo" || a == "--scale" || a == "--no-bz2" || a == "--netcdf4";
        if ((abiOption && !abi) || (goes15Option && abi))
            stray = a;
    }
    if (!stray.empty())
        throw std::invalid_argument(std::string(stray) +
                                    (abi ? " is for GOES-15 files, not with --abi" : " needs --abi"));
    return o;
}

std::vector<TScanJob> MakeSchedule(const TOptions& options)
{
    const std::int64_t first = options.Start - ((options.Start % kSlot) + kSlot) % kSlot;
    std::vector<TScanKind> kinds = options.Kinds;
    if (kinds.empty()) {
        if (options.Hours)
            kinds = {TScanKind::FullDisk, TScanKind::Northern, TScanKind::Southern};
        else
            kinds = {TScanKind::FullDisk};
    }
    std::vector<TScanJob> jobs;
    const std::int64_t slots = options.Hours ? static_cast<std::int64_t>(std::ceil(*options.Hours * 2.0 - 1e-9)) : 1;
    for (std::int64_t s = 0; s < slots; ++s) {
        const std::int64_t slot = first + s * kSlot;
        const bool fullDiskSlot = slot % (3 * 3600) == 0;
        std::set<std::int64_t> used;
        for (TScanKind k : kinds) {
            if (options.Hours && IsFullDisk(k) != fullDiskSlot)
                continue;
            std::int64_t start = slot + OffsetInSlot(k);
            while (used.count(start))
                start += 60;
            used.insert(start);
            jobs.push_back({start, k});
        }
    }
    std::sort(jobs.begin(), jobs.end(), [](const TScanJob& a, const TScanJob& b) { return a.Start < b.Start; });
    return jobs;
}

} // namespace synth

namespace synth {

std::vector<TAbiScanJob> MakeAbiSchedule(const TOptions& options)
{
    struct TCadence {
        TAbiSectorKind Sector;
        std::int64_t Every, OffsetTenths; // seconds; tenths into the repeat
    };
    // Where in its repeat each sector's scan starts in Mode 6.
    static constexpr TCadence kCadences[] = {
        {TAbiSectorKind::Full, 600, 204},
        {TAbiSectorKind::Conus, 300, 774},
        {TAbiSectorKind::Meso1, 60, 245},
        {TAbiSectorKind::Meso2, 60, 545},
    };
    constexpr std::int64_t slot = 600;
    const std::int64_t first = options.Start - ((options.Start % slot) + slot) % slot;
    std::vector<TAbiScanJob> jobs;
    for (int satellite : options.AbiSatellites) {
        for (const auto& c : kCadences) {
            if (std::find(options.AbiSectors.begin(), options.AbiSectors.end(), c.Sector) == options.AbiSectors.end())
                continue;
            const std::int64_t count =
                options.Hours ? static_cast<std::int64_t>(std::ceil(*options.Hours * 3600.0 / c.Every - 1e-9)) : 1;
            for (std::int64_t i = 0; i < count; ++i)
                jobs.push_back({satellite, c.Sector, (first + i * c.Every) * 10 + c.OffsetTenths});
        }
    }
    std::stable_sort(jobs.begin(), jobs.end(),
                     [](const TAbiScanJob& a, const TAbiScanJob& b) { return a.StartTenths < b.StartTenths; });
    return jobs;
}

} // namespace synth

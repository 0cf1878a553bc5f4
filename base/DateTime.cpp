#include "base/DateTime.h"

#include <chrono>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kCumulativeDays[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

// Day number of 1899-12-30 counted from 0001-01-01 as day 1.
constexpr std::int64_t kDateDelta = 693594;

void AppendNumber(std::string& out, int value, int width)
{
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (value < 0) out += '-';
    for (int i = static_cast<int>(digits.size()); i < width; ++i) out += '0';
    out += digits;
}

}  // namespace

bool IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month)
{
    const auto& t = kCumulativeDays[IsLeapYear(year) ? 1 : 0];
    return t[month] - t[month - 1];
}

std::optional<TDateTime> TryEncodeDate(int year, int month, int day)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12) return std::nullopt;
    if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
    const std::int64_t y = year - 1;
    const std::int64_t n = y * 365 + y / 4 - y / 100 + y / 400
        + kCumulativeDays[IsLeapYear(year) ? 1 : 0][month - 1] + day;
    return static_cast<TDateTime>(n - kDateDelta);
}

std::optional<TDateTime> TryEncodeTime(int hour, int minute, int second, int msec)
{
    if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60
        || msec < 0 || msec >= 1000)
        return std::nullopt;
    const double ms = ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec;
    return ms / MSecsPerDay;
}

TDateTimeParts DecodeDateTime(TDateTime value)
{
    TDateTimeParts p;
    // Negative values keep their time of day as a positive fraction, the way the format
    // has always counted days before 1899-12-30.
    const std::int64_t total = static_cast<std::int64_t>(std::nearbyint(value * MSecsPerDay));
    const std::int64_t msPerDay = static_cast<std::int64_t>(MSecsPerDay);
    std::int64_t dayNumber = total / msPerDay + kDateDelta;  // 1 = 0001-01-01
    std::int64_t timeMs = (total < 0 ? -total : total) % msPerDay;

    p.Hour = static_cast<int>(timeMs / 3600000);
    p.Minute = static_cast<int>(timeMs / 60000 % 60);
    p.Second = static_cast<int>(timeMs / 1000 % 60);
    p.MSec = static_cast<int>(timeMs % 1000);

    if (dayNumber <= 0) return p;  // before year 1: no calendar date
    std::int64_t d = dayNumber - 1;
    std::int64_t y = 1;
    const std::int64_t d400 = 146097, d100 = 36524, d4 = 1461;
    y += d / d400 * 400;
    d %= d400;
    std::int64_t c = d / d100;
    if (c == 4) c = 3;
    y += c * 100;
    d -= c * d100;
    y += d / d4 * 4;
    d %= d4;
    std::int64_t a = d / 365;
    if (a == 4) a = 3;
    y += a;
    d -= a * 365;
    p.Year = static_cast<int>(y);
    const auto& t = kCumulativeDays[IsLeapYear(p.Year) ? 1 : 0];
    int m = 1;
    while (m < 12 && d >= t[m]) ++m;
    p.Month = m;
    p.Day = static_cast<int>(d - t[m - 1] + 1);
    return p;
}

std::string DatedDirectory(const std::string& root, TDateTime imageTime)
{
    return root + FormatDateTime("yyyy/mm/dd/", imageTime);
}

std::string FormatDateTime(std::string_view format, TDateTime value)
{
    const TDateTimeParts p = DecodeDateTime(value);
    std::string out;
    out.reserve(format.size() + 8);
    std::size_t i = 0;
    auto run = [&](char c) {
        std::size_t n = 0;
        while (i + n < format.size() && (format[i + n] | 0x20) == c) ++n;
        return n;
    };
    while (i < format.size()) {
        const char c = static_cast<char>(format[i] | 0x20);
        std::size_t n = 0;
        switch (c) {
        case 'y':
            n = run('y');
            if (n >= 3) AppendNumber(out, p.Year, 4);
            else AppendNumber(out, p.Year % 100, 2);
            break;
        case 'm':
            n = std::min<std::size_t>(run('m'), 2);
            AppendNumber(out, p.Month, static_cast<int>(n));
            break;
        case 'd':
            n = std::min<std::size_t>(run('d'), 2);
            AppendNumber(out, p.Day, static_cast<int>(n));
            break;
        case 'h':
            n = std::min<std::size_t>(run('h'), 2);
            AppendNumber(out, p.Hour, static_cast<int>(n));
            break;
        case 'n':
            n = std::min<std::size_t>(run('n'), 2);
            AppendNumber(out, p.Minute, static_cast<int>(n));
            break;
        case 's':
            n = std::min<std::size_t>(run('s'), 2);
            AppendNumber(out, p.Second, static_cast<int>(n));
            break;
        case 'z':
            n = run('z');
            if (n >= 3) { n = 3; AppendNumber(out, p.MSec, 3); }
            else { n = 1; AppendNumber(out, p.MSec, 1); }
            break;
        default:
            out += format[i];
            n = 1;
            break;
        }
        i += n;
    }
    return out;
}

TDateTime UnixMsToDateTime(std::int64_t unixMs)
{
    return UnixDateDelta + static_cast<double>(unixMs) / MSecsPerDay;
}

std::int64_t DateTimeToUnixMs(TDateTime value)
{
    return static_cast<std::int64_t>(std::nearbyint((value - UnixDateDelta) * MSecsPerDay));
}

TDateTime UtcNow()
{
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    return UnixMsToDateTime(ms);
}

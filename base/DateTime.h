#pragma once
// Date-time values as the station software has always kept them: days since 30 December 1899
// 00:00, the time of day as the fraction, always UTC. Formatting follows the classic pattern
// letters so log lines, names and directories keep their established look.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using TDateTime = double;

constexpr double MSecsPerDay = 86400000.0;
// 1970-01-01 00:00 as a date-time value.
constexpr TDateTime UnixDateDelta = 25569.0;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// nullopt when the date or time cannot be represented (year outside 1..9999, month 1..12,
// day within the month; hour < 24, minute and second < 60, millisecond < 1000).
std::optional<TDateTime> TryEncodeDate(int year, int month, int day);
std::optional<TDateTime> TryEncodeTime(int hour, int minute, int second, int msec);

struct TDateTimeParts {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, MSec = 0;
};
// Rounded to the nearest millisecond first, so 12:59:59.9996 shows as 13:00:00.000.
TDateTimeParts DecodeDateTime(TDateTime value);

// Pattern letters: yyyy yy mm m dd d hh h nn n ss s zzz z; anything else is copied.
std::string FormatDateTime(std::string_view format, TDateTime value);

// The dated sub-directory "yyyy/mm/dd/" of a root that ends with '/'; the raw archive, the
// images and the geolocation copies are all filed this way.
std::string DatedDirectory(const std::string& root, TDateTime imageTime);

TDateTime UnixMsToDateTime(std::int64_t unixMs);
std::int64_t DateTimeToUnixMs(TDateTime value);

// The current UTC date and time.
TDateTime UtcNow();

#include "UtcTime.h"

namespace
{
// 100-nanosecond ticks per second, and the ticks from 1601-01-01 to 1970-01-01.
constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kTicksFrom1601To1970 = 116'444'736'000'000'000;
constexpr int64_t kSecondsPerDay = 86'400;

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t DaysSince1970(int year, int month, int day)
{
    // Counting years from March on puts the leap day at the end of the counted year.
    const int shiftedYear = month <= 2 ? year - 1 : year;
    const int era = shiftedYear / 400;
    const int yearOfEra = shiftedYear - era * 400;
    const int monthFromMarch = month > 2 ? month - 3 : month + 9;
    const int dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    // 719468 days lie between 0000-03-01 and 1970-01-01.
    return static_cast<int64_t>(era) * 146'097 + dayOfEra - 719'468;
}

// `count` decimal digits at `at`; false on anything else.
bool ReadDigits(std::string_view text, size_t at, size_t count, int& value)
{
    value = 0;
    for (size_t i = at; i < at + count; ++i)
    {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}
} // namespace

int64_t UnixSecondsFromFileTime(uint64_t ticks) noexcept
{
    if (ticks >= kTicksFrom1601To1970)
        return static_cast<int64_t>((ticks - kTicksFrom1601To1970) / kTicksPerSecond);
    // Before 1970: round toward the earlier second, as for later times.
    const uint64_t before = kTicksFrom1601To1970 - ticks;
    return -static_cast<int64_t>((before + kTicksPerSecond - 1) / kTicksPerSecond);
}

bool ParseUtcTimestamp(std::string_view text, int64_t& seconds) noexcept
{
    // YYYY-MM-DDTHH:MM:SSZ
    constexpr size_t kLength = 20;
    if (text.size() != kLength || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!ReadDigits(text, 0, 4, year) || !ReadDigits(text, 5, 2, month) || !ReadDigits(text, 8, 2, day) ||
        !ReadDigits(text, 11, 2, hour) || !ReadDigits(text, 14, 2, minute) ||
        !ReadDigits(text, 17, 2, second))
        return false;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    seconds = DaysSince1970(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    return true;
}

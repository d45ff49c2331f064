// Calendar arithmetic in UTC: the platform's file-time ticks and the timestamps of the
// update information, both as whole seconds since 1970-01-01 00:00 UTC.
#pragma once

#include <cstdint>
#include <string_view>

// Whole seconds since 1970 for a count of 100-nanosecond ticks since 1601-01-01 00:00
// UTC (the platform's system time), rounded down; negative before 1970.
int64_t UnixSecondsFromFileTime(uint64_t ticks) noexcept;

// Reads exactly "YYYY-MM-DDTHH:MM:SSZ" (UTC, years 1970 to 9999, a real calendar day,
// no leap second) into whole seconds since 1970. False for any other text, `seconds`
// then unchanged.
[[nodiscard]] bool ParseUtcTimestamp(std::string_view text, int64_t& seconds) noexcept;

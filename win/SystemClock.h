// The system clock, the one every time limit and expiry of the updater is read from.
#pragma once

#include <cstdint>

// The current system time (UTC) in whole seconds since 1970-01-01 00:00 UTC. Read from
// the system time every Windows version offers, so it needs no newer runtime.
int64_t SystemClockSeconds() noexcept;

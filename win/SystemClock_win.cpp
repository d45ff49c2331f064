#include "SystemClock.h"

#include <windows.h>

#include "UtcTime.h"

int64_t SystemClockSeconds() noexcept
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return UnixSecondsFromFileTime((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

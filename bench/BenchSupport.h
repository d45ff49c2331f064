// Shared by the bench programs: a high-resolution clock, the process's CPU time and
// peak working set, and the one output format that bench/report.py reads.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

namespace bench
{
inline int64_t Ticks()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

inline double TicksToMs(int64_t ticks)
{
    static const double perMs = []
    {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    return static_cast<double>(ticks) / perMs;
}

inline double MsSince(int64_t start)
{
    return TicksToMs(Ticks() - start);
}

inline uint64_t FileTimeValue(const FILETIME& time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// User and kernel time of this process so far, in ms. The platform counts it in clock
// ticks (10 ms under Wine), so only differences over long runs mean anything.
inline double ProcessCpuMs()
{
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user))
        return 0;
    return static_cast<double>(FileTimeValue(kernel) + FileTimeValue(user)) / 10000.0;
}

// The largest working set a process has had, in KiB.
inline double PeakWorkingSetKiB(HANDLE process = GetCurrentProcess())
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters))
        return 0;
    return static_cast<double>(counters.PeakWorkingSetSize) / 1024.0;
}

// One measurement: "RESULT <group> <name> <value>", one line, flushed at once so that a
// program killed later still leaves what it measured.
inline void Result(const std::string& group, const std::string& name, double value)
{
    std::printf("RESULT %s %s %.6f\n", group.c_str(), name.c_str(), value);
    std::fflush(stdout);
}

inline void Note(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

inline std::string Env(const char* name)
{
    char value[1024] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}
} // namespace bench

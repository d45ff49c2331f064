// Counting running processes by image name, with the enumeration service of the
// platform family the updater runs on.
#pragma once

#include <windows.h>

#include <string>

// Platform families as GetVersionExA reports them.
constexpr DWORD kPlatformWindows9x = VER_PLATFORM_WIN32_WINDOWS; // 1: Toolhelp
constexpr DWORD kPlatformNt = VER_PLATFORM_WIN32_NT;             // 2: Psapi.dll

// dwPlatformId of GetVersionExA; 0xFFFFFFFF when the query fails, so that a failure
// selects neither family.
DWORD GetPlatformId() noexcept;

// How many running processes have an image name containing `text` (case-sensitive, by
// whole characters of the ANSI code page; an empty text matches every name): the full
// executable path on the NT family (asked of the process itself where its modules cannot
// be read, as those of a 64-bit program by this 32-bit one), Toolhelp's image name on the
// 9x family. 0 also when processes cannot be enumerated; a process that cannot be
// examined is not counted.
[[nodiscard]] int CountRunningProcesses(const std::string& text);

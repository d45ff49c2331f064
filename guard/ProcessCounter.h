// Which platform family the updater runs on, for choosing a process-enumeration service.
#pragma once

#include <windows.h>

// Platform families as GetVersionExA reports them.
constexpr DWORD kPlatformWindows9x = VER_PLATFORM_WIN32_WINDOWS; // 1: Toolhelp
constexpr DWORD kPlatformNt = VER_PLATFORM_WIN32_NT;             // 2: Psapi.dll

// dwPlatformId of GetVersionExA; 0xFFFFFFFF when the query fails, so that a failure
// selects neither family.
DWORD GetPlatformId() noexcept;

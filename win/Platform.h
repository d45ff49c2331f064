// Small services of the platform that several layers need, each written once.
#pragma once

#include <windows.h>

#include <string>

// True when `byte` starts a two-byte character in the system's ANSI code page.
bool IsLeadByte(unsigned char character) noexcept;

// True on Windows 95, 98 and ME, as GetVersionExA reports them; false on the NT family,
// and when the system cannot be told (whatever the NT family requires is then required).
bool IsWindows9xFamily() noexcept;

// The running executable's directory with its trailing backslash; empty when the path
// cannot be read whole or has no backslash.
std::string ExecutableDirectory();

// Loads the system library `fileName` (like "crypt32.dll") by its full path in the system
// folder, so that a copy planted beside the updater or in a folder the user chose is never
// the one loaded; null when it cannot be loaded. The library stays loaded until the process
// ends: the updater never unloads what it binds.
HMODULE LoadSystemLibrary(const char* fileName) noexcept;

// Binds an entry point of a library loaded at run time, typed as the caller expects it;
// null when the library lacks it.
template <typename Function> Function BindProcedure(HMODULE library, const char* name) noexcept
{
    // FARPROC has the wrong signature for every entry point. Going through
    // void (*)(void), the one function type that converts to any other without a warning,
    // leaves the real signature to `Function`.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

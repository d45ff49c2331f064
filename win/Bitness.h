// What differs between the shipped 32-bit updater and the 64-bit build of the same source
// that stands in for it where a host cannot run 32-bit code. Each difference is said here
// once; the 64-bit build otherwise behaves as the 32-bit updater does under WoW64.
#pragma once

#include <windows.h>

// True in the 64-bit build.
constexpr bool kIs64BitBuild = sizeof(void*) == 8;

// The ANSI PROCESSENTRY32 record as Toolhelp takes it: 296 bytes in a 32-bit process, 304
// in a 64-bit one (its ULONG_PTR field and the alignment that follows).
constexpr DWORD kProcessEntrySize = kIs64BitBuild ? 304 : 296;

// The registry view of the product's settings. The product and its installer are 32-bit,
// so its per-machine settings live in the 32-bit view (Software\Wow6432Node to 64-bit
// programs). The shipped updater is 32-bit and sees that view without asking; older
// systems do not know the flag, so it asks for nothing. The 64-bit build asks for the
// same view explicitly.
constexpr REGSAM kSettingsRegistryView = kIs64BitBuild ? KEY_WOW64_32KEY : 0;

// The Windows 9x road (Toolhelp, taken when GetVersionExA reports the 9x family) is the
// same code in both builds; only the 32-bit updater can meet Windows 98 and ME, where it
// rests on the record size above. The 64-bit build takes it only where a test makes Wine
// report Windows 98.

// The product's settings in the registry: reading its texts and seeding the per-user
// key with the product's defaults.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

// Read buffers: 261 bytes for per-user texts, 262 for per-machine ones.
constexpr DWORD kUserTextBuffer = 261;
constexpr DWORD kMachineTextBuffer = 262;

// Reads a REG_SZ value into a buffer of `bufferBytes`. False when the value is missing,
// is not REG_SZ, or does not fit (terminator included); `text` is then unchanged. A text
// stored without its terminator is cut at the byte count the registry returns.
[[nodiscard]] bool ReadRegistryText(HKEY key, const char* name, DWORD bufferBytes, std::string& text);

// Seeds the per-user settings key with the default table. The installation directory
// and language are written when known; every other value only where the key has no
// REG_SZ value of that name yet, so settings the user changed survive.
void SeedUserSettings(const std::optional<std::string>& installDirectory,
                      const std::optional<std::string>& language);

// When the per-machine settings key exists, seeds the per-user key from it.
void CopyMachineSettings();

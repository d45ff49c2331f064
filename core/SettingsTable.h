// The product's default per-user settings: 51 string values in the order of writing.
#pragma once

#include <cstddef>

// The settings subkey, under both the per-user and the per-machine root.
constexpr const char* kSettingsSubkey = "Software\\Brannick\\Quorvel";
constexpr const char* kAppPathValue = "AppPath";
constexpr const char* kCurrLanguageValue = "CurrLanguage";
constexpr const char* kDefaultLanguage = "English";

enum class SettingSource
{
    InstallDirectory, // the caller's installation directory
    Language,         // the caller's language folder name
    Fixed,            // the table's own text
};

struct DefaultSetting
{
    const char* name;
    SettingSource source;
    const char* text; // for Fixed; empty otherwise
};

constexpr size_t kDefaultSettingCount = 51;
extern const DefaultSetting kDefaultSettings[kDefaultSettingCount];

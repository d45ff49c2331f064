// The product's settings keys (per user and per machine) as the tests arrange and read
// them: raw values of any type, and every value of a key as it is stored.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace testsettings
{
struct RegValue
{
    DWORD type = 0;
    std::string data; // raw bytes, terminator included for REG_SZ
    bool operator==(const RegValue& other) const { return type == other.type && data == other.data; }
};
using Values = std::map<std::string, RegValue>;

// The settings keys are reached in the registry view the updater uses (win/Bitness.h):
// the 32-bit one, where a 32-bit installer of the product writes them.

// Removes both settings keys, so each test starts from nothing.
void ClearSettings();
// Removes the settings key under `root` with everything in it.
void DeleteSettings(HKEY root);

// Writes `bytes` as a value of `type` into the settings key under `root`, creating it.
void SetRaw(HKEY root, const char* name, DWORD type, const std::string& bytes);
// A REG_SZ value with its terminator.
void SetText(HKEY root, const char* name, const std::string& text);
void SetNumber(HKEY root, const char* name, DWORD number);

// A REG_SZ value of `text` as ReadAll gives it.
RegValue TextValue(const std::string& text);

bool KeyExists(HKEY root);

// Every value of the settings key under `root`, by name; empty when the key is missing.
Values ReadAll(HKEY root);

// A REG_SZ value's text without its terminator, or "<missing>" / "<type N>".
std::string TextOf(const Values& values, const std::string& name);
} // namespace testsettings

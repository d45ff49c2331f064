// Helpers shared by the Windows tests: scratch registry state, paths of the build.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "SettingsTable.h"

namespace wintest
{
struct RegValue
{
    DWORD type = 0;
    std::string data; // raw bytes, terminator included for REG_SZ
};

inline void DeleteTree(HKEY root, const char* subkey)
{
    (void)RegDeleteTreeA(root, subkey);
}

// Removes both settings keys, so each test starts from nothing.
inline void ClearSettings()
{
    DeleteTree(HKEY_CURRENT_USER, kSettingsSubkey);
    DeleteTree(HKEY_LOCAL_MACHINE, kSettingsSubkey);
}

inline void SetRaw(HKEY root, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, kSettingsSubkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
    {
        (void)RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
}

inline void SetText(HKEY root, const char* name, const std::string& text)
{
    SetRaw(root, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

inline void SetNumber(HKEY root, const char* name, DWORD number)
{
    SetRaw(root, name, REG_DWORD, &number, sizeof number);
}

inline bool KeyExists(HKEY root)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kSettingsSubkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Every value of a settings key, by name.
inline std::map<std::string, RegValue> ReadAll(HKEY root)
{
    std::map<std::string, RegValue> values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kSettingsSubkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index)
    {
        char name[512];
        DWORD nameLength = sizeof name;
        BYTE data[4096];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        values[std::string(name, nameLength)] =
            RegValue{type, std::string(reinterpret_cast<char*>(data), dataSize)};
    }
    RegCloseKey(key);
    return values;
}

// A REG_SZ value's text without its terminator, or "<missing>" / "<type N>".
inline std::string TextOf(const std::map<std::string, RegValue>& values, const std::string& name)
{
    const auto found = values.find(name);
    if (found == values.end())
        return "<missing>";
    if (found->second.type != REG_SZ)
        return "<type " + std::to_string(found->second.type) + ">";
    std::string text = found->second.data;
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

// Directory of the test executable (the build directory), with a trailing backslash.
inline std::string BuildDirectory()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string directory(path);
    return directory.substr(0, directory.find_last_of('\\') + 1);
}
} // namespace wintest

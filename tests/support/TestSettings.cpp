#include "TestSettings.h"

#include "Bitness.h"
#include "SettingsTable.h"

namespace testsettings
{
void DeleteSettings(HKEY root)
{
    // RegDeleteTreeA has no view of its own: it follows the handle it is given.
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kSettingsSubkey, 0, KEY_ALL_ACCESS | kSettingsRegistryView, &key) != ERROR_SUCCESS)
        return;
    (void)RegDeleteTreeA(key, nullptr);
    RegCloseKey(key);
    HKEY parent = nullptr;
    if (RegOpenKeyExA(root, "Software\\Brannick", 0, KEY_ALL_ACCESS | kSettingsRegistryView, &parent) !=
        ERROR_SUCCESS)
        return;
    (void)RegDeleteKeyA(parent, "Quorvel");
    RegCloseKey(parent);
}

void ClearSettings()
{
    DeleteSettings(HKEY_CURRENT_USER);
    DeleteSettings(HKEY_LOCAL_MACHINE);
}

void SetRaw(HKEY root, const char* name, DWORD type, const std::string& bytes)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, kSettingsSubkey, 0, nullptr, 0, KEY_ALL_ACCESS | kSettingsRegistryView, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    (void)RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                         static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

void SetText(HKEY root, const char* name, const std::string& text)
{
    SetRaw(root, name, REG_SZ, text + '\0');
}

void SetNumber(HKEY root, const char* name, DWORD number)
{
    SetRaw(root, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof number));
}

RegValue TextValue(const std::string& text)
{
    return RegValue{REG_SZ, text + '\0'};
}

bool KeyExists(HKEY root)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kSettingsSubkey, 0, KEY_READ | kSettingsRegistryView, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

Values ReadAll(HKEY root)
{
    Values values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kSettingsSubkey, 0, KEY_READ | kSettingsRegistryView, &key) != ERROR_SUCCESS)
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

std::string TextOf(const Values& values, const std::string& name)
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
} // namespace testsettings

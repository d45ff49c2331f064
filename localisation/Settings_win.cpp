#include "Settings.h"

#include <vector>

#include "Bitness.h"
#include "Handles.h"
#include "SettingsTable.h"

bool ReadRegistryText(HKEY key, const char* name, DWORD bufferBytes, std::string& text)
{
    // One spare byte so a text stored without its terminator can still be terminated.
    std::vector<char> buffer(bufferBytes + 1, '\0');
    DWORD type = 0;
    DWORD size = bufferBytes;
    const LONG status =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (status != ERROR_SUCCESS || type != REG_SZ || size > bufferBytes)
        return false;
    buffer[size] = '\0';
    text.assign(buffer.data());
    return true;
}

namespace
{
bool HasTextValue(HKEY key, const char* name)
{
    DWORD type = 0;
    return RegQueryValueExA(key, name, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS && type == REG_SZ;
}

void WriteText(HKEY key, const char* name, const std::string& text)
{
    // REG_SZ with its terminator: an empty text is one byte.
    (void)RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>(text.size() + 1));
}

// The text a table entry should get, or nothing when the user's value is to be kept.
std::optional<std::string> SeedText(const DefaultSetting& setting, HKEY existing,
                                    const std::optional<std::string>& installDirectory,
                                    const std::optional<std::string>& language)
{
    if (setting.source == SettingSource::InstallDirectory && installDirectory)
        return installDirectory;
    if (setting.source == SettingSource::Language && language)
        return language;
    if (HasTextValue(existing, setting.name))
        return std::nullopt;
    return std::string(setting.text);
}
} // namespace

void SeedUserSettings(const std::optional<std::string>& installDirectory,
                      const std::optional<std::string>& language)
{
    UniqueRegistryKey created;
    char emptyClass[] = "";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsSubkey, 0, emptyClass, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE | kSettingsRegistryView, nullptr, created.put(),
                        nullptr) != ERROR_SUCCESS)
        return;
    UniqueRegistryKey writable;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsSubkey, 0, KEY_WRITE | kSettingsRegistryView,
                      writable.put()) != ERROR_SUCCESS)
        return;
    for (const DefaultSetting& setting : kDefaultSettings)
    {
        const std::optional<std::string> text = SeedText(setting, created.get(), installDirectory, language);
        if (text)
            WriteText(writable.get(), setting.name, *text);
    }
}

void CopyMachineSettings()
{
    UniqueRegistryKey machine;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, 0, KEY_QUERY_VALUE | kSettingsRegistryView,
                      machine.put()) != ERROR_SUCCESS)
        return;
    std::optional<std::string> installDirectory;
    std::optional<std::string> language;
    std::string text;
    if (ReadRegistryText(machine.get(), kAppPathValue, kMachineTextBuffer, text))
        installDirectory = text;
    if (ReadRegistryText(machine.get(), kCurrLanguageValue, kMachineTextBuffer, text))
        language = text;
    machine.reset();
    SeedUserSettings(installDirectory, language);
}

#include "LanguageModule.h"

#include <atomic>
#include <vector>

#include "Bitness.h"
#include "CodePageRule.h"
#include "Handles.h"
#include "ModulePath.h"
#include "Platform.h"
#include "Settings.h"
#include "SettingsTable.h"
#include "StringTable.h"
#include "UpdateHost.h"

namespace
{
void ShowResourceError(const std::string& message)
{
    (void)MessageBoxA(nullptr, message.c_str(), "Quorvel", MB_ICONERROR);
}

ResourceErrorReporter g_reportResourceError = ShowResourceError;

struct UserLanguageSettings
{
    std::string appPath;
    std::string language;
};

bool UserSettingsReadable()
{
    UniqueRegistryKey user;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsSubkey, 0, KEY_QUERY_VALUE | kSettingsRegistryView,
                      user.put()) != ERROR_SUCCESS)
        return false;
    std::string appPath;
    std::string language;
    return ReadRegistryText(user.get(), kAppPathValue, kUserTextBuffer, appPath) &&
           ReadRegistryText(user.get(), kCurrLanguageValue, kUserTextBuffer, language);
}

UserLanguageSettings ReadUserLanguageSettings()
{
    UserLanguageSettings settings;
    UniqueRegistryKey user;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsSubkey, 0, KEY_QUERY_VALUE | kSettingsRegistryView,
                      user.put()) == ERROR_SUCCESS)
    {
        if (!ReadRegistryText(user.get(), kAppPathValue, kUserTextBuffer, settings.appPath))
            settings.appPath.clear();
        if (!ReadRegistryText(user.get(), kCurrLanguageValue, kUserTextBuffer, settings.language))
            settings.language = kDefaultLanguage;
    }
    if (settings.language.empty())
        settings.language = kDefaultLanguage;
    return settings;
}

// Loads a module only by a fully qualified path: a relative path would be looked for
// along the DLL search path, the current directory included, where anyone could have
// planted a Res.dll. Such paths are taken relative to the updater's own directory.
HMODULE LoadModuleAt(const std::string& appPath, const std::string& language, DWORD& error)
{
    const std::string path = AnchorToDirectory(ComposeModulePath(appPath, language), ExecutableDirectory());
    if (!IsFullyQualifiedPath(path))
    {
        error = ERROR_BAD_PATHNAME;
        return nullptr;
    }
    if (path.size() >= kMaxPath)
    {
        error = ERROR_FILENAME_EXCED_RANGE;
        return nullptr;
    }
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr)
        error = GetLastError();
    return module;
}

std::string SystemErrorText(DWORD errorCode)
{
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
        errorCode, LANG_USER_DEFAULT, reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr)
        return "No description is available for this error.";
    std::string text(buffer, length);
    LocalFree(buffer);
    return text;
}

// The rule is fixed by the first conversion; any thread would choose the same one.
std::atomic<CodePageRule> g_codePageRule{CodePageRule::Undecided};

CodePageRule CurrentCodePageRule()
{
    CodePageRule rule = g_codePageRule.load();
    if (rule != CodePageRule::Undecided)
        return rule;
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info))
        info.dwPlatformId = 0;
    CodePageRule chosen = ChooseCodePageRule(info.dwPlatformId, info.dwMajorVersion);
    CodePageRule expected = CodePageRule::Undecided;
    if (!g_codePageRule.compare_exchange_strong(expected, chosen))
        chosen = expected;
    return chosen;
}

UINT ConversionCodePage()
{
    if (CurrentCodePageRule() == CodePageRule::ThreadAnsi)
        return CP_THREAD_ACP;
    char text[6] = {};
    const int length = GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text);
    const uint32_t codePage = length > 0 ? ParseCodePageText(text, static_cast<size_t>(length)) : 0;
    return codePage != 0 ? codePage : GetACP();
}
} // namespace

void SetResourceErrorReporter(ResourceErrorReporter reporter)
{
    g_reportResourceError = reporter != nullptr ? reporter : ShowResourceError;
}

std::string ResourcesNotFoundMessage(DWORD errorCode, const std::string& appPath)
{
    std::string message = "Critical error - Resources not found!\n\nError: ";
    message += std::to_string(static_cast<long>(static_cast<LONG>(errorCode)));
    message += "\nDetails: ";
    message += SystemErrorText(errorCode);
    message += "\nPath: ";
    message += appPath;
    message += "\n\nPlease restart Quorvel or send the above information to " SEEKWELL_SUPPORT_EMAIL ".";
    return message;
}

HMODULE LoadLanguageModule()
{
    if (!UserSettingsReadable())
        CopyMachineSettings();

    const UserLanguageSettings user = ReadUserLanguageSettings();
    DWORD error = ERROR_SUCCESS;
    if (HMODULE module = LoadModuleAt(user.appPath, user.language, error))
        return module;

    UniqueRegistryKey machine;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, 0, KEY_QUERY_VALUE | kSettingsRegistryView,
                      machine.put()) != ERROR_SUCCESS)
        return nullptr;
    // Without a readable per-machine language there is nothing to try a second time;
    // the first attempt's error is then the one reported.
    HMODULE module = nullptr;
    std::string machineLanguage;
    if (ReadRegistryText(machine.get(), kCurrLanguageValue, kMachineTextBuffer, machineLanguage))
        module = LoadModuleAt(user.appPath, machineLanguage, error);
    CopyMachineSettings();
    machine.reset();
    if (module != nullptr)
        return module;

    g_reportResourceError(ResourcesNotFoundMessage(error, user.appPath));
    return nullptr;
}

bool LoadModuleString(HMODULE module, uint16_t number, std::string& target)
{
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(StringBlockId(number)), MAKEINTRESOURCEA(6));
    if (resource == nullptr)
        return false;
    HGLOBAL loaded = LoadResource(module, resource);
    const void* block = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(module, resource);
    StringEntry entry;
    if (block == nullptr || !FindStringInBlock(block, size, number, entry))
        return false;
    std::vector<char16_t> units(entry.length);
    CopyStringUnits(entry, units.data());
    const auto* wide = reinterpret_cast<const wchar_t*>(units.data());
    const int wideLength = static_cast<int>(entry.length);
    const UINT codePage = ConversionCodePage();
    const int length = WideCharToMultiByte(codePage, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return false;
    std::string converted(static_cast<size_t>(length), '\0');
    if (WideCharToMultiByte(codePage, 0, wide, wideLength, converted.data(), length, nullptr, nullptr) !=
        length)
        return false;
    target = std::move(converted);
    return true;
}

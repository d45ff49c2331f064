// Settings seeding and language-module loading against the real registry and modules.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LanguageModule.h"
#include "Settings.h"
#include "SettingsTable.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "resource.h"

using namespace testsettings;
using testfiles::BuildDirectory;

namespace
{
std::vector<std::string> g_messages;

void RecordMessage(const std::string& message)
{
    g_messages.push_back(message);
}

std::string StringOf(HMODULE module, uint16_t number)
{
    std::string text = "<unchanged>";
    (void)LoadModuleString(module, number, text);
    return text;
}

class Localisation : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ClearSettings();
        g_messages.clear();
        SetResourceErrorReporter(RecordMessage);
    }
    void TearDown() override
    {
        SetResourceErrorReporter(nullptr);
        ClearSettings();
    }
    const std::string m_build = BuildDirectory();
};
} // namespace

TEST_F(Localisation, SeedingAFreshKeyWritesExactlyTheTable)
{
    SeedUserSettings(std::string("C:\\Program Files\\Quorvel\\"), std::string("German"));
    const auto values = ReadAll(HKEY_CURRENT_USER);
    ASSERT_EQ(51u, values.size());
    for (const DefaultSetting& setting : kDefaultSettings)
    {
        const auto found = values.find(setting.name);
        ASSERT_NE(values.end(), found) << setting.name;
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), found->second.type) << setting.name;
        // Terminator included: an empty text is stored as one byte.
        EXPECT_EQ('\0', found->second.data.back()) << setting.name;
    }
    EXPECT_EQ("C:\\Program Files\\Quorvel\\", TextOf(values, "AppPath"));
    EXPECT_EQ("German", TextOf(values, "CurrLanguage"));
    EXPECT_EQ("0.87", TextOf(values, "Threshold"));
    EXPECT_EQ("4", TextOf(values, "CommandBarRowIndex"));
    EXPECT_EQ("0", TextOf(values, "CheckInboxAtStartUp"));
    EXPECT_EQ(1u, values.at("SmtpUseAuth").data.size());
    EXPECT_EQ(1u, values.at("SmtpServer").data.size());
}

TEST_F(Localisation, SeedingKeepsWhatTheUserSetButRenewsPathAndLanguage)
{
    SetText(HKEY_CURRENT_USER, "AppPath", "D:\\Old\\");
    SetText(HKEY_CURRENT_USER, "Threshold", "0.5");
    SetText(HKEY_CURRENT_USER, "SmtpServer", "mail.example.org");
    SetText(HKEY_CURRENT_USER, "ProductOwnValue", "kept");
    SetNumber(HKEY_CURRENT_USER, "FirstRun", 0);
    SeedUserSettings(std::string("C:\\Quorvel\\"), std::string("English"));
    const auto values = ReadAll(HKEY_CURRENT_USER);
    EXPECT_EQ(52u, values.size());
    EXPECT_EQ("C:\\Quorvel\\", TextOf(values, "AppPath"));
    EXPECT_EQ("English", TextOf(values, "CurrLanguage"));
    EXPECT_EQ("0.5", TextOf(values, "Threshold"));
    EXPECT_EQ("mail.example.org", TextOf(values, "SmtpServer"));
    EXPECT_EQ("kept", TextOf(values, "ProductOwnValue"));
    // A value of another type under a table name is not a setting of the product's.
    EXPECT_EQ("1", TextOf(values, "FirstRun"));
}

TEST_F(Localisation, UnknownInstallationTextsLeaveTheUsersValues)
{
    SetText(HKEY_CURRENT_USER, "AppPath", "C:\\Mine\\");
    SeedUserSettings(std::nullopt, std::nullopt);
    const auto values = ReadAll(HKEY_CURRENT_USER);
    EXPECT_EQ("C:\\Mine\\", TextOf(values, "AppPath"));
    EXPECT_EQ("", TextOf(values, "CurrLanguage"));
    EXPECT_EQ(51u, values.size());
}

TEST_F(Localisation, CopyWithoutMachineKeyTouchesNothing)
{
    CopyMachineSettings();
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER));
}

TEST_F(Localisation, CopyTakesPathAndLanguageFromTheMachineKey)
{
    SetText(HKEY_LOCAL_MACHINE, "AppPath", "C:\\Program Files\\Quorvel\\");
    SetText(HKEY_LOCAL_MACHINE, "CurrLanguage", "German");
    CopyMachineSettings();
    const auto values = ReadAll(HKEY_CURRENT_USER);
    EXPECT_EQ(51u, values.size());
    EXPECT_EQ("C:\\Program Files\\Quorvel\\", TextOf(values, "AppPath"));
    EXPECT_EQ("German", TextOf(values, "CurrLanguage"));
}

TEST_F(Localisation, MachineTextsThatDoNotFitAreNotSeeded)
{
    SetText(HKEY_LOCAL_MACHINE, "AppPath", std::string(262, 'a'));
    SetText(HKEY_LOCAL_MACHINE, "CurrLanguage", std::string(261, 'b'));
    SetText(HKEY_CURRENT_USER, "AppPath", "C:\\Kept\\");
    CopyMachineSettings();
    const auto values = ReadAll(HKEY_CURRENT_USER);
    EXPECT_EQ("C:\\Kept\\", TextOf(values, "AppPath"));
    EXPECT_EQ(std::string(261, 'b'), TextOf(values, "CurrLanguage"));
}

TEST_F(Localisation, RegistryTextReadsOnlyTextThatFits)
{
    SetText(HKEY_CURRENT_USER, "Fits", std::string(260, 'x'));
    SetText(HKEY_CURRENT_USER, "TooLong", std::string(261, 'x'));
    SetNumber(HKEY_CURRENT_USER, "Number", 7);
    SetRaw(HKEY_CURRENT_USER, "Unterminated", REG_SZ, "abc");
    SetRaw(HKEY_CURRENT_USER, "Binary", REG_BINARY, std::string("C:\\", 4));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsSubkey, 0, KEY_QUERY_VALUE, &key));
    std::string text = "before";
    EXPECT_TRUE(ReadRegistryText(key, "Fits", kUserTextBuffer, text));
    EXPECT_EQ(std::string(260, 'x'), text);
    text = "before";
    EXPECT_FALSE(ReadRegistryText(key, "TooLong", kUserTextBuffer, text));
    EXPECT_TRUE(ReadRegistryText(key, "TooLong", kMachineTextBuffer, text));
    text = "before";
    EXPECT_FALSE(ReadRegistryText(key, "Number", kUserTextBuffer, text));
    EXPECT_FALSE(ReadRegistryText(key, "Binary", kUserTextBuffer, text));
    EXPECT_FALSE(ReadRegistryText(key, "Missing", kUserTextBuffer, text));
    EXPECT_EQ("before", text);
    EXPECT_TRUE(ReadRegistryText(key, "Unterminated", kUserTextBuffer, text));
    EXPECT_EQ("abc", text);
    RegCloseKey(key);
}

TEST_F(Localisation, LoadsTheUsersLanguageWithoutWritingAnything)
{
    SetText(HKEY_CURRENT_USER, "AppPath", m_build);
    SetText(HKEY_CURRENT_USER, "CurrLanguage", "German");
    HMODULE module = LoadLanguageModule();
    ASSERT_NE(nullptr, module);
    EXPECT_EQ("Quorvel-Aktualisierung", StringOf(module, IDS_CAPTION));
    EXPECT_EQ(2u, ReadAll(HKEY_CURRENT_USER).size());
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(Localisation, EmptyLanguageMeansEnglishWithoutSeeding)
{
    SetText(HKEY_CURRENT_USER, "AppPath", m_build);
    SetText(HKEY_CURRENT_USER, "CurrLanguage", "");
    SetText(HKEY_LOCAL_MACHINE, "AppPath", "C:\\Elsewhere\\");
    HMODULE module = LoadLanguageModule();
    ASSERT_NE(nullptr, module);
    EXPECT_EQ("Quorvel Updater", StringOf(module, IDS_CAPTION));
    EXPECT_EQ(2u, ReadAll(HKEY_CURRENT_USER).size());
}

TEST_F(Localisation, MissingUserKeyIsSeededFromTheMachineKeyBeforeLoading)
{
    SetText(HKEY_LOCAL_MACHINE, "AppPath", m_build);
    SetText(HKEY_LOCAL_MACHINE, "CurrLanguage", "German");
    HMODULE module = LoadLanguageModule();
    ASSERT_NE(nullptr, module);
    EXPECT_EQ("Quorvel-Aktualisierung", StringOf(module, IDS_CAPTION));
    const auto values = ReadAll(HKEY_CURRENT_USER);
    EXPECT_EQ(51u, values.size());
    EXPECT_EQ(m_build, TextOf(values, "AppPath"));
}

TEST_F(Localisation, PathWithoutBackslashFailsTwiceAndReportsTheLoadError)
{
    const std::string appPath = m_build.substr(0, m_build.size() - 1);
    SetText(HKEY_CURRENT_USER, "AppPath", appPath);
    SetText(HKEY_CURRENT_USER, "CurrLanguage", "English");
    SetText(HKEY_CURRENT_USER, "Threshold", "0.5");
    SetText(HKEY_LOCAL_MACHINE, "AppPath", appPath);
    SetText(HKEY_LOCAL_MACHINE, "CurrLanguage", "English");
    EXPECT_EQ(nullptr, LoadLanguageModule());
    ASSERT_EQ(1u, g_messages.size());
    const std::string& message = g_messages[0];
    EXPECT_EQ(0u, message.find("Critical error - Resources not found!\n\nError: 126\nDetails: ")) << message;
    EXPECT_NE(std::string::npos, message.find("\nPath: " + appPath +
                                              "\n\nPlease restart Quorvel or send the "
                                              "above information to support@brannick.example."))
        << message;
    // The reseeding renews path and language but keeps the user's other settings.
    const auto values = ReadAll(HKEY_CURRENT_USER);
    EXPECT_EQ("0.5", TextOf(values, "Threshold"));
    EXPECT_EQ(51u, values.size());
}

TEST_F(Localisation, SecondAttemptUsesTheMachineLanguage)
{
    SetText(HKEY_CURRENT_USER, "AppPath", m_build);
    SetText(HKEY_CURRENT_USER, "CurrLanguage", "Klingon");
    SetText(HKEY_LOCAL_MACHINE, "AppPath", m_build);
    SetText(HKEY_LOCAL_MACHINE, "CurrLanguage", "German");
    HMODULE module = LoadLanguageModule();
    ASSERT_NE(nullptr, module);
    EXPECT_EQ("Quorvel-Aktualisierung", StringOf(module, IDS_CAPTION));
    EXPECT_EQ("German", TextOf(ReadAll(HKEY_CURRENT_USER), "CurrLanguage"));
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(Localisation, FailedLoadWithoutMachineKeyIsQuiet)
{
    SetText(HKEY_CURRENT_USER, "AppPath", m_build);
    SetText(HKEY_CURRENT_USER, "CurrLanguage", "Klingon");
    EXPECT_EQ(nullptr, LoadLanguageModule());
    EXPECT_TRUE(g_messages.empty());
    EXPECT_EQ(2u, ReadAll(HKEY_CURRENT_USER).size());
}

TEST_F(Localisation, WithoutSettingsTheModuleIsTakenFromTheUpdatersFolderNotTheSearchPath)
{
    // A planted module in the current directory must not be picked up.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string planted = std::string(temp) + "planted\\";
    CreateDirectoryA(planted.c_str(), nullptr);
    CreateDirectoryA((planted + "Languages").c_str(), nullptr);
    CreateDirectoryA((planted + "Languages\\English").c_str(), nullptr);
    CopyFileA((m_build + "Languages\\German\\Res.dll").c_str(),
              (planted + "Languages\\English\\Res.dll").c_str(), FALSE);
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(planted.c_str());
    HMODULE module = LoadLanguageModule();
    SetCurrentDirectoryA(previous);
    ASSERT_NE(nullptr, module);
    EXPECT_EQ("Quorvel Updater", StringOf(module, IDS_CAPTION));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER));
}

TEST_F(Localisation, TwoCallsGiveTheSameModule)
{
    SetText(HKEY_CURRENT_USER, "AppPath", m_build);
    SetText(HKEY_CURRENT_USER, "CurrLanguage", "English");
    EXPECT_EQ(LoadLanguageModule(), LoadLanguageModule());
}

TEST_F(Localisation, OverlongPathAndLanguageFailSafely)
{
    SetText(HKEY_CURRENT_USER, "AppPath", "C:\\" + std::string(256, 'p') + "\\");
    SetText(HKEY_CURRENT_USER, "CurrLanguage", std::string(260, 'l'));
    SetText(HKEY_LOCAL_MACHINE, "CurrLanguage", std::string(261, 'm'));
    EXPECT_EQ(nullptr, LoadLanguageModule());
    ASSERT_EQ(1u, g_messages.size());
    EXPECT_NE(std::string::npos, g_messages[0].find("Error: 206\n")) << g_messages[0];
}

TEST_F(Localisation, NotAModuleIsReported)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string root = std::string(temp) + "notpe\\";
    CreateDirectoryA(root.c_str(), nullptr);
    CreateDirectoryA((root + "Languages").c_str(), nullptr);
    CreateDirectoryA((root + "Languages\\English").c_str(), nullptr);
    HANDLE file = CreateFileA((root + "Languages\\English\\Res.dll").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "not a module", 12, &written, nullptr);
    CloseHandle(file);
    SetText(HKEY_CURRENT_USER, "AppPath", root);
    SetText(HKEY_CURRENT_USER, "CurrLanguage", "English");
    SetText(HKEY_LOCAL_MACHINE, "CurrLanguage", "English");
    EXPECT_EQ(nullptr, LoadLanguageModule());
    ASSERT_EQ(1u, g_messages.size());
    EXPECT_EQ(std::string::npos, g_messages[0].find("Error: 0\n")) << g_messages[0];
}

TEST(ModuleStrings, MissingAndEmptyStringsKeepTheTarget)
{
    HMODULE sparse = LoadLibraryA((BuildDirectory() + "Languages\\Sparse\\Res.dll").c_str());
    ASSERT_NE(nullptr, sparse);
    EXPECT_EQ("Sparse caption", StringOf(sparse, IDS_CAPTION));
    EXPECT_EQ("<unchanged>", StringOf(sparse, IDS_MANAGER_ENTRY));
    EXPECT_EQ("<unchanged>", StringOf(sparse, IDS_IGNORE_LABEL));
    EXPECT_EQ("<unchanged>", StringOf(sparse, IDS_READY));
    EXPECT_EQ("Last string", StringOf(sparse, 65535));
    EXPECT_EQ("String zero", StringOf(sparse, 0));
    EXPECT_EQ("<unchanged>", StringOf(sparse, 4000));
}

TEST(ModuleStrings, MalformedBlocksAreNeverReadPast)
{
    HMODULE malformed = LoadLibraryA((BuildDirectory() + "Languages\\Malformed\\Res.dll").c_str());
    ASSERT_NE(nullptr, malformed);
    EXPECT_EQ("<unchanged>", StringOf(malformed, 16)); // count runs past the block
    EXPECT_EQ("<unchanged>", StringOf(malformed, 17)); // entry beyond the block
    EXPECT_EQ("<unchanged>", StringOf(malformed, 32)); // block of one byte
    EXPECT_EQ("<unchanged>", StringOf(malformed, 63)); // huge count
    EXPECT_EQ("OK", StringOf(malformed, 64));
}

TEST(ModuleStrings, TheUpdatersOwnTableHoldsTheAboutItem)
{
    EXPECT_EQ("&About Seekwell...", StringOf(nullptr, IDS_ABOUTBOX));
    EXPECT_EQ("<unchanged>", StringOf(nullptr, IDS_CAPTION));
}

TEST(ModuleStrings, TextIsConvertedToTheAnsiCodePage)
{
    HMODULE german = LoadLibraryA((BuildDirectory() + "Languages\\German\\Res.dll").c_str());
    ASSERT_NE(nullptr, german);
    const std::string text = StringOf(german, IDS_CLOSEAPPS_PROMPT);
    EXPECT_EQ("Bitte schlie\xDF"
              "en Sie diese Anwendungen, bevor die Installation fortgesetzt wird.",
              text);
}

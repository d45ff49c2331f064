// The fault matrix of the settings at start-up: values that do not fit or are not text,
// and a per-user key that cannot be created.
#include "FaultMatrix.h"

using namespace e2e;

// Settings the updater cannot read, or cannot write. A value that does not fit its
// buffer or is not text counts as unreadable: the settings are seeded from the
// machine's, which renews the path and the language and adds the missing defaults but
// keeps every other value the user set. Wine enforces no registry access rights, so a
// key denied to the user cannot be made; a key that cannot be created can: a
// non-volatile key under a volatile one is refused by the registry itself.
namespace
{
enum class SettingsAfter
{
    // Nothing was written.
    Kept,
    // Seeded: path and language from the machine, defaults added, user values kept.
    SeededKeepingUserValues,
    // Created from nothing: the whole table, with an empty path.
    CreatedWithEmptyPath,
    // Still no per-user key.
    StillMissing,
};

struct RegistryRow
{
    const char* edge;
    void (*arrange)(const Installation& installation);
    SettingsAfter after;
};

void PrintTo(const RegistryRow& row, std::ostream* out)
{
    *out << row.edge;
}

class RegistryFault : public FaultMatrix, public ::testing::WithParamInterface<RegistryRow>
{
};

const std::string kTooLongPath = "C:\\" + std::string(300, 'p') + "\\";

// Makes HKCU\Software\Brannick volatile, so that no lasting key can be made under it.
void MakeVendorKeyVolatile(const Installation&)
{
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brannick");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Brannick");
    HKEY vendor = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Brannick", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                    nullptr, &vendor, nullptr);
    if (vendor != nullptr)
        RegCloseKey(vendor);
}
} // namespace

TEST_P(RegistryFault, StartsWithTheEnglishModuleAndKeepsTheUsersValues)
{
    const RegistryRow& row = GetParam();
    row.arrange(m_installation);
    if (row.after == SettingsAfter::StillMissing)
    {
        HKEY probe = nullptr;
        const LONG status =
            RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsSubkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &probe, nullptr);
        if (probe != nullptr)
        {
            RegCloseKey(probe);
            RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsSubkey);
        }
        if (status == ERROR_SUCCESS)
            GTEST_SKIP() << "this registry lets a lasting key be made under a volatile one";
        Record(std::string(row.edge) + ".create_error", std::to_string(status));
    }
    TakeSnapshots();
    ASSERT_TRUE(m_updater.Launch(m_installation));
    HWND dialog = m_updater.Dialog();
    EXPECT_EQ("Quorvel Updater", ui::Text(dialog));
    EXPECT_EQ(kReady, StatusText());
    EXPECT_EQ(nullptr, ui::FindOwnedDialog(dialog));
    ExpectCancelEndsTheProgram();

    const UserSettings after = ReadUserSettings();
    switch (row.after)
    {
    case SettingsAfter::Kept:
        EXPECT_TRUE(m_settingsBefore == after);
        break;
    case SettingsAfter::SeededKeepingUserValues:
        ExpectSeededKeepingUserValues(after);
        break;
    case SettingsAfter::CreatedWithEmptyPath:
        ASSERT_TRUE(after.keyExists);
        EXPECT_EQ(kDefaultSettingCount, after.values.size());
        EXPECT_TRUE(after.values.at(kAppPathValue) == testsettings::TextValue(""));
        EXPECT_TRUE(after.values.at(kCurrLanguageValue) == testsettings::TextValue("English"));
        break;
    case SettingsAfter::StillMissing:
        EXPECT_FALSE(after.keyExists);
        break;
    }
    ExpectNothingWrittenOutside("");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RegistryFault,
    ::testing::Values(
        RegistryRow{"UserPathTooLong",
                    [](const Installation&) { SetText(HKEY_CURRENT_USER, "AppPath", kTooLongPath); },
                    SettingsAfter::SeededKeepingUserValues},
        RegistryRow{"UserLanguageTooLong",
                    [](const Installation&)
                    { SetText(HKEY_CURRENT_USER, "CurrLanguage", std::string(261, 'L')); },
                    SettingsAfter::SeededKeepingUserValues},
        RegistryRow{"UserPathOfBinaryType",
                    [](const Installation& installation) {
                        testsettings::SetRaw(HKEY_CURRENT_USER, "AppPath", REG_BINARY,
                                             installation.Directory() + '\0');
                    },
                    SettingsAfter::SeededKeepingUserValues},
        RegistryRow{"UserLanguageOfNumberType",
                    [](const Installation&) {
                        testsettings::SetRaw(HKEY_CURRENT_USER, "CurrLanguage", REG_DWORD,
                                             std::string("\x01\0\0\0", 4));
                    },
                    SettingsAfter::SeededKeepingUserValues},
        RegistryRow{"UserPathWithoutTerminator",
                    [](const Installation& installation)
                    { testsettings::SetRaw(HKEY_CURRENT_USER, "AppPath", REG_SZ, installation.Directory()); },
                    SettingsAfter::Kept},
        RegistryRow{"OtherUserValueOfNumberType",
                    [](const Installation&) {
                        testsettings::SetRaw(HKEY_CURRENT_USER, "Threshold", REG_DWORD,
                                             std::string("\x05\0\0\0", 4));
                    },
                    SettingsAfter::Kept},
        RegistryRow{"MachinePathTooLongAndNoUserKey",
                    [](const Installation&)
                    {
                        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsSubkey);
                        RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsSubkey);
                        SetText(HKEY_LOCAL_MACHINE, "AppPath", kTooLongPath);
                    },
                    SettingsAfter::CreatedWithEmptyPath},
        RegistryRow{"UserKeyCannotBeCreated", MakeVendorKeyVolatile, SettingsAfter::StillMissing}),
    [](const ::testing::TestParamInfo<RegistryRow>& row) { return std::string(row.param.edge); });

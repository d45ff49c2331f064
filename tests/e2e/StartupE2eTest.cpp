// Start-up as a user sees it: the updater dialog, its texts and states, how it ends,
// and what happens without a language module.
#include "Bitness.h"
#include "EndToEnd.h"
#include "StandInPrograms.h"

using namespace e2e;

namespace
{
class Startup : public EndToEnd
{
};

struct Ending
{
    const char* name;
    void (*act)(HWND dialog);
};

void PressCancel(HWND dialog)
{
    ui::Click(dialog, IDC_CANCEL);
}

void PressEscape(HWND dialog)
{
    ui::PressKey(dialog, VK_ESCAPE);
}

void PressCloseBox(HWND dialog)
{
    ui::CloseBox(dialog);
}

class StartupEnding : public Startup, public ::testing::WithParamInterface<Ending>
{
};

// Whether the machine key `subkey` exists as 64-bit programs see the registry.
bool MachineKeyInNativeView(const char* subkey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}
} // namespace

TEST_F(Startup, DialogShowsLocalisedTextsAndInitialState)
{
    ASSERT_TRUE(m_updater.Launch(m_installation));
    HWND dialog = m_updater.Dialog();
    EXPECT_EQ("Quorvel Updater", ui::Text(dialog));
    EXPECT_EQ("Press Start to check for a new version of Quorvel.", StatusText());
    EXPECT_EQ("&Start", ui::ItemText(dialog, IDC_START));
    EXPECT_EQ("Cancel", ui::ItemText(dialog, IDC_CANCEL));
    EXPECT_EQ("&Install", ui::ItemText(dialog, IDC_INSTALL));
    EXPECT_TRUE(ui::ItemEnabled(dialog, IDC_START));
    EXPECT_TRUE(ui::ItemEnabled(dialog, IDC_CANCEL));
    EXPECT_FALSE(ui::ItemEnabled(dialog, IDC_INSTALL));
    EXPECT_TRUE(ui::IsDefaultButton(dialog, IDC_START));
    EXPECT_EQ(IDC_START, ui::FocusedControlId(dialog));
    EXPECT_EQ(0, ui::ProgressPosition(dialog, IDC_PROGRESS));
    EXPECT_EQ(std::make_pair(0, 100), ui::ProgressRange(dialog, IDC_PROGRESS));
    Screenshot(dialog, "updater-ready");
    // Nothing is asked of the server before Start.
    EXPECT_TRUE(testserver::RequestLog().empty());
}

TEST_P(StartupEnding, EndsTheProgramWithoutAQuestion)
{
    ASSERT_TRUE(m_updater.Launch(m_installation));
    GetParam().act(m_updater.Dialog());
    EXPECT_EQ(0u, m_updater.WaitForExit(10000));
    EXPECT_TRUE(testserver::RequestLog().empty());
}

INSTANTIATE_TEST_SUITE_P(Endings, StartupEnding,
                         ::testing::Values(Ending{"Cancel", PressCancel}, Ending{"Escape", PressEscape},
                                           Ending{"CloseBox", PressCloseBox}),
                         [](const ::testing::TestParamInfo<Ending>& row)
                         { return std::string(row.param.name); });

TEST_F(Startup, GermanModuleGivesGermanTexts)
{
    m_installation.Register("German");
    ASSERT_TRUE(m_updater.Launch(m_installation));
    HWND dialog = m_updater.Dialog();
    EXPECT_EQ("Quorvel-Aktualisierung", ui::Text(dialog));
    EXPECT_EQ("&Starten", ui::ItemText(dialog, IDC_START));
    EXPECT_EQ("Abbrechen", ui::ItemText(dialog, IDC_CANCEL));
    EXPECT_EQ("&Installieren", ui::ItemText(dialog, IDC_INSTALL));
    Screenshot(dialog, "updater-ready-german");
}

TEST_F(Startup, WithoutUserSettingsTheyAreSeededFromTheMachine)
{
    RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsSubkey);
    ASSERT_TRUE(m_updater.Launch(m_installation));
    EXPECT_EQ("Quorvel Updater", ui::Text(m_updater.Dialog()));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsSubkey, 0, KEY_READ, &key));
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(key);
    EXPECT_EQ(51u, values);
    EXPECT_EQ(m_installation.Directory(),
              testsettings::TextOf(testsettings::ReadAll(HKEY_CURRENT_USER), "AppPath"));
    // In a 64-bit prefix the machine's settings sit where a 32-bit installer writes them,
    // in the 32-bit view (Software\Wow6432Node to 64-bit programs), and the updater found
    // them there, the 64-bit build as the 32-bit one under WoW64.
    if (standin::InWow64Prefix() || kIs64BitBuild)
    {
        EXPECT_TRUE(MachineKeyInNativeView("Software\\Wow6432Node\\Brannick\\Quorvel"));
        EXPECT_FALSE(MachineKeyInNativeView(kSettingsSubkey));
    }
}

TEST_F(Startup, WithoutLanguageModuleOrMachineKeyTextsAreEmpty)
{
    m_installation.RemoveLanguage("English");
    testsettings::DeleteSettings(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(m_updater.Launch(m_installation));
    HWND dialog = m_updater.Dialog();
    EXPECT_EQ("", ui::Text(dialog));
    EXPECT_EQ("", StatusText());
    EXPECT_EQ("", ui::ItemText(dialog, IDC_START));
    EXPECT_EQ("", ui::ItemText(dialog, IDC_CANCEL));
    EXPECT_EQ("", ui::ItemText(dialog, IDC_INSTALL));
    EXPECT_FALSE(ui::ItemEnabled(dialog, IDC_INSTALL));
    Screenshot(dialog, "updater-without-language-module");
    m_installation.InstallLanguage("English", "English");
}

TEST_F(Startup, MissingModuleWithMachineKeyIsReportedBeforeTheDialog)
{
    m_installation.RemoveLanguage("English");
    ASSERT_TRUE(m_updater.Start(m_installation.Directory() + "Seekwell.exe", "", m_installation.Directory()));
    HWND box = ui::WaitForDialog(m_updater.Id(), "Quorvel", 20000);
    ASSERT_NE(nullptr, box);
    const ui::MessageBoxView view = ui::ReadMessageBox(box);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR | MB_OK), view.Style());
    EXPECT_EQ(0u, view.text.find("Critical error - Resources not found!\n\nError: 126\nDetails: "))
        << view.text;
    EXPECT_NE(std::string::npos,
              view.text.find(
                  "\nPath: " + m_installation.Directory() +
                  "\n\nPlease restart Quorvel or send the above information to support@brannick.example."))
        << view.text;
    Screenshot(box, "resources-not-found");
    ui::Click(box, IDOK);
    ASSERT_TRUE(ui::WaitUntil([&] { return !IsWindow(box); }, 10000));
    HWND dialog = ui::WaitForDialog(m_updater.Id(), "", 20000);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ("", ui::ItemText(dialog, IDC_STATUS));
    EXPECT_TRUE(ui::Click(dialog, IDC_CANCEL));
    EXPECT_EQ(0u, m_updater.WaitForExit(10000));
    m_installation.InstallLanguage("English", "English");
}

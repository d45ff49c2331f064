// The close-applications dialog as a user meets it: Install pressed while copies of a
// sleeper program run under the names of Outlook, Outlook Express and Quorvel Manager;
// the list, Retry, Ignore, OK, the keyboard, the system menu and the About box.
#include "EndToEnd.h"
#include "StandInInstaller.h"
#include "StandInPrograms.h"

#include <algorithm>
#include <iterator>

using namespace e2e;
using standin::RunningProgram;

namespace
{
const char* const kFolder = "C:\\CloseApps Updates";
const char* const kPackage = "C:\\CloseApps Updates\\" SEEKWELL_PACKAGE_NAME;
const char* const kRanRecord = "C:\\CloseApps Updates\\" SEEKWELL_PACKAGE_NAME ".ran.txt";

const char* const kOutlook = "C:\\Program Files\\Microsoft Office\\Office10\\OUTLOOK.EXE";
const char* const kOutlookExpress = "C:\\Program Files\\Outlook Express\\msimn.exe";
const char* const kManager = "C:\\Program Files\\Quorvel\\QuorvelMgr.exe";

using Entries = std::vector<std::string>;

// Texts of the direct children of a window, in creation order.
std::vector<std::string> ChildTexts(HWND window)
{
    std::vector<std::string> texts;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        texts.push_back(ui::Text(child));
    return texts;
}

// The open popup menu (class #32768) of a process, or null.
HWND MenuWindowOf(DWORD processId)
{
    for (HWND window = GetTopWindow(nullptr); window != nullptr; window = GetWindow(window, GW_HWNDNEXT))
    {
        char className[16] = {};
        GetClassNameA(window, className, sizeof className);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window) && std::string(className) == "#32768")
            return window;
    }
    return nullptr;
}

class CloseApps : public EndToEnd
{
  protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        if (HasFatalFailure())
            return;
        MakeFolders(kFolder);
        DeleteFileA(kPackage);
        DeleteFileA(kRanRecord);
        testserver::ServeRelease("3.0.1.3");
        testserver::ServePackage(ReadFileBytes(BuildDirectory() + "fake_installer.exe"));
    }

    // Launches the updater and downloads the package, so that Install is enabled.
    void ReachInstall()
    {
        ASSERT_TRUE(m_updater.Launch(m_installation));
        HWND dialog = m_updater.Dialog();
        ASSERT_TRUE(ui::Click(dialog, IDC_START));
        HWND question = m_updater.WaitForModal();
        ASSERT_NE(nullptr, question);
        ASSERT_TRUE(ui::Click(question, IDYES));
        ASSERT_TRUE(ui::WaitUntil([&] { return !IsWindow(question); }, 10000));
        HWND saveAs = m_updater.WaitForModal();
        ASSERT_NE(nullptr, saveAs);
        ASSERT_TRUE(ui::AnswerSaveAs(saveAs, kPackage));
        ASSERT_TRUE(ui::WaitUntil([&] { return DownloadEnded(); }, 60000));
    }

    // Presses Install and returns the close-applications dialog once it shows
    // `expected`; null when it does not appear.
    HWND OpenCloseApps(const Entries& expected)
    {
        if (!ui::Click(m_updater.Dialog(), IDC_INSTALL))
            return nullptr;
        HWND closeApps = m_updater.WaitForModal();
        if (closeApps == nullptr)
            return nullptr;
        EXPECT_TRUE(ui::WaitUntil([&] { return Listed(closeApps) == expected; }, 10000))
            << "listed: " << ::testing::PrintToString(Listed(closeApps));
        return closeApps;
    }

    // The list's entries, top to bottom. Asked for in UTF-16: Wine hands another
    // process's LB_GETTEXTA the list box's UTF-16 text unconverted.
    static Entries Listed(HWND closeApps)
    {
        Entries entries;
        HWND list = GetDlgItem(closeApps, IDC_APPLIST);
        const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i)
        {
            wchar_t wide[512] = {};
            if (SendMessageW(list, LB_GETTEXTLEN, i, 0) >= static_cast<LRESULT>(std::size(wide)))
                return {"<too long>"};
            (void)SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
            char text[1024] = {};
            (void)WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
            entries.emplace_back(text);
        }
        return entries;
    }

    // Presses Retry and waits until the list shows `expected`.
    static void Retry(HWND closeApps, const Entries& expected)
    {
        ASSERT_TRUE(ui::Click(closeApps, IDC_RETRY));
        EXPECT_TRUE(ui::WaitUntil([&] { return Listed(closeApps) == expected; }, 10000))
            << "listed: " << ::testing::PrintToString(Listed(closeApps));
    }

    // The About box opens over the close-applications dialog; OK closes it and leaves
    // that dialog as it was.
    void ExpectAboutBoxOver(HWND closeApps, const char* screenshot)
    {
        const Entries listedBefore = Listed(closeApps);
        HWND about = ui::WaitForOwnedDialog(closeApps, 10000);
        ASSERT_NE(nullptr, about);
        EXPECT_EQ("About Seekwell", ui::Text(about));
        const std::vector<std::string> texts = ChildTexts(about);
        EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(), "Seekwell Version 1.0"));
        EXPECT_EQ("OK", ui::ItemText(about, IDC_ABOUT_OK));
        EXPECT_TRUE(ui::IsDefaultButton(about, IDC_ABOUT_OK));
        EXPECT_FALSE(IsWindowEnabled(closeApps)) << "the About box should be modal over the dialog";
        if (screenshot != nullptr)
            Screenshot(about, screenshot);

        ASSERT_TRUE(ui::Click(about, IDC_ABOUT_OK));
        ASSERT_TRUE(ui::WaitUntil([&] { return !IsWindow(about); }, 10000));
        EXPECT_TRUE(ui::WaitUntil([&] { return IsWindowEnabled(closeApps) != FALSE; }, 10000));
        EXPECT_FALSE(IsWindowEnabled(m_updater.Dialog()))
            << "the updater must stay disabled under the dialog";
        EXPECT_EQ(listedBefore, Listed(closeApps));
        EXPECT_FALSE(ui::ItemEnabled(closeApps, IDC_CLOSEAPPS_OK));
        EXPECT_EQ("&Retry", ui::ItemText(closeApps, IDC_RETRY));
    }

    // The dialog has gone, the updater has ended and the package was run.
    void ExpectInstallationWentOn(HWND closeApps)
    {
        EXPECT_TRUE(ui::WaitUntil([&] { return !IsWindow(closeApps); }, 10000));
        EXPECT_EQ(0u, m_updater.WaitForExit(20000));
        EXPECT_TRUE(standin::WaitForInstallerRun(kPackage, 20000)) << "the package did not run";
    }
};

struct Ending
{
    const char* name;
    void (*act)(HWND closeApps);
};

class CloseAppsEnding : public CloseApps, public ::testing::WithParamInterface<Ending>
{
};

void PrintTo(const Ending& row, std::ostream* out)
{
    *out << row.name;
}

std::string EndingName(const ::testing::TestParamInfo<Ending>& row)
{
    return row.param.name;
}
} // namespace

TEST_F(CloseApps, NothingRunningShowsNoDialog)
{
    ReachInstall();
    ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_INSTALL));
    EXPECT_EQ(0u, m_updater.WaitForExit(20000));
    EXPECT_TRUE(standin::WaitForInstallerRun(kPackage, 20000));
}

TEST_F(CloseApps, OnlyOutlookExpressIsListedWithOkDisabled)
{
    const RunningProgram outlookExpress(kOutlookExpress, 600);
    ReachInstall();
    HWND closeApps = OpenCloseApps({"Outlook Express"});
    ASSERT_NE(nullptr, closeApps);
    EXPECT_EQ("Installation", ui::Text(closeApps));
    EXPECT_EQ("Please close these applications before continuing installation.",
              ui::ItemText(closeApps, IDC_PROMPT));
    EXPECT_EQ("&Retry", ui::ItemText(closeApps, IDC_RETRY));
    EXPECT_EQ("&Ignore", ui::ItemText(closeApps, IDC_IGNORE));
    EXPECT_EQ("&OK", ui::ItemText(closeApps, IDC_CLOSEAPPS_OK));
    EXPECT_FALSE(ui::ItemEnabled(closeApps, IDC_CLOSEAPPS_OK));
    EXPECT_TRUE(ui::IsDefaultButton(closeApps, IDC_RETRY));
    EXPECT_EQ(IDC_RETRY, ui::FocusedControlId(closeApps));
    // The updater dialog stays disabled underneath.
    EXPECT_FALSE(IsWindowEnabled(m_updater.Dialog()));
    EXPECT_TRUE(GetWindowLongA(closeApps, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    Screenshot(closeApps, "close-apps-outlook-express");
}

// The dialog loads the language module for itself: the updater runs in English, the
// dialog opens after the language was switched to German, whose Manager entry differs
// from the fixed text that Retry lists.
TEST_F(CloseApps, AllThreeListedManagerFirstAndRetryUsesTheFixedManagerText)
{
    const RunningProgram outlook(kOutlook, 600);
    const RunningProgram outlookExpress(kOutlookExpress, 600);
    const RunningProgram manager(kManager, 600);
    ReachInstall();
    SetText(HKEY_CURRENT_USER, "CurrLanguage", "German");
    HWND closeApps = OpenCloseApps({"Quorvel-Manager", "Outlook Express", "Outlook"});
    ASSERT_NE(nullptr, closeApps);
    EXPECT_EQ("&Wiederholen", ui::ItemText(closeApps, IDC_RETRY));
    EXPECT_EQ("&Ignorieren", ui::ItemText(closeApps, IDC_IGNORE));
    EXPECT_EQ("Quorvel Updater", ui::Text(m_updater.Dialog()));
    Screenshot(closeApps, "close-apps-all-three-german");

    Retry(closeApps, {"Quorvel Manager", "Outlook Express", "Outlook"});
    EXPECT_FALSE(ui::ItemEnabled(closeApps, IDC_CLOSEAPPS_OK));
}

TEST_F(CloseApps, TwoOutlookProcessesGiveOneEntry)
{
    const RunningProgram first(kOutlook, 600);
    const RunningProgram second(kOutlook, 600);
    ReachInstall();
    HWND closeApps = OpenCloseApps({"Outlook"});
    ASSERT_NE(nullptr, closeApps);
    Retry(closeApps, {"Outlook"});
}

TEST_F(CloseApps, RetryAfterClosingEnablesOkForGood)
{
    RunningProgram outlook(kOutlook, 600);
    RunningProgram outlookExpress(kOutlookExpress, 600);
    ReachInstall();
    HWND closeApps = OpenCloseApps({"Outlook Express", "Outlook"});
    ASSERT_NE(nullptr, closeApps);

    // The list is only as fresh as the last count: closing a program changes nothing
    // until Retry, and Enter presses Retry.
    outlookExpress.End();
    Sleep(200);
    EXPECT_EQ((Entries{"Outlook Express", "Outlook"}), Listed(closeApps));
    ui::PressKey(closeApps, VK_RETURN);
    EXPECT_TRUE(ui::WaitUntil([&] { return Listed(closeApps) == Entries{"Outlook"}; }, 10000));
    EXPECT_FALSE(ui::ItemEnabled(closeApps, IDC_CLOSEAPPS_OK));

    outlook.End();
    Retry(closeApps, {});
    EXPECT_TRUE(ui::WaitUntil([&] { return ui::ItemEnabled(closeApps, IDC_CLOSEAPPS_OK); }, 10000));
    EXPECT_TRUE(ui::IsDefaultButton(closeApps, IDC_RETRY));
    EXPECT_FALSE(ui::IsDefaultButton(closeApps, IDC_CLOSEAPPS_OK));
    Screenshot(closeApps, "close-apps-clear");

    const RunningProgram outlookAgain(kOutlook, 600);
    Retry(closeApps, {"Outlook"});
    EXPECT_TRUE(ui::ItemEnabled(closeApps, IDC_CLOSEAPPS_OK));

    ASSERT_TRUE(ui::Click(closeApps, IDC_CLOSEAPPS_OK));
    ExpectInstallationWentOn(closeApps);
}

TEST_P(CloseAppsEnding, EndsTheDialogAndTheInstallationGoesOn)
{
    const RunningProgram outlook(kOutlook, 600);
    ReachInstall();
    HWND closeApps = OpenCloseApps({"Outlook"});
    ASSERT_NE(nullptr, closeApps);
    GetParam().act(closeApps);
    ExpectInstallationWentOn(closeApps);
}

INSTANTIATE_TEST_SUITE_P(Endings, CloseAppsEnding,
                         ::testing::Values(Ending{"Ignore", [](HWND w) { ui::Click(w, IDC_IGNORE); }},
                                           Ending{"Escape", [](HWND w) { ui::PressKey(w, VK_ESCAPE); }},
                                           Ending{"CloseBox", [](HWND w) { ui::CloseBox(w); }}),
                         EndingName);

// Wine keeps menus inside their process, so the system menu is checked as a user
// sees and uses it: opened from the keyboard, its last item chosen with Up and Enter.
TEST_F(CloseApps, SystemMenuOpensTheAboutBoxAndReturnsToTheUnchangedDialog)
{
    const RunningProgram outlook(kOutlook, 600);
    ReachInstall();
    HWND closeApps = OpenCloseApps({"Outlook"});
    ASSERT_NE(nullptr, closeApps);

    // Alt+Space.
    PostMessageA(closeApps, WM_SYSCOMMAND, SC_KEYMENU, ' ');
    HWND menu = nullptr;
    ASSERT_TRUE(ui::WaitUntil([&] { return (menu = MenuWindowOf(m_updater.Id())) != nullptr; }, 10000));
    Screenshot(menu, "close-apps-system-menu");
    ui::PressKey(closeApps, VK_UP);
    ui::PressKey(closeApps, VK_RETURN);
    ExpectAboutBoxOver(closeApps, "about-box");

    // Command ids carry flags in their lowest four bits: 16 to 31 all mean About.
    ui::SystemCommand(closeApps, IDM_ABOUTBOX + 15);
    ExpectAboutBoxOver(closeApps, nullptr);

    // Other system commands keep their usual meaning: Close ends the dialog as Ignore does.
    ui::CloseBox(closeApps);
    ExpectInstallationWentOn(closeApps);
}

// Each text comes from one string object in turn, so a string missing from the module
// shows the text loaded before it: the Sparse module lacks 533 (Ignore) and 123 (the
// Manager entry).
TEST_F(CloseApps, MissingStringsShowThePreviousText)
{
    m_installation.InstallLanguage("Sparse", "Sparse");
    const RunningProgram outlook(kOutlook, 600);
    const RunningProgram manager(kManager, 600);
    ReachInstall();
    SetText(HKEY_CURRENT_USER, "CurrLanguage", "Sparse");
    HWND closeApps = OpenCloseApps({"Fine", "Outlook"});
    ASSERT_NE(nullptr, closeApps);
    EXPECT_EQ("Close them", ui::ItemText(closeApps, IDC_PROMPT));
    EXPECT_EQ("Again", ui::ItemText(closeApps, IDC_RETRY));
    EXPECT_EQ("Again", ui::ItemText(closeApps, IDC_IGNORE));
    EXPECT_EQ("Fine", ui::ItemText(closeApps, IDC_CLOSEAPPS_OK));
    Screenshot(closeApps, "close-apps-missing-strings");

    ASSERT_TRUE(ui::Click(closeApps, IDC_IGNORE));
    ExpectInstallationWentOn(closeApps);
}

// Without a language module the dialog reports it, as at start-up, and then shows its
// list with empty control texts.
TEST_F(CloseApps, MissingLanguageModuleIsReportedAgain)
{
    const RunningProgram outlook(kOutlook, 600);
    ReachInstall();
    SetText(HKEY_CURRENT_USER, "CurrLanguage", "Missing");
    SetText(HKEY_LOCAL_MACHINE, "CurrLanguage", "Missing");
    ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_INSTALL));
    HWND box = ui::WaitForDialog(m_updater.Id(), "Quorvel", 20000);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(0u, ui::ReadMessageBox(box).text.find("Critical error - Resources not found!"));
    ASSERT_TRUE(ui::Click(box, IDOK));

    HWND closeApps = m_updater.WaitForModal();
    ASSERT_NE(nullptr, closeApps);
    EXPECT_TRUE(ui::WaitUntil([&] { return Listed(closeApps) == Entries{"Outlook"}; }, 10000));
    EXPECT_EQ("Installation", ui::Text(closeApps));
    EXPECT_EQ("", ui::ItemText(closeApps, IDC_PROMPT));
    EXPECT_EQ("", ui::ItemText(closeApps, IDC_RETRY));
    EXPECT_EQ("", ui::ItemText(closeApps, IDC_IGNORE));
    EXPECT_EQ("", ui::ItemText(closeApps, IDC_CLOSEAPPS_OK));
    ASSERT_TRUE(ui::Click(closeApps, IDC_IGNORE));
    ExpectInstallationWentOn(closeApps);
}

// The demo of one update, end to end: sets up a demo installation of the product in the
// Wine prefix and serves a newer version from the local update server. With --setup-only
// it stops there, so a person can run the updater and click through it; otherwise it
// walks the road as a user would and saves a screenshot of every step.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Scenario.h"
#include "StandInInstaller.h"

using namespace e2e;

namespace
{
int g_failures = 0;

void Step(const char* what, bool ok)
{
    std::printf("%s %s\n", ok ? "  ok  " : "  FAIL", what);
    std::fflush(stdout);
    if (!ok)
        ++g_failures;
}

void Shot(HWND window, const char* name)
{
    Screenshot(window, name);
    std::printf("        screenshot %s.png\n", name);
}

Installation SetUpDemo()
{
    Installation installation;
    installation.Register("English");
    testserver::RouteUpdateHostToServer();
    // The release was staged and signed by the vendor's tool before the demo started;
    // the package drips in, so the progress bar can be watched.
    testfiles::WriteFile(testserver::ProductFolder() + "\\" SEEKWELL_PACKAGE_NAME ".behave.json",
                         R"({"drip": {"bytes": 8192, "every_ms": 40}})");
    MakeFolders("C:\\Downloads");
    DeleteFileA("C:\\Downloads\\" SEEKWELL_PACKAGE_NAME);
    standin::RemoveHandOffFolders();
    return installation;
}

bool WaitGone(HWND window)
{
    return ui::WaitUntil([&] { return !IsWindow(window); }, 10000);
}

int WalkTheRoad(const Installation& installation)
{
    Updater updater;
    Step("the updater opens with the English texts", updater.Launch(installation));
    HWND dialog = updater.Dialog();
    if (dialog == nullptr)
        return 1;
    Shot(dialog, "1-updater-ready");

    Step("Start checks the server", ui::Click(dialog, IDC_START));
    HWND question = updater.WaitForModal();
    Step("version 3.0.1.3 is offered",
         question != nullptr && ui::ReadMessageBox(question).text.find("3.0.1.3") != std::string::npos);
    Shot(question, "2-question");
    ui::Click(question, IDYES);
    WaitGone(question);

    HWND saveAs = updater.WaitForModal();
    Step("the Save-As dialog asks for a folder", saveAs != nullptr);
    Shot(saveAs, "3-save-as");
    ui::AnswerSaveAs(saveAs, "C:\\Downloads\\" SEEKWELL_PACKAGE_NAME);

    bool sawPartWay = false;
    ui::WaitUntil(
        [&]
        {
            const int position = ui::ProgressPosition(dialog, IDC_PROGRESS);
            if (!sawPartWay && position >= 30 && position <= 80)
            {
                sawPartWay = true;
                Shot(dialog, "4-downloading");
            }
            // Install is enabled a moment before the status line shows the outcome.
            return ui::ItemEnabled(dialog, IDC_INSTALL) &&
                   ui::ItemText(dialog, IDC_STATUS) != "Downloading the update...";
        },
        60000);
    Step("the package is downloaded and Install enabled",
         ui::ItemEnabled(dialog, IDC_INSTALL) && ui::ProgressPosition(dialog, IDC_PROGRESS) == 100);
    Shot(dialog, "5-downloaded");

    FakeProgram outlook("C:\\Program Files\\Microsoft Office\\Office10\\OUTLOOK.EXE");
    Sleep(300);
    ui::Click(dialog, IDC_INSTALL);
    HWND closeApps = updater.WaitForModal();
    // The dialog is visible from its creation on; its list is filled just after.
    const std::vector<std::string> expected{"Outlook"};
    Step("Install finds Outlook running and lists it",
         closeApps != nullptr &&
             ui::WaitUntil([&] { return ui::ListItems(closeApps, IDC_APPLIST) == expected; }, 10000));
    Shot(closeApps, "6-close-applications");

    ui::SystemCommand(closeApps, IDM_ABOUTBOX);
    HWND about = ui::WaitForOwnedDialog(closeApps, 10000);
    Step("the About box opens from the system menu", about != nullptr);
    Shot(about, "7-about");
    ui::Click(about, IDOK);
    WaitGone(about);

    outlook.Kill();
    ui::Click(closeApps, IDC_RETRY);
    ui::WaitUntil([&] { return ui::ItemEnabled(closeApps, IDC_CLOSEAPPS_OK); }, 10000);
    Step("after Outlook ends, Retry empties the list and enables OK",
         ui::ListItems(closeApps, IDC_APPLIST).empty() && ui::ItemEnabled(closeApps, IDC_CLOSEAPPS_OK));
    Shot(closeApps, "8-all-closed");
    ui::Click(closeApps, IDC_CLOSEAPPS_OK);

    Step("the updater ends", updater.WaitForExit(20000) == 0);
    const std::string package = "C:\\Downloads\\" SEEKWELL_PACKAGE_NAME;
    Step("the shell ran the downloaded package", standin::WaitForInstallerRun(package, 20000));
    std::printf("%s", ReadFileBytes(standin::RunRecordOf(package)).c_str());
    return g_failures == 0 ? 0 : 1;
}
} // namespace

int main(int argc, char** argv)
{
    const Installation installation = SetUpDemo();
    if (argc > 1 && std::strcmp(argv[1], "--setup-only") == 0)
        return 0;
    std::printf("Walking the road of one update:\n");
    return WalkTheRoad(installation);
}

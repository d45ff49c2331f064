// The close-applications dialog run inside the test process, where its system menu and
// icons can be read directly: Wine keeps menus within their process, so the end-to-end
// tests cannot read them from outside.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "CloseAppsDlg.h"
#include "WinApp.h"
#include "TestFiles.h"
#include "TestSettings.h"
#include "resource.h"

using namespace testsettings;
using testfiles::BuildDirectory;

namespace
{
struct MenuItem
{
    std::string text;
    UINT id = 0;
    bool separator = false;
};

// What a second thread sees of the open dialog; gathered there, checked afterwards.
struct Observed
{
    HWND dialog = nullptr;
    std::vector<MenuItem> menu;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    HICON dragIcon = nullptr;
    std::vector<std::string> listed;
    HWND aboutOwner = nullptr;
    HWND dialogOwner = nullptr;
    bool aboutForCommand32 = false;
};

std::vector<MenuItem> SystemMenuOf(HWND window)
{
    std::vector<MenuItem> items;
    HMENU menu = GetSystemMenu(window, FALSE);
    const int count = menu != nullptr ? GetMenuItemCount(menu) : 0;
    for (int i = 0; i < count; ++i)
    {
        char text[256] = {};
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        if (GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info))
            items.push_back({text, info.wID, (info.fType & MFT_SEPARATOR) != 0});
    }
    return items;
}

HWND WaitForWindow(const char* caption, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 20)
    {
        HWND window = FindWindowA("#32770", caption);
        if (window != nullptr && IsWindowVisible(window))
            return window;
        Sleep(20);
    }
    return nullptr;
}

void Observe(Observed& seen)
{
    HWND dialog = WaitForWindow("Installation", 10000);
    if (dialog == nullptr)
        return;
    seen.dialog = dialog;
    seen.dialogOwner = GetWindow(dialog, GW_OWNER);
    seen.menu = SystemMenuOf(dialog);
    seen.bigIcon = reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));
    seen.smallIcon = reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0));
    seen.dragIcon = reinterpret_cast<HICON>(SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0));
    HWND list = GetDlgItem(dialog, IDC_APPLIST);
    for (LRESULT i = 0; i < SendMessageA(list, LB_GETCOUNT, 0, 0); ++i)
    {
        char text[256] = {};
        (void)SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        seen.listed.emplace_back(text);
    }

    // 32 is past the About range: nothing opens.
    PostMessageA(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX + 16, 0);
    seen.aboutForCommand32 = WaitForWindow("About Seekwell", 300) != nullptr;
    PostMessageA(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = WaitForWindow("About Seekwell", 10000);
    if (about != nullptr)
    {
        seen.aboutOwner = GetWindow(about, GW_OWNER);
        PostMessageA(about, WM_COMMAND, IDOK, 0);
        for (int waited = 0; waited < 10000 && IsWindow(about); waited += 20)
            Sleep(20);
    }
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

class CloseAppsDialog : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ClearSettings();
        SetText(HKEY_CURRENT_USER, "AppPath", BuildDirectory());
        SetText(HKEY_CURRENT_USER, "CurrLanguage", "English");
    }
    void TearDown() override { ClearSettings(); }
};
} // namespace

TEST_F(CloseAppsDialog, SystemMenuIconsAndListAsOpened)
{
    // As in the updater, a main window owns the dialogs that are opened without a parent.
    CWinApp application;
    CWnd mainWindow;
    mainWindow.Attach(CreateWindowExA(0, "STATIC", "main", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr,
                                      nullptr, nullptr, nullptr));
    application.SetMainWindow(&mainWindow);
    CCloseAppsDlg dialog;
    const HICON icon = dialog.OnQueryDragIcon();
    ASSERT_NE(nullptr, icon);
    WatchedCounts counts;
    counts.manager = 3;
    counts.outlookExpress = 1;
    dialog.SetCounts(counts);
    Observed seen;
    std::thread observer(Observe, std::ref(seen));
    const INT_PTR result = dialog.DoModal();
    observer.join();

    ASSERT_NE(nullptr, seen.dialog);
    EXPECT_EQ(IDCANCEL, result);
    ASSERT_GE(seen.menu.size(), 2u);
    const MenuItem& separator = seen.menu[seen.menu.size() - 2];
    EXPECT_TRUE(separator.separator);
    EXPECT_EQ("&About Seekwell...", seen.menu.back().text);
    EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), seen.menu.back().id);
    EXPECT_FALSE(seen.menu.back().separator);

    EXPECT_EQ(icon, seen.bigIcon);
    EXPECT_EQ(icon, seen.smallIcon);
    EXPECT_EQ(icon, seen.dragIcon);
    EXPECT_EQ((std::vector<std::string>{"Quorvel Manager", "Outlook Express"}), seen.listed);

    EXPECT_FALSE(seen.aboutForCommand32);
    // The About box is modal over this dialog, not over the main window beneath it.
    EXPECT_EQ(seen.dialog, seen.aboutOwner);
    EXPECT_EQ(mainWindow.GetSafeHwnd(), seen.dialogOwner);
    DestroyWindow(mainWindow.GetSafeHwnd());
}

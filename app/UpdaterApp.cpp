#include <windows.h>
#include <commctrl.h>

#include "Platform.h"
#include "UpdaterDlg.h"
#include "WinApp.h"

// The application: builds the updater dialog, runs it, and ends the process.
class CUpdaterApp : public CWinApp
{
  public:
    BOOL InitInstance() override;
};

namespace
{
// Takes the current directory out of the DLL search path, so that libraries loaded by
// name later (the process-enumeration libraries, say) cannot come from a folder the
// user picked in the Save-As dialog. Bound at run time: older systems lack the call,
// and the updater must still start there.
void RemoveCurrentDirectoryFromDllSearch()
{
    using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCSTR);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr)
        return;
    const auto setDllDirectory = BindProcedure<SetDllDirectoryFunction>(kernel, "SetDllDirectoryA");
    if (setDllDirectory != nullptr)
        (void)setDllDirectory("");
}
} // namespace

BOOL CUpdaterApp::InitInstance()
{
    RemoveCurrentDirectoryFromDllSearch();
    InitCommonControls();
    CWinApp::InitInstance();
    EnableControlContainer();

    CUpdaterDlg dialog;
    SetMainWindow(&dialog);
    (void)dialog.DoModal();
    SetMainWindow(nullptr);
    return FALSE;
}

CUpdaterApp theApp;

#include <windows.h>
#include <commctrl.h>

#include "UpdaterDlg.h"
#include "WinApp.h"

// The application: builds the updater dialog, runs it, and ends the process.
class CUpdaterApp : public CWinApp
{
  public:
    BOOL InitInstance() override;
};

BOOL CUpdaterApp::InitInstance()
{
    InitCommonControls();
    CWinApp::InitInstance();
    EnableControlContainer();

    CUpdaterDlg dialog;
    m_pMainWnd = &dialog;
    (void)dialog.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}

CUpdaterApp theApp;

#include "UpdaterDlg.h"

#include <shellapi.h>

#include "resource.h"

// Hands the downloaded package to the shell once the mail programs are out of the way,
// then ends the updater; the installer carries on alone.
void CUpdaterDlg::OnInstall()
{
    EnableDlgItem(IDC_INSTALL, false);
    RunCloseAppsGuard();
    (void)ShellExecuteA(nullptr, nullptr, m_packagePath.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    OnCancel();
}

#include "UpdaterDlg.h"

#include "CloseAppsDlg.h"

void CUpdaterDlg::RunCloseAppsGuard()
{
    CCloseAppsDlg dialog;
    dialog.m_counts = dialog.CountWatchedPrograms();
    // The installation goes on however the dialog ends; nothing is counted afterwards.
    if (dialog.m_counts.AnyRunning())
        (void)dialog.DoModal();
}

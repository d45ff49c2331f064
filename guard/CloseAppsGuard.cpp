#include "CloseAppsGuard.h"

#include "CloseAppsDlg.h"

void GuardInstallation()
{
    CCloseAppsDlg dialog;
    dialog.SetCounts(dialog.CountWatchedPrograms());
    // The installation goes on however the dialog ends; nothing is counted afterwards.
    if (dialog.Counts().AnyRunning())
        (void)dialog.DoModal();
}

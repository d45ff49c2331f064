#include "UpdaterDlg.h"

void CUpdaterDlg::RunCloseAppsGuard() {}

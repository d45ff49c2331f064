#include "UpdaterDlg.h"

void CUpdaterDlg::OnInstall() {}

#include "UpdaterDlg.h"

void CUpdaterDlg::OnStart() {}

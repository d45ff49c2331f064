#include "UpdaterDlg.h"

int CUpdaterDlg::DownloadUpdate()
{
    return 0;
}

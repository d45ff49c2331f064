#include "UpdaterDlg.h"

int CUpdaterDlg::FetchServerVersion()
{
    return 0;
}

#include "UpdaterDlg.h"

#include "SafeFormat.h"
#include "VersionReaders.h"
#include "resource.h"

namespace
{
constexpr const char* kProductModuleName = "Quorvel.dll";
}

// The updater's one decision: compares the installed version with the server's and
// tells the user; on an accepted offer the download runs inside this handler.
void CUpdaterDlg::OnStart()
{
    // Each run checks at most once: nothing enables Start again.
    EnableDlgItem(IDC_START, false);
    // Like the dialog's other texts, the status and message texts share one string
    // object, so a string missing from the module shows the text loaded before it.
    std::string text;
    (void)LoadText(IDS_CHECKING, text);
    SetDlgItemText(IDC_STATUS, text);

    m_moduleDirectory = ComputeModuleDirectory();
    (void)ReadInstalledVersion(m_moduleDirectory + kProductModuleName, m_installed);

    if (FetchServerVersion() == 0)
    {
        (void)LoadText(IDS_SERVER_UNREACHABLE, text);
        (void)ShowMessageBox(m_hWnd, text, "", MB_ICONEXCLAMATION | MB_OK);
        (void)LoadText(IDS_CHECK_ENDED, text);
        SetDlgItemText(IDC_STATUS, text);
        return;
    }

    std::string caption;
    (void)LoadText(IDS_CAPTION, caption);
    if (m_server.composite == m_installed.composite)
    {
        (void)LoadText(IDS_UP_TO_DATE, text);
        (void)ShowMessageBox(m_hWnd, text, caption, MB_ICONINFORMATION | MB_OK);
        (void)LoadText(IDS_READY, text);
        SetDlgItemText(IDC_STATUS, text);
        return;
    }

    // Any other version is offered, an older one too: only equality counts as current.
    (void)LoadText(IDS_UPDATE_QUESTION, text);
    const std::string question =
        FormatWithFourIntegers(text, m_server.major, m_server.minor, m_server.build, m_server.revision);
    if (ShowMessageBox(m_hWnd, question, caption, MB_ICONQUESTION | MB_YESNOCANCEL) != IDYES)
    {
        (void)LoadText(IDS_CHECK_ENDED, text);
        SetDlgItemText(IDC_STATUS, text);
        return;
    }
    (void)LoadText(IDS_DOWNLOADING, text);
    SetDlgItemText(IDC_STATUS, text);
    (void)DownloadUpdate();
}

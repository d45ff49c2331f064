#include "UpdaterDlg.h"

#include <commdlg.h>

#include "CloseAppsGuard.h"
#include "ControlTexts.h"
#include "Download.h"
#include "FileDialog.h"
#include "InstalledVersion.h"
#include "Install.h"
#include "LanguageModule.h"
#include "MessagePump.h"
#include "Platform.h"
#include "SafeFormat.h"
#include "ServerVersion.h"
#include "UpdateInfo.h"
#include "resource.h"

namespace
{
constexpr const char* kProductCode = "Quorvel30";
constexpr const char* kProductModuleName = "Quorvel.dll";
constexpr WORD kProgressMaximum = 100;
// Explorer style, a question before overwriting, no read-only check box.
constexpr DWORD kSaveAsFlags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;

// Set in this order at initialisation; the status line's text is the ready text.
constexpr ControlText kControlTexts[] = {
    {kCaptionControl, IDS_CAPTION}, {IDC_STATUS, IDS_READY},          {IDC_START, IDS_START_LABEL},
    {IDC_CANCEL, IDS_CANCEL_LABEL}, {IDC_INSTALL, IDS_INSTALL_LABEL},
};
} // namespace

CUpdaterDlg::CUpdaterDlg(HWND parent) noexcept : CDialog(IDD_UPDATER, parent) {}

void CUpdaterDlg::DoDataExchange(CDataExchange& dx)
{
    dx.Control(IDC_PROGRESS, m_progress);
}

bool CUpdaterDlg::LoadText(uint16_t number, std::string& text) const
{
    return LoadModuleString(m_languageModule, number, text);
}

void CUpdaterDlg::ShowStatus(uint16_t number, std::string& text) const
{
    (void)LoadText(number, text);
    SetDlgItemText(IDC_STATUS, text);
}

void CUpdaterDlg::LoadTextOr(uint16_t number, uint16_t fallback, std::string& text) const
{
    if (!LoadText(number, text))
        (void)LoadText(fallback, text);
}

BOOL CUpdaterDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_moduleDirectory = ExecutableDirectory();
    m_languageModule = LoadLanguageModule();
    m_productCode = kProductCode;

    // One string object carries every text in turn: a string missing from the module
    // leaves the previous text (or, at first, an empty one) in its place.
    std::string text;
    SetControlTexts(*this, m_languageModule, kControlTexts, text);

    EnableDlgItem(IDC_INSTALL, false);
    m_progress.SetRange(0, kProgressMaximum);
    return TRUE;
}

bool CUpdaterDlg::OnCommand(WORD id, WORD)
{
    switch (id)
    {
    case IDC_START:
        OnStart();
        return true;
    case IDC_INSTALL:
        OnInstall();
        return true;
    default:
        return false;
    }
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
    ShowStatus(IDS_CHECKING, text);

    m_moduleDirectory = ExecutableDirectory();
    (void)ReadInstalledVersion(m_moduleDirectory + kProductModuleName, m_installed);

    // The check dispatches the dialog's messages while it waits, so Cancel and the close
    // box work meanwhile; once the user has closed the updater, no outcome is shown.
    const ServerAnswer answer = FetchServerVersion();
    if (Ending())
        return;
    if (answer != ServerAnswer::Verified)
    {
        // Update information that is not the vendor's is treated like none at all.
        if (answer == ServerAnswer::Unverified)
            LoadTextOr(IDS_UPDATE_INFO_UNVERIFIED, IDS_SERVER_UNREACHABLE, text);
        else if (answer == ServerAnswer::Expired)
        {
            // Older modules lack the text of its own.
            if (!LoadText(IDS_UPDATE_INFO_EXPIRED, text))
                LoadTextOr(IDS_UPDATE_INFO_UNVERIFIED, IDS_SERVER_UNREACHABLE, text);
        }
        else if (answer == ServerAnswer::CannotVerifyOnThisSystem)
        {
            // Trying again later will not help here; older modules lack the text.
            if (!LoadText(IDS_CANNOT_VERIFY_ON_THIS_WINDOWS, text))
                LoadTextOr(IDS_UPDATE_INFO_UNVERIFIED, IDS_SERVER_UNREACHABLE, text);
        }
        else
            (void)LoadText(IDS_SERVER_UNREACHABLE, text);
        (void)ShowMessageBox(m_hWnd, text, "", MB_ICONEXCLAMATION | MB_OK);
        ShowStatus(IDS_CHECK_ENDED, text);
        return;
    }

    std::string caption;
    (void)LoadText(IDS_CAPTION, caption);
    if (m_server.composite == m_installed.composite)
    {
        (void)LoadText(IDS_UP_TO_DATE, text);
        (void)ShowMessageBox(m_hWnd, text, caption, MB_ICONINFORMATION | MB_OK);
        ShowStatus(IDS_READY, text);
        return;
    }

    // Any other version is offered, an older one too: only equality counts as current.
    (void)LoadText(IDS_UPDATE_QUESTION, text);
    const std::string question =
        FormatWithFourIntegers(text, m_server.major, m_server.minor, m_server.build, m_server.revision);
    if (ShowMessageBox(m_hWnd, question, caption, MB_ICONQUESTION | MB_YESNOCANCEL) != IDYES)
    {
        ShowStatus(IDS_CHECK_ENDED, text);
        return;
    }
    ShowStatus(IDS_DOWNLOADING, text);
    (void)DownloadUpdate();
}

ServerAnswer CUpdaterDlg::FetchServerVersion()
{
    // The manifest must name the package this language module downloads.
    std::string packageName;
    (void)LoadText(IDS_PACKAGE_NAME, packageName);
    ManifestPackage expected;
    const ServerAnswer answer =
        ::FetchServerVersion(m_productCode, packageName, LoadUpdateKeys(), m_server, expected);
    if (answer == ServerAnswer::Verified)
        m_expectedPackage = expected;
    return answer;
}

int CUpdaterDlg::DownloadUpdate()
{
    std::string packageName;
    std::string baseUrl;
    (void)LoadText(IDS_PACKAGE_NAME, packageName);
    (void)LoadText(IDS_DOWNLOAD_BASE_URL, baseUrl);

    CFileDialog saveAs(false, nullptr, packageName.c_str(), kSaveAsFlags, nullptr, m_hWnd);
    std::string text;
    if (saveAs.DoModal() != IDOK)
    {
        ShowStatus(IDS_CHECK_ENDED, text);
        return 0;
    }

    // Only the folder of the confirmed path is used: the package keeps its own name.
    const std::string url = PackageUrl(baseUrl, m_productCode, packageName);
    m_packagePath = PackagePathFor(saveAs.GetPathName(), packageName);
    const DownloadOutcome outcome = m_expectedPackage
                                        ? DownloadPackage(url, m_packagePath, *m_expectedPackage, *this)
                                        : DownloadOutcome{};

    // Install is offered after any attempt; it runs the package path only once the file
    // there proves to be the vendor's package.
    EnableDlgItem(IDC_INSTALL, true);
    if (outcome.verdict == DownloadVerdict::Complete)
        (void)LoadText(IDS_DOWNLOAD_OK, text);
    else if (outcome.verdict == DownloadVerdict::NotVerified)
        LoadTextOr(IDS_DOWNLOAD_UNVERIFIED, IDS_DOWNLOAD_FAILED, text);
    else
        (void)LoadText(IDS_DOWNLOAD_FAILED, text);
    SetDlgItemText(IDC_STATUS, text);
    return 0;
}

void CUpdaterDlg::SetDownloadProgress(int percent)
{
    m_progress.SetPos(percent);
}

void CUpdaterDlg::PumpMessages()
{
    PumpWaitingMessages();
}

// Hands the downloaded package to the shell once the mail programs are out of the way,
// then ends the updater; the installer carries on alone. The package is copied into a
// folder of the updater's own and the copy checked right before the hand-off: whatever is
// not the vendor's package never runs, and nothing beside it in the chosen folder is run.
void CUpdaterDlg::OnInstall()
{
    EnableDlgItem(IDC_INSTALL, false);
    RunCloseAppsGuard();
    const HandOffOutcome outcome =
        m_expectedPackage ? HandOffPackage(m_packagePath, *m_expectedPackage, m_hWnd) : HandOffOutcome{};
    // A declined elevation prompt needs no word: the user chose it.
    if (outcome.verdict == HandOffVerdict::Refused)
        ShowInstallProblem(IDS_INSTALL_REFUSED);
    else if (outcome.verdict == HandOffVerdict::NotPrepared)
        ShowInstallProblem(IDS_HANDOFF_NOT_PREPARED, IDS_INSTALL_REFUSED);
    else if (outcome.verdict == HandOffVerdict::NotStarted)
        ShowInstallProblem(IDS_PACKAGE_NOT_STARTED);
    OnCancel();
}

void CUpdaterDlg::ShowInstallProblem(uint16_t number, uint16_t olderNumber) const
{
    std::string text;
    std::string caption;
    // Older modules lack the newer texts: the older one of the same kind, then 520.
    if (olderNumber == 0)
        LoadTextOr(number, IDS_DOWNLOAD_FAILED, text);
    else if (!LoadText(number, text))
        LoadTextOr(olderNumber, IDS_DOWNLOAD_FAILED, text);
    (void)LoadText(IDS_CAPTION, caption);
    (void)ShowMessageBox(m_hWnd, text, caption, MB_ICONEXCLAMATION | MB_OK);
}

void CUpdaterDlg::RunCloseAppsGuard()
{
    GuardInstallation();
}

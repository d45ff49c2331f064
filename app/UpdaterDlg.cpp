#include "UpdaterDlg.h"

#include "LanguageModule.h"
#include "resource.h"

namespace
{
constexpr const char* kProductCode = "Quorvel30";
constexpr WORD kProgressMaximum = 100;
} // namespace

CUpdaterDlg::CUpdaterDlg(HWND parent) noexcept : CDialog(IDD_UPDATER, parent) {}

std::string ComputeModuleDirectory()
{
    return ExecutableDirectory();
}

void CUpdaterDlg::DoDataExchange(CDataExchange& dx)
{
    dx.Control(IDC_PROGRESS, m_progress);
}

bool CUpdaterDlg::LoadText(UINT number, std::string& text) const
{
    return LoadModuleString(m_languageModule, static_cast<uint16_t>(number), text);
}

BOOL CUpdaterDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_moduleDirectory = ComputeModuleDirectory();
    m_languageModule = LoadLanguageModule();
    m_productCode = kProductCode;

    // One string object carries every text in turn: a string missing from the module
    // leaves the previous text (or, at first, an empty one) in its place.
    std::string text;
    (void)LoadText(IDS_CAPTION, text);
    SetWindowText(text);
    (void)LoadText(IDS_READY, text);
    SetDlgItemText(IDC_STATUS, text);
    (void)LoadText(IDS_START_LABEL, text);
    SetDlgItemText(IDC_START, text);
    (void)LoadText(IDS_CANCEL_LABEL, text);
    SetDlgItemText(IDC_CANCEL, text);
    (void)LoadText(IDS_INSTALL_LABEL, text);
    SetDlgItemText(IDC_INSTALL, text);

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

void CUpdaterDlg::SetDownloadProgress(int percent)
{
    m_progress.SetPos(percent);
}

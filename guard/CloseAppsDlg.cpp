#include "CloseAppsDlg.h"

#include "AboutDlg.h"
#include "ControlTexts.h"
#include "LanguageModule.h"
#include "ProcessCounter.h"
#include "WinApp.h"
#include "resource.h"

namespace
{
// System-menu command ids carry flags in their lowest four bits.
constexpr UINT kSystemCommandMask = 0xFFF0;

// Set in this order at initialisation; the dialog's caption stays the template's.
constexpr ControlText kControlTexts[] = {
    {IDC_PROMPT, IDS_CLOSEAPPS_PROMPT},
    {IDC_RETRY, IDS_RETRY_LABEL},
    {IDC_IGNORE, IDS_IGNORE_LABEL},
    {IDC_CLOSEAPPS_OK, IDS_OK_LABEL},
};
} // namespace

CCloseAppsDlg::CCloseAppsDlg(HWND parent) noexcept
    : CDialog(IDD_CLOSEAPPS, parent), m_icon(LoadIconA(AppInstance(), MAKEINTRESOURCEA(IDI_CLOSEAPPS)))
{
}

CCloseAppsDlg::~CCloseAppsDlg() = default;

int CCloseAppsDlg::CountRunningProcesses(const std::string& text) const
{
    return ::CountRunningProcesses(text);
}

WatchedCounts CCloseAppsDlg::CountWatchedPrograms() const
{
    WatchedCounts counts;
    counts.manager = CountRunningProcesses(kManagerImage);
    counts.outlook = CountRunningProcesses(kOutlookImage);
    counts.outlookExpress = CountRunningProcesses(kOutlookExpressImage);
    return counts;
}

void CCloseAppsDlg::DoDataExchange(CDataExchange& dx)
{
    dx.Control(IDC_APPLIST, m_list);
}

void CCloseAppsDlg::InsertEntries(const std::string& managerEntry) const
{
    // Each entry goes to the top: inserting at an index does not sort, even in a
    // sorted list box, so the list shows the entries in reverse insertion order.
    for (const std::string& entry : ListInsertions(m_counts, managerEntry))
        (void)m_list.InsertString(0, entry);
}

BOOL CCloseAppsDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    // This dialog loads the module for itself, with the same message when it is missing.
    m_languageModule = LoadLanguageModule();

    // One string object carries every text in turn: a string missing from the module
    // leaves the previous control's text (or, at first, an empty one) in its place.
    std::string text;
    SetControlTexts(*this, m_languageModule, kControlTexts, text);

    HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE);
    if (systemMenu != nullptr)
    {
        std::string aboutItem;
        if (LoadModuleString(nullptr, IDS_ABOUTBOX, aboutItem) && !aboutItem.empty())
        {
            (void)AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            (void)AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutItem.c_str());
        }
    }

    (void)SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    (void)SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));

    // The Manager's entry continues the same string object as the control texts.
    if (m_counts.manager != 0)
        (void)LoadModuleString(m_languageModule, IDS_MANAGER_ENTRY, text);
    InsertEntries(text);
    // The dialog manager puts the focus on the first tab stop, Retry.
    return TRUE;
}

void CCloseAppsDlg::OnRetry()
{
    m_list.ResetContent();
    m_counts = CountWatchedPrograms();
    if (!m_counts.AnyRunning())
    {
        EnableDlgItem(IDC_CLOSEAPPS_OK, true);
        return;
    }
    // OK keeps its state: once enabled it stays enabled.
    InsertEntries(kManagerEntryAfterRetry);
}

bool CCloseAppsDlg::OnSysCommand(UINT command, LPARAM)
{
    if ((command & kSystemCommandMask) != IDM_ABOUTBOX)
        return false;
    CAboutDlg about;
    (void)about.DoModal();
    return true;
}

bool CCloseAppsDlg::OnPaint()
{
    if (!IsIconic(m_hWnd))
        return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    (void)SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    (void)GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    (void)DrawIcon(dc, x, y, m_icon);
    (void)EndPaint(m_hWnd, &paint);
    return true;
}

bool CCloseAppsDlg::OnCommand(WORD id, WORD notification)
{
    if (id == IDC_RETRY && notification == BN_CLICKED)
    {
        OnRetry();
        return true;
    }
    return false;
}

bool CCloseAppsDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message)
    {
    case WM_SYSCOMMAND:
        return OnSysCommand(static_cast<UINT>(wParam), lParam);
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(OnQueryDragIcon());
        return true;
    default:
        return false;
    }
}

#include "Dialog.h"

#include "WinApp.h"

void CDataExchange::Control(int id, CWnd& control) const noexcept
{
    control.Attach(::GetDlgItem(m_dialog, id));
}

CDialog::CDialog(UINT templateId, HWND parent) noexcept : m_templateId(templateId), m_parent(parent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() noexcept
{
    // Without a parent the owner is the main window's last active popup: a dialog
    // opened from another modal dialog is then modal over that one, and closing it
    // does not enable the main window beneath the dialog still open.
    HWND owner = m_parent;
    if (owner == nullptr && AppMainWindow() != nullptr)
        owner = GetLastActivePopup(AppMainWindow());
    m_ending = false;
    return DialogBoxParamA(AppInstance(), MAKEINTRESOURCEA(m_templateId), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR result) noexcept
{
    m_ending = true;
    (void)::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnInitDialog()
{
    CDataExchange dx(m_hWnd);
    DoDataExchange(dx);
    return TRUE;
}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange&) {}

bool CDialog::OnCommand(WORD, WORD)
{
    return false;
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&)
{
    return false;
}

void CDialog::RouteCommand(WORD id, WORD notification, HWND control)
{
    // Enter presses the default button even when it has been disabled on some systems;
    // a disabled button must not act.
    HWND button = GetDlgItem(id);
    if (control == nullptr && button != nullptr && !IsWindowEnabled(button))
        return;
    if (OnCommand(id, notification))
        return;
    if (id == IDOK)
        OnOK();
    else if (id == IDCANCEL)
        OnCancel();
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        RouteCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return TRUE;
    default:
        break;
    }
    LRESULT result = 0;
    if (!OnMessage(message, wParam, lParam, result))
        return FALSE;
    // These messages return their result directly; all others through DWLP_MSGRESULT.
    switch (message)
    {
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
        return static_cast<INT_PTR>(result);
    default:
        SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    if (message == WM_INITDIALOG)
    {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
        dialog->m_hWnd = window;
    }
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (dialog == nullptr)
        return FALSE;
    const INT_PTR handled = dialog->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY)
    {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        dialog->m_hWnd = nullptr;
    }
    return handled;
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT style) noexcept
{
    return MessageBoxA(owner, text.c_str(), caption.c_str(), style);
}

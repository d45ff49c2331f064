#include "Wnd.h"

void CWnd::SetWindowText(const std::string& text) const noexcept
{
    (void)::SetWindowTextA(m_hWnd, text.c_str());
}

void CWnd::SetDlgItemText(int id, const std::string& text) const noexcept
{
    (void)::SetDlgItemTextA(m_hWnd, id, text.c_str());
}

void CWnd::EnableDlgItem(int id, bool enable) const noexcept
{
    (void)::EnableWindow(GetDlgItem(id), enable ? TRUE : FALSE);
}

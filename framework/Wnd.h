// A window the framework addresses by handle: a dialog or one of its controls.
#pragma once

#include <windows.h>

#include <string>

class CWnd
{
  public:
    virtual ~CWnd() = default;

    HWND GetSafeHwnd() const noexcept { return m_hWnd; }
    // Binds this object to a window it does not own (a dialog's control).
    void Attach(HWND window) noexcept { m_hWnd = window; }

    HWND GetDlgItem(int id) const noexcept { return ::GetDlgItem(m_hWnd, id); }
    void SetWindowText(const std::string& text) const noexcept;
    void SetDlgItemText(int id, const std::string& text) const noexcept;
    void EnableDlgItem(int id, bool enable) const noexcept;

  protected:
    HWND m_hWnd = nullptr;
};

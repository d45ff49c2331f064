// Wrappers for the controls the dialogs bind.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "Wnd.h"

class CProgressCtrl : public CWnd
{
  public:
    // PBM_SETRANGE: low word the minimum, high word the maximum.
    void SetRange(WORD minimum, WORD maximum) const noexcept
    {
        (void)SendMessageA(m_hWnd, PBM_SETRANGE, 0, MAKELPARAM(minimum, maximum));
    }
    void SetPos(int position) const noexcept { (void)SendMessageA(m_hWnd, PBM_SETPOS, position, 0); }
};

class CListBox : public CWnd
{
  public:
    // Inserts at `index` without sorting, even in a sorted list box.
    int InsertString(int index, const std::string& text) const noexcept
    {
        return static_cast<int>(
            SendMessageA(m_hWnd, LB_INSERTSTRING, index, reinterpret_cast<LPARAM>(text.c_str())));
    }
    void ResetContent() const noexcept { (void)SendMessageA(m_hWnd, LB_RESETCONTENT, 0, 0); }
};

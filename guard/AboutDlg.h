// The About box, reached only from the close-applications dialog's system menu. Its
// texts are fixed in the dialog template.
#pragma once

#include <windows.h>

#include "Dialog.h"

class CAboutDlg : public CDialog
{
  public:
    explicit CAboutDlg(HWND parent = nullptr) noexcept;
    ~CAboutDlg() override;
};

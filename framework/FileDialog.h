// The common Open/Save-As dialog in its Explorer form without the places bar.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <string>

class CFileDialog
{
  public:
    // `fileName` pre-fills the file-name box (cut to the platform's path limit).
    CFileDialog(bool openFileDialog, const char* defaultExtension, const char* fileName, DWORD flags,
                const char* filter, HWND parent) noexcept;

    // IDOK when the user confirmed a name, IDCANCEL otherwise.
    INT_PTR DoModal() noexcept;
    // The full path the user confirmed.
    std::string GetPathName() const { return m_fileName; }

  private:
    OPENFILENAMEA m_ofn{};
    bool m_openFileDialog;
    char m_fileName[MAX_PATH] = {};
};

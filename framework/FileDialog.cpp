#include "FileDialog.h"

#include <cstring>

CFileDialog::CFileDialog(bool openFileDialog, const char* defaultExtension, const char* fileName, DWORD flags,
                         const char* filter, HWND parent) noexcept
    : m_openFileDialog(openFileDialog)
{
    if (fileName != nullptr)
    {
        std::strncpy(m_fileName, fileName, sizeof m_fileName - 1);
        m_fileName[sizeof m_fileName - 1] = '\0';
    }
    // The 76-byte record of the older Explorer dialog: no places bar.
    m_ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    m_ofn.hwndOwner = parent;
    m_ofn.lpstrFilter = filter;
    m_ofn.lpstrDefExt = defaultExtension;
    m_ofn.lpstrFile = m_fileName;
    m_ofn.nMaxFile = sizeof m_fileName;
    m_ofn.Flags = flags;
}

INT_PTR CFileDialog::DoModal() noexcept
{
    const BOOL confirmed = m_openFileDialog ? GetOpenFileNameA(&m_ofn) : GetSaveFileNameA(&m_ofn);
    return confirmed ? IDOK : IDCANCEL;
}

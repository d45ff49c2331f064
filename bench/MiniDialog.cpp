// The smallest Win32 program that does what the updater's start-up and check do, as the
// reference they are measured against. "empty": shows an empty dialog from a template
// and waits. "check": a dialog whose Start button makes the version-file request with
// the updater's WinINet calls and shows the answer in a message box.
#include <windows.h>

#include <cstring>

#include "MiniDialog.h"
#include "VersionRequest.h"

namespace
{
INT_PTR CALLBACK EmptyDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
    {
        EndDialog(window, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK CheckDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK)
    {
        const std::string version = bench::RequestVersionFile();
        MessageBoxA(window, version.empty() ? "failed" : version.c_str(), "Minimal",
                    MB_ICONINFORMATION | MB_OK);
        return TRUE;
    }
    return EmptyDialogProc(window, message, wParam, lParam);
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    const bool check = std::strcmp(commandLine, "check") == 0;
    return static_cast<int>(DialogBoxParamA(instance,
                                            MAKEINTRESOURCEA(check ? IDD_MINI_CHECK : IDD_MINI_EMPTY),
                                            nullptr, check ? CheckDialogProc : EmptyDialogProc, 0));
}

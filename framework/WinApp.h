// The application object: one per process, created during static initialisation; the
// framework's entry point runs its InitInstance and ends the process when it returns
// false (no message loop of its own).
#pragma once

#include <windows.h>

#include "Wnd.h"

class CWinApp
{
  public:
    CWinApp() noexcept;
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Sets up the application; false ends the process instead of entering a loop.
    virtual BOOL InitInstance();

    // Hosting embedded controls would need a container; no template holds one.
    void EnableControlContainer() noexcept {}

    // The window that owns modal dialogs created without a parent; null for none.
    void SetMainWindow(const CWnd* window) noexcept { m_mainWindow = window; }

    static CWinApp* Current() noexcept;

  private:
    const CWnd* m_mainWindow = nullptr;

    friend HWND AppMainWindow() noexcept;
};

// The running application's main window handle, or null.
HWND AppMainWindow() noexcept;

// Module handle of the executable, for its resources.
HINSTANCE AppInstance() noexcept;

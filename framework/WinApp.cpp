#include "WinApp.h"

namespace
{
CWinApp* g_application = nullptr;
}

CWinApp::CWinApp() noexcept
{
    g_application = this;
}

CWinApp::~CWinApp()
{
    if (g_application == this)
        g_application = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

CWinApp* CWinApp::Current() noexcept
{
    return g_application;
}

HWND AppMainWindow() noexcept
{
    if (g_application == nullptr || g_application->m_mainWindow == nullptr)
        return nullptr;
    return g_application->m_mainWindow->GetSafeHwnd();
}

HINSTANCE AppInstance() noexcept
{
    return GetModuleHandleA(nullptr);
}

// The framework's entry point: the application object already exists (static
// initialisation), so all that is left is to run it.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CWinApp* application = CWinApp::Current();
    if (application == nullptr)
        return 1;
    (void)application->InitInstance();
    return 0;
}

// The updater's one main window and the state of an update run. Its operations are
// defined in the folders of their features: the check and the download in update/, the
// guard in guard/, start-up and texts here.
#pragma once

#include <windows.h>

#include <string>

#include "Controls.h"
#include "Dialog.h"
#include "VersionQuad.h"

class CUpdaterDlg : public CDialog
{
  public:
    explicit CUpdaterDlg(HWND parent = nullptr) noexcept;

    // Run-time class name, for diagnostics.
    static constexpr const char* kClassName = "CUpdaterDlg";

    BOOL OnInitDialog() override;

    // Start: compares the installed and the server's versions and offers the update.
    void OnStart();
    // Install: holds back while mail programs run, then runs the package and ends.
    void OnInstall();
    // Asks for a folder and downloads the package into it; always 0.
    int DownloadUpdate();
    // Moves the progress bar to `percent` (not clamped).
    void SetDownloadProgress(int percent);
    // Fills the server record from the update server's version file; 0 on failure.
    int FetchServerVersion();
    // Shows the close-applications dialog while watched programs run.
    void RunCloseAppsGuard();

    // Loads string `number` of the language module into `text` (kept when missing).
    bool LoadText(UINT number, std::string& text) const;

    std::string m_moduleDirectory;
    std::string m_productCode;
    std::string m_packagePath;
    VersionQuad m_installed;
    VersionQuad m_server;
    HMODULE m_languageModule = nullptr;
    CProgressCtrl m_progress;

  protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnCommand(WORD id, WORD notification) override;
};

// The updater's own directory, with its trailing backslash.
std::string ComputeModuleDirectory();

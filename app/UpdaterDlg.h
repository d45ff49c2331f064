// The updater's one main window. It holds the state of an update run and sequences the
// steps of the road: the check, the download and the hand-off live in update/, the
// guard in guard/; the handlers here only call them and show their outcome.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "Controls.h"
#include "Dialog.h"
#include "DownloadProgress.h"
#include "VersionQuad.h"

class CUpdaterDlg : public CDialog, private IDownloadProgress
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
    // Fills the server record from the update server's version file; 0 on failure.
    int FetchServerVersion();
    // Shows the close-applications dialog while watched programs run.
    void RunCloseAppsGuard();

  protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnCommand(WORD id, WORD notification) override;

  private:
    // The download's view of this window: the progress bar and the message queue.
    void SetDownloadProgress(int percent) override;
    void PumpMessages() override;

    // Loads string `number` of the language module into `text` (kept when missing).
    bool LoadText(uint16_t number, std::string& text) const;
    // Loads string `number` into `text` and shows it in the status line.
    void ShowStatus(uint16_t number, std::string& text) const;

    std::string m_moduleDirectory;
    std::string m_productCode;
    std::string m_packagePath;
    VersionQuad m_installed;
    VersionQuad m_server;
    HMODULE m_languageModule = nullptr;
    CProgressCtrl m_progress;
};

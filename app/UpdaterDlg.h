// The updater's one main window. It holds the state of an update run and sequences the
// steps of the road: the check, the download and the hand-off live in update/, the
// guard in guard/; the handlers here only call them and show their outcome.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "Controls.h"
#include "Dialog.h"
#include "DownloadProgress.h"
#include "ServerVersion.h"
#include "UpdateManifest.h"
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
    // Fills the server record and the expected package from the update server's
    // version file, once its signature is the vendor's.
    ServerAnswer FetchServerVersion();
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
    // Loads string `number` into `text`, or `fallback` where the module lacks it.
    void LoadTextOr(uint16_t number, uint16_t fallback, std::string& text) const;
    // Says why Install ended without an installer: string `number` in a warning, where the
    // module lacks it string `olderNumber` (when nonzero), then 520.
    void ShowInstallProblem(uint16_t number, uint16_t olderNumber = 0) const;

    std::string m_moduleDirectory;
    std::string m_productCode;
    std::string m_packagePath;
    VersionQuad m_installed;
    VersionQuad m_server;
    // The package the signed manifest names for this language; set by a verified check.
    std::optional<ManifestPackage> m_expectedPackage;
    HMODULE m_languageModule = nullptr;
    CProgressCtrl m_progress;
};

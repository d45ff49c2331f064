// The close-applications dialog: lists the watched programs that still run and lets the
// user count again (Retry), go on at once (Ignore) or go on once nothing runs (OK).
#pragma once

#include <windows.h>

#include <string>

#include "CloseAppsList.h"
#include "Controls.h"
#include "Dialog.h"

class CCloseAppsDlg : public CDialog
{
  public:
    // Loads the dialog's icon; the counts start at 0. `parent` null: the application's
    // main window owns the dialog.
    explicit CCloseAppsDlg(HWND parent = nullptr) noexcept;
    ~CCloseAppsDlg() override;

    // How many running processes have an image name containing `text`; needs no window.
    int CountRunningProcesses(const std::string& text) const;
    // Counts the watched programs in their fixed order: Manager, Outlook, Outlook Express.
    WatchedCounts CountWatchedPrograms() const;

    BOOL OnInitDialog() override;
    // Retry: empties the list, counts again and lists what still runs; enables OK once
    // nothing runs (and never disables it again).
    void OnRetry();
    // System commands 16 to 31 open the About box; the rest get default processing.
    bool OnSysCommand(UINT command, LPARAM parameter);
    // Draws the icon centred while minimised; false leaves painting to the dialog.
    bool OnPaint();
    // The image shown while the minimised window is dragged.
    HICON OnQueryDragIcon() const noexcept { return m_icon; }

    // The counts the list is filled from: set by the guard before the dialog opens, and
    // by Retry.
    void SetCounts(const WatchedCounts& counts) noexcept { m_counts = counts; }
    const WatchedCounts& Counts() const noexcept { return m_counts; }

  protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnCommand(WORD id, WORD notification) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  private:
    void InsertEntries(const std::string& managerEntry) const;

    WatchedCounts m_counts;
    // This dialog's own load of the language module; never released.
    HMODULE m_languageModule = nullptr;
    HICON m_icon = nullptr;
    CListBox m_list;
};

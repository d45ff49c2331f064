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

    // How many running processes have an image name containing `text` (case-sensitive;
    // an empty text matches every name). 0 also when processes cannot be enumerated;
    // a process that cannot be examined is not counted. Needs no window.
    int CountRunningProcesses(std::string text) const;
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

    // Written by the guard before the dialog opens and by Retry.
    WatchedCounts m_counts;
    // This dialog's own load of the language module; never released.
    HMODULE m_languageModule = nullptr;
    HICON m_icon = nullptr;
    CListBox m_list;

  protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnCommand(WORD id, WORD notification) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  private:
    void InsertEntries(const std::string& managerEntry) const;
};

// A thin modal dialog over the platform's dialog manager: one static dialog procedure
// keeps `this` in the window's user data and routes commands by control id.
#pragma once

#include <windows.h>

#include <string>

#include "Wnd.h"

// Binds dialog controls to control objects when the dialog initialises.
class CDataExchange
{
  public:
    explicit CDataExchange(HWND dialog) noexcept : m_dialog(dialog) {}
    void Control(int id, CWnd& control) const noexcept;

  private:
    HWND m_dialog;
};

class CDialog : public CWnd
{
  public:
    // `parent` null: the application's main window owns the dialog while it runs.
    explicit CDialog(UINT templateId, HWND parent = nullptr) noexcept;
    ~CDialog() override;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog until it ends; its end code, or -1 when it could not be created.
    INT_PTR DoModal() noexcept;
    // Ends the dialog with `result` once control is back in its modal loop: a handler
    // that is still running (one waiting on the network, say) runs on to its end first.
    void EndDialog(INT_PTR result) noexcept;
    // True once the current run of the dialog has been asked to end: a handler that was
    // waiting meanwhile has no one left to show its outcome to.
    bool Ending() const noexcept { return m_ending; }

    virtual BOOL OnInitDialog();
    // Default for control 1: ends the dialog with IDOK.
    virtual void OnOK();
    // Default for control 2, Escape and the close box: ends the dialog with IDCANCEL.
    virtual void OnCancel();

  protected:
    virtual void DoDataExchange(CDataExchange& dx);
    // Command hook, by control id; true when handled. Unhandled ids 1 and 2 fall back
    // to OnOK and OnCancel.
    virtual bool OnCommand(WORD id, WORD notification);
    // Other messages; true when handled, with the message's result in `result`.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void RouteCommand(WORD id, WORD notification, HWND control);

    UINT m_templateId;
    HWND m_parent;
    bool m_ending = false;
};

// A message box; returns the button pressed (IDOK, IDYES, ...).
int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT style) noexcept;

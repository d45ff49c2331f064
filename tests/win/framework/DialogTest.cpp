// A modal dialog whose handler waits with the message pump, as the updater's check and
// download do: the dialog answers meanwhile, and an end asked for then is seen by the
// handler and takes effect once it has returned.
#include <windows.h>

#include <gtest/gtest.h>

#include "Dialog.h"
#include "MessagePump.h"
#include "resource.h"

namespace
{
constexpr UINT kStartWaiting = WM_APP + 1;

class WaitingDialog : public CDialog
{
  public:
    WaitingDialog() noexcept : CDialog(IDD_ABOUTBOX) {}

    bool endingBeforeTheWait = true;
    bool endingAfterTheWait = false;
    bool handlerReturned = false;
    DWORD waitedMs = 0;

  protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        (void)PostMessageA(m_hWnd, kStartWaiting, 0, 0);
        return TRUE;
    }

    bool OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) override
    {
        if (message != kStartWaiting)
            return false;
        // The user's Cancel arrives while the handler waits, as a click would.
        endingBeforeTheWait = Ending();
        (void)PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        const DWORD started = GetTickCount();
        (void)WaitPumpingMessages(nullptr, 300);
        waitedMs = GetTickCount() - started;
        endingAfterTheWait = Ending();
        handlerReturned = true;
        result = 0;
        return true;
    }
};
} // namespace

TEST(Dialog, CancelDuringAWaitingHandlerEndsTheDialogOnceTheHandlerReturns)
{
    WaitingDialog dialog;

    EXPECT_EQ(IDCANCEL, dialog.DoModal());

    EXPECT_FALSE(dialog.endingBeforeTheWait);
    EXPECT_TRUE(dialog.endingAfterTheWait);
    EXPECT_TRUE(dialog.handlerReturned);
    // The wait is not cut short by the end: the handler decides what to do with it.
    EXPECT_GE(dialog.waitedMs, 250u);
    EXPECT_TRUE(dialog.Ending());
}

#include "MessagePump.h"

#include "Handles.h"

namespace
{
// How long GetMessage may wait for a message that PeekMessage reported but that is gone.
constexpr UINT kPumpWakeUpMilliseconds = 50;
} // namespace

void PumpWaitingMessages() noexcept
{
    // A message PeekMessage reports can be gone when GetMessage looks (a repaint the
    // platform settles in between), and GetMessage then waits for the next one. While a
    // download notification is handled the transfer posts nothing, so that wait would
    // never end: a thread timer, set once there is something to take, bounds it.
    UniqueThreadTimer wakeUp;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE))
    {
        if (!wakeUp)
            wakeUp.reset(SetTimer(nullptr, 0, kPumpWakeUpMilliseconds, nullptr));
        // A WM_QUIT is taken like any other message; nothing here ends a loop on it.
        (void)GetMessageA(&message, nullptr, 0, 0);
        (void)TranslateMessage(&message);
        (void)DispatchMessageA(&message);
    }
}

bool WaitPumpingMessages(HANDLE event, DWORD timeoutMs) noexcept
{
    const DWORD handleCount = event != nullptr ? 1 : 0;
    const auto signalled = [event]
    { return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0; };
    const DWORD started = GetTickCount();
    for (;;)
    {
        // One message at a time, the event and the time looked at after each: a queue the
        // platform keeps filling (a transfer's notifications) cannot hold the wait past
        // its end. Taken with its removal, a message cannot vanish between the look and
        // the take.
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        {
            (void)TranslateMessage(&message);
            (void)DispatchMessageA(&message);
            if (signalled())
                return true;
            if (GetTickCount() - started >= timeoutMs)
                return false;
        }
        if (signalled())
            return true;
        const DWORD passed = GetTickCount() - started;
        if (passed >= timeoutMs)
            return false;
        // Wakes for the event, for a message that arrives after the queue was last looked
        // at, or at the end of the time.
        const DWORD woke =
            MsgWaitForMultipleObjects(handleCount, &event, FALSE, timeoutMs - passed, QS_ALLINPUT);
        if (handleCount != 0 && woke == WAIT_OBJECT_0)
            return true;
        if (woke == WAIT_TIMEOUT)
            return false;
        // A wait the platform refuses would be asked again at once, round after round:
        // the time goes by in short sleeps instead.
        if (woke == WAIT_FAILED)
            Sleep(kPumpWakeUpMilliseconds);
    }
}

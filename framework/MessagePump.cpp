#include "MessagePump.h"

#include <windows.h>

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

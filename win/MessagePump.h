// Draining the thread's message queue from inside a long call on the user-interface
// thread, and waiting there without leaving the window unanswered.
#pragma once

#include <windows.h>

// Dispatches every message waiting in the thread's queue and returns when it is empty.
// Messages bypass dialog-key handling: Tab, Enter and Escape do not act as dialog keys.
void PumpWaitingMessages() noexcept;

// Waits until `event` (an event handle, or null for none) is signalled or `timeoutMs`
// milliseconds have passed, dispatching every message that arrives meanwhile, with no
// dialog-key handling, as PumpWaitingMessages does: the windows repaint and their buttons
// answer, and work the platform hands to this thread through its queue gets done. Returns
// at the end of the time even while messages keep arriving. True when the event was
// signalled (an auto-reset event is reset by it). Neither a timer nor another thread takes
// part: the platform's wait for a handle or a message ends it.
bool WaitPumpingMessages(HANDLE event, DWORD timeoutMs) noexcept;

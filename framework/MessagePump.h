// Draining the thread's message queue from inside a long synchronous call.
#pragma once

// Dispatches every message waiting in the thread's queue and returns when it is empty.
// Messages bypass dialog-key handling: Tab, Enter and Escape do not act as dialog keys.
void PumpWaitingMessages() noexcept;

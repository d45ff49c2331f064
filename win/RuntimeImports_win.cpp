// Two functions that the static C++ runtime of newer compilers imports but that older
// systems lack: GetThreadId (Vista and later) and TryEnterCriticalSection (NT 4.0 and
// later, never Windows 9x). A loader refuses an executable whose import it cannot find,
// however rarely the import is called, so Seekwell.exe defines the import slots itself:
// linked ahead of the platform's import libraries, these slots take the runtime's calls,
// and each call binds the system's own function where it exists and falls back where it
// does not. The executable's import table then names neither.
#include <windows.h>

#include "Platform.h"

// Only the 32-bit updater has to load on those older systems; the x86_64 build's runtime
// imports both functions under other names and keeps them.
#if !defined(_WIN64)
namespace
{
template <typename Function> Function KernelProcedure(const char* name) noexcept
{
    return BindProcedure<Function>(GetModuleHandleA("kernel32.dll"), name);
}

// The runtime compares threads by their ids. The updater has one thread, and the handle
// it asks about is its own pseudo handle, whose id needs no newer function.
DWORD WINAPI GetThreadIdOrFallback(HANDLE thread) noexcept
{
    using GetThreadIdFunction = DWORD(WINAPI*)(HANDLE);
    if (const auto getThreadId = KernelProcedure<GetThreadIdFunction>("GetThreadId"))
        return getThreadId(thread);
    if (thread == GetCurrentThread())
        return GetCurrentThreadId();
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}

// Only a mutex's try-lock comes here. Without the system's function the section counts as
// busy, an answer every try-lock caller handles.
BOOL WINAPI TryEnterCriticalSectionOrFallback(CRITICAL_SECTION* section) noexcept
{
    using TryEnterFunction = BOOL(WINAPI*)(CRITICAL_SECTION*);
    if (const auto tryEnter = KernelProcedure<TryEnterFunction>("TryEnterCriticalSection"))
        return tryEnter(section);
    return FALSE;
}
} // namespace

// The slots under the names the i686 import libraries give them (the runtime calls
// through "__imp__<name>@<argument bytes>").
extern "C"
{
    extern DWORD(WINAPI* const kGetThreadIdSlot)(HANDLE) __asm__("__imp__GetThreadId@4");
    extern BOOL(WINAPI* const kTryEnterCriticalSectionSlot)(CRITICAL_SECTION*) __asm__(
        "__imp__TryEnterCriticalSection@4");
}
DWORD(WINAPI* const kGetThreadIdSlot)(HANDLE) = &GetThreadIdOrFallback;
BOOL(WINAPI* const kTryEnterCriticalSectionSlot)(CRITICAL_SECTION*) = &TryEnterCriticalSectionOrFallback;
#endif

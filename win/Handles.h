// Owners for the platform handles the updater opens and closes within one operation.
// Language modules and the process-enumeration libraries are deliberately not wrapped:
// they stay loaded until the process ends.
#pragma once

#include <windows.h>
#include <wininet.h>
#include <wincrypt.h>

#include "UniqueHandle.h"

// Closing a handle may change the thread's last error, which the code that owned the
// handle may still have to report (a failed call's reason, read after the cleanup). The
// owners' close functions keep it as it was.
class CLastErrorKeeper
{
  public:
    CLastErrorKeeper() noexcept : m_saved(GetLastError()) {}
    ~CLastErrorKeeper() { SetLastError(m_saved); }
    CLastErrorKeeper(const CLastErrorKeeper&) = delete;
    CLastErrorKeeper& operator=(const CLastErrorKeeper&) = delete;

  private:
    DWORD m_saved;
};

// Traits whose close function is `Close`, called with the handle alone; the last error
// survives it. The owning traits add what "empty" means for their handle.
template <typename Handle, auto CloseFunction> struct ClosingTraits
{
    using pointer = Handle;
    static void Close(pointer handle) noexcept
    {
        const CLastErrorKeeper keeper;
        (void)CloseFunction(handle);
    }
};

struct RegistryKeyTraits : ClosingTraits<HKEY, &RegCloseKey>
{
    static pointer Empty() noexcept { return nullptr; }
};
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;

// Process handles and events: empty is NULL.
struct KernelHandleTraits : ClosingTraits<HANDLE, &CloseHandle>
{
    static pointer Empty() noexcept { return nullptr; }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

// Toolhelp snapshots and files: empty is INVALID_HANDLE_VALUE.
struct FileHandleTraits : ClosingTraits<HANDLE, &CloseHandle>
{
    static pointer Empty() noexcept { return INVALID_HANDLE_VALUE; }
};
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

// File searches (FindFirstFileA): empty is INVALID_HANDLE_VALUE.
struct FindHandleTraits : ClosingTraits<HANDLE, &FindClose>
{
    static pointer Empty() noexcept { return INVALID_HANDLE_VALUE; }
};
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;

struct InternetHandleTraits : ClosingTraits<HINTERNET, &InternetCloseHandle>
{
    static pointer Empty() noexcept { return nullptr; }
};
using UniqueInternetHandle = UniqueHandle<InternetHandleTraits>;

inline BOOL KillThreadTimer(UINT_PTR timer) noexcept
{
    return KillTimer(nullptr, timer);
}

// Timers of the calling thread, made without a window: empty is 0.
struct ThreadTimerTraits : ClosingTraits<UINT_PTR, &KillThreadTimer>
{
    static pointer Empty() noexcept { return 0; }
};
using UniqueThreadTimer = UniqueHandle<ThreadTimerTraits>;

inline BOOL ReleaseCryptContext(HCRYPTPROV provider) noexcept
{
    return CryptReleaseContext(provider, 0);
}

// The cryptographic provider's contexts, hashes and keys: empty is 0.
struct CryptProviderTraits : ClosingTraits<HCRYPTPROV, &ReleaseCryptContext>
{
    static pointer Empty() noexcept { return 0; }
};
using UniqueCryptProvider = UniqueHandle<CryptProviderTraits>;

struct CryptHashTraits : ClosingTraits<HCRYPTHASH, &CryptDestroyHash>
{
    static pointer Empty() noexcept { return 0; }
};
using UniqueCryptHash = UniqueHandle<CryptHashTraits>;

struct CryptKeyTraits : ClosingTraits<HCRYPTKEY, &CryptDestroyKey>
{
    static pointer Empty() noexcept { return 0; }
};
using UniqueCryptKey = UniqueHandle<CryptKeyTraits>;

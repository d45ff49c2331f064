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

struct RegistryKeyTraits
{
    using pointer = HKEY;
    static pointer Empty() noexcept { return nullptr; }
    static void Close(pointer key) noexcept
    {
        const CLastErrorKeeper keeper;
        (void)RegCloseKey(key);
    }
};
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;

// Process handles: empty is NULL.
struct KernelHandleTraits
{
    using pointer = HANDLE;
    static pointer Empty() noexcept { return nullptr; }
    static void Close(pointer handle) noexcept
    {
        const CLastErrorKeeper keeper;
        (void)CloseHandle(handle);
    }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

// Toolhelp snapshots and files: empty is INVALID_HANDLE_VALUE.
struct FileHandleTraits
{
    using pointer = HANDLE;
    static pointer Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(pointer handle) noexcept
    {
        const CLastErrorKeeper keeper;
        (void)CloseHandle(handle);
    }
};
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

struct InternetHandleTraits
{
    using pointer = HINTERNET;
    static pointer Empty() noexcept { return nullptr; }
    static void Close(pointer handle) noexcept
    {
        const CLastErrorKeeper keeper;
        (void)InternetCloseHandle(handle);
    }
};
using UniqueInternetHandle = UniqueHandle<InternetHandleTraits>;

// Timers of the calling thread, made without a window: empty is 0.
struct ThreadTimerTraits
{
    using pointer = UINT_PTR;
    static pointer Empty() noexcept { return 0; }
    static void Close(pointer timer) noexcept
    {
        const CLastErrorKeeper keeper;
        (void)KillTimer(nullptr, timer);
    }
};
using UniqueThreadTimer = UniqueHandle<ThreadTimerTraits>;

// The cryptographic provider's contexts, hashes and keys: empty is 0.
struct CryptProviderTraits
{
    using pointer = HCRYPTPROV;
    static pointer Empty() noexcept { return 0; }
    static void Close(pointer provider) noexcept
    {
        const CLastErrorKeeper keeper;
        (void)CryptReleaseContext(provider, 0);
    }
};
using UniqueCryptProvider = UniqueHandle<CryptProviderTraits>;

struct CryptHashTraits
{
    using pointer = HCRYPTHASH;
    static pointer Empty() noexcept { return 0; }
    static void Close(pointer hash) noexcept
    {
        const CLastErrorKeeper keeper;
        (void)CryptDestroyHash(hash);
    }
};
using UniqueCryptHash = UniqueHandle<CryptHashTraits>;

struct CryptKeyTraits
{
    using pointer = HCRYPTKEY;
    static pointer Empty() noexcept { return 0; }
    static void Close(pointer key) noexcept
    {
        const CLastErrorKeeper keeper;
        (void)CryptDestroyKey(key);
    }
};
using UniqueCryptKey = UniqueHandle<CryptKeyTraits>;

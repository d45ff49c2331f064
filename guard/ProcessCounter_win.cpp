#include "ProcessCounter.h"

#include <tlhelp32.h>

#include <cstring>

#include "Bitness.h"
#include "Handles.h"
#include "Mbcs.h"
#include "Platform.h"

namespace
{
// OSVERSIONINFOA as the oldest systems know it; a larger record would be refused there.
constexpr DWORD kVersionInfoSize = 148;
constexpr DWORD kNoPlatform = 0xFFFFFFFF;

constexpr DWORD kSnapProcesses = TH32CS_SNAPPROCESS;
static_assert(sizeof(PROCESSENTRY32) == kProcessEntrySize, "PROCESSENTRY32 is the ANSI record");

constexpr DWORD kMaxProcessIds = 1024;
constexpr DWORD kPathBufferChars = 500;
constexpr DWORD kQueryAndReadAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ; // 0x410

// Entry points bound by name at run time, so the executable imports neither Toolhelp
// (absent from NT 4's Kernel32.dll) nor Psapi.dll (absent from Windows 9x).
using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD flags, DWORD processId);
using ProcessWalkFn = BOOL(WINAPI*)(HANDLE snapshot, PROCESSENTRY32* entry);
using EnumProcessesFn = BOOL(WINAPI*)(DWORD* ids, DWORD idBytes, DWORD* bytesReturned);
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE process, HMODULE* modules, DWORD moduleBytes,
                                           DWORD* bytesNeeded);
using GetModuleFileNameExFn = DWORD(WINAPI*)(HANDLE process, HMODULE module, char* path, DWORD pathChars);
using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE process, DWORD flags, char* path, DWORD* pathChars);
using GetProcessImageFileNameFn = DWORD(WINAPI*)(HANDLE process, char* path, DWORD pathChars);

// Enough to ask a process its image path, not to read its memory (Vista and later).
constexpr DWORD kQueryLimitedAccess = 0x1000; // PROCESS_QUERY_LIMITED_INFORMATION

// The functions that tell a process's image path. The first module's file name is what
// every NT system offers; the two queries ask the process itself where its modules cannot
// be read (a 32-bit process cannot read those of a 64-bit one, and a process may let
// itself be queried but not read). Each query is null where the system lacks it:
// QueryFullProcessImageNameA (Kernel32.dll, Vista and later) gives the usual path,
// GetProcessImageFileNameA (Psapi.dll, XP and later) the same path under the volume's
// device name, where the matching rule finds a program's file name and folders as well.
struct ImagePathFunctions
{
    EnumProcessModulesFn enumProcessModules = nullptr;
    GetModuleFileNameExFn getModuleFileNameEx = nullptr;
    QueryFullProcessImageNameFn queryFullName = nullptr;
    GetProcessImageFileNameFn imageFileName = nullptr;
};

// The image path of an open process into `path` (kPathBufferChars) from the process
// itself; its length, or 0 when no query gives it.
DWORD QueriedImagePath(HANDLE process, const ImagePathFunctions& functions, char* path)
{
    DWORD length = kPathBufferChars;
    if (functions.queryFullName != nullptr && functions.queryFullName(process, 0, path, &length) &&
        length > 0)
        return length;
    if (functions.imageFileName != nullptr)
        return functions.imageFileName(process, path, kPathBufferChars);
    return 0;
}

// The image path of process `id` into `path` (kPathBufferChars): its first module's file
// name where its modules can be read, else what the process itself says. Its length, or 0
// when the process cannot be examined.
DWORD ImagePathOf(DWORD id, const ImagePathFunctions& functions, char* path)
{
    const UniqueKernelHandle process(OpenProcess(kQueryAndReadAccess, FALSE, id));
    if (!process)
    {
        // Only systems that can query a process without reading it know this right.
        if (functions.queryFullName == nullptr)
            return 0;
        const UniqueKernelHandle queryOnly(OpenProcess(kQueryLimitedAccess, FALSE, id));
        return queryOnly ? QueriedImagePath(queryOnly.get(), functions, path) : 0;
    }
    // The first module is the executable itself; the others are not needed.
    HMODULE executable = nullptr;
    DWORD moduleBytes = 0;
    if (!functions.enumProcessModules(process.get(), &executable, sizeof executable, &moduleBytes))
        return QueriedImagePath(process.get(), functions, path);
    // A failed call leaves the buffer undefined: such a process is not counted.
    return functions.getModuleFileNameEx(process.get(), executable, path, kPathBufferChars);
}

bool NameContains(const char* name, size_t capacity, const std::string& text)
{
    const std::string imageName(name, strnlen(name, capacity));
    return ContainsText(imageName, text, IsLeadByte);
}

int CountWithToolhelp(const std::string& text)
{
    // Loaded for the life of the process; the updater never unloads it.
    HMODULE kernel = LoadLibraryA("Kernel32.dll");
    if (kernel == nullptr)
        return 0;
    const auto processFirst = BindProcedure<ProcessWalkFn>(kernel, "Process32First");
    const auto processNext = BindProcedure<ProcessWalkFn>(kernel, "Process32Next");
    const auto createSnapshot = BindProcedure<CreateSnapshotFn>(kernel, "CreateToolhelp32Snapshot");
    if (processFirst == nullptr || processNext == nullptr || createSnapshot == nullptr)
        return 0;

    // Some systems report a failed snapshot as null rather than INVALID_HANDLE_VALUE.
    HANDLE rawSnapshot = createSnapshot(kSnapProcesses, 0);
    if (rawSnapshot == nullptr || rawSnapshot == INVALID_HANDLE_VALUE)
        return 0;
    const UniqueFileHandle snapshot(rawSnapshot);

    int count = 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = kProcessEntrySize;
    for (BOOL more = processFirst(snapshot.get(), &entry); more; more = processNext(snapshot.get(), &entry))
    {
        if (NameContains(entry.szExeFile, sizeof entry.szExeFile, text))
            ++count;
    }
    return count;
}

int CountWithPsapi(const std::string& text)
{
    // Loaded for the life of the process; the updater never unloads it.
    HMODULE psapi = LoadLibraryA("Psapi.dll");
    if (psapi == nullptr)
        return 0;
    // Bound once for the walk; a library without all three is of no use.
    ImagePathFunctions functions;
    const auto enumProcesses = BindProcedure<EnumProcessesFn>(psapi, "EnumProcesses");
    functions.enumProcessModules = BindProcedure<EnumProcessModulesFn>(psapi, "EnumProcessModules");
    functions.getModuleFileNameEx = BindProcedure<GetModuleFileNameExFn>(psapi, "GetModuleFileNameExA");
    if (enumProcesses == nullptr || functions.enumProcessModules == nullptr ||
        functions.getModuleFileNameEx == nullptr)
        return 0;
    functions.imageFileName = BindProcedure<GetProcessImageFileNameFn>(psapi, "GetProcessImageFileNameA");
    // Loaded for the life of the process; the updater never unloads it.
    if (HMODULE kernel = LoadLibraryA("Kernel32.dll"))
        functions.queryFullName =
            BindProcedure<QueryFullProcessImageNameFn>(kernel, "QueryFullProcessImageNameA");

    DWORD ids[kMaxProcessIds];
    DWORD idBytes = 0;
    // The byte count alone tells how many ids arrived; a failed call leaves it at 0.
    (void)enumProcesses(ids, sizeof ids, &idBytes);
    DWORD idCount = idBytes / sizeof ids[0];
    if (idCount > kMaxProcessIds)
        idCount = kMaxProcessIds;

    int count = 0;
    char path[kPathBufferChars];
    for (DWORD index = 0; index < idCount; ++index)
    {
        if (ImagePathOf(ids[index], functions, path) > 0 && NameContains(path, kPathBufferChars, text))
            ++count;
    }
    return count;
}
} // namespace

DWORD GetPlatformId() noexcept
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = kVersionInfoSize;
    version.dwPlatformId = kNoPlatform;
    (void)GetVersionExA(&version);
    return version.dwPlatformId;
}

int CountRunningProcesses(const std::string& text)
{
    switch (GetPlatformId())
    {
    case kPlatformWindows9x:
        return CountWithToolhelp(text);
    case kPlatformNt:
        return CountWithPsapi(text);
    default:
        return 0;
    }
}

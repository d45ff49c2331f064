#include "PackageMove.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>

#include "Handles.h"
#include "Mbcs.h"
#include "PackageCheck.h"
#include "Platform.h"

namespace
{
// The older package's name while the verified one takes its place.
constexpr const char* kAsidePrefix = "swo";

// FILE_RENAME_INFORMATION of the NT native interface, the file name following it.
struct RenameRequest
{
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};
constexpr FILE_INFORMATION_CLASS kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
// "\??\UNC\" and a path of at most MAX_PATH characters.
constexpr int kNativePathChars = MAX_PATH + 8;

using NtSetInformationFileFunction = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                      FILE_INFORMATION_CLASS);
using RtlNtStatusToDosErrorFunction = ULONG(NTAPI*)(NTSTATUS);

struct NativeRename
{
    NtSetInformationFileFunction setInformation = nullptr;
    RtlNtStatusToDosErrorFunction toDosError = nullptr;
};

// The native interface is in ntdll.dll, which every process of the NT family has loaded
// before its own code runs; Windows 9x has no such export.
NativeRename BindNativeRename() noexcept
{
    NativeRename functions;
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr)
        return functions;
    functions.setInformation = BindProcedure<NtSetInformationFileFunction>(ntdll, "NtSetInformationFile");
    functions.toDosError = BindProcedure<RtlNtStatusToDosErrorFunction>(ntdll, "RtlNtStatusToDosError");
    if (functions.toDosError == nullptr)
        functions.setInformation = nullptr;
    return functions;
}

bool Exists(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES;
}

// What the replacing move refuses on the NT family is refused on every road.
bool RefusesReplacement(DWORD attributes) noexcept
{
    if (!Exists(attributes) || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0)
        return false;
    SetLastError(ERROR_ACCESS_DENIED);
    return true;
}

// The native form of a full path: \??\C:\x for C:\x, \??\UNC\server\share\x for
// \\server\share\x; false for any other form.
bool NativePath(const std::string& path, wchar_t (&native)[kNativePathChars], ULONG& length) noexcept
{
    const bool unc = path.size() > 2 && path[0] == '\\' && path[1] == '\\';
    const bool drive = path.size() > 2 && path[1] == ':' && path[2] == '\\';
    if (!unc && !drive)
    {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    const wchar_t* prefix = unc ? L"\\??\\UNC" : L"\\??\\";
    const int prefixLength = static_cast<int>(std::wcslen(prefix));
    std::memcpy(native, prefix, prefixLength * sizeof(wchar_t));
    // The UNC form keeps one of the two leading backslashes.
    const char* rest = path.c_str() + (unc ? 1 : 0);
    const int converted =
        MultiByteToWideChar(CP_ACP, 0, rest, -1, native + prefixLength, kNativePathChars - prefixLength);
    if (converted <= 1)
    {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    length = static_cast<ULONG>((prefixLength + converted - 1) * sizeof(wchar_t));
    return true;
}

// Windows 9x exports MoveFileExA but only answers ERROR_CALL_NOT_IMPLEMENTED, and its
// MoveFileA does not replace. Each step here is a rename within the folder, so at every
// moment one complete package sits at the target or beside it.
bool ReplaceStepByStep(const std::string& verified, const std::string& target) noexcept
{
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (!Exists(attributes))
        return MoveFileA(verified.c_str(), target.c_str()) != FALSE;
    if (RefusesReplacement(attributes))
        return false;
    // The temporary name is reserved by the empty file it creates, which the older
    // package then takes the place of.
    char aside[MAX_PATH] = {};
    const std::string folder = DirectoryWithSlash(target, IsLeadByte);
    if (folder.empty() || GetTempFileNameA(folder.c_str(), kAsidePrefix, 0, aside) == 0)
        return false;
    if (!DeleteFileA(aside) || !MoveFileA(target.c_str(), aside))
    {
        const CLastErrorKeeper keeper;
        (void)DeleteFileA(aside);
        return false;
    }
    if (!MoveFileA(verified.c_str(), target.c_str()))
    {
        const CLastErrorKeeper keeper;
        (void)MoveFileA(aside, target.c_str());
        return false;
    }
    (void)DeleteFileA(aside);
    return true;
}

bool IsPackageAt(const std::string& path, const ManifestPackage& expected) noexcept
{
    const UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return file && FileMatchesPackage(file.get(), expected);
}

// Nobody else may write to the file, rename or delete it while the handle is open, and
// the handle itself may rename it.
PlacementVerdict PlaceThroughHeldHandle(const std::string& temporary, const std::string& target,
                                        const ManifestPackage& expected,
                                        RenameHeldFileFunction renameHeld) noexcept
{
    const UniqueFileHandle held(CreateFileA(temporary.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!held || !FileMatchesPackage(held.get(), expected))
        return PlacementVerdict::NotThePackage;
    return renameHeld(held.get(), target) ? PlacementVerdict::Placed : PlacementVerdict::NotMoved;
}

// Between the check and the move by name the file can be swapped; the check at the
// target tells, and bytes that are not the package do not stay there.
PlacementVerdict PlaceByName(const std::string& temporary, const std::string& target,
                             const ManifestPackage& expected, MoveFileExFunction moveFileEx) noexcept
{
    if (!IsPackageAt(temporary, expected))
        return PlacementVerdict::NotThePackage;
    if (!MovePackageIntoPlace(temporary, target, moveFileEx))
        return PlacementVerdict::NotMoved;
    if (IsPackageAt(target, expected))
        return PlacementVerdict::Placed;
    (void)DeleteFileA(target.c_str());
    return PlacementVerdict::NotThePackage;
}
} // namespace

bool MovePackageIntoPlace(const std::string& verified, const std::string& target,
                          MoveFileExFunction moveFileEx) noexcept
{
    if (moveFileEx(verified.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED)
        return false;
    return ReplaceStepByStep(verified, target);
}

bool RenameHeldFile(HANDLE held, const std::string& target) noexcept
{
    const NativeRename functions = BindNativeRename();
    if (functions.setInformation == nullptr)
    {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }
    if (RefusesReplacement(GetFileAttributesA(target.c_str())))
        return false;
    // The information's fixed part and the name after it, aligned for the structure.
    union
    {
        RenameRequest info;
        char bytes[sizeof(RenameRequest) + kNativePathChars * sizeof(wchar_t)];
    } rename{};
    wchar_t nativePath[kNativePathChars] = {};
    ULONG nameBytes = 0;
    if (!NativePath(target, nativePath, nameBytes))
        return false;
    rename.info.replaceIfExists = TRUE;
    rename.info.rootDirectory = nullptr;
    rename.info.fileNameLength = nameBytes;
    std::memcpy(rename.bytes + offsetof(RenameRequest, fileName), nativePath, nameBytes);
    IO_STATUS_BLOCK status = {};
    const NTSTATUS result = functions.setInformation(
        held, &status, &rename, static_cast<ULONG>(sizeof rename), kFileRenameInformation);
    if (result >= 0)
        return true;
    SetLastError(functions.toDosError(result));
    return false;
}

PlacementFunctions PlatformPlacement() noexcept
{
    PlacementFunctions functions;
    if (BindNativeRename().setInformation != nullptr)
        functions.renameHeld = &RenameHeldFile;
    return functions;
}

PlacementVerdict PlaceCheckedPackage(const std::string& temporary, const std::string& target,
                                     const ManifestPackage& expected,
                                     const PlacementFunctions& functions) noexcept
{
    if (functions.renameHeld != nullptr)
        return PlaceThroughHeldHandle(temporary, target, expected, functions.renameHeld);
    return PlaceByName(temporary, target, expected, functions.moveFileEx);
}

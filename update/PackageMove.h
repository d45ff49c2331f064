// Putting the verified package in its place in the chosen folder.
#pragma once

#include <windows.h>

#include <string>

#include "UpdateManifest.h"

// The platform's move with replacement, as MoveFileExA; a test may pass one of its own.
using MoveFileExFunction = BOOL(WINAPI*)(LPCSTR from, LPCSTR to, DWORD flags);

// Moves the verified file at `verified` onto `target` (same folder), replacing an older
// file there. Where `moveFileEx` is not implemented (Windows 9x), replaces step by step:
// the older file is moved aside, the verified one moved in, and only then is the older
// one removed. False when the move failed; the older file is then still at `target` and
// the verified one at `verified`. A target that is a folder or read-only is never replaced.
[[nodiscard]] bool MovePackageIntoPlace(const std::string& verified, const std::string& target,
                                        MoveFileExFunction moveFileEx = &MoveFileExA) noexcept;

// Renames the open file `held` (opened with DELETE access) onto `target`, a full path in
// the same folder, replacing an older file there, through the handle itself: the file
// that arrives is the one `held` reads, whatever is done meanwhile to the names in the
// folder. False, with the last error set, when the rename failed (the older file is then
// still at `target`) and, with ERROR_CALL_NOT_IMPLEMENTED, where the platform cannot
// rename an open file (Windows 9x). A target that is a folder or read-only is never replaced.
[[nodiscard]] bool RenameHeldFile(HANDLE held, const std::string& target) noexcept;

using RenameHeldFileFunction = bool (*)(HANDLE held, const std::string& target) noexcept;

// How the checked temporary file reaches the package path; a test may pass its own.
struct PlacementFunctions
{
    // Null where the platform cannot rename an open file (Windows 9x).
    RenameHeldFileFunction renameHeld = nullptr;
    MoveFileExFunction moveFileEx = &MoveFileExA;
};

// The functions of this system: RenameHeldFile on the NT family, none on Windows 9x.
PlacementFunctions PlatformPlacement() noexcept;

enum class PlacementVerdict
{
    // The package is at the target path, and it is the bytes that were checked.
    Placed,
    // The temporary file is not the `expected` package (or could not be read); or, where
    // it had to be moved by name, what arrived at the target was not: it was removed.
    NotThePackage,
    // The checked file could not be moved onto the target; what was there stays.
    NotMoved,
};

// Checks the temporary file at `temporary` against `expected` and moves it onto `target`
// (same folder). On the NT family the file is hashed on a handle that nobody else may
// write, rename or delete through, and that handle renames it: what arrives is what was
// hashed. Where an open file cannot be renamed (Windows 9x) the file is moved by name and
// checked again at the target before it counts as placed.
[[nodiscard]] PlacementVerdict
PlaceCheckedPackage(const std::string& temporary, const std::string& target, const ManifestPackage& expected,
                    const PlacementFunctions& functions = PlatformPlacement()) noexcept;

// Putting the verified package in its place in the chosen folder.
#pragma once

#include <windows.h>

#include <string>

// The platform's move with replacement, as MoveFileExA; a test may pass one of its own.
using MoveFileExFunction = BOOL(WINAPI*)(LPCSTR from, LPCSTR to, DWORD flags);

// Moves the verified file at `verified` onto `target` (same folder), replacing an older
// file there. Where `moveFileEx` is not implemented (Windows 9x), replaces step by step:
// the older file is moved aside, the verified one moved in, and only then is the older
// one removed. False when the move failed; the older file is then still at `target` and
// the verified one at `verified`. A target that is a folder or read-only is never replaced.
[[nodiscard]] bool MovePackageIntoPlace(const std::string& verified, const std::string& target,
                                        MoveFileExFunction moveFileEx = &MoveFileExA) noexcept;

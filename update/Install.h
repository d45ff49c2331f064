// Handing the downloaded package to the shell, once it is proven to be the vendor's.
#pragma once

#include <windows.h>

#include <string>

#include "UpdateManifest.h"

enum class HandOffVerdict
{
    // The shell started the package; the installer runs on its own.
    Handed,
    // The file is missing, cannot be read or held, is not the `expected` package, or is
    // not signed with one of the vendor's pinned code-signing keys: nothing was run.
    Refused,
    // The package could not be made ready on this computer (no temporary folder, a full
    // disk, a folder or copy that could not be made): nothing was run.
    NotPrepared,
    // The package is the vendor's, but the shell could not start it (not a program, no
    // program associated with it, access denied). It stays where it is.
    NotStarted,
    // The user declined the system's elevation prompt; nothing runs, nothing is to be said.
    Declined,
};

// The step of the hand-off that gave its verdict.
enum class HandOffStep
{
    OpenPackage,
    FindTemporaryFolder,
    MakeFolder,
    CopyPackage,
    CheckCopy,
    Start,
};

struct HandOffOutcome
{
    HandOffVerdict verdict = HandOffVerdict::Refused;
    HandOffStep step = HandOffStep::OpenPackage;
    // The platform's error of the step that failed; NO_ERROR where none was reported.
    DWORD error = NO_ERROR;
};

// Hands the package at `packagePath` to the shell from a folder of the updater's own,
// once it is the `expected` package and signed with a pinned key. The user's file is
// opened so that nobody can write to, rename or delete it, and copied, hashed as it is
// read, into a new private folder under the user's temporary folder (CHandOffFolder),
// under its own file name; folders of earlier hand-offs no longer in use are removed
// first. The copy, held open for reading only, is checked against `expected` and its
// Authenticode signature against the pinned keys and, only when both hold, the shell is
// asked to open it with its default action, with that folder as the working directory
// and `owner` as the window of anything the shell shows (the elevation prompt). Returns
// once the shell has started it or given up. The user's file is left as it was; the
// folder is left for the installer after a hand-off and removed after anything else.
[[nodiscard]] HandOffOutcome HandOffPackage(const std::string& packagePath, const ManifestPackage& expected,
                                            HWND owner) noexcept;

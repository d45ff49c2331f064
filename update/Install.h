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
    // The package is the vendor's, but the shell could not start it (not a program, no
    // program associated with it, access denied). It stays where it is.
    NotStarted,
    // The user declined the system's elevation prompt; nothing runs, nothing is to be said.
    Declined,
};

// Opens the package at `packagePath` so that nobody can write to, rename or delete it,
// checks it against `expected` and its Authenticode signature against the pinned keys
// and, only when both hold, asks the shell to open it with its default action while
// still holding it, with `owner` as the window of anything the shell shows (the
// elevation prompt); returns once the shell has started it or given up.
[[nodiscard]] HandOffVerdict HandOffPackage(const std::string& packagePath, const ManifestPackage& expected,
                                            HWND owner) noexcept;

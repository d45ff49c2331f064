// Handing the downloaded package to the shell, once it is proven to be the vendor's.
#pragma once

#include <string>

#include "UpdateManifest.h"

enum class HandOffVerdict
{
    // The shell was asked to open the package; the installer runs on its own.
    Handed,
    // The file is missing, cannot be read or held, is not the `expected` package, or is
    // not signed with one of the vendor's pinned code-signing keys: nothing was run.
    Refused,
};

// Opens the package at `packagePath` so that nobody can write to, rename or delete it,
// checks it against `expected` and its Authenticode signature against the pinned keys
// and, only when both hold, asks the shell to open it with its default action while
// still holding it; returns once the shell has it.
[[nodiscard]] HandOffVerdict HandOffPackage(const std::string& packagePath,
                                            const ManifestPackage& expected) noexcept;

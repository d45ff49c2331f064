// Whether a file is the package the signed manifest names.
#pragma once

#include <windows.h>

#include "UpdateManifest.h"

// Reads the open file from its start and compares its size and SHA-256 with `expected`,
// without holding it in memory. False on any difference, any read error, and when the
// platform cannot compute SHA-256. Leaves the file position at its end.
[[nodiscard]] bool FileMatchesPackage(HANDLE file, const ManifestPackage& expected) noexcept;

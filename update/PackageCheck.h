// Whether a file is the package the signed manifest names.
#pragma once

#include <windows.h>

#include "UpdateManifest.h"

// Reads the open file from its start and compares its size and SHA-256 with `expected`,
// without holding it in memory. False on any difference, any read error, and when the
// platform cannot compute SHA-256. Leaves the file position at its end.
[[nodiscard]] bool FileMatchesPackage(HANDLE file, const ManifestPackage& expected) noexcept;

// How a copy of the package ended.
enum class PackageCopyVerdict
{
    // Every byte was copied, and what was read is the `expected` package.
    Copied,
    // The source is not the package (size, SHA-256), could not be read, or the platform
    // cannot compute SHA-256.
    NotThePackage,
    // The copy could not be written (a full disk, say) or no memory was left.
    NotWritten,
};

struct PackageCopyOutcome
{
    PackageCopyVerdict verdict = PackageCopyVerdict::NotThePackage;
    // The platform's error of the read or write that failed; NO_ERROR otherwise.
    DWORD error = NO_ERROR;
};

// Copies the open file `from`, read from its start, to the open, empty file `to`, hashing
// the very bytes it writes, and compares their size and SHA-256 with `expected`. A source
// whose size is not the expected one is not copied at all. Whatever the verdict, `to`
// may hold part of the bytes; only Copied says that it holds the package.
[[nodiscard]] PackageCopyOutcome CopyMatchingPackage(HANDLE from, HANDLE to,
                                                     const ManifestPackage& expected) noexcept;

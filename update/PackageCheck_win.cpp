#include "PackageCheck.h"

#include <memory>
#include <new>

#include "Crypto.h"

namespace
{
// Large enough that the file system's read-ahead, not the call count, sets the pace.
constexpr DWORD kReadPiece = 256 * 1024;

// Whether the open file is `expected` bytes long. The forms every system has (the Ex
// forms are missing from Windows 9x); a size whose low half is all ones is told from a
// failure by the last error alone.
bool HasSize(HANDLE file, uint64_t expected) noexcept
{
    DWORD sizeHigh = 0;
    SetLastError(NO_ERROR);
    const DWORD sizeLow = GetFileSize(file, &sizeHigh);
    if (sizeLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return false;
    return ((static_cast<uint64_t>(sizeHigh) << 32) | sizeLow) == expected;
}

bool WriteWhole(HANDLE file, const char* bytes, DWORD size) noexcept
{
    while (size > 0)
    {
        DWORD written = 0;
        if (!WriteFile(file, bytes, size, &written, nullptr))
            return false;
        // A write that takes nothing and reports no error has still failed.
        if (written == 0)
        {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

// Reads `file` from its start to its end, adds every piece to a SHA-256 and, when `copy`
// is open, writes it there; compares size and digest with `expected`.
PackageCopyOutcome HashFromStart(HANDLE file, HANDLE copy, const ManifestPackage& expected) noexcept
{
    PackageCopyOutcome outcome;
    if (!HasSize(file, expected.size))
    {
        outcome.error = GetLastError();
        return outcome;
    }
    // Moving to the start cannot give the position 0xFFFFFFFF: that answer is a failure.
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
    {
        outcome.error = GetLastError();
        return outcome;
    }
    CSha256 sha;
    if (!sha.Ready())
        return outcome;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadPiece]);
    if (!buffer)
    {
        outcome.verdict = PackageCopyVerdict::NotWritten;
        outcome.error = ERROR_NOT_ENOUGH_MEMORY;
        return outcome;
    }
    uint64_t hashed = 0;
    for (;;)
    {
        DWORD read = 0;
        if (!ReadFile(file, buffer.get(), kReadPiece, &read, nullptr))
        {
            outcome.error = GetLastError();
            return outcome;
        }
        if (read == 0)
            break;
        if (!sha.Update(buffer.get(), read))
            return outcome;
        if (copy != INVALID_HANDLE_VALUE && !WriteWhole(copy, buffer.get(), read))
        {
            outcome.verdict = PackageCopyVerdict::NotWritten;
            outcome.error = GetLastError();
            return outcome;
        }
        hashed += read;
    }
    Sha256Digest digest{};
    // A file that grew or shrank while it was read is not the one that was measured.
    if (hashed == expected.size && sha.Finish(digest) && digest == expected.sha256)
        outcome.verdict = PackageCopyVerdict::Copied;
    return outcome;
}
} // namespace

bool FileMatchesPackage(HANDLE file, const ManifestPackage& expected) noexcept
{
    return HashFromStart(file, INVALID_HANDLE_VALUE, expected).verdict == PackageCopyVerdict::Copied;
}

PackageCopyOutcome CopyMatchingPackage(HANDLE from, HANDLE to, const ManifestPackage& expected) noexcept
{
    if (to == INVALID_HANDLE_VALUE)
        return PackageCopyOutcome{PackageCopyVerdict::NotWritten, ERROR_INVALID_HANDLE};
    return HashFromStart(from, to, expected);
}

#include "PackageCheck.h"

#include <memory>
#include <new>

#include "Crypto.h"

namespace
{
// Large enough that the file system's read-ahead, not the call count, sets the pace.
constexpr DWORD kReadPiece = 256 * 1024;
} // namespace

bool FileMatchesPackage(HANDLE file, const ManifestPackage& expected) noexcept
{
    // The forms every system has (the Ex forms are missing from Windows 9x). A size whose
    // low half is all ones is told from a failure by the last error alone.
    DWORD sizeHigh = 0;
    SetLastError(NO_ERROR);
    const DWORD sizeLow = GetFileSize(file, &sizeHigh);
    if (sizeLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return false;
    if (((static_cast<uint64_t>(sizeHigh) << 32) | sizeLow) != expected.size)
        return false;
    // Moving to the start cannot give the position 0xFFFFFFFF: that answer is a failure.
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    CSha256 sha;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadPiece]);
    if (!sha.Ready() || !buffer)
        return false;
    uint64_t hashed = 0;
    for (;;)
    {
        DWORD read = 0;
        if (!ReadFile(file, buffer.get(), kReadPiece, &read, nullptr))
            return false;
        if (read == 0)
            break;
        if (!sha.Update(buffer.get(), read))
            return false;
        hashed += read;
    }
    Sha256Digest digest{};
    // A file that grew or shrank while it was read is not the one that was measured.
    return hashed == expected.size && sha.Finish(digest) && digest == expected.sha256;
}

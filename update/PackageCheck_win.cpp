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
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || static_cast<uint64_t>(size.QuadPart) != expected.size)
        return false;
    const LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
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

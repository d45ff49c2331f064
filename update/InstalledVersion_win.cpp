#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

#include "InstalledVersion.h"

bool ReadInstalledVersion(const std::string& path, VersionQuad& out)
{
    out.major = 0;
    out.minor = 0;
    out.build = 0;
    out.revision = 0;

    // The path is copied whole or not at all: a truncated path could name another file.
    char localPath[kInstalledPathBuffer];
    if (path.size() >= sizeof localPath)
        return false;
    std::memcpy(localPath, path.c_str(), path.size() + 1);

    DWORD unusedHandle = 0;
    const DWORD size = GetFileVersionInfoSizeA(localPath, &unusedHandle);
    if (size == 0)
        return false;
    std::unique_ptr<char[]> block(new (std::nothrow) char[size]);
    if (!block)
        return false;
    if (!GetFileVersionInfoA(localPath, 0, size, block.get()))
        return false;

    VS_FIXEDFILEINFO* fixedInfo = nullptr;
    UINT fixedInfoLength = 0;
    if (!VerQueryValueA(block.get(), "\\", reinterpret_cast<void**>(&fixedInfo), &fixedInfoLength) ||
        fixedInfo == nullptr || fixedInfoLength < sizeof(VS_FIXEDFILEINFO))
        return false;

    // HIWORD/LOWORD are unsigned: each component is 0..65535, never negative.
    out.major = HIWORD(fixedInfo->dwFileVersionMS);
    out.minor = LOWORD(fixedInfo->dwFileVersionMS);
    out.build = HIWORD(fixedInfo->dwFileVersionLS);
    out.revision = LOWORD(fixedInfo->dwFileVersionLS);
    UpdateComposite(out);
    return true;
}

#include "Platform.h"

#include <cstring>

#include "Mbcs.h"

namespace
{
// The updater's own paths, like every path it reads, fit 260 characters and a terminator.
constexpr DWORD kModulePathBuffer = 261;
} // namespace

bool IsLeadByte(unsigned char character) noexcept
{
    return IsDBCSLeadByte(character) != FALSE;
}

bool IsWindows9xFamily() noexcept
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

std::string ExecutableDirectory()
{
    char path[kModulePathBuffer] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    // A path that filled the buffer was cut short: its directory could be another one.
    if (length == 0 || length >= sizeof path)
        return std::string();
    return DirectoryWithSlash(std::string_view(path, length), IsLeadByte);
}

HMODULE LoadSystemLibrary(const char* fileName) noexcept
{
    char path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(path, sizeof path);
    const size_t nameLength = std::strlen(fileName);
    // The folder, a backslash, the name and a terminator must fit whole.
    if (length == 0 || length + 1 + nameLength + 1 > sizeof path)
        return nullptr;
    path[length] = '\\';
    std::memcpy(path + length + 1, fileName, nameLength + 1);
    return LoadLibraryA(path);
}

#include "Platform.h"

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

std::string ExecutableDirectory()
{
    char path[kModulePathBuffer] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    // A path that filled the buffer was cut short: its directory could be another one.
    if (length == 0 || length >= sizeof path)
        return std::string();
    return DirectoryWithSlash(std::string_view(path, length), IsLeadByte);
}

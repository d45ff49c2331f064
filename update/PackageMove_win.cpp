#include "PackageMove.h"

#include "Handles.h"
#include "Mbcs.h"
#include "Platform.h"

namespace
{
// The older package's name while the verified one takes its place.
constexpr const char* kAsidePrefix = "swo";

bool Exists(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES;
}

// Windows 9x exports MoveFileExA but only answers ERROR_CALL_NOT_IMPLEMENTED, and its
// MoveFileA does not replace. Each step here is a rename within the folder, so at every
// moment one complete package sits at the target or beside it.
bool ReplaceStepByStep(const std::string& verified, const std::string& target) noexcept
{
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (!Exists(attributes))
        return MoveFileA(verified.c_str(), target.c_str()) != FALSE;
    // What the replacing move refuses on the NT family is refused here too.
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // The temporary name is reserved by the empty file it creates, which the older
    // package then takes the place of.
    char aside[MAX_PATH] = {};
    const std::string folder = DirectoryWithSlash(target, IsLeadByte);
    if (folder.empty() || GetTempFileNameA(folder.c_str(), kAsidePrefix, 0, aside) == 0)
        return false;
    if (!DeleteFileA(aside) || !MoveFileA(target.c_str(), aside))
    {
        const CLastErrorKeeper keeper;
        (void)DeleteFileA(aside);
        return false;
    }
    if (!MoveFileA(verified.c_str(), target.c_str()))
    {
        const CLastErrorKeeper keeper;
        (void)MoveFileA(aside, target.c_str());
        return false;
    }
    (void)DeleteFileA(aside);
    return true;
}
} // namespace

bool MovePackageIntoPlace(const std::string& verified, const std::string& target,
                          MoveFileExFunction moveFileEx) noexcept
{
    if (moveFileEx(verified.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED)
        return false;
    return ReplaceStepByStep(verified, target);
}

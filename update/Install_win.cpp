#include "Install.h"

#include <windows.h>
#include <shellapi.h>

#include "Handles.h"
#include "InstallerSignature.h"
#include "PackageCheck.h"

HandOffVerdict HandOffPackage(const std::string& packagePath, const ManifestPackage& expected) noexcept
{
    // Others may read the file (the shell and the installer must), but not write, rename
    // or delete it until the shell has started it: no one can swap the checked bytes
    // between the check and the start.
    const UniqueFileHandle held(CreateFileA(packagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    // The manifest's size and digest first, then the installer's own signature on the
    // same held bytes: a package runs only when both of the vendor's locks open.
    if (!held || !FileMatchesPackage(held.get(), expected) || !IsSignedByVendor(held.get(), packagePath))
        return HandOffVerdict::Refused;
    // The shell's answer is not looked at: the updater ends either way.
    (void)ShellExecuteA(nullptr, nullptr, packagePath.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return HandOffVerdict::Handed;
}

#include "Install.h"

#include <windows.h>
#include <shellapi.h>

#include "ComApartment.h"
#include "Handles.h"
#include "InstallerSignature.h"
#include "PackageCheck.h"

namespace
{
// Opens the package with its default action. The shell shows no error box of its own
// (the updater says what went wrong), and it finishes starting the package before it
// returns, since the updater ends right after.
HandOffVerdict StartWithTheShell(const std::string& packagePath, HWND owner) noexcept
{
    const CComApartment apartment;
    SHELLEXECUTEINFOA execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_FLAG_DDEWAIT;
    execute.hwnd = owner;
    execute.lpFile = packagePath.c_str();
    execute.nShow = SW_SHOWNORMAL;
    // A reason left over from an earlier call must not pass for the user's refusal.
    SetLastError(NO_ERROR);
    if (ShellExecuteExA(&execute))
        return HandOffVerdict::Handed;
    return GetLastError() == ERROR_CANCELLED ? HandOffVerdict::Declined : HandOffVerdict::NotStarted;
}
} // namespace

HandOffVerdict HandOffPackage(const std::string& packagePath, const ManifestPackage& expected,
                              HWND owner) noexcept
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
    return StartWithTheShell(packagePath, owner);
}

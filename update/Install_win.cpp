#include "Install.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "Handles.h"
#include "InstallerSignature.h"
#include "PackageCheck.h"

namespace
{
// COM on the calling thread for as long as the shell is asked: the shell may start a
// package through COM, and its documentation asks for an apartment without OLE 1 DDE.
// Systems whose COM does not know that flag get a plain apartment instead.
class CShellApartment
{
  public:
    CShellApartment() noexcept
        : m_result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))
    {
        if (FAILED(m_result) && m_result != RPC_E_CHANGED_MODE)
            m_result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    ~CShellApartment()
    {
        if (SUCCEEDED(m_result))
            CoUninitialize();
    }
    CShellApartment(const CShellApartment&) = delete;
    CShellApartment& operator=(const CShellApartment&) = delete;

  private:
    HRESULT m_result;
};

// Opens the package with its default action. The shell shows no error box of its own
// (the updater says what went wrong), and it finishes starting the package before it
// returns, since the updater ends right after.
HandOffVerdict StartWithTheShell(const std::string& packagePath, HWND owner) noexcept
{
    const CShellApartment apartment;
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

#include "Install.h"

#include <windows.h>
#include <shellapi.h>

#include "ComApartment.h"
#include "HandOffFolder.h"
#include "Handles.h"
#include "InstallerSignature.h"
#include "Mbcs.h"
#include "PackageCheck.h"
#include "Platform.h"

namespace
{
HandOffOutcome Ended(HandOffVerdict verdict, HandOffStep step, DWORD error = NO_ERROR) noexcept
{
    return HandOffOutcome{verdict, step, error};
}

// The file name of a full path: what follows its last backslash.
std::string FileNameOf(const std::string& path)
{
    const size_t backslash = FindLastBackslash(path, IsLeadByte);
    return backslash == std::string::npos ? path : path.substr(backslash + 1);
}

// Copies the held package into a new file at `copyPath`, hashing what it reads.
PackageCopyOutcome CopyHeldPackage(HANDLE held, const std::string& copyPath,
                                   const ManifestPackage& expected) noexcept
{
    const UniqueFileHandle copy(CreateFileA(copyPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!copy)
        return PackageCopyOutcome{PackageCopyVerdict::NotWritten, GetLastError()};
    return CopyMatchingPackage(held, copy.get(), expected);
}

// Opens the package with its default action from `directory`. The shell shows no error
// box of its own (the updater says what went wrong), and it finishes starting the
// package before it returns, since the updater ends right after.
HandOffOutcome StartWithTheShell(const std::string& packagePath, const std::string& directory,
                                 HWND owner) noexcept
{
    const CComApartment apartment;
    SHELLEXECUTEINFOA execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_FLAG_DDEWAIT;
    execute.hwnd = owner;
    execute.lpFile = packagePath.c_str();
    execute.lpDirectory = directory.c_str();
    execute.nShow = SW_SHOWNORMAL;
    // A reason left over from an earlier call must not pass for the user's refusal.
    SetLastError(NO_ERROR);
    if (ShellExecuteExA(&execute))
        return Ended(HandOffVerdict::Handed, HandOffStep::Start);
    const DWORD error = GetLastError();
    return Ended(error == ERROR_CANCELLED ? HandOffVerdict::Declined : HandOffVerdict::NotStarted,
                 HandOffStep::Start, error);
}
} // namespace

HandOffOutcome HandOffPackage(const std::string& packagePath, const ManifestPackage& expected,
                              HWND owner) noexcept
{
    // Others may read the user's file, but not write, rename or delete it while it is
    // copied. A view mapped for writing before may still change it: what is hashed is
    // what is written to the copy, and the copy is checked again on its own.
    const UniqueFileHandle held(CreateFileA(packagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!held)
        return Ended(HandOffVerdict::Refused, HandOffStep::OpenPackage, GetLastError());
    const std::string temporary = TemporaryFolder();
    if (temporary.empty())
        return Ended(HandOffVerdict::NotPrepared, HandOffStep::FindTemporaryFolder, GetLastError());
    (void)RemoveEarlierHandOffFolders(temporary);

    // The installer, usually elevated, loads the libraries it names from its own folder
    // first: only a folder that nobody else can write may lie around it.
    CHandOffFolder folder;
    if (!folder.Create(temporary, FileNameOf(packagePath)))
        return Ended(HandOffVerdict::NotPrepared, HandOffStep::MakeFolder, folder.Error());
    const PackageCopyOutcome copied = CopyHeldPackage(held.get(), folder.PackagePath(), expected);
    if (copied.verdict == PackageCopyVerdict::NotThePackage)
        return Ended(HandOffVerdict::Refused, HandOffStep::CopyPackage, copied.error);
    if (copied.verdict == PackageCopyVerdict::NotWritten)
        return Ended(HandOffVerdict::NotPrepared, HandOffStep::CopyPackage, copied.error);

    // The copy is read, as the shell and the installer must, but not written, renamed or
    // deleted by anyone until the shell has started it. The manifest's size and digest,
    // then the installer's own signature, on these held bytes: a package runs only when
    // both of the vendor's locks open.
    const UniqueFileHandle copy(CreateFileA(folder.PackagePath().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!copy)
        return Ended(HandOffVerdict::NotPrepared, HandOffStep::CheckCopy, GetLastError());
    if (!FileMatchesPackage(copy.get(), expected) || !IsSignedByVendor(copy.get(), folder.PackagePath()))
        return Ended(HandOffVerdict::Refused, HandOffStep::CheckCopy);
    const HandOffOutcome started = StartWithTheShell(folder.PackagePath(), folder.Path(), owner);
    // The installer runs from the folder; the updater ends right after.
    if (started.verdict == HandOffVerdict::Handed)
        folder.Keep();
    return started;
}

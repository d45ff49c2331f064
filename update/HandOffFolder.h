// The folder the package is handed to the shell from: made new for each hand-off, with
// nothing in it that anybody but the updater put there.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "Crypto.h"
#include "Handles.h"

// Fills `size` bytes at `data` with numbers nobody can foresee; false when it cannot.
using RandomFunction = bool (*)(void* data, size_t size) noexcept;

// The user's temporary folder as the platform names it (GetTempPathA), with its trailing
// backslash; empty, with the last error set, when the platform names none that fits.
std::string TemporaryFolder();

// A folder of the updater's own for one hand-off, and the copy of the package in it.
// Unless it is kept for the installer, the folder and what the updater put in it are
// removed when the object ends.
class CHandOffFolder
{
  public:
    CHandOffFolder() noexcept = default;
    ~CHandOffFolder();
    CHandOffFolder(const CHandOffFolder&) = delete;
    CHandOffFolder& operator=(const CHandOffFolder&) = delete;

    // Makes the folder under `parent` (a path with its trailing backslash) for the package
    // file `packageName`. Its name is "SeekwellHandOff-" and 32 hexadecimal digits drawn
    // from `random` (from the clock where `random` fails); anything already there under a
    // drawn name (a folder, a file, a link) is never used: another name is drawn, a few
    // times. On the NT family only the user, SYSTEM and Administrators may write to it
    // (what is made inside inherits that), it is held open so that nobody can rename or
    // remove it, and it is verified not to be a reparse point. A marker file in it tells
    // later runs that it is a hand-off folder. False, with Error() set, when no such
    // folder could be made; nothing is then left behind.
    [[nodiscard]] bool Create(const std::string& parent, const std::string& packageName,
                              RandomFunction random = &FillRandom) noexcept;

    // The folder's path, without a trailing backslash, and the path of the package's copy
    // in it (the package's own file name).
    const std::string& Path() const noexcept { return m_path; }
    std::string PackagePath() const { return m_path + "\\" + m_packageName; }
    // The platform's error of a Create that failed.
    DWORD Error() const noexcept { return m_error; }

    // Leaves the folder and its contents to the installer when the object ends.
    void Keep() noexcept { m_kept = true; }

  private:
    bool Fail(DWORD error) noexcept;

    std::string m_path;
    std::string m_packageName;
    UniqueFileHandle m_held;
    DWORD m_error = NO_ERROR;
    bool m_kept = false;
};

// Removes, under `parent`, the folders of earlier hand-offs that are no longer in use, and
// nothing else: only real folders (never a reparse point) named as CHandOffFolder names
// them and holding its marker. The package's copy goes first: a folder whose copy cannot
// be deleted (its installer still runs, or has it open) is left whole. Returns how many
// folders were removed.
size_t RemoveEarlierHandOffFolders(const std::string& parent) noexcept;

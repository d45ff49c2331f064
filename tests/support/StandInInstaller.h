// What shows that the stand-in installer (fake_installer.exe, served as the package) ran:
// it writes "<its path>.ran.txt" with its path, command line and working directory, then
// exits. The record appears before it is whole, and the installer's file stays in use
// until the process has ended, so a test waits for both.
#pragma once

#include <windows.h>

#include <string>

namespace standin
{
// True while a process runs whose executable has the file name of `path` (the process
// list gives names, not folders). A process the shell has started is listed from the
// moment the shell's call returns.
bool ProgramNamedLikeRuns(const std::string& path);

// Waits until the stand-in installer at `path` has run and ended: its record is there
// and no process of its name runs any more, so the record is complete and the file is
// no longer in use. False when that has not happened within `timeoutMs`.
bool WaitForInstallerRun(const std::string& path, DWORD timeoutMs);

// True when the stand-in installer at `path` has neither run nor is running: no record
// and no process of its name. Conclusive once whatever could start it has ended or is
// known to hold it back.
bool InstallerHasNotRun(const std::string& path);
} // namespace standin

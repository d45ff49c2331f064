// What shows that the stand-in installer (fake_installer.exe, served as the package) ran:
// it writes "<its path>.ran.txt" with its path, command line, working directory and the
// library it loads by name, then exits. The updater hands off a copy of the package from
// a folder of its own under the user's temporary folder, so that is where the record of a
// run appears. The record appears before it is whole, and the installer's file stays in
// use until the process has ended, so a test waits for both.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace standin
{
// The updater's hand-off folders under the user's temporary folder (named
// "SeekwellHandOff-" and 32 hexadecimal digits), full paths without a trailing backslash.
std::vector<std::string> HandOffFolders();

// Removes every hand-off folder, so that no record of an earlier run counts.
void RemoveHandOffFolders();

// The record of a run of the stand-in handed off for the package at `packagePath`: the
// newest "<file name>.ran.txt" in a hand-off folder or, for a run in place, the one
// beside `packagePath`. Empty when there is none.
std::string RunRecordOf(const std::string& packagePath);

// The value of line "<name>=..." of a record, without the line's end; empty if missing.
std::string RecordField(const std::string& record, const std::string& name);

// True while a process runs whose executable has the file name of `path` (the process
// list gives names, not folders). A process the shell has started is listed from the
// moment the shell's call returns.
bool ProgramNamedLikeRuns(const std::string& path);

// Waits until the stand-in installer handed off for `path` has run and ended: its record
// is there and no process of its name runs any more, so the record is complete and the
// file is no longer in use. False when that has not happened within `timeoutMs`.
bool WaitForInstallerRun(const std::string& path, DWORD timeoutMs);

// True when the stand-in installer for `path` has neither run nor is running: no record
// and no process of its name. Conclusive once whatever could start it has ended or is
// known to hold it back.
bool InstallerHasNotRun(const std::string& path);
} // namespace standin

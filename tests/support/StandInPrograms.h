// Stand-ins for the programs the updater watches for: copies of sleeper.exe (built next
// to the test executables) started under chosen paths, ended when the test is done; and
// what shows that the stand-in installer (fake_installer.exe) ran.
#pragma once

#include <windows.h>

#include <string>

namespace standin
{
// A copy of sleeper.exe running under a given path until this object ends it.
class RunningProgram
{
  public:
    RunningProgram() = default;
    // Starts the copy at `path`, which ends by itself after `seconds` in any case, and
    // waits (up to 10 s) until its executable can be seen from outside.
    explicit RunningProgram(const std::string& path, unsigned seconds = 120);
    RunningProgram(RunningProgram&& other) noexcept;
    RunningProgram& operator=(RunningProgram&& other) noexcept;
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    ~RunningProgram() { End(); }

    bool Started() const { return m_process.hProcess != nullptr; }
    // Why the program did not start, for failure messages.
    const std::string& Error() const { return m_error; }
    DWORD Id() const { return m_process.dwProcessId; }

    // Ends the program and waits until it is gone from the process list.
    void End();

  private:
    PROCESS_INFORMATION m_process = {};
    std::string m_error;
};

// True while a process runs whose executable has the file name of `path` (the process
// list gives names, not folders). A process the shell has started is listed from the
// moment the shell's call returns.
bool ProgramNamedLikeRuns(const std::string& path);

// Waits until the stand-in installer at `path` has run and ended: its record
// "<path>.ran.txt" is there and no process of its name runs any more, so the record is
// complete and the file is no longer in use. False when that has not happened within
// `timeoutMs`.
bool WaitForInstallerRun(const std::string& path, DWORD timeoutMs);

// True when the stand-in installer at `path` has neither run nor is running: no record
// and no process of its name. Conclusive once whatever could start it has ended or is
// known to hold it back.
bool InstallerHasNotRun(const std::string& path);
} // namespace standin

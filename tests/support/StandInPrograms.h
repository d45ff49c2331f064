// Stand-ins for the programs the updater watches for: copies of sleeper.exe (built next
// to the test executables, or its 64-bit build) started under chosen paths, ended when the test is done.
#pragma once

#include <windows.h>

#include <string>

namespace standin
{
// True in a 64-bit prefix (the runner sets SEEKWELL_TEST_WOW64=1), where the 32-bit test
// programs and the updater run under WoW64 and the stand-ins are 64-bit programs.
bool InWow64Prefix();

// The program every stand-in is a copy of: the build's sleeper.exe, or in a 64-bit prefix
// its 64-bit build sleeper64.exe, as current Office installs Outlook.
std::string StandInSource();

// The full path of a running process's executable as other processes see it, or empty
// while it cannot be had (before the process's loader has listed it). A 64-bit process,
// whose modules this 32-bit one cannot read, is asked for its image path instead.
std::string ExecutablePathOf(DWORD processId);

// CreateProcessA of `path` with `commandLine` (and `directory` unless empty), not
// inheriting handles. Wine 8 now and then fails to start a 64-bit program from a 32-bit
// one with ERROR_INTERNAL_ERROR; that answer is tried again, a few times.
bool StartProcess(const std::string& path, const std::string& commandLine, const std::string& directory,
                  PROCESS_INFORMATION& started);

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
} // namespace standin

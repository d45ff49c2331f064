// Stand-ins for the programs the updater watches for: copies of sleeper.exe (built next
// to the test executables) started under chosen paths, ended when the test is done.
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
} // namespace standin

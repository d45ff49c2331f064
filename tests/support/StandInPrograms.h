// Stand-ins for the programs the updater watches for: copies of sleeper.exe (built next
// to the test executables) started under chosen paths, ended when the test is done.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <string>
#include <utility>
#include <vector>

namespace standin
{
// Directory of the running test executable, with its trailing backslash.
inline std::string ExecutableDirectory()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string full(path);
    return full.substr(0, full.find_last_of('\\') + 1);
}

// Offsets of the backslashes that are characters of their own: in a double-byte code
// page a trail byte may have the value of a backslash.
inline std::vector<size_t> SeparatorOffsets(const std::string& path)
{
    std::vector<size_t> offsets;
    for (const char* c = path.c_str(); *c != '\0'; c = CharNextA(c))
    {
        if (*c == '\\')
            offsets.push_back(static_cast<size_t>(c - path.c_str()));
    }
    return offsets;
}

// Creates every missing folder on the way to the file at `path` (like C:\a\b\x.exe).
inline void CreateFoldersFor(const std::string& path)
{
    const std::vector<size_t> separators = SeparatorOffsets(path);
    for (size_t i = 1; i < separators.size(); ++i)
        (void)CreateDirectoryA(path.substr(0, separators[i]).c_str(), nullptr);
}

// Puts a copy of sleeper.exe at `path` unless a file is already there (a running copy
// cannot be overwritten, and a second instance may use the same file).
inline bool PlaceSleeper(const std::string& path)
{
    CreateFoldersFor(path);
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    return CopyFileA((ExecutableDirectory() + "sleeper.exe").c_str(), path.c_str(), TRUE) != FALSE;
}

// The full path of a process's executable as the process-status functions give it,
// or empty while the process cannot be examined (for instance before its loader has
// listed the executable).
inline std::string ExecutablePathOf(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr)
        return std::string();
    std::string path;
    HMODULE module = nullptr;
    DWORD needed = 0;
    char buffer[MAX_PATH] = {};
    if (EnumProcessModules(process, &module, sizeof module, &needed) &&
        GetModuleFileNameExA(process, module, buffer, sizeof buffer) > 0)
        path = buffer;
    CloseHandle(process);
    return path;
}

// A copy of sleeper.exe running under a given path until this object ends it.
class RunningProgram
{
  public:
    RunningProgram() = default;
    // Starts the copy at `path`, which ends by itself after `seconds` in any case, and
    // waits (up to 10 s) until its executable can be seen from outside.
    explicit RunningProgram(const std::string& path, unsigned seconds = 120)
    {
        if (!PlaceSleeper(path))
        {
            m_error = "cannot copy sleeper.exe to " + path + ": error " + std::to_string(GetLastError());
            return;
        }
        std::string commandLine = "\"" + path + "\" " + std::to_string(seconds);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &m_process))
        {
            m_error = "cannot start " + path + ": error " + std::to_string(GetLastError());
            m_process = PROCESS_INFORMATION{};
            return;
        }
        for (int waited = 0; waited < 10000 && ExecutablePathOf(m_process.dwProcessId).empty(); waited += 20)
            Sleep(20);
    }
    RunningProgram(RunningProgram&& other) noexcept
        : m_process(std::exchange(other.m_process, {})), m_error(std::move(other.m_error))
    {
    }
    RunningProgram& operator=(RunningProgram&& other) noexcept
    {
        if (this != &other)
        {
            End();
            m_process = std::exchange(other.m_process, {});
            m_error = std::move(other.m_error);
        }
        return *this;
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    ~RunningProgram() { End(); }

    bool Started() const { return m_process.hProcess != nullptr; }
    // Why the program did not start, for failure messages.
    const std::string& Error() const { return m_error; }
    DWORD Id() const { return m_process.dwProcessId; }

    // Ends the program and waits until it is gone from the process list.
    void End()
    {
        if (m_process.hProcess == nullptr)
            return;
        (void)TerminateProcess(m_process.hProcess, 0);
        (void)WaitForSingleObject(m_process.hProcess, 10000);
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
        m_process = PROCESS_INFORMATION{};
    }

  private:
    PROCESS_INFORMATION m_process = {};
    std::string m_error;
};
} // namespace standin

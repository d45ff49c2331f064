#include "StandInPrograms.h"

#include <psapi.h>

#include <utility>
#include <vector>

#include "TestFiles.h"
#include "TestServer.h"

namespace standin
{
namespace
{
// Offsets of the backslashes that are characters of their own: in a double-byte code
// page a trail byte may have the value of a backslash.
std::vector<size_t> SeparatorOffsets(const std::string& path)
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
void CreateFoldersFor(const std::string& path)
{
    const std::vector<size_t> separators = SeparatorOffsets(path);
    for (size_t i = 1; i < separators.size(); ++i)
        (void)CreateDirectoryA(path.substr(0, separators[i]).c_str(), nullptr);
}

// Puts a copy of the stand-in at `path` unless a file is already there (a running copy
// cannot be overwritten, and a second instance may use the same file).
bool PlaceSleeper(const std::string& path)
{
    CreateFoldersFor(path);
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    return CopyFileA(StandInSource().c_str(), path.c_str(), TRUE) != FALSE;
}
} // namespace

bool InWow64Prefix()
{
    return testserver::Env("SEEKWELL_TEST_WOW64") == "1";
}

std::string StandInSource()
{
    return testfiles::BuildDirectory() + (InWow64Prefix() ? "sleeper64.exe" : "sleeper.exe");
}

std::string ExecutablePathOf(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr)
        return std::string();
    std::string path;
    HMODULE module = nullptr;
    DWORD needed = 0;
    char buffer[MAX_PATH] = {};
    DWORD length = sizeof buffer;
    if (EnumProcessModules(process, &module, sizeof module, &needed) &&
        GetModuleFileNameExA(process, module, buffer, sizeof buffer) > 0)
        path = buffer;
    else if (QueryFullProcessImageNameA(process, 0, buffer, &length))
        path.assign(buffer, length);
    CloseHandle(process);
    return path;
}

bool StartProcess(const std::string& path, const std::string& commandLine, const std::string& directory,
                  PROCESS_INFORMATION& started)
{
    for (int attempt = 0; attempt < 5; ++attempt)
    {
        std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
        mutableLine.push_back('\0');
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (CreateProcessA(path.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           directory.empty() ? nullptr : directory.c_str(), &startup, &started))
            return true;
        if (GetLastError() != ERROR_INTERNAL_ERROR)
            return false;
    }
    return false;
}

RunningProgram::RunningProgram(const std::string& path, unsigned seconds)
{
    if (!PlaceSleeper(path))
    {
        m_error =
            "cannot copy " + StandInSource() + " to " + path + ": error " + std::to_string(GetLastError());
        return;
    }
    if (!StartProcess(path, "\"" + path + "\" " + std::to_string(seconds), std::string(), m_process))
    {
        m_error = "cannot start " + path + ": error " + std::to_string(GetLastError());
        m_process = PROCESS_INFORMATION{};
        return;
    }
    for (int waited = 0; waited < 10000 && ExecutablePathOf(m_process.dwProcessId).empty(); waited += 20)
        Sleep(20);
}

RunningProgram::RunningProgram(RunningProgram&& other) noexcept
    : m_process(std::exchange(other.m_process, {})), m_error(std::move(other.m_error))
{
}

RunningProgram& RunningProgram::operator=(RunningProgram&& other) noexcept
{
    if (this != &other)
    {
        End();
        m_process = std::exchange(other.m_process, {});
        m_error = std::move(other.m_error);
    }
    return *this;
}

void RunningProgram::End()
{
    if (m_process.hProcess == nullptr)
        return;
    (void)TerminateProcess(m_process.hProcess, 0);
    (void)WaitForSingleObject(m_process.hProcess, 10000);
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
    m_process = PROCESS_INFORMATION{};
}
} // namespace standin

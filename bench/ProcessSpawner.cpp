// Keeps a number of extra processes running for the guard measurements: copies of the
// sleeper started from one file, each visible to the process-status library before
// this program reports ready. They end when the flag file is deleted (or after ten
// minutes in any case). Usage: bench_spawn COUNT SLEEPER_PATH FLAG_FILE
#include <windows.h>
#include <psapi.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace
{
constexpr unsigned kLifetimeSeconds = 600;

bool ExecutableVisible(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr)
        return false;
    HMODULE module = nullptr;
    DWORD needed = 0;
    char path[MAX_PATH] = {};
    const bool visible = EnumProcessModules(process, &module, sizeof module, &needed) &&
                         GetModuleFileNameExA(process, module, path, sizeof path) > 0;
    CloseHandle(process);
    return visible;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
    {
        bench::Note("usage: bench_spawn COUNT SLEEPER_PATH FLAG_FILE");
        return 2;
    }
    const int count = std::atoi(argv[1]);
    const std::string sleeper = argv[2];
    const std::string flag = argv[3];

    std::vector<PROCESS_INFORMATION> started;
    for (int index = 0; index < count; ++index)
    {
        std::string commandLine = "\"" + sleeper + "\" " + std::to_string(kLifetimeSeconds);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(sleeper.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
        {
            bench::Note("cannot start %s: error %lu", sleeper.c_str(), GetLastError());
            break;
        }
        started.push_back(process);
    }
    int visible = 0;
    for (const PROCESS_INFORMATION& process : started)
    {
        for (int waited = 0; waited < 30000 && !ExecutableVisible(process.dwProcessId); waited += 20)
            Sleep(20);
        visible += ExecutableVisible(process.dwProcessId) ? 1 : 0;
    }
    bench::Note("%d of %d extra processes running", visible, count);

    HANDLE ready = CreateFileA(flag.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready != INVALID_HANDLE_VALUE)
        CloseHandle(ready);
    for (DWORD waited = 0; waited < kLifetimeSeconds * 1000 && FileExists(flag); waited += 100)
        Sleep(100);

    for (const PROCESS_INFORMATION& process : started)
        (void)TerminateProcess(process.hProcess, 0);
    for (const PROCESS_INFORMATION& process : started)
    {
        (void)WaitForSingleObject(process.hProcess, 10000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return visible == count ? 0 : 1;
}

// Latency of the close-applications guard when none of the watched programs runs: the
// updater's guard, GuardInstallation (three CountRunningProcesses walks), beside three walks
// written with the same platform calls that do nothing but enumerate. Which calls depends
// on the platform family this process sees (a copy of this program registered as a
// Windows 98 program sees family 1). Usage: bench_guard REPETITIONS LABEL
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <string>

#include "BenchSupport.h"
#include "CloseAppsGuard.h"
#include "ProcessCounter.h"

namespace
{
constexpr int kWalksPerGuard = 3;

// Every process's executable path, as the NT family's process-status library gives it.
int WalkWithPsapi()
{
    DWORD ids[1024];
    DWORD idBytes = 0;
    (void)EnumProcesses(ids, sizeof ids, &idBytes);
    int seen = 0;
    char path[500];
    for (DWORD index = 0; index < idBytes / sizeof ids[0]; ++index)
    {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[index]);
        if (process == nullptr)
            continue;
        HMODULE executable = nullptr;
        DWORD moduleBytes = 0;
        if (EnumProcessModules(process, &executable, sizeof executable, &moduleBytes) &&
            GetModuleFileNameExA(process, executable, path, sizeof path) > 0)
            ++seen;
        CloseHandle(process);
    }
    return seen;
}

// Every process's image name, as the Windows 9x family's Toolhelp snapshot gives it.
int WalkWithToolhelp()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE || snapshot == nullptr)
        return 0;
    int seen = 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        ++seen;
    CloseHandle(snapshot);
    return seen;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        bench::Note("usage: bench_guard REPETITIONS LABEL");
        return 2;
    }
    const int repetitions = std::atoi(argv[1]);
    const DWORD family = GetPlatformId();
    const bool toolhelp = family == kPlatformWindows9x;
    const std::string group = std::string("guard.") + (toolhelp ? "9x." : "nt.") + argv[2];
    int (*const walk)() = toolhelp ? WalkWithToolhelp : WalkWithPsapi;
    bench::Result(group, "platform", family);
    bench::Result(group, "processes", walk());

    const auto timeGuard = [&]
    {
        const int64_t start = bench::Ticks();
        GuardInstallation();
        return bench::MsSince(start);
    };
    const auto timeWalks = [&]
    {
        const int64_t start = bench::Ticks();
        for (int pass = 0; pass < kWalksPerGuard; ++pass)
            (void)walk();
        return bench::MsSince(start);
    };
    // Each round measures guard, walks, walks, guard: a load that rises or falls during the
    // round weighs on both sides alike. The first round loads the libraries and warms the
    // caches; it is not counted.
    for (int round = -1; round < repetitions; ++round)
    {
        double guardMs = timeGuard();
        double walkMs = timeWalks();
        walkMs = (walkMs + timeWalks()) / 2;
        guardMs = (guardMs + timeGuard()) / 2;
        if (round < 0)
            continue;
        bench::Result(group, "product_ms", guardMs);
        bench::Result(group, "minimal_ms", walkMs);
    }
    return 0;
}

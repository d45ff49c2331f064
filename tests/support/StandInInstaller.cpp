#include "StandInInstaller.h"

#include <tlhelp32.h>

#include "TestFiles.h"
#include "UiDriver.h"

namespace standin
{
namespace
{
// The file name of a path, after its last backslash that is a character of its own
// (in a double-byte code page a trail byte may have a backslash's value), upper-cased.
std::string UpperFileName(const std::string& path)
{
    const char* name = path.c_str();
    for (const char* c = path.c_str(); *c != '\0'; c = CharNextA(c))
    {
        if (*c == '\\')
            name = c + 1;
    }
    std::string upper = name;
    CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    return upper;
}

std::string RecordOf(const std::string& path)
{
    return path + ".ran.txt";
}
} // namespace

bool ProgramNamedLikeRuns(const std::string& path)
{
    const std::string wanted = UpperFileName(path);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    // Without a list nothing can be ruled out: count it as running.
    if (snapshot == INVALID_HANDLE_VALUE)
        return true;
    bool found = false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
        found = UpperFileName(entry.szExeFile) == wanted;
    CloseHandle(snapshot);
    return found;
}

bool WaitForInstallerRun(const std::string& path, DWORD timeoutMs)
{
    return ui::WaitUntil([&] { return testfiles::FileExists(RecordOf(path)) && !ProgramNamedLikeRuns(path); },
                         timeoutMs);
}

bool InstallerHasNotRun(const std::string& path)
{
    return !ProgramNamedLikeRuns(path) && !testfiles::FileExists(RecordOf(path));
}
} // namespace standin

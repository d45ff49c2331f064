#include "StandInInstaller.h"

#include <tlhelp32.h>

#include <cstdint>

#include "TestFiles.h"
#include "UiDriver.h"

namespace standin
{
namespace
{
constexpr const char* kHandOffPrefix = "SeekwellHandOff-";

// The file name of a path, after its last backslash that is a character of its own
// (in a double-byte code page a trail byte may have a backslash's value).
std::string FileName(const std::string& path)
{
    const char* name = path.c_str();
    for (const char* c = path.c_str(); *c != '\0'; c = CharNextA(c))
    {
        if (*c == '\\')
            name = c + 1;
    }
    return name;
}

std::string Upper(std::string text)
{
    CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::string TemporaryFolder()
{
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof temp, temp);
    return temp;
}

bool IsHandOffName(const std::string& name)
{
    if (name.size() != 48 || name.compare(0, 16, kHandOffPrefix) != 0)
        return false;
    return name.find_first_not_of("0123456789abcdef", 16) == std::string::npos;
}

uint64_t LastWrite(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}
} // namespace

std::vector<std::string> HandOffFolders()
{
    std::vector<std::string> folders;
    const std::string temp = TemporaryFolder();
    for (const std::string& name : testfiles::FilesIn(temp.substr(0, temp.size() - 1)))
    {
        const DWORD attributes = GetFileAttributesA((temp + name).c_str());
        if (IsHandOffName(name) && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            folders.push_back(temp + name);
    }
    return folders;
}

void RemoveHandOffFolders()
{
    for (const std::string& folder : HandOffFolders())
        testfiles::RemoveFolder(folder);
}

std::string RunRecordOf(const std::string& packagePath)
{
    std::string newest;
    uint64_t newestWrite = 0;
    for (const std::string& folder : HandOffFolders())
    {
        const std::string record = folder + "\\" + FileName(packagePath) + ".ran.txt";
        const uint64_t written = LastWrite(record);
        if (written != 0 && written >= newestWrite)
        {
            newest = record;
            newestWrite = written;
        }
    }
    if (newest.empty() && testfiles::FileExists(packagePath + ".ran.txt"))
        newest = packagePath + ".ran.txt";
    return newest;
}

std::string RecordField(const std::string& record, const std::string& name)
{
    // With a line break in front, every line of the record starts after one.
    const std::string lines = "\n" + record;
    const std::string key = "\n" + name + "=";
    const size_t found = lines.find(key);
    if (found == std::string::npos)
        return std::string();
    const size_t start = found + key.size();
    const size_t end = lines.find("\r\n", start);
    return lines.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool ProgramNamedLikeRuns(const std::string& path)
{
    const std::string wanted = Upper(FileName(path));
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    // Without a list nothing can be ruled out: count it as running.
    if (snapshot == INVALID_HANDLE_VALUE)
        return true;
    bool found = false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
        found = Upper(FileName(entry.szExeFile)) == wanted;
    CloseHandle(snapshot);
    return found;
}

bool WaitForInstallerRun(const std::string& path, DWORD timeoutMs)
{
    return ui::WaitUntil([&] { return !RunRecordOf(path).empty() && !ProgramNamedLikeRuns(path); },
                         timeoutMs);
}

bool InstallerHasNotRun(const std::string& path)
{
    return !ProgramNamedLikeRuns(path) && RunRecordOf(path).empty();
}
} // namespace standin

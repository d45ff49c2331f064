#include "SystemSnapshot.h"

#include <windows.h>

#include "Platform.h"
#include "TestServer.h"

namespace snapshot
{
namespace
{
// Folders the platform writes in during any run, whatever the program does: Wine's
// system folder (its services, logs and caches) and the internet cache, cookies and
// history that the platform's download call keeps in the user's profile.
const char* const kPlatformFolders[] = {
    "c:\\windows\\",
    "\\appdata\\local\\microsoft\\windows\\inetcache\\",
    "\\appdata\\local\\microsoft\\windows\\history\\",
    "\\appdata\\roaming\\microsoft\\windows\\cookies\\",
    "\\appdata\\local\\microsoft\\windows\\inetcookies\\",
};

bool IsPlatformFolder(const std::string& lowerPath)
{
    for (const char* folder : kPlatformFolders)
        if (lowerPath.find(folder) != std::string::npos)
            return true;
    return false;
}

// True when `folder` lies on `drive` itself. Wine links the profile's Desktop,
// Documents, Music and the like to the Unix home, outside the prefix; such links are
// not followed.
bool LiesOnDrive(const std::string& folder, const std::string& drive)
{
    using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
    const auto finalPath =
        BindProcedure<FinalPathFunction>(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA");
    if (finalPath == nullptr)
        return true;
    HANDLE handle = CreateFileA(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    char path[4096] = {};
    const DWORD length = finalPath(handle, path, sizeof path, 0);
    CloseHandle(handle);
    if (length == 0 || length >= sizeof path)
        return false;
    std::string resolved = Lower(std::string(path, length));
    if (StartsWith(resolved, "\\\\?\\"))
        resolved.erase(0, 4);
    return StartsWith(resolved, Lower(drive) + "\\") || resolved == Lower(drive);
}

void ListFilesUnder(const std::string& drive, const std::string& folder, FileList& files)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
    {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        const std::string path = folder + "\\" + name;
        const std::string key = Lower(path);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            if (IsPlatformFolder(key + "\\") || !LiesOnDrive(path, drive))
                continue;
            files[key + "\\"] = FileState{};
            ListFilesUnder(drive, path, files);
            continue;
        }
        FileState state;
        state.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        state.written = (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                        found.ftLastWriteTime.dwLowDateTime;
        files[key] = state;
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Every drive a row can write to: C: and the runner's small drives.
std::vector<std::string> WritableDrives()
{
    std::vector<std::string> drives{"C:"};
    for (const char* name : {"SEEKWELL_TEST_SMALL_DRIVE", "SEEKWELL_TEST_READONLY_DRIVE"})
        if (!testserver::Env(name).empty())
            drives.push_back(testserver::Env(name));
    return drives;
}

// Keys the platform writes during any run: Wine's own settings, the internet settings
// that the tests route through and the download call keeps its cache state in, and the
// common dialogs' most-recently-used lists; and the class registrations, left out for
// time.
const char* const kPlatformKeys[] = {
    "hkcu\\software\\wine\\",
    "hkcu\\software\\microsoft\\windows\\currentversion\\internet settings\\",
    "hkcu\\software\\microsoft\\windows\\currentversion\\explorer\\",
    // COM registrations: most of the registry, and nothing the updater registers.
    "hklm\\software\\classes\\",
};

void ListRegistryUnder(HKEY root, const std::string& rootName, const std::string& path, RegistryList& values)
{
    const std::string name = Lower(rootName + "\\" + path) + "\\";
    for (const char* key : kPlatformKeys)
        if (StartsWith(name, key))
            return;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    values[name] = "key";
    for (DWORD index = 0;; ++index)
    {
        char valueName[16384];
        DWORD valueNameLength = sizeof valueName;
        std::vector<BYTE> data(65536);
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG status =
            RegEnumValueA(key, index, valueName, &valueNameLength, nullptr, &type, data.data(), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
            break;
        values[name + ":" + valueName] =
            std::to_string(type) + ":" +
            (status == ERROR_SUCCESS ? std::string(reinterpret_cast<char*>(data.data()), dataSize)
                                     : "(large)");
    }
    std::vector<std::string> subkeys;
    for (DWORD index = 0;; ++index)
    {
        char subkey[256];
        DWORD subkeyLength = sizeof subkey;
        if (RegEnumKeyExA(key, index, subkey, &subkeyLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        subkeys.push_back(subkey);
    }
    RegCloseKey(key);
    for (const std::string& subkey : subkeys)
        ListRegistryUnder(root, rootName, path.empty() ? subkey : path + "\\" + subkey, values);
}
} // namespace

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

FileList ListFiles()
{
    FileList files;
    for (const std::string& drive : WritableDrives())
        ListFilesUnder(drive, drive, files);
    return files;
}

std::vector<std::string> FileChanges(const FileList& before, const FileList& after,
                                     const std::string& allowedFolder)
{
    const std::string allowed = allowedFolder.empty() ? std::string() : Lower(allowedFolder) + "\\";
    std::vector<std::string> changes;
    auto outside = [&](const std::string& path) { return allowed.empty() || !StartsWith(path, allowed); };
    for (const auto& [path, state] : after)
    {
        const auto old = before.find(path);
        if (old == before.end() && outside(path))
            changes.push_back("new " + path);
        else if (old != before.end() && !(old->second == state) && outside(path))
            changes.push_back("changed " + path);
    }
    for (const auto& [path, state] : before)
        if (after.count(path) == 0 && outside(path))
            changes.push_back("removed " + path);
    return changes;
}

RegistryList ListRegistry()
{
    RegistryList values;
    ListRegistryUnder(HKEY_CURRENT_USER, "HKCU", "Software", values);
    ListRegistryUnder(HKEY_LOCAL_MACHINE, "HKLM", "Software", values);
    for (auto it = values.begin(); it != values.end();)
    {
        if (StartsWith(it->first, "hkcu\\software\\brannick\\") ||
            StartsWith(it->first, "hklm\\software\\brannick\\"))
            it = values.erase(it);
        else
            ++it;
    }
    return values;
}

std::vector<std::string> RegistryChanges(const RegistryList& before, const RegistryList& after)
{
    std::vector<std::string> changes;
    for (const auto& [name, value] : after)
    {
        const auto old = before.find(name);
        if (old == before.end())
            changes.push_back("new " + name);
        else if (old->second != value)
            changes.push_back("changed " + name);
    }
    for (const auto& [name, value] : before)
        if (after.count(name) == 0)
            changes.push_back("removed " + name);
    return changes;
}
} // namespace snapshot

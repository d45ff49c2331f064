#include "TestFiles.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace testfiles
{
std::string BuildDirectory()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string full(path);
    return full.substr(0, full.find_last_of('\\') + 1);
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        const std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void MakeFolders(const std::string& path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryA(path.c_str(), nullptr);
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    MakeFolders(path.substr(0, path.find_last_of('\\')));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool CopyInto(const std::string& from, const std::string& to)
{
    MakeFolders(to.substr(0, to.find_last_of('\\')));
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
}

void RemoveFolder(const std::string& folder)
{
    for (const std::string& name : FilesIn(folder))
    {
        const std::string path = folder + "\\" + name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            RemoveFolder(path);
        else
            DeleteFileA(path.c_str());
    }
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(folder.c_str());
}

ScopedVariable::ScopedVariable(const char* name, const std::string& value) : m_name(name)
{
    char previous[32768] = {};
    const DWORD length = GetEnvironmentVariableA(name, previous, sizeof previous);
    m_had = length != 0 && length < sizeof previous;
    m_previous.assign(previous, m_had ? length : 0);
    SetEnvironmentVariableA(name, value.c_str());
}

ScopedVariable::~ScopedVariable()
{
    SetEnvironmentVariableA(m_name.c_str(), m_had ? m_previous.c_str() : nullptr);
}

std::string MakePackage(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& byte : bytes)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}
} // namespace testfiles

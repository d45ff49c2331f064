// The local update server as the Windows tests see it: a folder they write the served
// files and behaviour sidecars into, a request log they read, and the proxy settings
// that send the updater's compiled-in host to it. The test runner starts the server
// and passes its port, folder and log through the environment.
#pragma once

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "UpdateHost.h"

namespace testserver
{
inline std::string Env(const char* name)
{
    char value[1024] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

// True when the runner started a server for this run.
inline bool Available()
{
    return !Env("SEEKWELL_TEST_PORT").empty();
}

inline std::string Port()
{
    return Env("SEEKWELL_TEST_PORT");
}

// Windows path of the served root folder, without a trailing backslash.
inline std::string Root()
{
    return Env("SEEKWELL_TEST_WWW");
}

// Folder of the product's files on the server, as the updater addresses it.
inline std::string ProductFolder()
{
    return Root() + "\\store\\" SEEKWELL_UPDATE_TOKEN "\\Quorvel30";
}

inline void MakeFolders(const std::string& path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryA(path.c_str(), nullptr);
}

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    MakeFolders(path.substr(0, path.find_last_of('\\')));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void Remove(const std::string& path)
{
    DeleteFileA(path.c_str());
}

// Serves `body` as the version file, with an optional behaviour sidecar (JSON object).
inline void ServeVersionFile(const std::string& body, const std::string& sidecar = std::string())
{
    WriteFile(ProductFolder() + "\\version.txt", body);
    if (sidecar.empty())
        Remove(ProductFolder() + "\\version.txt.behave.json");
    else
        WriteFile(ProductFolder() + "\\version.txt.behave.json", sidecar);
}

// Serves `bytes` as the update package, with an optional behaviour sidecar.
inline void ServePackage(const std::string& bytes, const std::string& sidecar = std::string())
{
    WriteFile(ProductFolder() + "\\" SEEKWELL_PACKAGE_NAME, bytes);
    if (sidecar.empty())
        Remove(ProductFolder() + "\\" SEEKWELL_PACKAGE_NAME ".behave.json");
    else
        WriteFile(ProductFolder() + "\\" SEEKWELL_PACKAGE_NAME ".behave.json", sidecar);
}

// Removes everything the tests served, so a test starts with an empty server.
inline void Clear()
{
    for (const char* name : {"version.txt", "version.txt.behave.json", SEEKWELL_PACKAGE_NAME,
                             SEEKWELL_PACKAGE_NAME ".behave.json"})
        Remove(ProductFolder() + "\\" + name);
}

// Lines of the request log: "<request line> | UA: <agent>".
inline std::vector<std::string> RequestLog()
{
    std::vector<std::string> lines;
    std::ifstream in(Env("SEEKWELL_TEST_LOG"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

inline void ClearRequestLog()
{
    std::ofstream(Env("SEEKWELL_TEST_LOG"), std::ios::trunc);
}

inline void SetProxy(const std::string& server, DWORD enable)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                        0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable);
    RegSetValueExA(key, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                   static_cast<DWORD>(server.size() + 1));
    RegCloseKey(key);
}

// Sends the compiled-in update host to the local server (prefix-wide, so programs the
// tests start follow it too).
inline void RouteUpdateHostToServer()
{
    SetProxy("127.0.0.1:" + Port(), 1);
}

// Starts a test from a clean server: nothing served, nothing logged, the update host
// routed to it. False when the runner started no server for this run.
inline bool PrepareFreshServer()
{
    if (!Available())
        return false;
    Clear();
    ClearRequestLog();
    RouteUpdateHostToServer();
    return true;
}

// Sends it to a loopback port where nothing listens: the server is unreachable.
inline void RouteUpdateHostNowhere()
{
    SetProxy("127.0.0.1:1", 1);
}
} // namespace testserver

#include <winsock2.h>
#include <windows.h>

#include "TestServer.h"

#include "SignedRelease.h"

#include <cstdlib>
#include <fstream>

#include "TestFiles.h"
#include "UpdateHost.h"

namespace testserver
{
using testfiles::WriteFile;

namespace
{
// Long enough for a loaded machine to answer a request on loopback, short enough that
// a server that is gone fails each test at once instead of at its time-out.
constexpr DWORD kProbeTimeoutMs = 3000;

const char* const kHowToRun = "run the Windows tests through tools/run-win-tests.sh BUILD_DIR [ctest args]";

void Remove(const std::string& path)
{
    DeleteFileA(path.c_str());
}

void SetProxy(const std::string& server, DWORD enable)
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

// Waits until `socket` can be written (`forWrite`) or read, at most `timeoutMs`.
bool WaitFor(SOCKET socket, bool forWrite, DWORD timeoutMs)
{
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket, &ready);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(socket, &failed);
    timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    return select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &limit) > 0 &&
           FD_ISSET(socket, &ready);
}

// Asks 127.0.0.1:`port` for anything over HTTP; "" when an HTTP answer came, else what
// went wrong. Plain sockets, because the platform's internet functions ignore their
// time-outs under Wine and would wait for good on a server that accepts and hangs.
std::string ProbeHttp(unsigned short port)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return "the socket library did not start";
    std::string problem;
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const char request[] = "HEAD / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    char answer[16] = {};
    if (probe == INVALID_SOCKET || ioctlsocket(probe, FIONBIO, &nonBlocking) != 0)
        problem = "no socket could be made";
    else if ((connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
              WSAGetLastError() != WSAEWOULDBLOCK) ||
             !WaitFor(probe, true, kProbeTimeoutMs))
        problem = "nothing accepts connections there";
    else if (send(probe, request, sizeof request - 1, 0) != static_cast<int>(sizeof request - 1))
        problem = "the request could not be sent";
    else if (!WaitFor(probe, false, kProbeTimeoutMs) || recv(probe, answer, sizeof answer - 1, 0) < 5 ||
             std::string(answer, 5) != "HTTP/")
        problem = "no HTTP answer within " + std::to_string(kProbeTimeoutMs) + " ms";
    if (probe != INVALID_SOCKET)
        closesocket(probe);
    WSACleanup();
    return problem;
}
} // namespace

std::string Env(const char* name)
{
    char value[1024] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

bool InSession()
{
    return Env("SEEKWELL_TEST_SESSION") == "1";
}

std::string Port()
{
    return Env("SEEKWELL_TEST_PORT");
}

std::string Root()
{
    return Env("SEEKWELL_TEST_WWW");
}

std::string ProductFolder()
{
    return Root() + "\\store\\" SEEKWELL_UPDATE_TOKEN "\\Quorvel30";
}

namespace
{
// The release ServeRelease serves, signed again whenever the package changes.
struct ServedRelease
{
    bool active = false;
    std::string version;
    std::string sidecar;
};
ServedRelease g_release;

void WriteVersionFile(const std::string& body, const std::string& sidecar)
{
    WriteFile(ProductFolder() + "\\version.txt", body);
    if (sidecar.empty())
        Remove(ProductFolder() + "\\version.txt.behave.json");
    else
        WriteFile(ProductFolder() + "\\version.txt.behave.json", sidecar);
}

void WritePackage(const std::string& bytes, const std::string& sidecar)
{
    WriteFile(ProductFolder() + "\\" SEEKWELL_PACKAGE_NAME, bytes);
    if (sidecar.empty())
        Remove(ProductFolder() + "\\" SEEKWELL_PACKAGE_NAME ".behave.json");
    else
        WriteFile(ProductFolder() + "\\" SEEKWELL_PACKAGE_NAME ".behave.json", sidecar);
}

void SignRelease()
{
    WriteVersionFile(PublishSignedVersion(g_release.version), g_release.sidecar);
}
} // namespace

void ServeVersionFile(const std::string& body, const std::string& sidecar)
{
    g_release.active = false;
    WriteVersionFile(body, sidecar);
}

void ServeRelease(const std::string& version, const std::string& sidecar)
{
    g_release = ServedRelease{true, version, sidecar};
    // A manifest names a package: until the test serves one of its own, it is signed over
    // a small stand-in. A package served empty (its sidecar answers for it) stays empty.
    const std::string packagePath = ProductFolder() + "\\" SEEKWELL_PACKAGE_NAME;
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    const bool served =
        GetFileAttributesExA(packagePath.c_str(), GetFileExInfoStandard, &attributes) != FALSE;
    const bool empty = served && attributes.nFileSizeLow == 0 && attributes.nFileSizeHigh == 0;
    if (!served || empty)
        WriteFile(packagePath, "a stand-in package");
    SignRelease();
    if (empty)
        WriteFile(packagePath, std::string());
}

void ServePackage(const std::string& bytes, const std::string& sidecar)
{
    WritePackage(bytes, sidecar);
    // An empty package is answered for by its sidecar (an error, a redirect): the manifest
    // keeps naming the package it was signed over.
    if (g_release.active && !bytes.empty())
        SignRelease();
}

Hold::Hold(const std::string& name) : m_path(ProductFolder() + "\\" + name)
{
    WriteFile(m_path, std::string());
}

void Hold::Release()
{
    if (!m_path.empty())
        Remove(m_path);
    m_path.clear();
}

void Clear()
{
    g_release.active = false;
    for (const char* name : {"version.txt", "version.txt.behave.json", SEEKWELL_PACKAGE_NAME,
                             "QuorvelUpdate-de.exe", SEEKWELL_PACKAGE_NAME ".behave.json"})
        Remove(ProductFolder() + "\\" + name);
}

std::string RecordSentField(const std::string& name)
{
    return "\"record_sent\": \"" + name + "\"";
}

void ClearSentRecord(const std::string& name)
{
    Remove(ProductFolder() + "\\" + name);
}

long long RecordedBytesSent(const std::string& name, unsigned long timeoutMs)
{
    const std::string path = ProductFolder() + "\\" + name;
    const DWORD start = GetTickCount();
    for (;;)
    {
        // The server replaces the record whole, so a record that is there is complete.
        std::ifstream in(path);
        long long bytes = -1;
        if (in >> bytes)
            return bytes;
        if (GetTickCount() - start >= timeoutMs)
            return -1;
        Sleep(20);
    }
}

std::vector<std::string> RequestLog()
{
    std::vector<std::string> lines;
    std::ifstream in(Env("SEEKWELL_TEST_LOG"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void ClearRequestLog()
{
    std::ofstream(Env("SEEKWELL_TEST_LOG"), std::ios::trunc);
}

void RouteUpdateHostToServer()
{
    SetProxy("127.0.0.1:" + Port(), 1);
}

void RouteUpdateHostThrough(const std::string& hostPort)
{
    SetProxy(hostPort, 1);
}

void RouteUpdateHostNowhere()
{
    SetProxy("127.0.0.1:1", 1);
}

SilentHost::SilentHost()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
    {
        m_problem = "the socket library did not start";
        return;
    }
    m_socketsStarted = true;
    // A queue of none: the system takes one connection into it, and drops the attempts
    // after it unanswered, so they are tried again and again and never complete.
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int addressSize = sizeof address;
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 0) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &addressSize) != 0)
    {
        m_problem = "no listener could be made";
        if (listener != INVALID_SOCKET)
            closesocket(listener);
        return;
    }
    m_sockets.push_back(listener);
    for (int i = 0; i < 3; ++i)
    {
        SOCKET filler = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long nonBlocking = 1;
        if (filler == INVALID_SOCKET || ioctlsocket(filler, FIONBIO, &nonBlocking) != 0)
        {
            m_problem = "the listener's queue could not be filled";
            return;
        }
        (void)connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        m_sockets.push_back(filler);
    }
    // The attempts need a moment to fill the queue.
    Sleep(200);
    SetProxy("127.0.0.1:" + std::to_string(ntohs(address.sin_port)), 1);
}

SilentHost::~SilentHost()
{
    RouteUpdateHostToServer();
    for (uintptr_t socket : m_sockets)
        closesocket(static_cast<SOCKET>(socket));
    if (m_socketsStarted)
        WSACleanup();
}

std::string WhyNoServer()
{
    if (!InSession() && Port().empty())
        return std::string("no test session and no update server: ") + kHowToRun;
    for (const char* variable : {"SEEKWELL_TEST_PORT", "SEEKWELL_TEST_WWW", "SEEKWELL_TEST_LOG"})
    {
        if (Env(variable).empty())
            return std::string(variable) + " is not set: the session started no update server (" + kHowToRun +
                   ")";
    }
    const unsigned long port = std::strtoul(Port().c_str(), nullptr, 10);
    if (port == 0 || port > 65535)
        return "SEEKWELL_TEST_PORT is no port: \"" + Port() + "\"";
    const std::string problem = ProbeHttp(static_cast<unsigned short>(port));
    if (!problem.empty())
        return "the update server at 127.0.0.1:" + Port() + " does not answer: " + problem;
    return std::string();
}

std::string PrepareFreshServer()
{
    const std::string missing = WhyNoServer();
    if (!missing.empty())
        return missing;
    // The probe's own request is in the log by now: the server logs a request before
    // it answers.
    Clear();
    ClearRequestLog();
    RouteUpdateHostToServer();
    return std::string();
}
} // namespace testserver

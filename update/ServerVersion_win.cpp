#include "ServerVersion.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "Handles.h"
#include "UpdateHost.h"
#include "VersionQuad.h"

namespace
{
constexpr const char* kAgent = "GetURL";
constexpr const char* kVersionFileName = "/version.txt";
constexpr DWORD kTimeoutMs = 500;
// Connect time-out, data receive time-out, connect retries, receive time-out, set in
// this order, each to 500 (ms, or tries for the retries).
constexpr DWORD kSessionOptions[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT,
                                     INTERNET_OPTION_CONNECT_RETRIES, INTERNET_OPTION_RECEIVE_TIMEOUT};
constexpr DWORD kChunkSize = 256;
// The most one fetch reads from a body, whatever each read delivers.
constexpr DWORD kReadLimit = 512;
// "M.m.b.r": the characters of the version file that are read.
constexpr size_t kVersionTextLength = 7;

bool IsSuccessStatus(HINTERNET request)
{
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize,
                        nullptr))
        return false;
    return status >= 200 && status < 300;
}

// Some platforms report a connection closed or reset mid-body as the end of the body,
// so a body shorter than its announced length is a failed read: its start may be only
// part of the version ("3.0" of "3.0.1.2").
bool EndedBeforeAnnouncedLength(HINTERNET request, DWORD received)
{
    DWORD announced = 0;
    DWORD announcedSize = sizeof announced;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced,
                        &announcedSize, nullptr))
        return false;
    return received < announced;
}
} // namespace

std::string VersionFileUrl(const std::string& productCode)
{
    return SEEKWELL_UPDATE_BASE_URL + productCode + kVersionFileName;
}

bool FetchServerVersion(const std::string& productCode, VersionQuad& server)
{
    const std::string url = VersionFileUrl(productCode);

    UniqueInternetHandle session(
        InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_NO_CACHE_WRITE));
    if (!session)
        return false;
    // Best effort: some platforms accept an option and do not honour it, so whether it
    // was accepted says nothing about the fetch.
    for (DWORD option : kSessionOptions)
    {
        DWORD value = kTimeoutMs;
        (void)InternetSetOptionA(session.get(), option, &value, sizeof value);
    }

    // The URL never changes between releases, so a cached copy would hide a new version:
    // always ask the server, and keep the answer out of the cache.
    UniqueInternetHandle request(InternetOpenUrlA(session.get(), url.c_str(), nullptr, 0,
                                                  INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    server.major = 0;
    server.minor = 0;
    server.build = 0;
    server.revision = 0;
    if (!request)
        return false;
    // An error page, a captive portal's page or a proxy's refusal is not a version file.
    if (!IsSuccessStatus(request.get()))
        return false;

    // Only the start of the body is a version; whatever follows (release notes, say)
    // is never read, and every chunk contributes only the bytes it delivered.
    char chunk[kChunkSize];
    char start[kVersionTextLength];
    size_t startLength = 0;
    DWORD received = 0;
    while (startLength < kVersionTextLength && received < kReadLimit)
    {
        DWORD delivered = 0;
        if (!InternetReadFile(request.get(), chunk, sizeof chunk, &delivered))
            return false;
        if (delivered == 0)
        {
            if (EndedBeforeAnnouncedLength(request.get(), received))
                return false;
            break;
        }
        received += delivered;
        const size_t taken = std::min<size_t>(delivered, kVersionTextLength - startLength);
        std::memcpy(start + startLength, chunk, taken);
        startLength += taken;
    }
    if (!LooksLikeVersionFile(start, startLength))
        return false;
    server = ParseVersionText(start, startLength);
    return true;
}

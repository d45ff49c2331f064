#include "ServerVersion.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "Crypto.h"
#include "DownloadMath.h"
#include "Handles.h"
#include "SystemClock.h"
#include "UpdateInfo.h"
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
constexpr DWORD kChunkSize = 4096;
// "M.m.b.r": the characters of the version file that make the version.
constexpr size_t kVersionTextLength = 7;
// The URL never changes between releases, so a cache on the way (a company's proxy)
// would keep offering the release it saw first: every proxy is asked to revalidate.
constexpr const char* kNoCacheHeaders = "Cache-Control: no-cache\r\nPragma: no-cache\r\n";

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

// Reads the whole body into `body`, up to one byte past the size limit so that a file
// too large to be a manifest shows as such. False when the server cannot be reached,
// answers with a status outside 2xx, ends the body before its announced length, or has
// not delivered all of it within the version file's deadline.
bool FetchVersionFile(const std::string& url, std::string& body)
{
    // The time-outs bound each wait on the network, not their sum: a server that drips
    // the file a byte at a time, each byte inside the time-outs, would hold the check
    // for as long as it likes. The tick count is a monotonic clock on every system the
    // updater runs on (its 64-bit form is not); TicksPassed reads it across a wrap. The
    // deadline is looked at whenever a call returns, so a single call that never returns
    // (a platform that ignores the time-outs, against a server that stalls) still holds
    // the check.
    const DWORD started = GetTickCount();
    const auto pastDeadline = [started]
    { return TicksPassed(started, GetTickCount(), kVersionFileDeadlineMs); };
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

    // Always ask the server, and keep the answer out of the local cache.
    UniqueInternetHandle request(InternetOpenUrlA(session.get(), url.c_str(), kNoCacheHeaders,
                                                  static_cast<DWORD>(-1),
                                                  INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request || pastDeadline())
        return false;
    // An error page, a captive portal's page or a proxy's refusal is not a version file.
    if (!IsSuccessStatus(request.get()))
        return false;

    body.clear();
    char chunk[kChunkSize];
    while (body.size() <= kMaxVersionFileBytes)
    {
        // Some platforms (Wine) hold a read until the whole buffer or the announced length
        // has arrived, so one read of a dripped file would take as long as the server
        // likes. Asked first, the platform waits only for the next bytes, and the read
        // takes what is there without waiting.
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request.get(), &available, 0, 0) || pastDeadline())
            return false;
        const DWORD wanted = available == 0 ? sizeof chunk : std::min<DWORD>(available, sizeof chunk);
        DWORD delivered = 0;
        if (!InternetReadFile(request.get(), chunk, wanted, &delivered) || pastDeadline())
            return false;
        if (delivered == 0)
            return !EndedBeforeAnnouncedLength(request.get(), static_cast<DWORD>(body.size()));
        body.append(chunk, delivered);
    }
    return true;
}
} // namespace

std::string VersionFileUrl(const std::string& productCode)
{
    return SEEKWELL_UPDATE_BASE_URL + productCode + kVersionFileName;
}

ServerAnswer FetchServerVersion(const std::string& productCode, const std::string& packageName,
                                const UpdateKeys& keys, VersionQuad& server, ManifestPackage& expected)
{
    server.major = 0;
    server.minor = 0;
    server.build = 0;
    server.revision = 0;
    if (!CanCheckSignatures())
        return ServerAnswer::CannotVerifyOnThisSystem;
    std::string body;
    if (!FetchVersionFile(VersionFileUrl(productCode), body) ||
        !LooksLikeVersionFile(body.data(), body.size()))
        return ServerAnswer::Unreachable;
    // Even "you are up to date" is believed only from the vendor, and only while fresh.
    const UpdateInfoVerdict verdict =
        VerifyUpdateInfo(body, productCode, packageName, keys, SystemClockSeconds(), expected);
    if (verdict == UpdateInfoVerdict::Expired)
        return ServerAnswer::Expired;
    if (verdict != UpdateInfoVerdict::Believed)
        return ServerAnswer::Unverified;
    server = ParseVersionText(body.data(), std::min(body.size(), kVersionTextLength));
    return ServerAnswer::Verified;
}

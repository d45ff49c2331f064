// The version-file request written plainly with the WinINet calls the updater makes, in
// the same order and with the same agent, flags, options and buffer sizes: the
// reference the updater's check is measured against.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "UpdateHost.h"

namespace bench
{
constexpr const char* kVersionFileUrl = SEEKWELL_UPDATE_BASE_URL "Quorvel30/version.txt";

// The first seven bytes of the version file, or empty when the request failed.
inline std::string RequestVersionFile()
{
    std::string start;
    HINTERNET session =
        InternetOpenA("GetURL", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_NO_CACHE_WRITE);
    if (session == nullptr)
        return start;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT,
                         INTERNET_OPTION_CONNECT_RETRIES, INTERNET_OPTION_RECEIVE_TIMEOUT})
    {
        DWORD value = 500;
        (void)InternetSetOptionA(session, option, &value, sizeof value);
    }
    HINTERNET request = InternetOpenUrlA(session, kVersionFileUrl, nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (request != nullptr &&
        HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize,
                       nullptr) &&
        status >= 200 && status < 300)
    {
        char chunk[256];
        DWORD received = 0;
        while (start.size() < 7 && received < 512)
        {
            DWORD delivered = 0;
            if (!InternetReadFile(request, chunk, sizeof chunk, &delivered) || delivered == 0)
                break;
            received += delivered;
            start.append(chunk, delivered < 7 - start.size() ? delivered : 7 - start.size());
        }
    }
    if (request != nullptr)
        InternetCloseHandle(request);
    InternetCloseHandle(session);
    return start;
}
} // namespace bench

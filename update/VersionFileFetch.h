// The transfer of the version file, bounded by one deadline whatever the server does.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// What one fetch of the version file got, and why it ended where it did.
struct VersionFileFetch
{
    // The body as far as it was read: at most one byte past the version file's size limit.
    std::string body;
    // The answer's HTTP status; 0 when no whole status line and headers arrived.
    DWORD httpStatus = 0;
    // The platform's error code (a WinINet or Win32 one) of the call that failed, 0 when
    // none did.
    DWORD platformError = 0;
    // The Content-Length the answer announced, when it announced one.
    bool lengthAnnounced = false;
    uint64_t bytesAnnounced = 0;
    // Body bytes that arrived.
    uint64_t bytesReceived = 0;
    // The deadline, not the platform or the server, ended the fetch.
    bool deadlineEnded = false;
};

// Fetches `url` asking every cache on the way to revalidate, and reads the whole body
// (up to one byte past the version file's size limit). True only for a 2xx answer whose
// body arrived whole within `deadlineMs` milliseconds of the call: no connection, a
// status outside 2xx, a body that ended before its announced length, and anything still
// unfinished at the deadline fail. The deadline holds for every part of the exchange,
// the connection and the status line included; the thread's messages are dispatched
// while the fetch waits.
[[nodiscard]] bool FetchVersionFile(const std::string& url, uint32_t deadlineMs,
                                    VersionFileFetch& fetch) noexcept;

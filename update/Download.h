// Transfer of the update package onto its place in the chosen folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "DownloadProgress.h"
#include "UpdateManifest.h"

// How a package transfer ended. Only Complete leaves a new package at the target path;
// every other outcome leaves there whatever was there before.
enum class DownloadVerdict
{
    Complete,
    // The target's folder could not take a temporary file (missing, not writable).
    NoTemporaryFile,
    // The platform's download call failed, the time limit included.
    TransferFailed,
    // The server announced, or began to deliver, plainly more than the signed size: the
    // transfer was stopped there (an endless body, say).
    Oversized,
    // The server answered with a status outside 2xx (an error page is not a package).
    HttpError,
    // Nothing arrived, or fewer bytes than the server announced.
    ShortBody,
    // What arrived is not the package the signed manifest names (size or SHA-256).
    NotVerified,
    // The complete package could not be moved onto the target path.
    NotMoved,
};

struct DownloadOutcome
{
    DownloadVerdict verdict = DownloadVerdict::TransferFailed;
    // What the platform's download call returned (E_ABORT for the time limit); S_OK
    // when the transfer was never started.
    HRESULT transferResult = S_OK;
    // The response's HTTP status (0 when none was seen), the largest byte count the
    // transfer notified and the total it announced (0 when none).
    DWORD httpStatus = 0;
    uint32_t bytesNotified = 0;
    uint32_t announcedTotal = 0;
    // Body bytes that arrived and were written to the temporary file.
    uint64_t bytesReceived = 0;
    // Writing to the temporary file failed (a full disk, say).
    bool writeFailed = false;
    // The time limit ended the transfer, with a notification or without one.
    bool timeLimitReached = false;
    // The platform did not confirm the end of the stopped transfer in time: it was left to
    // the platform, which may still hold a connection.
    bool abandoned = false;
};

// Downloads `url` into a temporary file beside `target` and moves it onto `target`
// only when the whole package arrived without an error status and is, byte for byte,
// the `expected` package of the signed manifest. Reports to `progress` while the
// transfer runs and dispatches the thread's messages, ends the transfer once the
// download's time limit has passed, whether or not the platform notifies, and stops at
// once when the response announces or delivers plainly more than the expected size.
[[nodiscard]] DownloadOutcome DownloadPackage(const std::string& url, const std::string& target,
                                              const ManifestPackage& expected,
                                              IDownloadProgress& progress) noexcept;

// The URL of the package: download base URL, product code, a slash, package file name.
std::string PackageUrl(const std::string& baseUrl, const std::string& productCode,
                       const std::string& packageName);

// Where the package is saved for a path confirmed in the Save-As dialog: the path's
// folder (cut at its last backslash, double-byte characters respected) and the
// package's own name; C:\x.exe gives C:\<package>.
std::string PackagePathFor(const std::string& confirmedPath, const std::string& packageName);

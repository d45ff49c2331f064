// The package transfer itself: the bytes of a URL into an open file, watched by the
// download's progress callback, ended by its time limit whether or not the platform
// notifies.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "DownloadStatus.h"

struct TransferOutcome
{
    // How the platform ended the transfer (S_OK for a complete one), or E_ABORT when it
    // was stopped: by the time limit, the byte limit or a write that failed.
    HRESULT result = E_ABORT;
    // Body bytes written to the file.
    uint64_t bytesWritten = 0;
    // A write to the file failed (a full disk, say).
    bool writeFailed = false;
    // The platform did not confirm the end of a stopped transfer in time; the transfer
    // was left to it.
    bool abandoned = false;
};

// Transfers `url` into `file` (open for writing, empty) through `status`, which sees
// every notification, moves the bar, drains the messages, keeps the limits and learns
// the HTTP status. Returns once the transfer has ended, or once `status` found its time
// limit passed and the platform has been asked to stop, whichever comes first; the
// thread's messages are dispatched throughout. `status` and `file` are not touched
// after the return.
[[nodiscard]] TransferOutcome TransferToFile(const std::string& url, HANDLE file,
                                             CDownloadStatus& status) noexcept;

// What a package download reports to the window that shows it, and asks of it.
#pragma once

#include <cstdint>

#include "SystemClock.h"

class IDownloadProgress
{
  public:
    // Shows `percent` of the package as arrived; not clamped, 0 while the size is unknown.
    virtual void SetDownloadProgress(int percent) = 0;
    // Keeps the window responsive between notifications of the transfer.
    virtual void PumpMessages() = 0;
    // The clock the download's time limit is measured by, in whole seconds since 1970.
    virtual int64_t NowSeconds() { return SystemClockSeconds(); }

  protected:
    ~IDownloadProgress() = default;
};

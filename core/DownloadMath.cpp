#include "DownloadMath.h"

int32_t ProgressPercent(uint32_t progress, uint32_t progressMax)
{
    if (progressMax == 0)
        return 0;
    // At most 100 * 2^32 - 1 over 1: fits a double exactly and an int32 after division
    // only while progress <= 21 * progressMax; beyond that the bar is far past full
    // anyway, so saturate instead of converting an out-of-range double.
    const double percent = static_cast<double>(progress) * 100.0 / static_cast<double>(progressMax);
    if (percent >= 2147483647.0)
        return INT32_MAX;
    return static_cast<int32_t>(percent);
}

int64_t DownloadDeadline(int64_t startSeconds)
{
    // No real clock gets this close to the end of its range, but a garbage reading must
    // not overflow: the deadline then simply never passes.
    if (startSeconds > INT64_MAX - kDownloadTimeLimitSeconds)
        return INT64_MAX;
    return startSeconds + kDownloadTimeLimitSeconds;
}

bool DeadlinePassed(int64_t nowSeconds, int64_t deadlineSeconds)
{
    return nowSeconds > deadlineSeconds;
}

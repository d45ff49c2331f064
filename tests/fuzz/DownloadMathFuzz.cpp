// Feeds arbitrary numbers to the progress percentage and the download deadline.
// Input: progress and total (4 bytes each), then start and now (8 bytes each); missing
// bytes read as zero.
#include "DownloadMath.h"
#include "FuzzCheck.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    unsigned char bytes[24] = {};
    std::memcpy(bytes, data, size < sizeof bytes ? size : sizeof bytes);
    uint32_t progress = 0;
    uint32_t progressMax = 0;
    int64_t start = 0;
    int64_t now = 0;
    std::memcpy(&progress, bytes, 4);
    std::memcpy(&progressMax, bytes + 4, 4);
    std::memcpy(&start, bytes + 8, 8);
    std::memcpy(&now, bytes + 16, 8);

    // Exact integer arithmetic in 64 bits: the truncated percentage, saturated at the
    // int32 limit.
    const int32_t percent = ProgressPercent(progress, progressMax);
    if (progressMax == 0)
    {
        FUZZ_CHECK(percent == 0);
    }
    else
    {
        const uint64_t exact = static_cast<uint64_t>(progress) * 100u / progressMax;
        FUZZ_CHECK(static_cast<uint64_t>(percent) == (exact > INT32_MAX ? INT32_MAX : exact));
        if (progress <= progressMax)
            FUZZ_CHECK(percent >= 0 && percent <= 100);
        if (progress < progressMax)
            FUZZ_CHECK(percent < 100);
    }

    // The deadline in 128-bit arithmetic, where adding 80 cannot overflow.
    const int64_t deadline = DownloadDeadline(start);
    const __int128 wide = static_cast<__int128>(start) + kDownloadTimeLimitSeconds;
    FUZZ_CHECK(deadline == (wide > INT64_MAX ? INT64_MAX : static_cast<int64_t>(wide)));
    FUZZ_CHECK(DeadlinePassed(now, deadline) == (now > deadline));
    FUZZ_CHECK(!DeadlinePassed(deadline, deadline));
    if (start <= INT64_MAX - kDownloadTimeLimitSeconds)
    {
        FUZZ_CHECK(!DeadlinePassed(start + kDownloadTimeLimitSeconds, deadline));
        if (start < INT64_MAX - kDownloadTimeLimitSeconds)
            FUZZ_CHECK(DeadlinePassed(start + kDownloadTimeLimitSeconds + 1, deadline));
    }
    return 0;
}

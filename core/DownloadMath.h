// Arithmetic of the download's progress bar and its time limit.
#pragma once

#include <cstdint>

// Seconds a whole download may take, counted from just before the transfer starts.
constexpr int64_t kDownloadTimeLimitSeconds = 80;

// Percentage shown for `progress` of `progressMax` bytes: computed in floating point so
// that large counts cannot overflow, truncated toward zero, not clamped (more than the
// total gives more than 100); 0 when the total is unknown (0).
int32_t ProgressPercent(uint32_t progress, uint32_t progressMax);

// The latest second at which a progress notification is still accepted.
int64_t DownloadDeadline(int64_t startSeconds);

// True once `nowSeconds` is strictly later than the deadline: a notification within the
// deadline's own second is still accepted.
bool DeadlinePassed(int64_t nowSeconds, int64_t deadlineSeconds);

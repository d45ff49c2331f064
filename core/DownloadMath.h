// Arithmetic of the transfers: the download's progress bar, its time limit and its
// byte bound, and the version file's deadline.
#pragma once

#include <cstdint>
#include <string_view>

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

// The most bytes a transfer of a package of `signedSize` bytes may announce or deliver
// before it is plainly not that package: the signed size and a margin for what a
// compressing server adds. Never less than the signed size; saturates.
uint64_t DownloadByteLimit(uint64_t signedSize);

// The largest value of a Content-Length line among raw response headers (lines of
// "Name: value", the status line first, ended by CRLF or LF), the name matched without
// regard to case; a value too large for 64 bits counts as the largest number. 0 when
// no line holds a plain decimal value.
uint64_t LargestContentLength(std::string_view headers);

// Milliseconds the version file's read may take from its first request to its last
// byte, however the server paces it.
constexpr uint32_t kVersionFileDeadlineMs = 30000;

// True once `limitMs` milliseconds or more lie between `startTicks` and `nowTicks` of a
// 32-bit millisecond counter that wraps to 0 after 2^32 - 1 (a system's tick count).
// Right across one wrap; a reading more than 49.7 days on is taken modulo 2^32.
bool TicksPassed(uint32_t startTicks, uint32_t nowTicks, uint32_t limitMs);

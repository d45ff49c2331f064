#include "DownloadMath.h"

namespace
{
// A compressing server (Content-Encoding gzip, deflate or br) sends an installer, which
// is compressed already, at about its own size: deflate's worst case for data it cannot
// shrink is five bytes per 16 KiB block and a few dozen bytes of header and trailer
// (zlib's deflateBound: n/4096 + n/16384 + 31), and brotli's is smaller. Whether the
// platform counts the bytes before or after decoding, a body within 1/256 of the signed
// size and 64 KiB more (a read's worth, for the headers and any framing counted) may
// still turn out to be the package; the hash decides then. Beyond that it never is,
// and the transfer stops before it fills the disk.
constexpr uint64_t kDownloadSlackBytes = 64 * 1024;
constexpr uint64_t kDownloadSlackDivisor = 256;

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The decimal value of a header line's value (blanks around it allowed), saturating;
// false when it holds anything else or nothing.
bool ParseDecimal(std::string_view text, uint64_t& value)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    if (text.empty())
        return false;
    value = 0;
    for (char c : text)
    {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
    }
    return true;
}

// Finds the value of `line` when it is a header named `name` (lower case).
bool HeaderValue(std::string_view line, std::string_view name, std::string_view& value)
{
    if (line.size() <= name.size() || line[name.size()] != ':')
        return false;
    for (size_t i = 0; i < name.size(); ++i)
    {
        if (LowerAscii(line[i]) != name[i])
            return false;
    }
    value = line.substr(name.size() + 1);
    return true;
}
} // namespace

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

uint64_t DownloadByteLimit(uint64_t signedSize)
{
    const uint64_t slack = signedSize / kDownloadSlackDivisor + kDownloadSlackBytes;
    return signedSize > UINT64_MAX - slack ? UINT64_MAX : signedSize + slack;
}

uint64_t LargestContentLength(std::string_view headers)
{
    uint64_t largest = 0;
    while (!headers.empty())
    {
        const size_t end = headers.find('\n');
        std::string_view line = headers.substr(0, end);
        headers.remove_prefix(end == std::string_view::npos ? headers.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::string_view text;
        uint64_t value = 0;
        if (HeaderValue(line, "content-length", text) && ParseDecimal(text, value) && value > largest)
            largest = value;
    }
    return largest;
}

bool TicksPassed(uint32_t startTicks, uint32_t nowTicks, uint32_t limitMs)
{
    // Unsigned subtraction is the distance forward from the start, across a wrap too.
    return static_cast<uint32_t>(nowTicks - startTicks) >= limitMs;
}

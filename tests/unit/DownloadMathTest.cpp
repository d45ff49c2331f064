#include "DownloadMath.h"

#include "RowName.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace
{
struct PercentRow
{
    const char* edge;
    uint32_t progress;
    uint32_t progressMax;
    int32_t percent;
};

const PercentRow kPercentRows[] = {
    {"half of 1024", 512, 1024, 50},
    {"1023 of 1024 truncates", 1023, 1024, 99},
    {"one byte of 1024", 1, 1024, 0},
    {"complete", 1024, 1024, 100},
    {"two thirds truncates", 2, 3, 66},
    {"3e9 of 4e9 without overflow", 3000000000u, 4000000000u, 75},
    {"one byte short of 4 GiB", 4294967294u, 4294967295u, 99},
    {"4 GiB - 1 of itself", 4294967295u, 4294967295u, 100},
    {"unknown total", 5, 0, 0},
    {"nothing of an unknown total", 0, 0, 0},
    {"nothing yet", 0, 100, 0},
    {"more than the total is not clamped", 2048, 1024, 200},
    {"largest count still in range", 21474836, 1, 2147483600},
    {"out of int32 range saturates", 4294967295u, 1, INT32_MAX},
};

class PercentTest : public testing::TestWithParam<PercentRow>
{
};

TEST_P(PercentTest, TruncatesWithoutClamping)
{
    const PercentRow& row = GetParam();
    EXPECT_EQ(row.percent, ProgressPercent(row.progress, row.progressMax)) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, PercentTest, testing::ValuesIn(kPercentRows), RowName());

TEST(DownloadDeadline, EightySecondsAfterTheStart)
{
    EXPECT_EQ(1080, DownloadDeadline(1000));
    EXPECT_EQ(1700000080, DownloadDeadline(1700000000));
}

TEST(DownloadDeadline, StartAtTheClocksEndSaturates)
{
    EXPECT_EQ(INT64_MAX, DownloadDeadline(INT64_MAX));
    EXPECT_EQ(INT64_MAX, DownloadDeadline(INT64_MAX - 79));
    EXPECT_EQ(INT64_MAX, DownloadDeadline(INT64_MAX - 80));
    EXPECT_FALSE(DeadlinePassed(INT64_MAX, DownloadDeadline(INT64_MAX)));
}

struct DeadlineRow
{
    const char* edge;
    int64_t now;
    bool passed;
};

// All rows against a transfer started at second 1000, so the deadline is 1080.
const DeadlineRow kDeadlineRows[] = {
    {"at the start", 1000, false},
    {"one second before the deadline", 1079, false},
    {"the deadline's own second is accepted", 1080, false},
    {"the next second aborts", 1081, true},
    {"long after", 5000, true},
    {"clock moved back before the start", 900, false},
    {"clock far in the past", INT64_MIN, false},
    {"clock at its end", INT64_MAX, true},
};

class DeadlineTest : public testing::TestWithParam<DeadlineRow>
{
};

TEST_P(DeadlineTest, StrictlyLaterAborts)
{
    const DeadlineRow& row = GetParam();
    EXPECT_EQ(row.passed, DeadlinePassed(row.now, DownloadDeadline(1000))) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, DeadlineTest, testing::ValuesIn(kDeadlineRows), RowName());

TEST(DownloadDeadline, ComparesAsSignedNumbers)
{
    // A clock before 1970 gives negative seconds; the comparison must still hold.
    EXPECT_EQ(-20, DownloadDeadline(-100));
    EXPECT_FALSE(DeadlinePassed(-20, -20));
    EXPECT_TRUE(DeadlinePassed(-19, -20));
    EXPECT_FALSE(DeadlinePassed(-21, -20));
}

struct ByteLimitRow
{
    const char* edge;
    uint64_t signedSize;
    uint64_t limit;
};

const ByteLimitRow kByteLimitRows[] = {
    {"nothing signed still allows a read", 0, 65536},
    {"256 KiB", 262144, 262144 + 1024 + 65536},
    {"1 MiB", 1048576, 1048576 + 4096 + 65536},
    {"100 MiB", 104857600, 104857600 + 409600 + 65536},
    {"largest signed size, 4 GiB - 1", 4294967295u, 4294967295ull + 16777215 + 65536},
    {"size at the end of the range saturates", UINT64_MAX, UINT64_MAX},
    {"size just below the slack saturates", UINT64_MAX - 65536, UINT64_MAX},
};

class ByteLimitTest : public testing::TestWithParam<ByteLimitRow>
{
};

TEST_P(ByteLimitTest, SignedSizeAndTheCompressionMargin)
{
    const ByteLimitRow& row = GetParam();
    EXPECT_EQ(row.limit, DownloadByteLimit(row.signedSize)) << row.edge;
    EXPECT_GE(DownloadByteLimit(row.signedSize), row.signedSize) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, ByteLimitTest, testing::ValuesIn(kByteLimitRows), RowName());

struct ContentLengthRow
{
    const char* edge;
    const char* headers;
    uint64_t largest;
};

const ContentLengthRow kContentLengthRows[] = {
    {"the usual answer", "HTTP/1.1 200 OK\r\nContent-Type: x\r\nContent-Length: 3145728\r\n\r\n", 3145728},
    {"name in lower case without a blank", "HTTP/1.1 200 OK\r\ncontent-length:123\r\n", 123},
    {"name in capitals, tab and trailing blank", "HTTP/1.1 200 OK\r\nCONTENT-LENGTH:\t42 \r\n", 42},
    {"lines ended by LF alone", "HTTP/1.1 200 OK\nContent-Length: 77\n\n", 77},
    {"last line without a line end", "HTTP/1.1 200 OK\r\nContent-Length: 42", 42},
    {"no length announced", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", 0},
    {"no headers at all", "", 0},
    {"two lengths: the larger counts", "Content-Length: 10\r\nContent-Length: 4294967296\r\n", 4294967296u},
    {"two lengths, the larger first", "Content-Length: 4294967296\r\nContent-Length: 10\r\n", 4294967296u},
    {"4 GiB - 1, the largest a notification carries", "Content-Length: 4294967295\r\n", 4294967295u},
    {"too many digits for 64 bits saturates", "Content-Length: 99999999999999999999999\r\n", UINT64_MAX},
    {"2^64 exactly saturates", "Content-Length: 18446744073709551616\r\n", UINT64_MAX},
    {"2^64 - 1 is exact", "Content-Length: 18446744073709551615\r\n", UINT64_MAX},
    {"2^64 - 2 is exact", "Content-Length: 18446744073709551614\r\n", UINT64_MAX - 1},
    {"digits then letters are no length", "Content-Length: 12x\r\n", 0},
    {"a sign is no length", "Content-Length: -5\r\n", 0},
    {"an empty value is no length", "Content-Length:\r\n", 0},
    {"two numbers are no length", "Content-Length: 1 2\r\n", 0},
    {"another header ending in the name", "X-Content-Length: 99\r\n", 0},
    {"a longer name starting with it", "Content-Lengths: 99\r\n", 0},
    {"a blank before the colon", "Content-Length : 99\r\n", 0},
    {"the words inside the status line", "HTTP/1.1 200 Content-Length: 7\r\n", 0},
    {"a bad line does not hide a good one", "Content-Length: x\r\nContent-Length: 5\r\n", 5},
};

class ContentLengthTest : public testing::TestWithParam<ContentLengthRow>
{
};

TEST_P(ContentLengthTest, LargestPlainDecimalValue)
{
    const ContentLengthRow& row = GetParam();
    EXPECT_EQ(row.largest, LargestContentLength(row.headers)) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, ContentLengthTest, testing::ValuesIn(kContentLengthRows), RowName());

TEST(ContentLength, LineHoldingANul)
{
    static const char kHeaders[] = "Content-Length: 1\0"
                                   "0\r\nContent-Length: 3\r\n";
    const std::string headers(kHeaders, sizeof kHeaders - 1);
    EXPECT_EQ(3u, LargestContentLength(headers));
}

struct TicksRow
{
    const char* edge;
    uint32_t start;
    uint32_t now;
    bool passed;
};

// All rows against the version file's 30 s.
const TicksRow kTicksRows[] = {
    {"at the start", 1000, 1000, false},
    {"one millisecond short", 1000, 30999, false},
    {"exactly thirty seconds", 1000, 31000, true},
    {"long after", 1000, 4000000, true},
    {"across the wrap, short", 4294967000u, 29000, false},
    {"across the wrap, one millisecond short", 4294967000u, 29703, false},
    {"across the wrap, exactly", 4294967000u, 29704, true},
    {"started at the counter's last value", 4294967295u, 29999, true},
    {"started at 0", 0, 29999, false},
    {"a reading just before the start is 49.7 days on", 1000, 999, true},
};

class TicksTest : public testing::TestWithParam<TicksRow>
{
};

TEST_P(TicksTest, ForwardDistanceAcrossTheWrap)
{
    const TicksRow& row = GetParam();
    EXPECT_EQ(row.passed, TicksPassed(row.start, row.now, kVersionFileDeadlineMs)) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, TicksTest, testing::ValuesIn(kTicksRows), RowName());
} // namespace

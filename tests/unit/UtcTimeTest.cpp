#include "UtcTime.h"

#include "RowName.h"

#include <gtest/gtest.h>

namespace
{
struct FileTimeRow
{
    const char* edge;
    uint64_t ticks;
    int64_t seconds;
};

const FileTimeRow kFileTimeRows[] = {
    {"1970 exactly", 116444736000000000ull, 0},
    {"one tick before the next second", 116444736009999999ull, 0},
    {"one second after 1970", 116444736010000000ull, 1},
    {"one tick before 1970 rounds down", 116444735999999999ull, -1},
    {"1601 itself", 0, -11644473600},
    {"2026-12-23 00:00", 134424576000000000ull, 1797984000},
    {"past 2038 in 64 bits", 138748896000000000ull, 2230416000},
};

class FileTimeTest : public testing::TestWithParam<FileTimeRow>
{
};

TEST_P(FileTimeTest, GivesWholeSecondsSince1970RoundedDown)
{
    EXPECT_EQ(GetParam().seconds, UnixSecondsFromFileTime(GetParam().ticks));
}

INSTANTIATE_TEST_SUITE_P(Rows, FileTimeTest, testing::ValuesIn(kFileTimeRows), RowName());

struct TimestampRow
{
    const char* edge;
    const char* text;
    bool valid;
    int64_t seconds;
};

const TimestampRow kTimestampRows[] = {
    {"the epoch", "1970-01-01T00:00:00Z", true, 0},
    {"an expiry", "2026-12-23T00:00:00Z", true, 1797984000},
    {"last second of a day", "2026-12-22T23:59:59Z", true, 1797983999},
    {"leap day of a leap year", "2024-02-29T12:00:00Z", true, 1709208000},
    {"leap day of a century leap year", "2000-02-29T00:00:00Z", true, 951782400},
    {"past 2038", "2040-09-05T00:00:00Z", true, 2230416000},
    {"last representable", "9999-12-31T23:59:59Z", true, 253402300799},
    {"leap day of a common year", "2026-02-29T00:00:00Z", false, 0},
    {"leap day of a century common year", "2100-02-29T00:00:00Z", false, 0},
    {"day 31 of a 30-day month", "2026-04-31T00:00:00Z", false, 0},
    {"month 13", "2026-13-01T00:00:00Z", false, 0},
    {"month 0", "2026-00-10T00:00:00Z", false, 0},
    {"day 0", "2026-01-00T00:00:00Z", false, 0},
    {"hour 24", "2026-12-23T24:00:00Z", false, 0},
    {"minute 60", "2026-12-23T00:60:00Z", false, 0},
    {"leap second", "2016-12-31T23:59:60Z", false, 0},
    {"before 1970", "1969-12-31T23:59:59Z", false, 0},
    {"no zone letter", "2026-12-23T00:00:00", false, 0},
    {"an offset instead of Z", "2026-12-23T00:00:00+00:00", false, 0},
    {"lower-case t and z", "2026-12-23t00:00:00z", false, 0},
    {"a space for T", "2026-12-23 00:00:00Z", false, 0},
    {"fractional seconds", "2026-12-23T00:00:00.5Z", false, 0},
    {"one-digit month", "2026-1-23T00:00:00Z", false, 0},
    {"a sign before the year", "+202-12-23T00:00:00Z", false, 0},
    {"trailing line end", "2026-12-23T00:00:00Z\n", false, 0},
    {"empty", "", false, 0},
};

class TimestampTest : public testing::TestWithParam<TimestampRow>
{
};

TEST_P(TimestampTest, ReadsOnlyTheExactUtcForm)
{
    const TimestampRow& row = GetParam();
    int64_t seconds = -7;
    EXPECT_EQ(row.valid, ParseUtcTimestamp(row.text, seconds));
    EXPECT_EQ(row.valid ? row.seconds : -7, seconds);
}

INSTANTIATE_TEST_SUITE_P(Rows, TimestampTest, testing::ValuesIn(kTimestampRows), RowName());
} // namespace

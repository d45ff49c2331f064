#include "DownloadMath.h"

#include "RowName.h"

#include <gtest/gtest.h>

#include <climits>

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
} // namespace

#include "CloseAppsList.h"

#include "RowName.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
using Entries = std::vector<std::string>;

struct InsertionRow
{
    const char* edge;
    WatchedCounts counts;
    Entries insertions;
};

// The Manager's entry text as the language module would give it.
const char* const kManagerText = "Manager (localised)";

const InsertionRow kInsertionRows[] = {
    {"nothing runs", {0, 0, 0}, {}},
    {"only Outlook Express", {0, 1, 0}, {"Outlook Express"}},
    {"only the Manager", {0, 0, 1}, {kManagerText}},
    {"two Outlook processes give one entry", {2, 0, 0}, {"Outlook"}},
    {"all three, Outlook first", {1, 1, 1}, {"Outlook", "Outlook Express", kManagerText}},
    {"Outlook and the Manager", {1, 0, 3}, {"Outlook", kManagerText}},
    {"any nonzero count runs", {-1, 0, 0}, {"Outlook"}},
};

class InsertionTest : public testing::TestWithParam<InsertionRow>
{
};

TEST_P(InsertionTest, InsertsRunningProgramsInCountOrder)
{
    const InsertionRow& row = GetParam();
    EXPECT_EQ(row.insertions, ListInsertions(row.counts, kManagerText)) << row.edge;
    EXPECT_EQ(!row.insertions.empty(), row.counts.AnyRunning()) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, InsertionTest, testing::ValuesIn(kInsertionRows), RowName());

TEST(CloseAppsList, InsertingAtTheTopShowsTheManagerFirst)
{
    Entries shown;
    for (const std::string& entry : ListInsertions({1, 1, 1}, kManagerEntryAfterRetry))
        shown.insert(shown.begin(), entry);
    EXPECT_EQ((Entries{"Quorvel Manager", "Outlook Express", "Outlook"}), shown);
}

TEST(CloseAppsList, MissingManagerStringGivesAnEmptyEntry)
{
    EXPECT_EQ((Entries{""}), ListInsertions({0, 0, 1}, ""));
}

TEST(CloseAppsList, ImageNamesKeepTheirCase)
{
    // Matching is case-sensitive, so the exact spelling decides what is found.
    EXPECT_STREQ("QuorvelMgr.exe", kManagerImage);
    EXPECT_STREQ("OUTLOOK.EXE", kOutlookImage);
    EXPECT_STREQ("msimn.exe", kOutlookExpressImage);
}
} // namespace

#include "CodePageRule.h"

#include "RowName.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
struct RuleRow
{
    const char* edge;
    uint32_t platformId;
    uint32_t majorVersion;
    CodePageRule rule;
};

const RuleRow kRuleRows[] = {
    {"NT 5 (2000, XP)", 2, 5, CodePageRule::ThreadAnsi},
    {"NT 6", 2, 6, CodePageRule::ThreadAnsi},
    {"NT 10", 2, 10, CodePageRule::ThreadAnsi},
    {"NT 4", 2, 4, CodePageRule::LocaleDefault},
    {"NT 3", 2, 3, CodePageRule::LocaleDefault},
    {"Windows 9x", 1, 4, CodePageRule::LocaleDefault},
    {"9x family with major 5", 1, 5, CodePageRule::LocaleDefault},
    {"Win32s", 0, 5, CodePageRule::LocaleDefault},
    {"CE family", 3, 5, CodePageRule::LocaleDefault},
    {"failed version query", 0xFFFFFFFFu, 0, CodePageRule::LocaleDefault},
};

class RuleTest : public testing::TestWithParam<RuleRow>
{
};

TEST_P(RuleTest, ThreadCodePageOnlyFromNt5)
{
    const RuleRow& row = GetParam();
    EXPECT_EQ(row.rule, ChooseCodePageRule(row.platformId, row.majorVersion)) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, RuleTest, testing::ValuesIn(kRuleRows), RowName());

struct CodePageTextRow
{
    const char* edge;
    std::string text;
    uint32_t codePage;
};

const CodePageTextRow kCodePageTextRows[] = {
    {"Western", "1252", 1252},
    {"Japanese", "932", 932},
    {"UTF-8", "65001", 65001},
    {"largest code page", "65535", 65535},
    {"beyond 16 bits", "65536", 0},
    {"far too many digits", "99999999999999999999", 0},
    {"zero", "0", 0},
    {"empty", "", 0},
    {"not a number", "abc", 0},
    {"digits then a letter", "12a", 12},
    {"leading space", " 1252", 0},
    {"minus sign", "-1", 0},
    {"terminator inside the length", std::string("1252\0", 5), 1252},
};

class CodePageTextTest : public testing::TestWithParam<CodePageTextRow>
{
};

TEST_P(CodePageTextTest, ReadsLeadingDigits)
{
    const CodePageTextRow& row = GetParam();
    EXPECT_EQ(row.codePage, ParseCodePageText(row.text.data(), row.text.size())) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, CodePageTextTest, testing::ValuesIn(kCodePageTextRows), RowName());

TEST(CodePageText, ReadsOnlyTheGivenLength)
{
    EXPECT_EQ(12u, ParseCodePageText("1252", 2));
}
} // namespace

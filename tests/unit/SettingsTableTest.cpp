#include "SettingsTable.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace
{
TEST(SettingsTable, NamesAreUnique)
{
    std::set<std::string> names;
    for (const DefaultSetting& setting : kDefaultSettings)
        EXPECT_TRUE(names.insert(setting.name).second) << setting.name;
    EXPECT_EQ(kDefaultSettingCount, names.size());
}

TEST(SettingsTable, OnlyAppPathAndCurrLanguageComeFromTheCaller)
{
    for (size_t i = 0; i < kDefaultSettingCount; ++i)
    {
        const DefaultSetting& setting = kDefaultSettings[i];
        if (i == 0)
            EXPECT_EQ(SettingSource::InstallDirectory, setting.source);
        else if (i == 4)
            EXPECT_EQ(SettingSource::Language, setting.source);
        else
            EXPECT_EQ(SettingSource::Fixed, setting.source) << setting.name;
    }
    EXPECT_STREQ(kAppPathValue, kDefaultSettings[0].name);
    EXPECT_STREQ(kCurrLanguageValue, kDefaultSettings[4].name);
}

TEST(SettingsTable, FixedTextsInWritingOrder)
{
    // The texts of all 51 values, joined with commas; the two caller-supplied values
    // carry an empty table text.
    const std::string expected =
        ",0,1,1,,1,1,1,1,0,1,1,1,1,1,0,1,0,4,1,0,1,1,0,1,1,1,1,1,0,1,1,0,1,1,,,,,,0.87,"
        "0,0,1,1,1,1,1,1,1,1";
    std::string joined;
    for (size_t i = 0; i < kDefaultSettingCount; ++i)
    {
        if (i > 0)
            joined += ',';
        joined += kDefaultSettings[i].text;
    }
    EXPECT_EQ(expected, joined);
}

struct SettingRow
{
    size_t order; // 1-based, as written
    const char* name;
    const char* text;
};

const SettingRow kSettingRows[] = {
    {2, "CurrFolderID", "0"},         {19, "CommandBarRowIndex", "4"}, {20, "CheckEmailAtStartup", "1"},
    {21, "CheckInboxAtStartUp", "0"}, {36, "SmtpEmailAddress", ""},    {37, "SmtpPassword", ""},
    {38, "SmtpServer", ""},           {39, "SmtpUseAuth", ""},         {40, "SmtpUsername", ""},
    {41, "Threshold", "0.87"},        {49, "FirstRunMgr", "1"},        {51, "FirstRunOE", "1"},
};

class SettingRowTest : public testing::TestWithParam<SettingRow>
{
};

TEST_P(SettingRowTest, NameAndTextAtItsPlace)
{
    const SettingRow& row = GetParam();
    ASSERT_LE(row.order, kDefaultSettingCount);
    EXPECT_STREQ(row.name, kDefaultSettings[row.order - 1].name);
    EXPECT_STREQ(row.text, kDefaultSettings[row.order - 1].text) << row.name;
}

std::string SettingRowName(const testing::TestParamInfo<SettingRow>& row)
{
    return row.param.name;
}

INSTANTIATE_TEST_SUITE_P(Rows, SettingRowTest, testing::ValuesIn(kSettingRows), SettingRowName);
} // namespace

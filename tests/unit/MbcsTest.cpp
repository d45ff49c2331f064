#include "Mbcs.h"

#include "RowName.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
// Lead bytes of code page 932 (Shift-JIS), whose trail bytes include 0x5C, the backslash.
bool IsShiftJisLead(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// U+8868 in Shift-JIS: lead 0x95, trail 0x5C.
const std::string kSjisWithBackslashTrail = "\x95\x5C";

constexpr size_t kNone = std::string_view::npos;

struct BackslashRow
{
    const char* edge;
    std::string path;
    LeadBytePredicate isLeadByte;
    size_t index;
};

const BackslashRow kBackslashRows[] = {
    {"folder and file", "C:\\Downloads\\x.exe", NoLeadBytes, 12},
    {"drive root", "C:\\x.exe", NoLeadBytes, 2},
    {"trailing backslash", "C:\\Q\\", NoLeadBytes, 4},
    {"no backslash", "x.exe", NoLeadBytes, kNone},
    {"empty path", "", NoLeadBytes, kNone},
    {"trail byte 0x5C is not a backslash", "C:\\" + kSjisWithBackslashTrail + "x.exe", IsShiftJisLead, 2},
    {"same bytes in a single-byte code page", "C:\\" + kSjisWithBackslashTrail + "x.exe", NoLeadBytes, 4},
    {"backslash after a double-byte folder", "C:\\" + kSjisWithBackslashTrail + "\\x.exe", IsShiftJisLead, 5},
    {"only trail-byte backslashes", kSjisWithBackslashTrail + kSjisWithBackslashTrail, IsShiftJisLead, kNone},
    {"trail byte in the lead range before a backslash", "\x81\x81\\x", IsShiftJisLead, 2},
    {"lead byte at the end stands alone", "C:\\a\x81", IsShiftJisLead, 2},
    {"lead byte swallows the final backslash", "C:\\\x81\\", IsShiftJisLead, 2},
};

class BackslashTest : public testing::TestWithParam<BackslashRow>
{
};

TEST_P(BackslashTest, FindsLastWholeCharacterBackslash)
{
    const BackslashRow& row = GetParam();
    EXPECT_EQ(row.index, FindLastBackslash(row.path, row.isLeadByte)) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, BackslashTest, testing::ValuesIn(kBackslashRows), RowName());

struct FolderRow
{
    const char* edge;
    std::string path;
    LeadBytePredicate isLeadByte;
    std::string folder;
    std::string directory;
};

const FolderRow kFolderRows[] = {
    {"folder and file", "C:\\Downloads\\x.exe", NoLeadBytes, "C:\\Downloads", "C:\\Downloads\\"},
    {"drive root", "C:\\x.exe", NoLeadBytes, "C:", "C:\\"},
    {"module in the install folder", "C:\\Q\\u.exe", NoLeadBytes, "C:\\Q", "C:\\Q\\"},
    {"network share", "\\\\srv\\share\\p.exe", NoLeadBytes, "\\\\srv\\share", "\\\\srv\\share\\"},
    {"no backslash", "x.exe", NoLeadBytes, "", ""},
    {"file name ending in a 0x5C trail byte", "C:\\" + kSjisWithBackslashTrail + "x.exe", IsShiftJisLead,
     "C:", "C:\\"},
    {"double-byte folder name", "C:\\" + kSjisWithBackslashTrail + "\\x.exe", IsShiftJisLead,
     "C:\\" + kSjisWithBackslashTrail, "C:\\" + kSjisWithBackslashTrail + "\\"},
};

class FolderTest : public testing::TestWithParam<FolderRow>
{
};

TEST_P(FolderTest, CutsAtLastBackslash)
{
    const FolderRow& row = GetParam();
    EXPECT_EQ(row.folder, FolderOfPath(row.path, row.isLeadByte)) << row.edge;
    EXPECT_EQ(row.directory, DirectoryWithSlash(row.path, row.isLeadByte)) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, FolderTest, testing::ValuesIn(kFolderRows), RowName());

struct ContainsRow
{
    const char* edge;
    std::string haystack;
    std::string needle;
    LeadBytePredicate isLeadByte;
    bool contains;
};

const std::string kOutlookPath = "C:\\Program Files\\Microsoft Office\\Office10\\OUTLOOK.EXE";

const ContainsRow kContainsRows[] = {
    {"image at the end of a path", kOutlookPath, "OUTLOOK.EXE", NoLeadBytes, true},
    {"case differs", "C:\\Office10\\outlook.exe", "OUTLOOK.EXE", NoLeadBytes, false},
    {"only in a directory name", "C:\\OUTLOOK.EXE-files\\tool.exe", "OUTLOOK.EXE", NoLeadBytes, true},
    {"whole text", "msimn.exe", "msimn.exe", NoLeadBytes, true},
    {"at the start", "msimn.exe", "msi", NoLeadBytes, true},
    {"last byte", "abc", "c", NoLeadBytes, true},
    {"empty needle", "abc", "", NoLeadBytes, true},
    {"empty needle in empty text", "", "", NoLeadBytes, true},
    {"empty text", "", "a", NoLeadBytes, false},
    {"needle longer than text", "ab", "abc", NoLeadBytes, false},
    {"text ends inside a partial match", "QuorvelMg", "QuorvelMgr.exe", NoLeadBytes, false},
    {"needle starting with a 0x5C trail byte", kSjisWithBackslashTrail + "abc", "\\abc", IsShiftJisLead,
     false},
    {"same bytes in a single-byte code page", kSjisWithBackslashTrail + "abc", "\\abc", NoLeadBytes, true},
    {"needle starting with a lead-range trail byte", "\x81\x81\x40", "\x81\x40", IsShiftJisLead, false},
    {"lead-range trail byte, single-byte code page", "\x81\x81\x40", "\x81\x40", NoLeadBytes, true},
    {"match after a double-byte character", kSjisWithBackslashTrail + "OUTLOOK.EXE", "OUTLOOK.EXE",
     IsShiftJisLead, true},
    {"double-byte needle", "a" + kSjisWithBackslashTrail + "b", kSjisWithBackslashTrail, IsShiftJisLead,
     true},
    {"lone lead byte at the end", "ab\x81", "\x81", IsShiftJisLead, true},
    {"later match on a character start", "\x81\x40\x40", "\x40", IsShiftJisLead, true},
};

class ContainsTest : public testing::TestWithParam<ContainsRow>
{
};

TEST_P(ContainsTest, MatchesOnlyAtCharacterStarts)
{
    const ContainsRow& row = GetParam();
    EXPECT_EQ(row.contains, ContainsText(row.haystack, row.needle, row.isLeadByte)) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, ContainsTest, testing::ValuesIn(kContainsRows), RowName());
} // namespace

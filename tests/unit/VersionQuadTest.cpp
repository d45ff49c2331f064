#include "VersionQuad.h"

#include "RowName.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

namespace
{
// Parses a copy held in an allocation of exactly the text's size, so that a read past
// the given length is caught by the address sanitizer.
VersionQuad ParseExact(const std::string& text)
{
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.data(), text.size());
    return ParseVersionText(copy.get(), text.size());
}

struct VersionTextRow
{
    const char* edge;
    std::string text;
    int32_t major, minor, build, revision, composite;
};

const VersionTextRow kVersionTextRows[] = {
    {"well-formed with CRLF", "3.0.1.2\r\n", 3, 0, 1, 2, 3012},
    {"newer minor", "3.1.0.0", 3, 1, 0, 0, 3100},
    {"older than installed", "2.9.9.9", 2, 9, 9, 9, 2999},
    {"fewer than seven characters", "3.1", 3, 1, 0, 0, 3100},
    {"five characters, third pass restarts", "3.1.2", 3, 1, 2, 0, 3120},
    {"two-digit major moves every dot", "10.0.1.2", 1, 0, 0, 0, 1000},
    {"html error page", "<html>", 0, 0, 0, 0, 0},
    {"angle bracket with dots at 1, 3, 5", "<.5.6.7>", 0, 5, 6, 7, 567},
    {"leading space", " 3.0.1.2", 0, 0, 0, 0, 0},
    {"leading minus", "-3.0.1.2", 0, 0, 0, 0, 0},
    {"leading plus", "+3.0.1.2", 0, 0, 0, 0, 0},
    {"NUL as minor", std::string("3.\0.1.2", 7), 3, 0, 1, 2, 3012},
    {"NUL as major", std::string("\0.1.2.3", 7), 0, 1, 2, 3, 123},
    {"NUL bytes only", std::string(7, '\0'), 0, 0, 0, 0, 0},
    {"empty body", "", 0, 0, 0, 0, 0},
    {"single digit", "7", 7, 0, 0, 0, 7000},
    {"no dots", "3012", 3, 0, 0, 0, 3000},
    {"letters as components", "3.a.1.b", 3, 0, 1, 0, 3010},
    {"doubled dot", "3..1.2", 3, 0, 0, 0, 3000},
    {"dot at 0", ".3.0.1.2", 0, 0, 0, 0, 0},
    {"release notes after the version", "3.0.1.3 notes. more. text.", 3, 0, 1, 3, 3013},
    {"all nines", "9.9.9.9", 9, 9, 9, 9, 9999},
    {"zero major keeps the other digits", "0.0.0.7", 0, 0, 0, 7, 7},
};

class VersionTextTest : public testing::TestWithParam<VersionTextRow>
{
};

TEST_P(VersionTextTest, ReadsFixedPositions)
{
    const VersionTextRow& row = GetParam();
    const VersionQuad v = ParseExact(row.text);
    EXPECT_EQ(row.major, v.major) << row.edge;
    EXPECT_EQ(row.minor, v.minor) << row.edge;
    EXPECT_EQ(row.build, v.build) << row.edge;
    EXPECT_EQ(row.revision, v.revision) << row.edge;
    EXPECT_EQ(row.composite, v.composite) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, VersionTextTest, testing::ValuesIn(kVersionTextRows), RowName());

TEST(VersionText, ReadsOnlyTheGivenLength)
{
    const char buffer[] = "3.0.1.2";
    const VersionQuad v = ParseVersionText(buffer, 5);
    EXPECT_EQ(3, v.major);
    EXPECT_EQ(1, v.build);
    EXPECT_EQ(0, v.revision);
    EXPECT_EQ(3010, v.composite);
}

struct CompositeRow
{
    const char* edge;
    int32_t major, minor, build, revision;
    int32_t composite;
};

const CompositeRow kCompositeRows[] = {
    {"installed 3.0.1.2", 3, 0, 1, 2, 3012},
    {"1.10.0.0 collides with 11.0.0.0", 1, 10, 0, 0, 11000},
    {"11.0.0.0 collides with 1.10.0.0", 11, 0, 0, 0, 11000},
    {"two-digit build", 3, 0, 12, 0, 30120},
    {"all zero", 0, 0, 0, 0, 0},
    {"leading zeros vanish", 0, 0, 0, 7, 7},
    {"largest major alone", 65535, 0, 0, 0, 65535000},
    {"two large components wrap", 65535, 65535, 0, 0, -1773442788},
    {"all components 65535 wrap", 65535, 65535, 65535, 65535, -238217889},
    {"digits of 2^31 wrap to the minimum", 214, 748, 364, 8, INT32_MIN},
    {"digits of 2^32 wrap to zero", 429, 496, 729, 6, 0},
    {"digits of 2^32 - 1 wrap to -1", 429, 496, 729, 5, -1},
    {"minus inside stops the conversion", 3, -1, 0, 0, 3},
    {"negative major", -1, 0, 0, 0, -1000},
};

class CompositeTest : public testing::TestWithParam<CompositeRow>
{
};

TEST_P(CompositeTest, ConcatenatesDecimalDigits)
{
    const CompositeRow& row = GetParam();
    EXPECT_EQ(row.composite, ComposeComposite(row.major, row.minor, row.build, row.revision)) << row.edge;

    VersionQuad v;
    v.major = row.major;
    v.minor = row.minor;
    v.build = row.build;
    v.revision = row.revision;
    UpdateComposite(v);
    EXPECT_EQ(row.composite, v.composite) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, CompositeTest, testing::ValuesIn(kCompositeRows), RowName());

struct DecimalRow
{
    const char* edge;
    std::string text;
    int32_t value;
};

const DecimalRow kDecimalRows[] = {
    {"empty", "", 0},
    {"plain", "42", 42},
    {"every white space skipped", " \t\n\v\f\r42", 42},
    {"plus sign", "+42", 42},
    {"minus sign", "-42", -42},
    {"stops at a letter", "42abc", 42},
    {"no digits", "abc", 0},
    {"sign alone", "-", 0},
    {"space after the sign", "- 5", 0},
    {"two signs", "+-5", 0},
    {"leading zeros", "007", 7},
    {"largest int32", "2147483647", INT32_MAX},
    {"2^31 wraps", "2147483648", INT32_MIN},
    {"smallest int32", "-2147483648", INT32_MIN},
    {"2^32 - 1 wraps to -1", "4294967295", -1},
    {"2^32 wraps to 0", "4294967296", 0},
    {"eleven digits wrap", "12345678901", -539222987},
    {"eleven nines wrap", "99999999999", 1215752191},
    {"NUL ends the digits",
     std::string("12\0"
                 "3",
                 4),
     12},
};

class DecimalTest : public testing::TestWithParam<DecimalRow>
{
};

TEST_P(DecimalTest, ConvertsLikeTheRuntime)
{
    const DecimalRow& row = GetParam();
    std::unique_ptr<char[]> copy(new char[row.text.size() + 1]);
    std::memcpy(copy.get(), row.text.data(), row.text.size());
    EXPECT_EQ(row.value, ParseDecimalWrapping(copy.get(), row.text.size())) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, DecimalTest, testing::ValuesIn(kDecimalRows), RowName());

TEST(DecimalConversion, ReadsOnlyTheGivenLength)
{
    EXPECT_EQ(123, ParseDecimalWrapping("123456", 3));
}

struct LooksLikeRow
{
    const char* edge;
    std::string text;
    bool looksLike;
};

const LooksLikeRow kLooksLikeRows[] = {
    {"version file", "3.0.1.2", true},
    {"digit zero", "0", true},
    {"digit nine alone", "9", true},
    {"empty body", "", false},
    {"html page", "<html>", false},
    {"leading space", " 3.0.1.2", false},
    {"leading minus", "-3.0.1.2", false},
    {"NUL first",
     std::string("\0"
                 "3.0.1.2",
                 8),
     false},
    {"letter", "a.b.c.d", false},
};

class LooksLikeTest : public testing::TestWithParam<LooksLikeRow>
{
};

TEST_P(LooksLikeTest, NeedsALeadingDigit)
{
    const LooksLikeRow& row = GetParam();
    EXPECT_EQ(row.looksLike, LooksLikeVersionFile(row.text.data(), row.text.size())) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, LooksLikeTest, testing::ValuesIn(kLooksLikeRows), RowName());
} // namespace

#include "SafeFormat.h"

#include "RowName.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace
{
struct FormatRow
{
    const char* edge;
    std::string format;
    std::string expected;
};

// All rows are filled with the server version 3.0.1.3.
const FormatRow kServerVersionRows[] = {
    {"four dotted conversions", "%d.%d.%d.%d", "3.0.1.3"},
    {"question around them", "Download version %d.%d.%d.%d now?", "Download version 3.0.1.3 now?"},
    {"no conversion", "Update available.", "Update available."},
    {"empty format", "", ""},
    {"fifth conversion shown as written", "%d %d %d %d %d", "3 0 1 3 %d"},
    {"fewer than four", "%d.%d", "3.0"},
    {"%s shown, nothing consumed", "%s %d", "%s 3"},
    {"%n shown, nothing written", "%d%n", "3%n"},
    {"%p shown", "%p", "%p"},
    {"floating conversions shown", "%f %e %g", "%f %e %g"},
    {"escaped percent", "%%", "%"},
    {"escaped percent before a d", "%%d", "%d"},
    {"escaped percent after a number", "100%%", "100%"},
    {"lone percent at the end", "100%", "100%"},
    {"lone percent", "%", "%"},
    {"flags at the end", "%-", "%-"},
    {"width at the end", "%5", "%5"},
    {"width", "%5d", "    3"},
    {"left-justified width", "%-3d|", "3  |"},
    {"zero padding", "%03d", "003"},
    {"precision", "%.3d", "003"},
    {"largest width allowed", "%64d", std::string(63, ' ') + "3"},
    {"width too large shown, nothing consumed", "%65d %d", "%65d 3"},
    {"huge width shown", "%999999999999d", "%999999999999d"},
    {"precision too large shown", "%.100d", "%.100d"},
    {"star width shown, nothing consumed", "%*d %d", "%*d 3"},
    {"star precision shown", "%.*d", "%.*d"},
    {"long modifier dropped", "%ld", "3"},
    {"short modifiers dropped", "%hhd.%hd", "3.0"},
    {"64-bit modifier shown", "%lld", "%lld"},
    {"Microsoft 64-bit modifier shown", "%I64d", "%I64d"},
    {"sign flag", "%+d", "+3"},
    {"space flag", "% d", " 3"},
    {"NUL byte in the text kept", std::string("a\0b %d", 6), std::string("a\0b 3", 5)},
    {"percent before a NUL byte", std::string("%\0", 2), std::string("%\0", 2)},
};

class ServerVersionFormatTest : public testing::TestWithParam<FormatRow>
{
};

TEST_P(ServerVersionFormatTest, FillsOnlyIntegerConversions)
{
    const FormatRow& row = GetParam();
    EXPECT_EQ(row.expected, FormatWithFourIntegers(row.format, 3, 0, 1, 3)) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, ServerVersionFormatTest, testing::ValuesIn(kServerVersionRows), RowName());

struct ValuesRow
{
    const char* edge;
    std::string format;
    int32_t first;
    std::string expected;
};

const ValuesRow kValuesRows[] = {
    {"smallest int32", "%d", INT32_MIN, "-2147483648"},
    {"largest int32", "%i", INT32_MAX, "2147483647"},
    {"unsigned of -1", "%u", -1, "4294967295"},
    {"hexadecimal", "%x", 255, "ff"},
    {"upper-case hexadecimal", "%X", 255, "FF"},
    {"alternate hexadecimal", "%#x", 255, "0xff"},
    {"octal", "%o", 8, "10"},
    {"character", "%c", 65, "A"},
    {"widest output fits", "%#.64x", INT32_MIN, "0x" + std::string(56, '0') + "80000000"},
    {"widest signed output fits", "%+.64d", INT32_MIN, "-" + std::string(54, '0') + "2147483648"},
};

class ValuesFormatTest : public testing::TestWithParam<ValuesRow>
{
};

TEST_P(ValuesFormatTest, FormatsTheFirstNumber)
{
    const ValuesRow& row = GetParam();
    EXPECT_EQ(row.expected, FormatWithFourIntegers(row.format, row.first, 0, 0, 0)) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, ValuesFormatTest, testing::ValuesIn(kValuesRows), RowName());

TEST(SafeFormat, NumbersAreTakenInOrder)
{
    EXPECT_EQ("4-3-2-1", FormatWithFourIntegers("%d-%d-%d-%d", 4, 3, 2, 1));
    // Conversions shown as written take no number: the next integer conversion gets it.
    EXPECT_EQ("%s1.%n2", FormatWithFourIntegers("%s%d.%n%d", 1, 2, 3, 4));
}
} // namespace

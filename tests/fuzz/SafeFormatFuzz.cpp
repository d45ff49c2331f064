// Feeds arbitrary bytes as the translatable question format, filled once with a
// version and once with the extreme numbers.
#include "FuzzCheck.h"
#include "SafeFormat.h"

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

namespace
{
// The longest text one conversion can produce: width and precision are at most 64,
// plus a sign or a "0x" prefix.
constexpr size_t kLongestConversion = 66;

std::string WithoutPercents(std::string_view text)
{
    std::string out;
    for (char c : text)
    {
        if (c != '%')
            out += c;
    }
    return out;
}

void Check(std::string_view format, int32_t first, int32_t second, int32_t third, int32_t fourth)
{
    const std::string out = FormatWithFourIntegers(format, first, second, third, fourth);
    FUZZ_CHECK(out.size() <= format.size() + 4 * kLongestConversion);
    if (format.find('%') == std::string_view::npos)
        FUZZ_CHECK(out == format);
    // Without an integer conversion nothing is printed: at most some '%' signs go.
    if (format.find_first_of("diuxXoc") == std::string_view::npos)
    {
        FUZZ_CHECK(out.size() <= format.size());
        FUZZ_CHECK(WithoutPercents(out) == WithoutPercents(format));
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly its size, so that a read past the format is caught.
    const std::string format(reinterpret_cast<const char*>(data), size);
    Check(format, 3, 0, 1, 3);
    Check(format, INT32_MIN, -1, INT32_MAX, 0);
    return 0;
}

#include "SafeFormat.h"

#include <cstdio>
#include <cstring>

namespace
{
constexpr int kMaxFieldWidth = 64;

struct Conversion
{
    size_t length = 0;   // bytes of the whole conversion, '%' included
    bool usable = false; // an integer conversion we can fill safely
    std::string rebuilt; // the conversion without length modifiers
};

bool IsIn(char c, const char* set)
{
    return c != '\0' && std::strchr(set, c) != nullptr;
}

// Reads a run of digits as a bounded field width or precision.
size_t ReadNumber(std::string_view text, size_t i, int& value)
{
    value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
    {
        if (value <= kMaxFieldWidth)
            value = value * 10 + (text[i] - '0');
        ++i;
    }
    return i;
}

// Parses the conversion that starts at the '%' at `start`.
Conversion ParseConversion(std::string_view text, size_t start)
{
    Conversion conversion;
    size_t i = start + 1;
    conversion.rebuilt = "%";
    while (i < text.size() && IsIn(text[i], "-+ #0"))
        conversion.rebuilt += text[i++];
    int width = 0;
    const size_t widthEnd = ReadNumber(text, i, width);
    conversion.rebuilt.append(text.substr(i, widthEnd - i));
    i = widthEnd;
    bool sane = width <= kMaxFieldWidth;
    if (i < text.size() && text[i] == '.')
    {
        int precision = 0;
        const size_t precisionEnd = ReadNumber(text, i + 1, precision);
        conversion.rebuilt.append(text.substr(i, precisionEnd - i));
        i = precisionEnd;
        sane = sane && precision <= kMaxFieldWidth;
    }
    // Length modifiers that still mean a 32-bit or smaller integer are dropped: the
    // number is always passed as an int.
    while (i < text.size() && IsIn(text[i], "hl") &&
           !(text[i] == 'l' && i + 1 < text.size() && text[i + 1] == 'l'))
        ++i;
    if (i >= text.size())
    {
        conversion.length = i - start;
        return conversion;
    }
    const char type = text[i];
    conversion.length = i + 1 - start;
    conversion.usable = sane && IsIn(type, "diuxXoc");
    conversion.rebuilt += type;
    return conversion;
}
} // namespace

std::string FormatWithFourIntegers(std::string_view format, int32_t first, int32_t second, int32_t third,
                                   int32_t fourth)
{
    const int32_t values[4] = {first, second, third, fourth};
    size_t used = 0;
    std::string out;
    for (size_t i = 0; i < format.size();)
    {
        if (format[i] != '%')
        {
            out += format[i++];
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%')
        {
            out += '%';
            i += 2;
            continue;
        }
        const Conversion conversion = ParseConversion(format, i);
        if (conversion.usable && used < 4)
        {
            char piece[kMaxFieldWidth * 2 + 16];
            const int written = std::snprintf(piece, sizeof piece, conversion.rebuilt.c_str(),
                                              static_cast<int>(values[used++]));
            if (written > 0)
                out.append(piece, std::strlen(piece));
        }
        else
        {
            out.append(format.substr(i, conversion.length));
        }
        i += conversion.length;
    }
    return out;
}

#include "VersionQuad.h"

#include <cstdio>
#include <cstring>

namespace
{
bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The value of the one character at `index` read as a decimal number: a digit gives its
// value, anything else (or a position past the text) gives 0.
int32_t DigitAt(const char* text, size_t length, size_t index)
{
    if (index >= length || !IsDigit(text[index]))
        return 0;
    return text[index] - '0';
}
} // namespace

int32_t ParseDecimalWrapping(const char* text, size_t length)
{
    size_t i = 0;
    while (i < length && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-'))
    {
        negative = text[i] == '-';
        ++i;
    }
    // Unsigned arithmetic wraps by definition; the signed result is its two's complement.
    uint32_t value = 0;
    for (; i < length && IsDigit(text[i]); ++i)
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    if (negative)
        value = 0u - value;
    return static_cast<int32_t>(value);
}

int32_t ComposeComposite(int32_t major, int32_t minor, int32_t build, int32_t revision)
{
    // Four int32 values need at most 4 * 11 characters.
    char digits[48];
    const int written =
        std::snprintf(digits, sizeof digits, "%d%d%d%d", static_cast<int>(major), static_cast<int>(minor),
                      static_cast<int>(build), static_cast<int>(revision));
    if (written <= 0)
        return 0;
    return ParseDecimalWrapping(digits, std::strlen(digits));
}

void UpdateComposite(VersionQuad& version)
{
    version.composite = ComposeComposite(version.major, version.minor, version.build, version.revision);
}

VersionQuad ParseVersionText(const char* text, size_t length)
{
    VersionQuad version;
    version.major = DigitAt(text, length, 0);

    // Three passes over the text, each continuing after the dot the previous one found;
    // a pass that finds none restarts the next one from the beginning.
    long position = -1;
    for (int pass = 0; pass < 3; ++pass)
    {
        long found = -1;
        for (size_t i = static_cast<size_t>(position + 1); i < length; ++i)
        {
            if (text[i] == '.')
            {
                found = static_cast<long>(i);
                break;
            }
        }
        position = found;
        if (position == 1)
            version.minor = DigitAt(text, length, 2);
        else if (position == 3)
            version.build = DigitAt(text, length, 4);
        else if (position == 5)
            version.revision = DigitAt(text, length, 6);
    }
    UpdateComposite(version);
    return version;
}

bool LooksLikeVersionFile(const char* text, size_t length)
{
    return length > 0 && IsDigit(text[0]);
}

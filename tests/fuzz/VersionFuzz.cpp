// Feeds arbitrary bytes to the version-file parser and the decimal conversion, and
// arbitrary numbers to the composite.
#include "FuzzCheck.h"
#include "VersionQuad.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace
{
bool IsDigit(uint8_t c)
{
    return c >= '0' && c <= '9';
}

// The composite of four components computed arithmetically instead of through text:
// each component's decimal digits shift the value left, modulo 2^32. A negative first
// component negates the whole; a later negative component ends the conversion at its
// minus sign.
int32_t CompositeByArithmetic(const int32_t (&components)[4])
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
    {
        if (components[i] < 0 && i > 0)
            break;
        uint32_t magnitude = components[i] < 0 ? 0u - static_cast<uint32_t>(components[i])
                                               : static_cast<uint32_t>(components[i]);
        uint8_t digits[10];
        int count = 0;
        do
        {
            digits[count++] = static_cast<uint8_t>(magnitude % 10);
            magnitude /= 10;
        } while (magnitude > 0);
        while (count > 0)
            value = value * 10u + digits[--count];
    }
    if (components[0] < 0)
        value = 0u - value;
    return static_cast<int32_t>(value);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);

    const VersionQuad version = ParseVersionText(text, size);
    for (int32_t component : {version.major, version.minor, version.build, version.revision})
        FUZZ_CHECK(component >= 0 && component <= 9);
    FUZZ_CHECK(version.major == (size > 0 && IsDigit(data[0]) ? data[0] - '0' : 0));
    FUZZ_CHECK(version.composite ==
               ComposeComposite(version.major, version.minor, version.build, version.revision));
    // Single-digit components: the composite is plain arithmetic and never wraps.
    FUZZ_CHECK(version.composite ==
               version.major * 1000 + version.minor * 100 + version.build * 10 + version.revision);
    // Digits with dots exactly at 1, 3 and 5 make a well-formed file.
    if (size >= 7 && IsDigit(data[0]) && data[1] == '.' && data[3] == '.' && data[5] == '.' &&
        IsDigit(data[2]) && IsDigit(data[4]) && IsDigit(data[6]))
    {
        FUZZ_CHECK(version.minor == data[2] - '0');
        FUZZ_CHECK(version.build == data[4] - '0');
        FUZZ_CHECK(version.revision == data[6] - '0');
    }
    FUZZ_CHECK(LooksLikeVersionFile(text, size) == (size > 0 && IsDigit(data[0])));

    // Digits alone (no space, no sign) convert to their value modulo 2^32.
    const int32_t converted = ParseDecimalWrapping(text, size);
    uint32_t expected = 0;
    for (size_t i = 0; i < size && IsDigit(data[i]); ++i)
        expected = expected * 10u + (data[i] - '0');
    if (size > 0 && IsDigit(data[0]))
        FUZZ_CHECK(converted == static_cast<int32_t>(expected));

    if (size >= 16)
    {
        int32_t components[4];
        std::memcpy(components, data, sizeof components);
        FUZZ_CHECK(ComposeComposite(components[0], components[1], components[2], components[3]) ==
                   CompositeByArithmetic(components));
    }
    return 0;
}

// Feeds arbitrary bytes to the double-byte-aware backslash search and substring match.
// Input: one byte choosing the code page's lead-byte table, then the text, a newline,
// and the needle (no newline: the whole rest is the text and the needle is empty).
#include "FuzzCheck.h"
#include "Mbcs.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace
{
bool IsShiftJisLead(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Chinese and Korean double-byte code pages (936, 949, 950).
bool IsWideRangeLead(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

// No real code page does this, but the searches must stay inside the text even then.
bool EveryByteLeads(unsigned char)
{
    return true;
}

const LeadBytePredicate kTables[] = {NoLeadBytes, IsShiftJisLead, IsWideRangeLead, EveryByteLeads};

// Offsets at which a character starts, found independently of the code under test.
std::vector<bool> CharacterStarts(std::string_view text, LeadBytePredicate isLeadByte)
{
    std::vector<bool> starts(text.size(), false);
    size_t i = 0;
    while (i < text.size())
    {
        starts[i] = true;
        const bool pair = isLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size();
        i += pair ? 2 : 1;
    }
    return starts;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const LeadBytePredicate isLeadByte = kTables[data[0] % 4];
    // Copies of exactly their size, so that any read past either is caught.
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t newline = rest.find('\n');
    const std::string haystack = rest.substr(0, newline);
    const std::string needle = newline == std::string::npos ? std::string() : rest.substr(newline + 1);
    const std::vector<bool> starts = CharacterStarts(haystack, isLeadByte);

    const size_t slash = FindLastBackslash(haystack, isLeadByte);
    const std::string folder = FolderOfPath(haystack, isLeadByte);
    const std::string directory = DirectoryWithSlash(haystack, isLeadByte);
    if (slash == std::string_view::npos)
    {
        for (size_t i = 0; i < haystack.size(); ++i)
            FUZZ_CHECK(!(starts[i] && haystack[i] == '\\'));
        FUZZ_CHECK(folder.empty() && directory.empty());
    }
    else
    {
        FUZZ_CHECK(slash < haystack.size());
        FUZZ_CHECK(haystack[slash] == '\\' && starts[slash]);
        for (size_t i = slash + 1; i < haystack.size(); ++i)
            FUZZ_CHECK(!(starts[i] && haystack[i] == '\\'));
        FUZZ_CHECK(folder.size() == slash && haystack.compare(0, folder.size(), folder) == 0);
        FUZZ_CHECK(directory == folder + '\\');
    }
    if (isLeadByte == NoLeadBytes)
        FUZZ_CHECK(slash == haystack.rfind('\\'));

    const bool contains = ContainsText(haystack, needle, isLeadByte);
    bool expected = needle.empty();
    for (size_t i = 0; !expected && i < haystack.size(); ++i)
        expected = starts[i] && haystack.compare(i, needle.size(), needle) == 0;
    FUZZ_CHECK(contains == expected);
    if (isLeadByte == NoLeadBytes)
        FUZZ_CHECK(contains == (haystack.find(needle) != std::string::npos));
    if (contains)
        FUZZ_CHECK(haystack.find(needle) != std::string::npos);
    return 0;
}

// Feeds arbitrary bytes to the string-table block walker: the first two bytes choose the
// string number, the rest is the block.
#include "FuzzCheck.h"
#include "StringTable.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace
{
// The entries of a block read into whole 16-bit units first, then walked by index: a
// second way to the same answer.
bool FindByUnits(const uint8_t* bytes, size_t byteCount, uint16_t number, size_t& offset, size_t& length)
{
    std::vector<uint16_t> units(byteCount / 2);
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    size_t index = 0;
    for (int entry = 0; entry < number % 16; ++entry)
    {
        if (index >= units.size())
            return false;
        index += 1 + units[index];
    }
    if (index >= units.size() || units[index] == 0 || index + units[index] >= units.size())
        return false;
    offset = 2 * (index + 1);
    length = units[index];
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint16_t number = static_cast<uint16_t>(data[0] | (data[1] << 8));
    const size_t byteCount = size - 2;

    // An allocation of exactly the block's size, so that a read past it is caught; at an
    // odd address when the number is odd, to show no alignment is assumed.
    const size_t misalign = number & 1;
    std::unique_ptr<uint8_t[]> storage(new uint8_t[byteCount + misalign]);
    uint8_t* block = storage.get() + misalign;
    if (byteCount > 0)
        std::memcpy(block, data + 2, byteCount);

    StringEntry entry;
    const bool found = FindStringInBlock(block, byteCount, number, entry);

    size_t expectedOffset = 0;
    size_t expectedLength = 0;
    FUZZ_CHECK(found == FindByUnits(block, byteCount, number, expectedOffset, expectedLength));
    if (!found)
    {
        FUZZ_CHECK(entry.units == nullptr && entry.length == 0);
        return 0;
    }
    FUZZ_CHECK(entry.length > 0);
    FUZZ_CHECK(entry.units >= block + 2 && entry.units <= block + byteCount);
    FUZZ_CHECK(static_cast<size_t>(entry.units - block) == expectedOffset);
    FUZZ_CHECK(entry.length == expectedLength);
    FUZZ_CHECK(entry.length <= (byteCount - (entry.units - block)) / 2);

    std::vector<char16_t> copied(entry.length);
    CopyStringUnits(entry, copied.data());
    for (size_t i = 0; i < entry.length; ++i)
        FUZZ_CHECK(copied[i] == static_cast<char16_t>(entry.units[2 * i] | (entry.units[2 * i + 1] << 8)));

    FUZZ_CHECK(StringBlockId(number) == number / 16 + 1);
    return 0;
}

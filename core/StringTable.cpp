#include "StringTable.h"

namespace
{
uint16_t ReadUnit(const unsigned char* bytes)
{
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}
} // namespace

uint16_t StringBlockId(uint16_t number)
{
    return static_cast<uint16_t>(number / 16 + 1);
}

bool FindStringInBlock(const void* block, size_t byteCount, uint16_t number, StringEntry& entry)
{
    if (block == nullptr)
        return false;
    const auto* bytes = static_cast<const unsigned char*>(block);
    const size_t unitCount = byteCount / 2;
    size_t position = 0;
    for (unsigned skip = number % 16; skip > 0; --skip)
    {
        if (position >= unitCount)
            return false;
        position += 1 + ReadUnit(bytes + 2 * position);
    }
    if (position >= unitCount)
        return false;
    const size_t length = ReadUnit(bytes + 2 * position);
    if (length == 0 || length > unitCount - position - 1)
        return false;
    entry.units = bytes + 2 * (position + 1);
    entry.length = length;
    return true;
}

void CopyStringUnits(const StringEntry& entry, char16_t* out)
{
    for (size_t i = 0; i < entry.length; ++i)
        out[i] = static_cast<char16_t>(ReadUnit(entry.units + 2 * i));
}

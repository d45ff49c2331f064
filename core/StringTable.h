// String-table blocks: 16 entries, each a 16-bit count followed by that many UTF-16
// code units, no terminators. String N lives in block N / 16 + 1 at entry N mod 16.
#pragma once

#include <cstddef>
#include <cstdint>

// Resource identifier of the block that holds string `number`.
uint16_t StringBlockId(uint16_t number);

// The text of entry `number mod 16` of a block of `byteCount` bytes. Returns false when
// the entry lies beyond the block, runs past its end, or is empty (count 0); `text`
// then stays untouched. Never reads outside the block. Entries are read byte-wise, so
// the block needs no particular alignment.
struct StringEntry
{
    const unsigned char* units = nullptr; // little-endian UTF-16, `length` code units
    size_t length = 0;
};
bool FindStringInBlock(const void* block, size_t byteCount, uint16_t number, StringEntry& entry);

// Copies an entry's code units into `out` (which must hold `entry.length` units).
void CopyStringUnits(const StringEntry& entry, char16_t* out);

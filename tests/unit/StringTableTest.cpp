#include "StringTable.h"

#include "RowName.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{
// Builds string-table blocks byte by byte, little-endian, as the resource compiler lays
// them out.
class BlockBuilder
{
  public:
    BlockBuilder& Count(uint16_t count)
    {
        m_bytes.push_back(static_cast<unsigned char>(count & 0xFF));
        m_bytes.push_back(static_cast<unsigned char>(count >> 8));
        return *this;
    }
    BlockBuilder& Units(const std::u16string& units)
    {
        for (char16_t unit : units)
            Count(static_cast<uint16_t>(unit));
        return *this;
    }
    BlockBuilder& Entry(const std::u16string& text)
    {
        Count(static_cast<uint16_t>(text.size()));
        return Units(text);
    }
    BlockBuilder& Byte(unsigned char byte)
    {
        m_bytes.push_back(byte);
        return *this;
    }
    std::vector<unsigned char> Bytes() const { return m_bytes; }

  private:
    std::vector<unsigned char> m_bytes;
};

// A block with 16 entries "s0" .. "s15".
std::vector<unsigned char> FullBlock()
{
    BlockBuilder builder;
    for (int i = 0; i < 16; ++i)
    {
        std::u16string text = u"s";
        if (i >= 10)
            text += static_cast<char16_t>(u'0' + i / 10);
        text += static_cast<char16_t>(u'0' + i % 10);
        builder.Entry(text);
    }
    return builder.Bytes();
}

struct Lookup
{
    bool found = false;
    std::u16string text;
    bool entryUntouched = false;
};

// Looks up in a copy of the block at `offset` bytes into an allocation that ends exactly
// where the block ends, so that any read past the block is caught by the address
// sanitizer; an odd offset checks that no aligned 16-bit reads are assumed.
Lookup Find(const std::vector<unsigned char>& bytes, uint16_t number, size_t offset = 0)
{
    std::unique_ptr<unsigned char[]> storage(new unsigned char[offset + bytes.size()]);
    if (!bytes.empty())
        std::memcpy(storage.get() + offset, bytes.data(), bytes.size());

    static const unsigned char kSentinel[2] = {0, 0};
    StringEntry entry;
    entry.units = kSentinel;
    entry.length = 12345;

    Lookup lookup;
    lookup.found = FindStringInBlock(storage.get() + offset, bytes.size(), number, entry);
    lookup.entryUntouched = entry.units == kSentinel && entry.length == 12345;
    if (lookup.found)
    {
        lookup.text.resize(entry.length);
        CopyStringUnits(entry, lookup.text.data());
    }
    return lookup;
}

struct BlockIdRow
{
    const char* edge;
    uint16_t number;
    uint16_t blockId;
};

const BlockIdRow kBlockIdRows[] = {
    {"first string", 0, 1},     {"last of the first block", 15, 1}, {"first of the second block", 16, 2},
    {"own string 101", 101, 7}, {"question 516", 516, 33},          {"largest number", 65535, 4096},
};

class BlockIdTest : public testing::TestWithParam<BlockIdRow>
{
};

TEST_P(BlockIdTest, SixteenStringsPerBlock)
{
    EXPECT_EQ(GetParam().blockId, StringBlockId(GetParam().number)) << GetParam().edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, BlockIdTest, testing::ValuesIn(kBlockIdRows), RowName());

struct FoundRow
{
    const char* edge;
    uint16_t number;
    std::u16string text;
};

const FoundRow kFoundRows[] = {
    {"number 0 is entry 0", 0, u"s0"},           {"number 16 is entry 0 too", 16, u"s0"},
    {"number 516 is entry 4", 516, u"s4"},       {"number 65535 is the last entry", 65535, u"s15"},
    {"number 15 is the last entry", 15, u"s15"},
};

class FoundTest : public testing::TestWithParam<FoundRow>
{
};

TEST_P(FoundTest, PicksEntryNumberModSixteen)
{
    const FoundRow& row = GetParam();
    const Lookup lookup = Find(FullBlock(), row.number);
    ASSERT_TRUE(lookup.found) << row.edge;
    EXPECT_EQ(row.text, lookup.text) << row.edge;
}

TEST_P(FoundTest, ReadsAnUnalignedBlock)
{
    const FoundRow& row = GetParam();
    const Lookup lookup = Find(FullBlock(), row.number, 1);
    ASSERT_TRUE(lookup.found) << row.edge;
    EXPECT_EQ(row.text, lookup.text) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, FoundTest, testing::ValuesIn(kFoundRows), RowName());

struct MissingRow
{
    const char* edge;
    std::vector<unsigned char> block;
    uint16_t number;
};

const MissingRow kMissingRows[] = {
    {"empty entry (count 0)", BlockBuilder().Entry(u"a").Count(0).Entry(u"c").Bytes(), 1},
    {"all 16 entries empty", std::vector<unsigned char>(32, 0), 7},
    {"empty block", {}, 0},
    {"block of one byte", {5}, 0},
    {"block ends before the entry", BlockBuilder().Entry(u"a").Entry(u"b").Entry(u"c").Bytes(), 5},
    {"block ends right at the entry", BlockBuilder().Entry(u"a").Entry(u"b").Bytes(), 2},
    {"entry's count runs past the block", BlockBuilder().Count(10).Units(u"abc").Bytes(), 0},
    {"skipped entry's count runs past the block", BlockBuilder().Count(1000).Units(u"ab").Bytes(), 1},
    {"largest count in a short block", BlockBuilder().Count(65535).Units(u"x").Bytes(), 0},
    {"count one unit too long", BlockBuilder().Count(3).Units(u"ab").Bytes(), 0},
    {"odd byte count splits the last unit", BlockBuilder().Count(2).Units(u"a").Byte('b').Bytes(), 0},
    {"odd byte count leaves only half a count", BlockBuilder().Entry(u"a").Byte(1).Bytes(), 1},
};

class MissingTest : public testing::TestWithParam<MissingRow>
{
};

TEST_P(MissingTest, ReportsAbsentAndLeavesEntryUntouched)
{
    const MissingRow& row = GetParam();
    const Lookup lookup = Find(row.block, row.number);
    EXPECT_FALSE(lookup.found) << row.edge;
    EXPECT_TRUE(lookup.entryUntouched) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, MissingTest, testing::ValuesIn(kMissingRows), RowName());

TEST(StringBlock, NullBlockIsAbsent)
{
    StringEntry entry;
    EXPECT_FALSE(FindStringInBlock(nullptr, 100, 0, entry));
    EXPECT_EQ(nullptr, entry.units);
}

TEST(StringBlock, EntryEndingExactlyAtBlockEndIsFound)
{
    const Lookup lookup = Find(BlockBuilder().Entry(u"a").Entry(u"xyz").Bytes(), 1);
    ASSERT_TRUE(lookup.found);
    EXPECT_EQ(u"xyz", lookup.text);
}

TEST(StringBlock, DanglingOddByteAfterAnEntryIsIgnored)
{
    const Lookup lookup = Find(BlockBuilder().Entry(u"ok").Byte(0x7F).Bytes(), 0);
    ASSERT_TRUE(lookup.found);
    EXPECT_EQ(u"ok", lookup.text);
}

TEST(StringBlock, CopiesUnitsBeyondAscii)
{
    // U+00FC, U+4E2D and a surrogate pair for U+1F600.
    const std::u16string text = u"\u00FC\u4E2D\xD83D\xDE00";
    const Lookup lookup = Find(BlockBuilder().Entry(u"").Entry(text).Bytes(), 1);
    ASSERT_TRUE(lookup.found);
    EXPECT_EQ(text, lookup.text);
}

TEST(StringBlock, EntryPointsIntoTheBlock)
{
    const std::vector<unsigned char> block = BlockBuilder().Entry(u"ab").Entry(u"cde").Bytes();
    StringEntry entry;
    ASSERT_TRUE(FindStringInBlock(block.data(), block.size(), 1, entry));
    EXPECT_EQ(block.data() + 8, entry.units);
    EXPECT_EQ(3u, entry.length);
}
} // namespace

#include "Crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

TEST(Crc32, KnownAnswers)
{
    struct Case {
        std::uint32_t start;
        std::string data;
        std::uint32_t expected;
    } cases[] = {
        {CRC32_START, "", 0xFFFFFFFFu},
        {CRC32_START, "abc", 0x359A672Fu},
        // Start 0 is the usual CRC-32 of the data.
        {0, "123456789", 0xCBF43926u},
        {0, "abc", 0x352441C2u},
        {0, "", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Crc32Bytewise(c.start, c.data.data(), c.data.size()), c.expected) << c.data;
        EXPECT_EQ(Crc32(c.start, c.data.data(), c.data.size()), c.expected) << c.data;
    }
}

TEST(Crc32, TablesFollowFromTheByteTable)
{
    for (int k = 0; k < 256; ++k) {
        unsigned char b = static_cast<unsigned char>(k);
        // Table 0 is the register after one byte from 0 (start 0xFFFFFFFF, no final XOR).
        EXPECT_EQ(Crc32TableEntry(0, k), Crc32Bytewise(0xFFFFFFFFu, &b, 1) ^ 0xFFFFFFFFu);
        for (int t = 1; t < 4; ++t) {
            std::uint32_t prev = Crc32TableEntry(t - 1, k);
            EXPECT_EQ(Crc32TableEntry(t, k), Crc32TableEntry(0, static_cast<int>(prev & 0xFF)) ^ (prev >> 8));
        }
    }
}

TEST(Crc32, FastPathAgreesWithTheDefinitionAtEveryAlignmentAndLength)
{
    std::mt19937 random(7);
    std::vector<unsigned char> data(4096 + 8);
    for (auto& b : data)
        b = static_cast<unsigned char>(random());
    for (std::size_t offset = 0; offset < 8; ++offset)
        for (std::size_t length = 0; length <= 130; ++length)
            ASSERT_EQ(Crc32(CRC32_START, data.data() + offset, length),
                      Crc32Bytewise(CRC32_START, data.data() + offset, length))
                << offset << " " << length;
    EXPECT_EQ(Crc32(0x12345678u, data.data() + 3, 4096), Crc32Bytewise(0x12345678u, data.data() + 3, 4096));
}

TEST(Crc32, ContinuesOverSplitBlocks)
{
    std::string text = "The quick brown fox jumps over the lazy dog, twice over for good measure.";
    std::uint32_t whole = Crc32(CRC32_START, text.data(), text.size());
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        std::uint32_t first = Crc32(CRC32_START, text.data(), cut);
        EXPECT_EQ(Crc32(first, text.data() + cut, text.size() - cut), whole) << cut;
    }
}

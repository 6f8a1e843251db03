#include "Crc32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// Makes Crc32 take a path for one scope, where the processor allows it.
struct PathChoice {
    explicit PathChoice(Crc32Path path) : before(Crc32CurrentPath()), chosen(Crc32UsePath(path)) {}
    ~PathChoice() { Crc32UsePath(before); }
    PathChoice(const PathChoice&) = delete;
    PathChoice& operator=(const PathChoice&) = delete;
    Crc32Path before;
    bool chosen;
};

} // namespace

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
    for (const Case& c : cases)
        EXPECT_EQ(Crc32Bytewise(c.start, c.data.data(), c.data.size()), c.expected) << c.data;
    // 64 bytes and more take the folding path where there is one.
    const std::string digits = "0123456789012345678901234567890123456789012345678901234567890123456789";
    for (Crc32Path path : {CRC32_PATH_SLICED, CRC32_PATH_FOLDED}) {
        PathChoice choice(path);
        if (!choice.chosen)
            continue;
        for (const Case& c : cases)
            EXPECT_EQ(Crc32(c.start, c.data.data(), c.data.size()), c.expected) << path << " " << c.data;
        EXPECT_EQ(Crc32(0, digits.data(), digits.size()), 0x6E5428E1u) << path;
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

TEST(Crc32, ContinuesOverSplitBlocksOnEveryPath)
{
    std::string text = "The quick brown fox jumps over the lazy dog, twice over for good measure.";
    text += text + text; // long enough to fold on both sides of some cuts
    const std::uint32_t whole = Crc32Bytewise(CRC32_START, text.data(), text.size());
    for (Crc32Path path : {CRC32_PATH_SLICED, CRC32_PATH_FOLDED}) {
        PathChoice choice(path);
        if (!choice.chosen)
            continue;
        for (std::size_t cut = 0; cut <= text.size(); ++cut) {
            std::uint32_t first = Crc32(CRC32_START, text.data(), cut);
            ASSERT_EQ(Crc32(first, text.data() + cut, text.size() - cut), whole) << path << " " << cut;
        }
    }
}

class Crc32OnPath : public ::testing::TestWithParam<Crc32Path> {
protected:
    void SetUp() override
    {
        if (!Crc32UsePath(GetParam()))
            GTEST_SKIP() << "this processor cannot take the path";
        ASSERT_EQ(Crc32CurrentPath(), GetParam());
    }
    void TearDown() override { Crc32UsePath(m_before); }

    static std::vector<unsigned char> RandomBytes(std::size_t n, unsigned seed)
    {
        std::mt19937 random(seed);
        std::vector<unsigned char> data(n);
        for (auto& b : data)
            b = static_cast<unsigned char>(random());
        return data;
    }

private:
    Crc32Path m_before = Crc32CurrentPath();
};

TEST_P(Crc32OnPath, AgreesWithTheDefinitionAtEveryLengthAndAlignment)
{
    // Up to 300 bytes covers the short path, the 64-byte entry of the folding,
    // its 16-byte steps and every tail of fewer than 16 bytes.
    const std::vector<unsigned char> data = RandomBytes(300 + 16, 11);
    std::mt19937 random(5);
    for (std::size_t offset = 0; offset < 16; ++offset)
        for (std::size_t length = 0; length + offset <= data.size() && length <= 300; ++length) {
            const std::uint32_t start = (length % 3 == 0) ? CRC32_START : static_cast<std::uint32_t>(random());
            ASSERT_EQ(Crc32(start, data.data() + offset, length), Crc32Bytewise(start, data.data() + offset, length))
                << "offset " << offset << " length " << length << " start " << start;
        }
}

TEST_P(Crc32OnPath, AgreesWithTheDefinitionOnLargeBuffers)
{
    const std::vector<unsigned char> data = RandomBytes((1u << 20) + 16, 23);
    for (std::size_t offset : {0u, 1u, 7u, 15u})
        for (std::size_t length : {std::size_t{4096}, std::size_t{65536 + 13}, (std::size_t{1} << 20) - 1})
            ASSERT_EQ(Crc32(CRC32_START, data.data() + offset, length),
                      Crc32Bytewise(CRC32_START, data.data() + offset, length))
                << "offset " << offset << " length " << length;
    // A run of equal bytes and all zeros as well as noise.
    for (unsigned char fill : {0x00, 0xFF}) {
        const std::vector<unsigned char> same(100000, fill);
        EXPECT_EQ(Crc32(CRC32_START, same.data(), same.size()), Crc32Bytewise(CRC32_START, same.data(), same.size()));
        EXPECT_EQ(Crc32(0, same.data(), same.size()), Crc32Bytewise(0, same.data(), same.size()));
    }
}

TEST_P(Crc32OnPath, StreamsInFixedBlocksLikeAFileRead)
{
    // The file checksum reads 64 KiB at a time; a last short block and odd block
    // sizes must give the checksum of the whole.
    const std::vector<unsigned char> data = RandomBytes(3 * 65536 + 4321, 31);
    const std::uint32_t whole = Crc32Bytewise(CRC32_START, data.data(), data.size());
    for (std::size_t block : {std::size_t{65536}, std::size_t{10000}, std::size_t{63}, std::size_t{17}}) {
        std::uint32_t crc = CRC32_START;
        for (std::size_t at = 0; at < data.size(); at += block)
            crc = Crc32(crc, data.data() + at, std::min(block, data.size() - at));
        EXPECT_EQ(crc, whole) << block;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Crc32OnPath, ::testing::Values(CRC32_PATH_SLICED, CRC32_PATH_FOLDED),
                         [](const ::testing::TestParamInfo<Crc32Path>& p) {
                             return p.param == CRC32_PATH_SLICED ? "Sliced" : "Folded";
                         });

TEST(Crc32, ChoosesAPathThatIsAvailable)
{
    EXPECT_TRUE(Crc32PathAvailable(CRC32_PATH_SLICED));
    EXPECT_TRUE(Crc32PathAvailable(Crc32CurrentPath()));
    const Crc32Path before = Crc32CurrentPath();
    // An unavailable path is refused and changes nothing; an available one is taken.
    for (Crc32Path path : {CRC32_PATH_SLICED, CRC32_PATH_FOLDED}) {
        EXPECT_EQ(Crc32UsePath(path), Crc32PathAvailable(path));
        if (Crc32PathAvailable(path)) {
            EXPECT_EQ(Crc32CurrentPath(), path);
        }
    }
    Crc32UsePath(before);
}

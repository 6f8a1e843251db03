#include "Crc32.h"

#include <array>

namespace {

constexpr std::uint32_t POLYNOMIAL = 0xEDB88320u;

using Tables = std::array<std::array<std::uint32_t, 256>, 4>;

constexpr Tables MakeTables()
{
    Tables t{};
    for (std::uint32_t k = 0; k < 256; ++k) {
        std::uint32_t c = k;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) ? (c >> 1) ^ POLYNOMIAL : c >> 1;
        t[0][k] = c;
    }
    // Table t+1 advances an entry of table t by one more zero byte.
    for (std::size_t n = 1; n < 4; ++n)
        for (std::size_t k = 0; k < 256; ++k)
            t[n][k] = t[0][t[n - 1][k] & 0xFFu] ^ (t[n - 1][k] >> 8);
    return t;
}

constexpr Tables TABLES = MakeTables();

static_assert(TABLES[0][1] == 0x77073096u, "byte table of the reflected polynomial");
static_assert(TABLES[0][255] == 0x2D02EF8Du, "byte table of the reflected polynomial");

inline std::uint32_t Byte(std::uint32_t reg, unsigned char b) noexcept
{
    return TABLES[0][(reg ^ b) & 0xFFu] ^ (reg >> 8);
}

// Four bytes at once. The word is assembled from bytes in memory order, so the
// result does not depend on the machine's byte order.
inline std::uint32_t Word(std::uint32_t reg, const unsigned char* p) noexcept
{
    reg ^= static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    return TABLES[3][reg & 0xFFu] ^ TABLES[2][(reg >> 8) & 0xFFu] ^ TABLES[1][(reg >> 16) & 0xFFu] ^
           TABLES[0][reg >> 24];
}

} // namespace

std::uint32_t Crc32TableEntry(int table, int k) noexcept
{
    return TABLES[static_cast<std::size_t>(table & 3)][static_cast<std::size_t>(k & 0xFF)];
}

std::uint32_t Crc32Bytewise(std::uint32_t start, const void* data, std::size_t length) noexcept
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::uint32_t reg = start ^ 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i)
        reg = Byte(reg, p[i]);
    return reg ^ 0xFFFFFFFFu;
}

std::uint32_t Crc32(std::uint32_t start, const void* data, std::size_t length) noexcept
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::uint32_t reg = start ^ 0xFFFFFFFFu;
    while (length > 0 && (reinterpret_cast<std::uintptr_t>(p) & 3u) != 0) {
        reg = Byte(reg, *p++);
        --length;
    }
    while (length >= 32) {
        for (int i = 0; i < 8; ++i)
            reg = Word(reg, p + 4 * i);
        p += 32;
        length -= 32;
    }
    while (length >= 4) {
        reg = Word(reg, p);
        p += 4;
        length -= 4;
    }
    while (length > 0) {
        reg = Byte(reg, *p++);
        --length;
    }
    return reg ^ 0xFFFFFFFFu;
}

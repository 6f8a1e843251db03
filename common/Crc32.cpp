#include "Crc32.h"

#include <array>
#include <atomic>

#if defined(__i386__) || defined(__x86_64__)
#define VEXA_CRC32_FOLDING 1
#include <cpuid.h>
#include <immintrin.h>
#endif

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

// The kernels take and return the register itself (start and result not inverted).
using Kernel = std::uint32_t (*)(std::uint32_t reg, const unsigned char* p, std::size_t length);

std::uint32_t Sliced(std::uint32_t reg, const unsigned char* p, std::size_t length) noexcept
{
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
    return reg;
}

#ifdef VEXA_CRC32_FOLDING

// The multipliers of the folding path, in the bit-reflected form the carry-less
// multiply works on. Folding a 128-bit lane forward over d bits multiplies it by
// x^(d+32) and x^(d-32) modulo the polynomial; the final reduction needs x^64
// modulo the polynomial and, for Barrett's step, the quotient of x^64 by it.

// x^n modulo the polynomial, reflected, shifted left by one (33 bits).
constexpr std::uint64_t PowerOfX(int n)
{
    std::uint32_t r = 0x80000000u; // x^0, reflected
    for (int i = 0; i < n; ++i)
        r = (r & 1u) ? (r >> 1) ^ POLYNOMIAL : r >> 1;
    return static_cast<std::uint64_t>(r) << 1;
}

constexpr std::uint64_t Reflect33(std::uint64_t v)
{
    std::uint64_t r = 0;
    for (int i = 0; i < 33; ++i)
        if (v & (std::uint64_t{1} << i))
            r |= std::uint64_t{1} << (32 - i);
    return r;
}

// The polynomial with its x^32 term, in the usual bit order.
constexpr std::uint64_t FULL_POLYNOMIAL = Reflect33((std::uint64_t{POLYNOMIAL} << 1) | 1u);

// The quotient of x^64 by the polynomial (degree 32), reflected.
constexpr std::uint64_t BarrettQuotient()
{
    std::uint64_t rest = 0, quotient = 0;
    for (int i = 64; i >= 0; --i) {
        rest = (rest << 1) | (i == 64 ? 1u : 0u);
        if (rest & (std::uint64_t{1} << 32)) {
            quotient |= std::uint64_t{1} << i;
            rest ^= FULL_POLYNOMIAL;
        }
    }
    return Reflect33(quotient);
}

constexpr std::uint64_t FOLD_BY_4_LOW = PowerOfX(4 * 128 + 32);
constexpr std::uint64_t FOLD_BY_4_HIGH = PowerOfX(4 * 128 - 32);
constexpr std::uint64_t FOLD_BY_1_LOW = PowerOfX(128 + 32);
constexpr std::uint64_t FOLD_BY_1_HIGH = PowerOfX(128 - 32);
constexpr std::uint64_t REDUCE_64 = PowerOfX(64);
constexpr std::uint64_t REFLECTED_POLYNOMIAL = (std::uint64_t{POLYNOMIAL} << 1) | 1u;
constexpr std::uint64_t BARRETT_QUOTIENT = BarrettQuotient();

// The values published with the method, for this polynomial.
static_assert(FOLD_BY_4_LOW == 0x154442BD4u && FOLD_BY_4_HIGH == 0x1C6E41596u, "fold-by-4 multipliers");
static_assert(FOLD_BY_1_LOW == 0x1751997D0u && FOLD_BY_1_HIGH == 0x0CCAA009Eu, "fold-by-1 multipliers");
static_assert(REDUCE_64 == 0x163CD6124u, "64-bit reduction multiplier");
static_assert(REFLECTED_POLYNOMIAL == 0x1DB710641u && BARRETT_QUOTIENT == 0x1F7011641u, "Barrett constants");

// Only the folding functions are built for the carry-less multiply, so that the
// rest of the program runs anywhere.
#define VEXA_FOLDING_TARGET __attribute__((target("pclmul,sse2")))

VEXA_FOLDING_TARGET inline __m128i Pair(std::uint64_t low, std::uint64_t high)
{
    return _mm_set_epi32(static_cast<int>(high >> 32), static_cast<int>(high), static_cast<int>(low >> 32),
                         static_cast<int>(low));
}

VEXA_FOLDING_TARGET inline __m128i Load(const unsigned char* at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Advances a lane by the distance its multipliers stand for and adds the next data.
VEXA_FOLDING_TARGET inline __m128i Fold(__m128i lane, __m128i multipliers, __m128i data)
{
    const __m128i low = _mm_clmulepi64_si128(lane, multipliers, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, multipliers, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), data);
}

// The 32-bit Windows stack is only 4-byte aligned at a thread's entry, so the
// 32-bit build realigns it for the vector spills.
#ifdef __i386__
__attribute__((force_align_arg_pointer))
#endif
VEXA_FOLDING_TARGET std::uint32_t Folded(std::uint32_t reg, const unsigned char* p, std::size_t length) noexcept
{
    if (length < 64)
        return Sliced(reg, p, length);

    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = Load(p + 16);
    __m128i x2 = Load(p + 32);
    __m128i x3 = Load(p + 48);
    p += 64;
    length -= 64;

    const __m128i by4 = Pair(FOLD_BY_4_LOW, FOLD_BY_4_HIGH);
    while (length >= 64) {
        x0 = Fold(x0, by4, Load(p));
        x1 = Fold(x1, by4, Load(p + 16));
        x2 = Fold(x2, by4, Load(p + 32));
        x3 = Fold(x3, by4, Load(p + 48));
        p += 64;
        length -= 64;
    }

    const __m128i by1 = Pair(FOLD_BY_1_LOW, FOLD_BY_1_HIGH);
    x0 = Fold(x0, by1, x1);
    x0 = Fold(x0, by1, x2);
    x0 = Fold(x0, by1, x3);
    while (length >= 16) {
        x0 = Fold(x0, by1, Load(p));
        p += 16;
        length -= 16;
    }

    // 128 bits to 64: the low half times x^96, added to the high half.
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
    __m128i t = _mm_clmulepi64_si128(x0, by1, 0x10);
    x0 = _mm_xor_si128(_mm_srli_si128(x0, 8), t);
    // 64 bits to 32 bits in the upper word: the low word times x^64.
    t = _mm_srli_si128(x0, 4);
    x0 = _mm_clmulepi64_si128(_mm_and_si128(x0, low32), Pair(REDUCE_64, 0), 0x00);
    x0 = _mm_xor_si128(x0, t);
    // Barrett's reduction to the 32-bit register.
    const __m128i barrett = Pair(REFLECTED_POLYNOMIAL, BARRETT_QUOTIENT);
    t = _mm_clmulepi64_si128(_mm_and_si128(x0, low32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
    x0 = _mm_xor_si128(x0, t);
    reg = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x0, 4)));

    return Sliced(reg, p, length);
}

bool ProcessorCanFold() noexcept
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    return (c & bit_PCLMUL) != 0 && (d & bit_SSE2) != 0;
}

#endif // VEXA_CRC32_FOLDING

Kernel KernelOf(Crc32Path path) noexcept
{
#ifdef VEXA_CRC32_FOLDING
    if (path == CRC32_PATH_FOLDED)
        return Folded;
#endif
    (void)path;
    return Sliced;
}

Crc32Path BestPath() noexcept
{
    return Crc32PathAvailable(CRC32_PATH_FOLDED) ? CRC32_PATH_FOLDED : CRC32_PATH_SLICED;
}

std::uint32_t FirstCall(std::uint32_t reg, const unsigned char* p, std::size_t length) noexcept;

// Starts at FirstCall, which asks the processor once; constant-initialised, so a
// checksum taken during another object's static construction finds it ready.
std::atomic<Kernel> g_kernel{FirstCall};

std::uint32_t FirstCall(std::uint32_t reg, const unsigned char* p, std::size_t length) noexcept
{
    Kernel best = KernelOf(BestPath());
    Kernel expected = FirstCall;
    // A test may have chosen a path meanwhile; its choice stands.
    if (!g_kernel.compare_exchange_strong(expected, best, std::memory_order_relaxed))
        best = expected;
    return best(reg, p, length);
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
    const Kernel kernel = g_kernel.load(std::memory_order_relaxed);
    return kernel(start ^ 0xFFFFFFFFu, static_cast<const unsigned char*>(data), length) ^ 0xFFFFFFFFu;
}

bool Crc32PathAvailable(Crc32Path path) noexcept
{
    switch (path) {
    case CRC32_PATH_SLICED:
        return true;
    case CRC32_PATH_FOLDED:
#ifdef VEXA_CRC32_FOLDING
    {
        static const bool canFold = ProcessorCanFold();
        return canFold;
    }
#else
        return false;
#endif
    }
    return false;
}

Crc32Path Crc32CurrentPath() noexcept
{
    const Kernel kernel = g_kernel.load(std::memory_order_relaxed);
    if (kernel == FirstCall)
        return BestPath();
    return kernel == KernelOf(CRC32_PATH_SLICED) ? CRC32_PATH_SLICED : CRC32_PATH_FOLDED;
}

bool Crc32UsePath(Crc32Path path) noexcept
{
    if (!Crc32PathAvailable(path))
        return false;
    g_kernel.store(KernelOf(path), std::memory_order_relaxed);
    return true;
}

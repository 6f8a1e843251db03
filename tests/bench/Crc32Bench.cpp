// Checksum throughput on one buffer, in one run: zlib's crc32 beside each path of
// ours, in alternating rounds, best round of each. Prints the rates and the
// ratios to zlib. Natively zlib is linked; in the Windows build it is the
// platform's zlib1.dll when there is one (Wine ships it), otherwise the ratios are
// to the four-table path.
//   crc32_bench [SIZE_MIB [ROUNDS]]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Crc32.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <zlib.h>
#endif

namespace {

using Checksum = std::uint32_t (*)(const unsigned char* p, std::size_t n);

#ifdef _WIN32
using ZlibCrc32 = unsigned long(__cdecl*)(unsigned long, const unsigned char*, unsigned int);
ZlibCrc32 g_zlib = nullptr;
#endif

bool LoadZlib()
{
#ifdef _WIN32
    HMODULE z = ::LoadLibraryA("zlib1.dll");
    g_zlib = z ? reinterpret_cast<ZlibCrc32>(reinterpret_cast<void*>(::GetProcAddress(z, "crc32"))) : nullptr;
    return g_zlib != nullptr;
#else
    return true;
#endif
}

// zlib's crc32 started at 0xFFFFFFFF is the value of our CRC32_START checksum.
std::uint32_t Zlib(const unsigned char* p, std::size_t n)
{
    unsigned long crc = 0xFFFFFFFFul;
    while (n > 0) {
        const unsigned int step = n > (1u << 30) ? (1u << 30) : static_cast<unsigned int>(n);
#ifdef _WIN32
        crc = g_zlib(crc, p, step);
#else
        crc = ::crc32(crc, p, step);
#endif
        p += step;
        n -= step;
    }
    return static_cast<std::uint32_t>(crc);
}

std::uint32_t Ours(const unsigned char* p, std::size_t n)
{
    return Crc32(CRC32_START, p, n);
}

std::uint32_t Definition(const unsigned char* p, std::size_t n)
{
    return Crc32Bytewise(CRC32_START, p, n);
}

struct Contender {
    std::string name;
    Checksum run;
    int path; // -1: not one of ours
    int rounds;
    double best = 1e30;
    std::uint32_t value = 0;
};

} // namespace

int main(int argc, char** argv)
{
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::size_t size = mib << 20;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i < size; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        for (std::size_t k = 0; k < 8 && i + k < size; ++k)
            buffer[i + k] = static_cast<unsigned char>(state >> (8 * k));
    }

    std::vector<Contender> contenders;
    const bool zlib = LoadZlib();
    if (zlib)
        contenders.push_back({"zlib crc32", Zlib, -1, rounds});
    if (Crc32PathAvailable(CRC32_PATH_FOLDED))
        contenders.push_back({"Crc32, folding", Ours, CRC32_PATH_FOLDED, rounds});
    contenders.push_back({"Crc32, four tables", Ours, CRC32_PATH_SLICED, rounds});
    // The definition is slow: one round is enough to place it.
    contenders.push_back({"Crc32Bytewise", Definition, -1, 1});

    for (int round = 0; round < rounds; ++round)
        for (Contender& c : contenders) {
            if (round >= c.rounds)
                continue;
            if (c.path >= 0)
                Crc32UsePath(static_cast<Crc32Path>(c.path));
            const auto t0 = std::chrono::steady_clock::now();
            c.value = c.run(buffer.get(), size);
            const auto t1 = std::chrono::steady_clock::now();
            const double seconds = std::chrono::duration<double>(t1 - t0).count();
            if (seconds < c.best)
                c.best = seconds;
        }

    const Contender& base = zlib ? contenders.front() : contenders[contenders.size() - 2];
    std::printf("buffer %zu MiB, best of %d rounds\n", mib, rounds);
    bool agree = true;
    for (const Contender& c : contenders) {
        const double rate = double(size) / c.best / 1048576.0;
        std::printf("%-20s %9.1f MiB/s  %5.2fx %s  crc %08X\n", c.name.c_str(), rate, base.best / c.best,
                    base.name.c_str(), static_cast<unsigned>(c.value));
        agree = agree && c.value == contenders.front().value;
    }
    if (!agree) {
        std::printf("the checksums differ\n");
        return 1;
    }
    return 0;
}

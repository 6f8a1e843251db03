#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 over the reflected polynomial 0xEDB88320 (the table of ISO-HDLC and
// zlib). The register starts at start XOR 0xFFFFFFFF and the result is the
// register XOR 0xFFFFFFFF, so a checksum can be continued over the next block by
// passing the previous result as the start value. The updater and the publishing
// tools always start with CRC32_START: the register then starts at 0, which
// gives the value of zlib's crc32(0xFFFFFFFF, data, length), not the usual
// CRC-32 of the data.

constexpr std::uint32_t CRC32_START = 0xFFFFFFFFu;

// The fast path. It runs on the processor's carry-less multiply where there is
// one (16 bytes per step, four steps in flight), otherwise with four tables
// (slicing by four). Both give the value of Crc32Bytewise.
std::uint32_t Crc32(std::uint32_t start, const void* data, std::size_t length) noexcept;

// The definition, one byte at a time with one table; the fast path must agree.
std::uint32_t Crc32Bytewise(std::uint32_t start, const void* data, std::size_t length) noexcept;

// Entry k of table t (t 0..3): table 0 is the byte table, table t+1 follows from table t.
std::uint32_t Crc32TableEntry(int table, int k) noexcept;

// The ways Crc32 can compute the checksum.
enum Crc32Path {
    CRC32_PATH_SLICED, // four tables, any processor
    CRC32_PATH_FOLDED, // carry-less multiply (x86 with PCLMULQDQ)
};

// True when this build and this processor can run the path.
bool Crc32PathAvailable(Crc32Path path) noexcept;

// The path Crc32 takes now: the fastest available one, unless Crc32UsePath chose.
Crc32Path Crc32CurrentPath() noexcept;

// For tests and benchmarks: make Crc32 take the path. False, and nothing
// changes, when the path is not available here.
bool Crc32UsePath(Crc32Path path) noexcept;

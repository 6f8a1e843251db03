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

// The fast path: byte-wise up to a 4-byte aligned address, then 32 and 4 bytes
// per step with four tables (slicing by four), then the remaining bytes.
std::uint32_t Crc32(std::uint32_t start, const void* data, std::size_t length) noexcept;

// The definition, one byte at a time with one table; the fast path must agree.
std::uint32_t Crc32Bytewise(std::uint32_t start, const void* data, std::size_t length) noexcept;

// Entry k of table t (t 0..3): table 0 is the byte table, table t+1 follows from table t.
std::uint32_t Crc32TableEntry(int table, int k) noexcept;

#pragma once

#include <cstdint>
#include <vector>

// A PNG file of 8-bit RGBA rows: IHDR, one IDAT, IEND, nothing else (no time or
// text chunks), so the same pixels always give the same bytes. Empty when zlib fails.
std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<std::uint8_t>& rgba);

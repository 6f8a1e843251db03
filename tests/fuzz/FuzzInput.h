#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The fuzzer's bytes as the texts the readers take.
inline std::string_view AsBytes(const std::uint8_t* data, std::size_t size)
{
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

// UTF-16 code units, two bytes each (little-endian), as a Windows wide string holds
// them; an odd last byte is dropped.
inline std::wstring AsWide(const std::uint8_t* data, std::size_t size)
{
    std::wstring text;
    text.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    return text;
}

// Stops the run with a report: a property the reader promises does not hold.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            __builtin_trap();                                                                                \
    } while (0)

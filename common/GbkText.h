#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Helpers for 8-bit text in code page 936 (GBK). A lead byte 0x81..0xFE starts a
// two-byte character whose second byte may look like ASCII ("\", "A".."Z"), so
// separators and letters are only looked for outside such pairs.

inline bool IsGbkLeadByte(unsigned char c) noexcept
{
    return c >= 0x81 && c <= 0xFE;
}

// The text with the ASCII letters A..Z folded to lower case; the bytes of
// two-byte characters stay as they are.
std::string FoldCase(std::string_view text);

// Equal without regard to the case of ASCII letters (in the same sense as FoldCase).
bool EqualNoCase(std::string_view a, std::string_view b) noexcept;

// The position of the last "\" (or of the last "/" too when alsoSlash is set)
// that is a character of its own, or npos.
std::size_t FindLastSeparator(std::string_view text, bool alsoSlash) noexcept;

#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

// Which bytes begin a two-byte character in an 8-bit code page. The second byte
// of such a pair may look like ASCII ("\", "A".."Z"), so separators and letters
// are only looked for outside pairs. Code pages of one byte per character
// (1252 and the like) have no lead bytes; the platform says which a system's
// ANSI code page has.
class CLeadBytes {
public:
    // No lead bytes.
    CLeadBytes() = default;
    // The lead bytes of inclusive ranges given as pairs (first, last), as the
    // platform reports them; a pair of two zero bytes ends the list early.
    static CLeadBytes FromRanges(const unsigned char* ranges, std::size_t pairs) noexcept;

    bool IsLead(unsigned char c) const noexcept { return m_lead[c]; }
    bool HasAny() const noexcept;

private:
    std::array<bool, 256> m_lead{};
};

// The text with the ASCII letters A..Z folded to lower case; the bytes of
// two-byte characters stay as they are.
std::string FoldCase(std::string_view text, const CLeadBytes& leads);

// Equal without regard to the case of ASCII letters (in the same sense as FoldCase).
// Against a text of ASCII only the lead bytes make no difference.
bool EqualNoCase(std::string_view a, std::string_view b, const CLeadBytes& leads) noexcept;

// The position of the last "\" (or of the last "/" too when alsoSlash is set)
// that is a character of its own, or npos.
std::size_t FindLastSeparator(std::string_view text, bool alsoSlash, const CLeadBytes& leads) noexcept;

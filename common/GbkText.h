#pragma once

#include <string>
#include <string_view>

#include "CodePageText.h"

// The text rules of CodePageText for code page 936 (GBK), whose lead bytes are
// 0x81..0xFE: for the publishing tools, which hold lists against the clients of
// Chinese systems wherever they run themselves.

const CLeadBytes& GbkLeadBytes() noexcept;

inline std::string FoldCase(std::string_view text)
{
    return FoldCase(text, GbkLeadBytes());
}

inline bool EqualNoCase(std::string_view a, std::string_view b) noexcept
{
    return EqualNoCase(a, b, GbkLeadBytes());
}

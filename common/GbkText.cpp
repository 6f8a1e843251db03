#include "GbkText.h"

namespace {

char FoldByte(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string FoldCase(std::string_view text)
{
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (IsGbkLeadByte(static_cast<unsigned char>(out[i])) && i + 1 < out.size()) {
            ++i;
            continue;
        }
        out[i] = FoldByte(out[i]);
    }
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        bool lead = IsGbkLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size();
        if (lead != (IsGbkLeadByte(static_cast<unsigned char>(b[i])) && i + 1 < b.size()))
            return false;
        if (lead) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
            ++i;
            continue;
        }
        if (FoldByte(a[i]) != FoldByte(b[i]))
            return false;
    }
    return true;
}

std::size_t FindLastSeparator(std::string_view text, bool alsoSlash) noexcept
{
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsGbkLeadByte(c) && i + 1 < text.size()) {
            ++i;
            continue;
        }
        if (c == '\\' || (alsoSlash && c == '/'))
            found = i;
    }
    return found;
}

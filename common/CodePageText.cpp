#include "CodePageText.h"

namespace {

char FoldByte(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A lead byte with a byte after it; one at the end stands alone.
bool StartsPair(std::string_view text, std::size_t i, const CLeadBytes& leads) noexcept
{
    return leads.IsLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size();
}

} // namespace

CLeadBytes CLeadBytes::FromRanges(const unsigned char* ranges, std::size_t pairs) noexcept
{
    CLeadBytes leads;
    for (std::size_t p = 0; p < pairs; ++p) {
        const unsigned first = ranges[2 * p];
        const unsigned last = ranges[2 * p + 1];
        if (first == 0 && last == 0)
            break;
        for (unsigned c = first; c <= last && c < 256; ++c)
            leads.m_lead[c] = true;
    }
    return leads;
}

bool CLeadBytes::HasAny() const noexcept
{
    for (bool lead : m_lead)
        if (lead)
            return true;
    return false;
}

std::string FoldCase(std::string_view text, const CLeadBytes& leads)
{
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (StartsPair(out, i, leads)) {
            ++i;
            continue;
        }
        out[i] = FoldByte(out[i]);
    }
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b, const CLeadBytes& leads) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const bool lead = StartsPair(a, i, leads);
        if (lead != StartsPair(b, i, leads))
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

std::size_t FindLastSeparator(std::string_view text, bool alsoSlash, const CLeadBytes& leads) noexcept
{
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (StartsPair(text, i, leads)) {
            ++i;
            continue;
        }
        const char c = text[i];
        if (c == '\\' || (alsoSlash && c == '/'))
            found = i;
    }
    return found;
}

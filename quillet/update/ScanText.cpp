#include "ScanText.h"

void CScanText::SkipSpace() noexcept
{
    while (m_pos < m_text.size() && IsSpace(m_text[m_pos]))
        ++m_pos;
}

bool CScanText::Literal(char c) noexcept
{
    if (m_pos < m_text.size() && m_text[m_pos] == c) {
        ++m_pos;
        return true;
    }
    return false;
}

std::string_view CScanText::Until(char stop) noexcept
{
    std::size_t begin = m_pos;
    while (m_pos < m_text.size() && m_text[m_pos] != stop)
        ++m_pos;
    return m_text.substr(begin, m_pos - begin);
}

bool CScanText::Number(std::int32_t& value) noexcept
{
    SkipSpace();
    std::size_t p = m_pos;
    bool negative = false;
    if (p < m_text.size() && (m_text[p] == '+' || m_text[p] == '-')) {
        negative = m_text[p] == '-';
        ++p;
    }
    if (p >= m_text.size() || m_text[p] < '0' || m_text[p] > '9')
        return false;
    std::uint32_t v = 0;
    while (p < m_text.size() && m_text[p] >= '0' && m_text[p] <= '9') {
        v = v * 10u + static_cast<std::uint32_t>(m_text[p] - '0');
        ++p;
    }
    if (negative)
        v = 0u - v;
    value = static_cast<std::int32_t>(v);
    m_pos = p;
    return true;
}

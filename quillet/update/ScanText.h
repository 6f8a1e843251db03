#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// A cursor over 8-bit text with the few conversions that the updater's files are
// written for: white space as the C runtime's isspace has it, decimal numbers
// with an optional sign, and runs of bytes up to a stop byte.
class CScanText {
public:
    explicit CScanText(std::string_view text) noexcept : m_text(text) {}

    bool AtEnd() const noexcept { return m_pos >= m_text.size(); }
    std::size_t Position() const noexcept { return m_pos; }
    void MoveTo(std::size_t pos) noexcept { m_pos = pos < m_text.size() ? pos : m_text.size(); }
    std::string_view Rest() const noexcept { return m_text.substr(m_pos); }

    static bool IsSpace(char c) noexcept
    {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    }

    void SkipSpace() noexcept;
    // The literal byte c, consumed when it is next.
    bool Literal(char c) noexcept;
    // At least one byte up to (not including) the stop byte or the end; empty
    // when the stop byte (or the end) comes first, and then nothing is consumed.
    std::string_view Until(char stop) noexcept;
    // Leading white space, an optional sign and at least one digit. Values beyond
    // 32 bits wrap around, as the target's C runtime stores them. False, with
    // nothing consumed but the white space, when no digit follows.
    bool Number(std::int32_t& value) noexcept;

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

#include "VersionRules.h"

#include <cstddef>
#include <vector>

namespace {

std::uint32_t FoldAscii(std::uint32_t unit)
{
    return (unit >= 'A' && unit <= 'Z') ? unit - 'A' + 'a' : unit;
}

// The UTF-16 code units of a text, whatever the width of wchar_t.
class Utf16Units {
public:
    explicit Utf16Units(const std::wstring& text) : m_text(text) {}

    // The next unit, or false at the end.
    bool Next(std::uint32_t& unit)
    {
        if (m_pendingLow != 0) {
            unit = m_pendingLow;
            m_pendingLow = 0;
            return true;
        }
        if (m_index == m_text.size())
            return false;
        std::uint32_t c = static_cast<std::uint32_t>(m_text[m_index++]);
        if (sizeof(wchar_t) == 2) {
            unit = c & 0xFFFFu;
            return true;
        }
        if (c > 0x10FFFFu)
            c = 0xFFFDu; // not a character; cannot come from UTF-16 text
        if (c > 0xFFFFu) {
            c -= 0x10000u;
            unit = 0xD800u + (c >> 10);
            m_pendingLow = 0xDC00u + (c & 0x3FFu);
            return true;
        }
        unit = c;
        return true;
    }

private:
    const std::wstring& m_text;
    std::size_t m_index = 0;
    std::uint32_t m_pendingLow = 0;
};

bool IsSpace(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// The parts of a dotted decimal version such as 2.0.13.5; false for any other
// text (no digits in a part, another character, a part above 2^32 - 1).
bool ParseDotted(const std::wstring& text, std::vector<std::uint32_t>& parts)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsSpace(text[begin]))
        ++begin;
    while (end > begin && IsSpace(text[end - 1]))
        --end;
    if (begin == end)
        return false;
    parts.clear();
    std::uint64_t value = 0;
    bool digits = false;
    for (std::size_t i = begin; i <= end; ++i) {
        if (i == end || text[i] == L'.') {
            if (!digits)
                return false;
            parts.push_back(static_cast<std::uint32_t>(value));
            value = 0;
            digits = false;
        } else if (text[i] >= L'0' && text[i] <= L'9') {
            value = value * 10u + static_cast<std::uint32_t>(text[i] - L'0');
            if (value > 0xFFFFFFFFu)
                return false;
            digits = true;
        } else {
            return false;
        }
    }
    return true;
}

int CompareDotted(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b)
{
    const std::size_t n = a.size() > b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t x = i < a.size() ? a[i] : 0;
        const std::uint32_t y = i < b.size() ? b[i] : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

} // namespace

int CompareFileTimes(FileTimeValue a, FileTimeValue b)
{
    if (a.High != b.High)
        return a.High < b.High ? -1 : 1;
    if (a.Low != b.Low)
        return a.Low < b.Low ? -1 : 1;
    return 0;
}

std::wstring FormatVersion(std::uint32_t fileVersionMS, std::uint32_t fileVersionLS)
{
    std::wstring text = std::to_wstring(fileVersionMS >> 16);
    text += L'.';
    text += std::to_wstring(fileVersionMS & 0xFFFFu);
    text += L'.';
    text += std::to_wstring(fileVersionLS >> 16);
    text += L'.';
    text += std::to_wstring(fileVersionLS & 0xFFFFu);
    return text;
}

int CompareNoCaseUtf16(const std::wstring& a, const std::wstring& b)
{
    Utf16Units ua(a);
    Utf16Units ub(b);
    for (;;) {
        std::uint32_t x = 0;
        std::uint32_t y = 0;
        const bool moreA = ua.Next(x);
        const bool moreB = ub.Next(y);
        if (!moreA || !moreB)
            return moreA ? 1 : (moreB ? -1 : 0);
        x = FoldAscii(x);
        y = FoldAscii(y);
        if (x != y)
            return x < y ? -1 : 1;
    }
}

bool IsVersionBelow(const std::wstring& localVersion, const std::wstring& listedVersion)
{
    std::vector<std::uint32_t> local;
    std::vector<std::uint32_t> listed;
    if (ParseDotted(localVersion, local) && ParseDotted(listedVersion, listed))
        return CompareDotted(local, listed) < 0;
    return CompareNoCaseUtf16(localVersion, listedVersion) < 0;
}

bool IsOutdated(const std::wstring& listedVersion, FileTimeValue listedTime, const std::wstring& localVersion,
                FileTimeValue localTime)
{
    if (listedVersion.empty())
        return CompareFileTimes(localTime, listedTime) < 0;
    return IsVersionBelow(localVersion, listedVersion);
}

UpdateCause DecideUpdateCause(const std::wstring& listedVersion, FileTimeValue listedTime, const LocalFileState& local)
{
    if (!local.opened)
        return CAUSE_MISSING;
    if (!local.read)
        return CAUSE_UNREADABLE;
    const bool outdated = IsOutdated(listedVersion, listedTime, local.version, local.time);
    if (listedVersion.empty())
        return outdated ? CAUSE_OLDER_TIME : CAUSE_SAME_OR_LATER_TIME;
    return outdated ? CAUSE_LOWER_VERSION : CAUSE_SAME_OR_HIGHER_VERSION;
}

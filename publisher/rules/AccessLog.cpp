#include "AccessLog.h"

#include <cstdio>
#include <cstring>

#include "Shares.h"

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Digits from p, at least one; false when none or too many.
bool ReadNumber(const char*& p, const char* end, std::uint64_t& value)
{
    const char* start = p;
    value = 0;
    while (p != end && IsDigit(*p) && p - start < 19)
        value = value * 10 + static_cast<std::uint64_t>(*p++ - '0');
    return p != start && (p == end || !IsDigit(*p));
}

// ` "text"` from p; the text without its quotes, and p after them.
bool ReadQuoted(const char*& p, const char* end, std::string_view& text)
{
    if (end - p < 3 || p[0] != ' ' || p[1] != '"')
        return false;
    const char* close = static_cast<const char*>(std::memchr(p + 2, '"', static_cast<std::size_t>(end - p - 2)));
    if (!close)
        return false;
    text = std::string_view(p + 2, static_cast<std::size_t>(close - p - 2));
    if (text == "-")
        text = std::string_view();
    p = close + 1;
    return true;
}

int MonthOf(const char* m)
{
    static const char* const names = "JanFebMarAprMayJunJulAugSepOctNovDec";
    for (int i = 0; i < 12; ++i) {
        if (std::memcmp(names + 3 * i, m, 3) == 0)
            return i + 1;
    }
    return 0;
}

bool TwoDigits(const char* p, int& value)
{
    if (!IsDigit(p[0]) || !IsDigit(p[1]))
        return false;
    value = (p[0] - '0') * 10 + (p[1] - '0');
    return true;
}

} // namespace

bool CLogClock::Parse(std::string_view text, std::int64_t& seconds)
{
    // dd/Mon/yyyy:hh:mm:ss +zzzz
    if (text.size() != 26 || text[2] != '/' || text[6] != '/' || text[11] != ':' || text[14] != ':' ||
        text[17] != ':' || text[20] != ' ')
        return false;
    int second = 0;
    if (!TwoDigits(text.data() + 18, second) || second > 60)
        return false;
    const char* t = text.data();
    if (std::memcmp(m_minute, t, 17) == 0 && std::memcmp(m_minute + 17, t + 20, 6) == 0) {
        seconds = m_minuteStart + second;
        return true;
    }
    int day = 0, hour = 0, minute = 0, zoneHours = 0, zoneMinutes = 0, century = 0, year = 0;
    const int month = MonthOf(t + 3);
    if (!month || !TwoDigits(t, day) || !TwoDigits(t + 7, century) || !TwoDigits(t + 9, year) ||
        !TwoDigits(t + 12, hour) || !TwoDigits(t + 15, minute) || (t[21] != '+' && t[21] != '-') ||
        !TwoDigits(t + 22, zoneHours) || !TwoDigits(t + 24, zoneMinutes))
        return false;
    char iso[32];
    std::snprintf(iso, sizeof iso, "%02d%02d-%02d-%02dT%02d:%02d:00Z", century, year, month, day, hour, minute);
    const std::optional<std::int64_t> local = ParseIsoTime(iso);
    if (!local)
        return false;
    const std::int64_t zone = (zoneHours * 3600 + zoneMinutes * 60) * (t[21] == '-' ? -1 : 1);
    m_minuteStart = *local - zone;
    std::memcpy(m_minute, t, 17);
    std::memcpy(m_minute + 17, t + 20, 6);
    seconds = m_minuteStart + second;
    return true;
}

bool ParseAccessLine(std::string_view line, CLogClock& clock, AccessLine& out)
{
    const char* p = line.data();
    const char* end = p + line.size();
    if (p != end && end[-1] == '\r')
        --end;
    const char* blank = static_cast<const char*>(std::memchr(p, ' ', static_cast<std::size_t>(end - p)));
    if (!blank || blank == p)
        return false;
    out.address = std::string_view(p, static_cast<std::size_t>(blank - p));
    const char* open = static_cast<const char*>(std::memchr(blank, '[', static_cast<std::size_t>(end - blank)));
    if (!open || end - open < 28 || open[27] != ']' || !clock.Parse(std::string_view(open + 1, 26), out.time))
        return false;
    p = open + 28;
    std::string_view request;
    if (!ReadQuoted(p, end, request))
        return false;
    // "GET /path HTTP/1.0"; anything else (a probe, a cut request) has no target.
    out.method = out.target = std::string_view();
    const std::size_t first = request.find(' ');
    const std::size_t last = request.rfind(' ');
    if (first != std::string_view::npos && last > first + 1) {
        out.method = request.substr(0, first);
        out.target = request.substr(first + 1, last - first - 1);
    }
    std::uint64_t status = 0;
    if (end - p < 5 || *p++ != ' ' || !ReadNumber(p, end, status) || status < 100 || status > 999)
        return false;
    out.status = static_cast<int>(status);
    if (p == end || *p++ != ' ' || !ReadNumber(p, end, out.bytes))
        return false;
    std::string_view referer;
    if (!ReadQuoted(p, end, referer) || !ReadQuoted(p, end, out.agent))
        return false;
    out.vexa = false;
    out.requestMs = 0;
    out.completed = false;
    out.share = out.release = std::string_view();
    if (p == end)
        return true;
    // The vexa fields: $request_time as seconds with milliseconds.
    std::uint64_t whole = 0;
    if (*p++ != ' ' || !ReadNumber(p, end, whole) || p == end || *p++ != '.')
        return false;
    std::uint32_t ms = 0;
    int digits = 0;
    for (; p != end && IsDigit(*p); ++p, ++digits) {
        if (digits < 3)
            ms = ms * 10 + static_cast<std::uint32_t>(*p - '0');
    }
    if (digits == 0 || whole > 4000000)
        return false;
    for (; digits < 3; ++digits)
        ms *= 10;
    out.requestMs = static_cast<std::uint32_t>(whole * 1000 + ms);
    // $request_completion: "OK", or nothing at all (nginx writes its empty value
    // as it is, not as "-").
    if (end - p < 2 || *p++ != ' ')
        return false;
    if (end - p >= 2 && p[0] == 'O' && p[1] == 'K') {
        out.completed = true;
        p += 2;
    } else if (*p == '-') {
        ++p;
    }
    if (!ReadQuoted(p, end, out.share) || !ReadQuoted(p, end, out.release) || p != end)
        return false;
    out.vexa = true;
    return true;
}

std::string DecodeLoggedTarget(std::string_view target)
{
    std::string raw;
    raw.reserve(target.size());
    for (std::size_t i = 0; i < target.size(); ++i) {
        if (target[i] == '\\' && i + 3 < target.size() && target[i + 1] == 'x' && HexValue(target[i + 2]) >= 0 &&
            HexValue(target[i + 3]) >= 0) {
            raw.push_back(static_cast<char>(HexValue(target[i + 2]) * 16 + HexValue(target[i + 3])));
            i += 3;
        } else {
            raw.push_back(target[i]);
        }
    }
    const std::size_t query = raw.find('?');
    if (query != std::string::npos)
        raw.resize(query);
    std::string path;
    path.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '%' && i + 2 < raw.size() && HexValue(raw[i + 1]) >= 0 && HexValue(raw[i + 2]) >= 0) {
            c = static_cast<char>(HexValue(raw[i + 1]) * 16 + HexValue(raw[i + 2]));
            i += 2;
        }
        if (c == '/' && !path.empty() && path.back() == '/')
            continue;
        path.push_back(c);
    }
    return path;
}

std::string EscapeAsLogged(std::string_view bytes)
{
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
            out += "\\x";
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

bool ParseReportTime(std::string_view text, std::int64_t& seconds)
{
    std::string iso(text);
    if (!iso.empty() && iso.back() == 'Z')
        iso.pop_back();
    if (iso.size() == 10)
        iso += "T00:00:00";
    if (iso.size() > 10 && iso[10] == ' ')
        iso[10] = 'T';
    if (iso.size() == 16)
        iso += ":00";
    const std::optional<std::int64_t> value = ParseIsoTime(iso + "Z");
    if (!value)
        return false;
    seconds = *value;
    return true;
}

#include "Url.h"


namespace {

bool IsAsciiAlpha(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    return true;
}

UrlService ServiceOf(std::wstring_view scheme)
{
    struct Entry {
        const wchar_t* name;
        UrlService service;
    };
    static const Entry kSchemes[] = {
        {L"http", UrlService::Http},     {L"https", UrlService::Https},   {L"ftp", UrlService::Ftp},
        {L"gopher", UrlService::Gopher}, {L"file", UrlService::File},     {L"mailto", UrlService::Mailto},
        {L"news", UrlService::News},     {L"nntp", UrlService::Nntp},     {L"telnet", UrlService::Telnet},
        {L"wais", UrlService::Wais},
    };
    for (const Entry& e : kSchemes)
        if (EqualsAsciiNoCase(scheme, e.name))
            return e.service;
    return UrlService::Unknown;
}

void AppendPercent(std::wstring& out, unsigned byte)
{
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    out += L'%';
    out += kHex[(byte >> 4) & 0xF];
    out += kHex[byte & 0xF];
}

// Encodes one code point as UTF-8 bytes, each written as %XX.
void AppendPercentUtf8(std::wstring& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        AppendPercent(out, cp);
    } else if (cp < 0x800) {
        AppendPercent(out, 0xC0 | (cp >> 6));
        AppendPercent(out, 0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        AppendPercent(out, 0xE0 | (cp >> 12));
        AppendPercent(out, 0x80 | ((cp >> 6) & 0x3F));
        AppendPercent(out, 0x80 | (cp & 0x3F));
    } else {
        AppendPercent(out, 0xF0 | (cp >> 18));
        AppendPercent(out, 0x80 | ((cp >> 12) & 0x3F));
        AppendPercent(out, 0x80 | ((cp >> 6) & 0x3F));
        AppendPercent(out, 0x80 | (cp & 0x3F));
    }
}

std::wstring EncodeObject(std::wstring_view object)
{
    std::wstring out;
    out.reserve(object.size());
    for (size_t i = 0; i < object.size(); ++i) {
        std::uint32_t c = static_cast<std::uint32_t>(object[i]);
        if (c > 0x20 && c < 0x7F) {
            out += static_cast<wchar_t>(c);
            continue;
        }
        // A UTF-16 surrogate pair (Windows) forms one code point; a lone surrogate becomes U+FFFD.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < object.size()) {
            std::uint32_t low = static_cast<std::uint32_t>(object[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        } else if (c > 0x10FFFF) {
            c = 0xFFFD;
        }
        AppendPercentUtf8(out, c);
    }
    return out;
}

} // namespace

std::uint16_t DefaultPort(UrlService service)
{
    switch (service) {
    case UrlService::Http: return 80;
    case UrlService::Https: return 443;
    case UrlService::Ftp: return 21;
    case UrlService::Gopher: return 70;
    case UrlService::Nntp:
    case UrlService::News: return 119;
    case UrlService::Telnet: return 23;
    case UrlService::Wais: return 210;
    default: return 0;
    }
}

std::optional<ParsedUrl> ParseUrl(std::wstring_view url)
{
    // Scheme: a letter, then letters, digits, "+", "-" or ".", then "://".
    size_t colon = url.find(L':');
    if (colon == std::wstring_view::npos || colon == 0 || !IsAsciiAlpha(url[0]))
        return std::nullopt;
    for (size_t i = 1; i < colon; ++i) {
        wchar_t c = url[i];
        if (!IsAsciiAlpha(c) && !IsAsciiDigit(c) && c != L'+' && c != L'-' && c != L'.')
            return std::nullopt;
    }
    if (url.substr(colon, 3) != L"://")
        return std::nullopt;

    ParsedUrl result;
    result.scheme = std::wstring(url.substr(0, colon));
    result.service = ServiceOf(result.scheme);

    std::wstring_view rest = url.substr(colon + 3);
    size_t authorityEnd = rest.find_first_of(L"/?#");
    std::wstring_view authority = rest.substr(0, authorityEnd);
    std::wstring_view object = authorityEnd == std::wstring_view::npos ? std::wstring_view() : rest.substr(authorityEnd);

    size_t at = authority.rfind(L'@');
    if (at != std::wstring_view::npos) {
        std::wstring_view info = authority.substr(0, at);
        size_t sep = info.find(L':');
        result.user = std::wstring(info.substr(0, sep));
        if (sep != std::wstring_view::npos)
            result.password = std::wstring(info.substr(sep + 1));
        authority = authority.substr(at + 1);
    }

    std::wstring_view host = authority;
    std::wstring_view port;
    if (!authority.empty() && authority[0] == L'[') {
        size_t close = authority.find(L']');
        if (close == std::wstring_view::npos)
            return std::nullopt;
        host = authority.substr(1, close - 1);
        std::wstring_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != L':')
                return std::nullopt;
            port = after.substr(1);
            if (port.empty())
                return std::nullopt;
        }
    } else {
        size_t sep = authority.rfind(L':');
        if (sep != std::wstring_view::npos) {
            host = authority.substr(0, sep);
            port = authority.substr(sep + 1);
            if (port.empty())
                return std::nullopt;
        }
    }
    if (host.empty())
        return std::nullopt;
    for (wchar_t c : host)
        if (static_cast<std::uint32_t>(c) <= 0x20 || c == 0x7F)
            return std::nullopt;

    result.server = std::wstring(host);
    if (!port.empty()) {
        if (port.size() > 5)
            return std::nullopt;
        std::uint32_t value = 0;
        for (wchar_t c : port) {
            if (!IsAsciiDigit(c))
                return std::nullopt;
            value = value * 10 + static_cast<std::uint32_t>(c - L'0');
        }
        if (value == 0 || value > 65535)
            return std::nullopt;
        result.port = static_cast<std::uint16_t>(value);
    } else {
        result.port = DefaultPort(result.service);
    }

    if (object.empty() || object[0] != L'/')
        result.object = L"/" + EncodeObject(object);
    else
        result.object = EncodeObject(object);
    return result;
}

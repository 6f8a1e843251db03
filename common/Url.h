#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The services a URL can name. The numbering follows the WinINet scheme
// families so that a Windows caller can map them one to one.
enum class UrlService {
    Unknown,
    Ftp,
    Gopher,
    Http,
    Https,
    File,
    Mailto,
    News,
    Nntp,
    Telnet,
    Wais,
};

// A URL split into what an HTTP client needs.
struct ParsedUrl {
    UrlService service = UrlService::Unknown;
    std::wstring scheme;   // as written, for example L"http"
    std::wstring user;     // empty when the URL carries none
    std::wstring password; // empty when the URL carries none
    std::wstring server;   // host name or address, without brackets for IPv6 literals
    std::wstring object;   // path with query and fragment; "/" when the URL has no path
    std::uint16_t port = 0; // the URL's port, else the scheme's default (0 when it has none)
};

// Splits an absolute URL of the form scheme://[user[:password]@]host[:port][/path][?query][#fragment].
// Answers nothing for a text that is not such a URL (no scheme, no host, a port that is not
// a number from 1 to 65535). Characters that cannot appear raw on an HTTP request line
// (controls, blanks, non-ASCII) are percent-encoded in the object, non-ASCII as UTF-8.
std::optional<ParsedUrl> ParseUrl(std::wstring_view url);

// The default port of a service, 0 when it has none.
std::uint16_t DefaultPort(UrlService service);

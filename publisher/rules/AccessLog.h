#pragma once

// A line of nginx's access log, in Debian's `combined` format or in the `vexa`
// format that docs/publishing.md recommends, which adds four fields:
//
//   $remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent
//   "$http_referer" "$http_user_agent" $request_time $request_completion
//   "$vexa_share" "$vexa_release"
//
// nginx writes "-" for an empty value and escapes `"`, `\` and bytes outside
// printable ASCII as \xXX, so a quote always ends a quoted field.

#include <cstdint>
#include <string>
#include <string_view>

struct AccessLine {
    std::string_view address;
    std::int64_t time = 0;   // the end of the request, seconds since 1970 (UTC)
    std::string_view method; // empty when the request line is not "METHOD TARGET PROTOCOL"
    std::string_view target; // as logged: escaped, not decoded
    int status = 0;
    std::uint64_t bytes = 0;    // $body_bytes_sent
    std::string_view agent;     // empty for "-"
    bool vexa = false;          // the four fields of the vexa format follow
    std::uint32_t requestMs = 0; // $request_time
    bool completed = false;     // $request_completion is "OK"
    std::string_view share;     // empty for "-"
    std::string_view release;   // empty for "-"
};

// $time_local ("09/Dec/2026:10:15:00 +0800") as UTC seconds. Lines of a log
// share their minute, so the last minute read is kept.
class CLogClock {
public:
    bool Parse(std::string_view text, std::int64_t& seconds);

private:
    char m_minute[24] = {}; // "09/Dec/2026:10:15 +0800" without the seconds
    std::int64_t m_minuteStart = 0;
};

// False for a line that is neither format or is cut short.
bool ParseAccessLine(std::string_view line, CLogClock& clock, AccessLine& out);

// The path that nginx serves for a logged target: the log's \xXX undone, the
// query dropped, %XX decoded and repeated "/" merged, as nginx maps a URI to a
// file.
std::string DecodeLoggedTarget(std::string_view target);
// A path's bytes as nginx logs them in a target: the inverse of the escaping
// above for bytes that need no %XX.
std::string EscapeAsLogged(std::string_view bytes);

// "2026-12-09T10:15:00Z", "2026-12-09 10:15", "2026-12-09": UTC seconds.
bool ParseReportTime(std::string_view text, std::int64_t& seconds);

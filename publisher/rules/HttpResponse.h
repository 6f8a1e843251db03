#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// An HTTP/1.x response read from the bytes of a connection, as the clients need
// it: status line, headers, and a body delimited by Content-Length or by the end
// of the connection. The chunked transfer coding is refused, not decoded: Quillet
// cannot take a response without Content-Length, so a server that chunks is
// misconfigured for it. Every part is bounded; nothing is read past the limits.

struct HttpResponseHead {
    std::string version; // "HTTP/1.0" or "HTTP/1.1"
    int status = 0;
    std::string reason;
    std::vector<std::pair<std::string, std::string>> headers; // names as sent, values trimmed
    std::optional<std::uint64_t> contentLength;

    // The first header of that name (without regard to ASCII case), or nothing.
    std::optional<std::string> Header(std::string_view name) const;
};

constexpr std::size_t HTTP_HEAD_MAX = 16384; // status line and headers together
constexpr std::size_t HTTP_HEADERS_MAX = 100;

class CHttpResponseParser {
public:
    enum class State { Head, Body, Done, Failed };

    // Whether a body follows the head (false for an answer to HEAD, or when the
    // caller wants only the head). Set before the first Feed.
    void ExpectBody(bool expect) { m_expectBody = expect; }

    // Consumes bytes of the connection. Body bytes go to the sink as they arrive,
    // never more than Content-Length. Answers the state afterwards. Bytes after
    // a complete body make the response fail (the server sent more than it said).
    State Feed(std::string_view bytes, const std::function<void(std::string_view)>& sink);

    // The connection ended: a body without Content-Length is complete; one
    // shorter than its Content-Length, or a head cut short, fails.
    State Finish();

    State Current() const { return m_state; }
    const HttpResponseHead& Head() const { return m_head; }
    std::uint64_t BodyReceived() const { return m_bodyReceived; }
    // Why the response failed, in English.
    const std::string& Error() const { return m_error; }

private:
    State Fail(std::string why);
    bool ParseHead(std::string_view head);
    bool ParseStatusLine(std::string_view line);
    bool ParseHeaderLine(std::string_view line);
    State AfterHead();

    State m_state = State::Head;
    bool m_expectBody = true;
    std::string m_buffer; // the head so far
    HttpResponseHead m_head;
    std::uint64_t m_bodyReceived = 0;
    std::string m_error;
};

// The request line and headers the clients send for a GET of target ("/a/b.dat").
std::string BuildGetRequest(std::string_view host, std::uint16_t port, std::string_view target,
                            bool zorvaneHeaders);

#include "HttpResponse.h"

#include "GbkText.h"

namespace {

std::string_view TrimSpace(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool IsTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
    case '-': case '.': case '^': case '_': case '`': case '|': case '~':
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<std::string> HttpResponseHead::Header(std::string_view name) const
{
    for (const auto& h : headers) {
        if (EqualNoCase(h.first, name))
            return h.second;
    }
    return std::nullopt;
}

CHttpResponseParser::State CHttpResponseParser::Fail(std::string why)
{
    m_state = State::Failed;
    m_error = std::move(why);
    return m_state;
}

CHttpResponseParser::State CHttpResponseParser::Feed(std::string_view bytes,
                                                     const std::function<void(std::string_view)>& sink)
{
    if (m_state == State::Head) {
        // The head ends at the first empty line (CR LF CR LF, or bare LFs).
        const std::size_t before = m_buffer.size();
        const std::size_t room = HTTP_HEAD_MAX + 4 - before;
        m_buffer.append(bytes.substr(0, room));
        std::size_t end = std::string::npos;
        std::size_t bodyAt = 0;
        for (std::size_t i = before > 3 ? before - 3 : 0; i < m_buffer.size(); ++i) {
            if (m_buffer[i] != '\n')
                continue;
            if (i + 1 < m_buffer.size() && m_buffer[i + 1] == '\n') {
                end = i + 1;
                bodyAt = i + 2;
                break;
            }
            if (i + 2 < m_buffer.size() && m_buffer[i + 1] == '\r' && m_buffer[i + 2] == '\n') {
                end = i + 1;
                bodyAt = i + 3;
                break;
            }
        }
        if (end == std::string::npos) {
            if (m_buffer.size() > HTTP_HEAD_MAX)
                return Fail("the response head is longer than " + std::to_string(HTTP_HEAD_MAX) + " bytes");
            return m_state;
        }
        if (end > HTTP_HEAD_MAX)
            return Fail("the response head is longer than " + std::to_string(HTTP_HEAD_MAX) + " bytes");
        if (!ParseHead(std::string_view(m_buffer).substr(0, end)))
            return m_state;
        // What of this call's bytes lies after the head.
        const std::size_t consumed = bodyAt - before;
        m_buffer.clear();
        m_buffer.shrink_to_fit();
        if (AfterHead() != State::Body) {
            if (m_state == State::Done && consumed < bytes.size() && m_expectBody)
                return Fail("the server sent more bytes than its Content-Length");
            return m_state;
        }
        bytes = bytes.substr(consumed);
    }
    if (m_state != State::Body) {
        if (m_state == State::Done && !bytes.empty() && m_expectBody)
            return Fail("the server sent more bytes than its Content-Length");
        return m_state;
    }
    if (bytes.empty())
        return m_state;
    std::string_view take = bytes;
    if (m_head.contentLength) {
        const std::uint64_t left = *m_head.contentLength - m_bodyReceived;
        if (take.size() > left)
            take = take.substr(0, static_cast<std::size_t>(left));
    }
    m_bodyReceived += take.size();
    if (!take.empty() && sink)
        sink(take);
    if (m_head.contentLength && m_bodyReceived == *m_head.contentLength) {
        m_state = State::Done;
        if (take.size() < bytes.size())
            return Fail("the server sent more bytes than its Content-Length");
    }
    return m_state;
}

CHttpResponseParser::State CHttpResponseParser::Finish()
{
    switch (m_state) {
    case State::Head:
        return Fail(m_buffer.empty() ? "the connection closed before any response"
                                     : "the connection closed inside the response head");
    case State::Body:
        if (m_head.contentLength)
            return Fail("the connection closed after " + std::to_string(m_bodyReceived) + " of " +
                        std::to_string(*m_head.contentLength) + " body bytes");
        m_state = State::Done;
        return m_state;
    case State::Done:
    case State::Failed:
        break;
    }
    return m_state;
}

bool CHttpResponseParser::ParseHead(std::string_view head)
{
    bool first = true;
    std::size_t pos = 0;
    while (pos < head.size()) {
        std::size_t end = head.find('\n', pos);
        if (end == std::string_view::npos)
            end = head.size();
        std::string_view line = head.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (first) {
            first = false;
            if (!ParseStatusLine(line))
                return false;
        } else if (!ParseHeaderLine(line)) {
            return false;
        }
    }
    if (first) {
        Fail("the response has no status line");
        return false;
    }
    return true;
}

bool CHttpResponseParser::ParseStatusLine(std::string_view line)
{
    // HTTP/1.x SP 3DIGIT SP reason
    if (line.size() < 12 || line.substr(0, 7) != "HTTP/1." || line[7] < '0' || line[7] > '9' || line[8] != ' ') {
        Fail("the status line is not \"HTTP/1.x code reason\"");
        return false;
    }
    const std::string_view code = line.substr(9, 3);
    for (char c : code) {
        if (c < '0' || c > '9') {
            Fail("the status code is not three digits");
            return false;
        }
    }
    if (line.size() > 12 && line[12] != ' ') {
        Fail("the status code is not three digits");
        return false;
    }
    m_head.version = std::string(line.substr(0, 8));
    m_head.status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
    m_head.reason = line.size() > 13 ? std::string(line.substr(13)) : std::string();
    for (char c : m_head.reason) {
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
            Fail("the reason phrase holds a control character");
            return false;
        }
    }
    return true;
}

bool CHttpResponseParser::ParseHeaderLine(std::string_view line)
{
    if (line.empty())
        return true;
    if (line[0] == ' ' || line[0] == '\t') {
        Fail("a folded header line (obsolete line folding is refused)");
        return false;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        Fail("a header line without a name and \":\"");
        return false;
    }
    const std::string_view name = line.substr(0, colon);
    for (char c : name) {
        if (!IsTokenChar(c)) {
            Fail("a header name with a character that names cannot hold");
            return false;
        }
    }
    const std::string_view value = TrimSpace(line.substr(colon + 1));
    for (char c : value) {
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
            Fail("a header value holds a control character");
            return false;
        }
    }
    if (m_head.headers.size() >= HTTP_HEADERS_MAX) {
        Fail("more than " + std::to_string(HTTP_HEADERS_MAX) + " header lines");
        return false;
    }
    if (EqualNoCase(name, "Content-Length")) {
        if (value.empty() || value.size() > 19) {
            Fail("Content-Length \"" + std::string(value) + "\" is not a length");
            return false;
        }
        std::uint64_t n = 0;
        for (char c : value) {
            if (c < '0' || c > '9') {
                Fail("Content-Length \"" + std::string(value) + "\" is not a length");
                return false;
            }
            n = n * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (m_head.contentLength && *m_head.contentLength != n) {
            Fail("two different Content-Length headers");
            return false;
        }
        m_head.contentLength = n;
    }
    if (EqualNoCase(name, "Transfer-Encoding")) {
        Fail("Transfer-Encoding \"" + std::string(value) +
             "\": a chunked answer has no Content-Length, which Quillet needs");
        return false;
    }
    m_head.headers.emplace_back(std::string(name), std::string(value));
    return true;
}

CHttpResponseParser::State CHttpResponseParser::AfterHead()
{
    const bool noBody = !m_expectBody || m_head.status / 100 == 1 || m_head.status == 204 || m_head.status == 304;
    if (noBody || (m_head.contentLength && *m_head.contentLength == 0))
        m_state = State::Done;
    else
        m_state = State::Body;
    return m_state;
}

std::string BuildGetRequest(std::string_view host, std::uint16_t port, std::string_view target, bool zorvaneHeaders)
{
    std::string r = "GET ";
    r += target;
    r += " HTTP/1.0\r\nHost: ";
    r += host;
    if (port != 80) {
        r += ':';
        r += std::to_string(port);
    }
    r += "\r\n";
    if (zorvaneHeaders)
        r += "Accept: */*\r\nUser-Agent: Quillet_Tamsk\r\nPragma: no-cache\r\n";
    r += "\r\n";
    return r;
}

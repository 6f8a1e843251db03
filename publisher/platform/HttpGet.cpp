#include "HttpGet.h"

#include <cstring>
#include <memory>

#include "Crc32.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
namespace {
using socket_t = SOCKET;
const socket_t NO_SOCKET = INVALID_SOCKET;
void CloseSocket(socket_t s) { ::closesocket(s); }
int LastSocketError() { return ::WSAGetLastError(); }
std::string SocketErrorText(int code)
{
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                     reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n > 0 && text ? std::string(text, n) : std::string();
    if (text)
        ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    // Where the system has no text for a socket error, the names of the usual ones.
    if (out.empty()) {
        switch (code) {
        case WSAECONNREFUSED: out = "connection refused"; break;
        case WSAECONNRESET: out = "connection reset by the server"; break;
        case WSAETIMEDOUT: out = "timed out"; break;
        case WSAEHOSTUNREACH: out = "no route to host"; break;
        case WSAENETUNREACH: out = "network unreachable"; break;
        default: out = "socket error " + std::to_string(code); break;
        }
    }
    return out;
}
bool TimedOut(int code) { return code == WSAETIMEDOUT; }
void SetTimeouts(socket_t s, int ms)
{
    DWORD t = static_cast<DWORD>(ms);
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&t), sizeof t);
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&t), sizeof t);
}
int SendFlags() { return 0; }
// Winsock for the life of the process, started on first use.
struct CWinsock {
    CWinsock()
    {
        WSADATA data;
        m_ok = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~CWinsock()
    {
        if (m_ok)
            ::WSACleanup();
    }
    bool m_ok = false;
};
bool SocketsReady()
{
    static CWinsock winsock;
    return winsock.m_ok;
}
} // namespace
#else
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
namespace {
using socket_t = int;
const socket_t NO_SOCKET = -1;
void CloseSocket(socket_t s) { ::close(s); }
int LastSocketError() { return errno; }
std::string SocketErrorText(int code) { return std::strerror(code); }
bool TimedOut(int code) { return code == EAGAIN || code == EWOULDBLOCK || code == ETIMEDOUT; }
void SetTimeouts(socket_t s, int ms)
{
    timeval t{};
    t.tv_sec = ms / 1000;
    t.tv_usec = (ms % 1000) * 1000;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
}
int SendFlags() { return MSG_NOSIGNAL; }
bool SocketsReady() { return true; }
} // namespace
#endif

namespace {

// Closes the socket when the fetch ends, on every path.
class CSocketOwner {
public:
    explicit CSocketOwner(socket_t s) : m_s(s) {}
    ~CSocketOwner()
    {
        if (m_s != NO_SOCKET)
            CloseSocket(m_s);
    }
    CSocketOwner(const CSocketOwner&) = delete;
    CSocketOwner& operator=(const CSocketOwner&) = delete;
    socket_t Get() const { return m_s; }

private:
    socket_t m_s;
};

struct AddrInfoFree {
    void operator()(addrinfo* a) const { ::freeaddrinfo(a); }
};

} // namespace

HttpGetResult HttpGet(const std::string& host, std::uint16_t port, const std::string& target,
                      const HttpGetOptions& options)
{
    HttpGetResult result;
    if (!SocketsReady()) {
        result.error = "sockets cannot be started";
        return result;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
        result.error = "cannot resolve the host name " + host;
        return result;
    }
    std::unique_ptr<addrinfo, AddrInfoFree> addresses(found);

    socket_t s = NO_SOCKET;
    int connectError = 0;
    for (addrinfo* a = found; a; a = a->ai_next) {
        s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == NO_SOCKET)
            continue;
        SetTimeouts(s, options.timeoutMs);
        if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0)
            break;
        connectError = LastSocketError();
        CloseSocket(s);
        s = NO_SOCKET;
    }
    if (s == NO_SOCKET) {
        result.error = "cannot connect to " + host + ":" + service + " (" + SocketErrorText(connectError) + ")";
        return result;
    }
    CSocketOwner socket(s);

    const std::string request = BuildGetRequest(host, port, target, options.zorvaneHeaders);
    std::size_t sent = 0;
    while (sent < request.size()) {
        const int n = static_cast<int>(
            ::send(s, request.data() + sent, static_cast<int>(request.size() - sent), SendFlags()));
        if (n <= 0) {
            result.error = "the request could not be sent";
            return result;
        }
        sent += static_cast<std::size_t>(n);
    }

    CHttpResponseParser parser;
    const auto sink = [&result, &options](std::string_view bytes) {
        result.crc = Crc32(result.crc, bytes.data(), bytes.size());
        if (options.keepBody)
            result.body.insert(result.body.end(), bytes.begin(), bytes.end());
    };
    result.crc = CRC32_START;
    char block[16384];
    for (;;) {
        const int n = static_cast<int>(::recv(s, block, static_cast<int>(sizeof block), 0));
        if (n == 0) {
            parser.Finish();
            break;
        }
        if (n < 0) {
            const int code = LastSocketError();
            result.head = parser.Head();
            result.bodyBytes = parser.BodyReceived();
            result.error = TimedOut(code) ? "no answer within " + std::to_string(options.timeoutMs / 1000) + " s"
                                          : "the connection broke (" + SocketErrorText(code) + ")";
            if (parser.Current() == CHttpResponseParser::State::Body && parser.Head().contentLength)
                result.error += " after " + std::to_string(parser.BodyReceived()) + " of " +
                                std::to_string(*parser.Head().contentLength) + " body bytes";
            return result;
        }
        const CHttpResponseParser::State state = parser.Feed(std::string_view(block, static_cast<std::size_t>(n)), sink);
        if (state == CHttpResponseParser::State::Failed)
            break;
        // A complete body with Content-Length: the clients stop reading there.
        if (state == CHttpResponseParser::State::Done)
            break;
        if (options.headOnly && state == CHttpResponseParser::State::Body) {
            result.head = parser.Head();
            result.ok = true;
            return result;
        }
    }
    result.head = parser.Head();
    result.bodyBytes = parser.BodyReceived();
    if (parser.Current() != CHttpResponseParser::State::Done) {
        result.error = parser.Error();
        return result;
    }
    result.ok = true;
    return result;
}

#include "TestHttpServer.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using socket_t = SOCKET;
namespace {
void CloseSocket(socket_t s) { ::closesocket(s); }
const socket_t kNoSocket = INVALID_SOCKET;
struct WinsockUser {
    WinsockUser()
    {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockUser() { ::WSACleanup(); }
};
} // namespace
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using socket_t = int;
namespace {
void CloseSocket(socket_t s) { ::close(s); }
const socket_t kNoSocket = -1;
struct WinsockUser {};
} // namespace
#endif

namespace {

WinsockUser& Sockets()
{
    static WinsockUser user;
    return user;
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    return true;
}

std::string Trim(const std::string& s)
{
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    std::size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool SendAll(socket_t s, const char* data, std::size_t size)
{
    while (size > 0) {
        int chunk = size > 65536 ? 65536 : static_cast<int>(size);
#ifdef _WIN32
        int n = ::send(s, data, chunk, 0);
#else
        int n = static_cast<int>(::send(s, data, chunk, MSG_NOSIGNAL));
#endif
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void ResetConnection(socket_t s)
{
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    CloseSocket(s);
}

} // namespace

std::optional<std::string> RecordedRequest::Header(const std::string& name) const
{
    for (const auto& h : headers)
        if (EqualsNoCase(h.first, name))
            return h.second;
    return std::nullopt;
}

TestHttpServer::TestHttpServer()
{
    Sockets();
}

TestHttpServer::~TestHttpServer()
{
    Stop();
}

unsigned char TestHttpServer::GeneratedByte(std::size_t i)
{
    return static_cast<unsigned char>((i * 131u + (i >> 8) * 7u + (i >> 16)) & 0xFFu);
}

std::string TestHttpServer::GeneratedBody(std::size_t length)
{
    std::string body(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        body[i] = static_cast<char>(GeneratedByte(i));
    return body;
}

std::string TestHttpServer::BaseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

bool TestHttpServer::Start(std::uint16_t port)
{
    socket_t s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kNoSocket)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 64) != 0) {
        CloseSocket(s);
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_listener = static_cast<std::intptr_t>(s);
    m_stop = false;
    m_acceptThread = std::thread([this] { AcceptLoop(); });
    return true;
}

void TestHttpServer::Stop()
{
    if (m_listener == -1)
        return;
    m_stop = true;
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    CloseSocket(static_cast<socket_t>(m_listener));
    m_listener = -1;
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads.swap(m_connections);
    }
    for (std::thread& t : threads)
        t.join();
}

void TestHttpServer::Route(const std::string& target, TestRoute route)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[target] = std::move(route);
}

std::vector<RecordedRequest> TestHttpServer::Requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::size_t TestHttpServer::RequestCount(const std::string& target) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t n = 0;
    for (const RecordedRequest& r : m_requests)
        if (r.target == target)
            ++n;
    return n;
}

void TestHttpServer::ClearRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}

bool TestHttpServer::Pause(int ms) const
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (m_stop)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return !m_stop;
}

void TestHttpServer::AcceptLoop()
{
    socket_t listener = static_cast<socket_t>(m_listener);
    while (!m_stop) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(listener, &set);
        timeval tv{0, 20000};
        int ready = ::select(static_cast<int>(listener) + 1, &set, nullptr, nullptr, &tv);
        if (ready <= 0)
            continue;
        socket_t c = ::accept(listener, nullptr, nullptr);
        if (c == kNoSocket)
            continue;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.emplace_back([this, c] { Serve(static_cast<std::intptr_t>(c)); });
    }
}

void TestHttpServer::Serve(std::intptr_t connection)
{
    socket_t c = static_cast<socket_t>(connection);
    int one = 1;
    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);

    // The request head, up to the empty line.
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(c, &set);
        timeval tv{0, 20000};
        int ready = ::select(static_cast<int>(c) + 1, &set, nullptr, nullptr, &tv);
        if (m_stop) {
            CloseSocket(c);
            return;
        }
        if (ready <= 0)
            continue;
        int n = static_cast<int>(::recv(c, buf, sizeof buf, 0));
        if (n <= 0) {
            CloseSocket(c);
            return;
        }
        head.append(buf, static_cast<std::size_t>(n));
    }

    RecordedRequest request;
    std::size_t end = head.find("\r\n\r\n");
    request.raw = head.substr(0, end == std::string::npos ? head.size() : end + 4);
    std::size_t lineEnd = request.raw.find("\r\n");
    request.requestLine = request.raw.substr(0, lineEnd);
    {
        std::size_t a = request.requestLine.find(' ');
        std::size_t b = a == std::string::npos ? a : request.requestLine.find(' ', a + 1);
        request.method = request.requestLine.substr(0, a);
        if (a != std::string::npos)
            request.target = request.requestLine.substr(a + 1, b == std::string::npos ? b : b - a - 1);
        if (b != std::string::npos)
            request.version = request.requestLine.substr(b + 1);
    }
    std::size_t pos = lineEnd == std::string::npos ? request.raw.size() : lineEnd + 2;
    while (pos < request.raw.size()) {
        std::size_t e = request.raw.find("\r\n", pos);
        if (e == std::string::npos || e == pos)
            break;
        std::string line = request.raw.substr(pos, e - pos);
        std::size_t colon = line.find(':');
        if (colon != std::string::npos)
            request.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
        pos = e + 2;
    }

    TestRoute route;
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(request);
        auto it = m_routes.find(request.target);
        if (it != m_routes.end()) {
            route = it->second;
            found = true;
            if (route.cutAfter && it->second.cutAnswers) {
                if (*it->second.cutAnswers == 0)
                    route.cutAfter.reset();
                else
                    --*it->second.cutAnswers;
            }
        }
    }
    if (!found) {
        route.status = 404;
        route.reason = "Not Found";
        route.body = "not found";
    }

    if (route.neverAnswer) {
        while (Pause(50)) {
        }
        CloseSocket(c);
        return;
    }
    if (route.delayBeforeMs > 0 && !Pause(route.delayBeforeMs)) {
        CloseSocket(c);
        return;
    }

    std::string body = route.generated ? GeneratedBody(*route.generated) : route.body;
    std::string response = "HTTP/1.1 " + std::to_string(route.status) + " " + route.reason + "\r\n";
    response += "Server: vexa-test\r\nConnection: close\r\n";
    if (route.chunked)
        response += "Transfer-Encoding: chunked\r\n";
    else if (route.declaredLength)
        response += "Content-Length: " + std::to_string(*route.declaredLength) + "\r\n";
    else if (route.contentLength)
        response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    for (const auto& h : route.headers)
        response += h.first + ": " + h.second + "\r\n";
    response += "\r\n";
    if (!SendAll(c, response.data(), response.size()) || request.method == "HEAD") {
        CloseSocket(c);
        return;
    }

    std::size_t limit = route.cutAfter ? (*route.cutAfter < body.size() ? *route.cutAfter : body.size()) : body.size();
    std::size_t step = route.chunkSize ? route.chunkSize : (limit ? limit : 1);
    std::size_t sent = 0;
    bool ok = true;
    while (ok && sent < limit) {
        std::size_t n = limit - sent < step ? limit - sent : step;
        if (route.chunked) {
            char size[32];
            std::snprintf(size, sizeof size, "%zx\r\n", n);
            std::string chunk = size + body.substr(sent, n) + "\r\n";
            ok = SendAll(c, chunk.data(), chunk.size());
        } else {
            ok = SendAll(c, body.data() + sent, n);
        }
        sent += n;
        if (ok && route.delayBetweenMs > 0 && !Pause(route.delayBetweenMs))
            ok = false;
    }

    if (route.cutAfter) {
        if (route.reset)
            ResetConnection(c);
        else
            CloseSocket(c);
        return;
    }
    if (ok && route.chunked)
        SendAll(c, "0\r\n\r\n", 5);
#ifdef _WIN32
    ::shutdown(c, SD_SEND);
#else
    ::shutdown(c, SHUT_WR);
#endif
    // Let the client read everything before the socket goes.
    char drain[256];
    for (int i = 0; i < 100 && !m_stop; ++i) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(c, &set);
        timeval tv{0, 20000};
        if (::select(static_cast<int>(c) + 1, &set, nullptr, nullptr, &tv) > 0 &&
            ::recv(c, drain, sizeof drain, 0) <= 0)
            break;
    }
    CloseSocket(c);
}

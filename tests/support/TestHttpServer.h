#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// What the test server answers for one request target.
struct TestRoute {
    int status = 200;
    std::string reason = "OK";
    std::string body;                     // the body, unless generated is set
    std::optional<std::size_t> generated; // a generated body of this many bytes (see GeneratedByte)
    std::vector<std::pair<std::string, std::string>> headers; // further response headers
    bool contentLength = true;            // send Content-Length with the body's real length
    std::optional<std::uint64_t> declaredLength; // send this Content-Length instead
    bool chunked = false;                 // chunked transfer coding, no Content-Length
    std::size_t chunkSize = 0;            // bytes per write (and per chunk); 0 = all at once
    int delayBeforeMs = 0;                // wait before the status line
    int delayBetweenMs = 0;               // wait after each write of the body
    std::optional<std::size_t> cutAfter;  // end the connection after this many body bytes
    bool reset = false;                   // with cutAfter: reset the connection instead of closing it
    std::optional<std::size_t> cutAnswers; // with cutAfter: cut only this many answers, then answer whole
    bool neverAnswer = false;             // read the request, then answer nothing until Stop
};

// One request as it arrived.
struct RecordedRequest {
    std::string requestLine;
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string raw; // request line and headers, as received

    // The first header of that name (compared without regard to ASCII case), or nothing.
    std::optional<std::string> Header(const std::string& name) const;
};

// A scriptable HTTP server on a free loopback port, for tests. Every connection is
// served on a thread of its own; Stop (or the destructor) ends them all.
class TestHttpServer {
public:
    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Listens on 127.0.0.1 at this port, or at one the system chooses when it is 0;
    // false when it cannot.
    bool Start(std::uint16_t port = 0);
    void Stop();

    std::uint16_t Port() const { return m_port; }
    // "http://127.0.0.1:<port>"
    std::string BaseUrl() const;

    // The answer for a request target (path and query as sent). Targets without a
    // route get 404.
    void Route(const std::string& target, TestRoute route);

    std::vector<RecordedRequest> Requests() const;
    std::size_t RequestCount(const std::string& target) const;
    void ClearRequests();

    // The generated body: byte i is a fixed function of i.
    static unsigned char GeneratedByte(std::size_t i);
    static std::string GeneratedBody(std::size_t length);

private:
    void AcceptLoop();
    void Serve(std::intptr_t connection);
    bool Pause(int ms) const; // false when the server stops meanwhile

    std::intptr_t m_listener = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptThread;

    mutable std::mutex m_mutex;
    std::map<std::string, TestRoute> m_routes;
    std::vector<RecordedRequest> m_requests;
    std::vector<std::thread> m_connections;
    std::vector<std::intptr_t> m_openSockets;
};

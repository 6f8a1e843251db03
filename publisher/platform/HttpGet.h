#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HttpResponse.h"

// One plain HTTP/1.0 GET as the clients send it, over a socket of its own
// (POSIX sockets or Winsock), read with CHttpResponseParser.
struct HttpGetResult {
    bool ok = false;           // a complete response arrived (any status)
    std::string error;         // why not, in English
    HttpResponseHead head;     // as far as it arrived
    std::uint64_t bodyBytes = 0;
    std::uint32_t crc = 0;     // the clients' checksum of the body
    std::vector<std::uint8_t> body; // kept when asked for
};

struct HttpGetOptions {
    bool zorvaneHeaders = false; // Zorvane's Accept and User-Agent; Quillet sends none
    bool keepBody = false;
    bool headOnly = false;       // stop once the status line and headers have arrived
    int timeoutMs = 30000;       // per connect, send and receive
};

HttpGetResult HttpGet(const std::string& host, std::uint16_t port, const std::string& target,
                      const HttpGetOptions& options);

#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <memory>
#include <string>

#include "Exception.h"
#include "Handle.h"

// An internet handle. The status callback is cleared before the handle closes,
// so that no notification can reach an object that is going away.
struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Null() noexcept { return nullptr; }
    static bool IsLive(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept
    {
        ::InternetSetStatusCallbackW(h, nullptr);
        ::InternetCloseHandle(h);
    }
};
using CInternetHandle = CHandle<InternetHandleTraits>;

// A failure of the HTTP layer, with the error code captured at the failing call.
class CInternetException : public CException {
public:
    explicit CInternetException(DWORD error) : m_dwError(error) {}
    DWORD m_dwError;
    std::wstring Describe() const override;
};

// Service types answered by AfxParseURL.
enum : DWORD {
    AFX_INET_SERVICE_UNK = 0x1000,
    AFX_INET_SERVICE_FTP = INTERNET_SERVICE_FTP,
    AFX_INET_SERVICE_GOPHER = INTERNET_SERVICE_GOPHER,
    AFX_INET_SERVICE_HTTP = INTERNET_SERVICE_HTTP,
    AFX_INET_SERVICE_HTTPS = 0x1001,
    AFX_INET_SERVICE_FILE = 0x1002,
    AFX_INET_SERVICE_MAILTO = 0x1003,
    AFX_INET_SERVICE_NEWS = 0x1004,
    AFX_INET_SERVICE_NNTP = 0x1005,
    AFX_INET_SERVICE_TELNET = 0x1006,
    AFX_INET_SERVICE_WAIS = 0x1007,
};

// Splits a URL into service type, server, object (path and query) and port; the
// port is the scheme's default when the URL names none. False for a text that is
// not an absolute URL.
bool AfxParseURL(const std::wstring& url, DWORD& serviceType, std::wstring& server, std::wstring& object,
                 INTERNET_PORT& port);

class CHttpFile {
public:
    explicit CHttpFile(HINTERNET request) noexcept : m_request(request) {}
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;
    ~CHttpFile() = default;

    void AddRequestHeaders(const std::wstring& headers, DWORD modifiers);
    void SendRequest();
    void QueryInfoStatusCode(DWORD& status);
    // The Content-Length the server sent; false when it sent none (or no number).
    bool QueryInfoContentLength(std::uint64_t& length) noexcept;
    // Up to count body bytes; 0 at the end of the body.
    unsigned Read(void* buffer, unsigned count);
    // A numeric request option (a timeout, for example); false when it is refused.
    bool SetOption(DWORD option, DWORD value) noexcept;
    void Close() noexcept { m_request.Reset(); }

    HINTERNET Handle() const noexcept { return m_request.Get(); }

private:
    CInternetHandle m_request;
};

class CHttpConnection {
public:
    explicit CHttpConnection(HINTERNET connection) noexcept : m_connection(connection) {}
    CHttpConnection(const CHttpConnection&) = delete;
    CHttpConnection& operator=(const CHttpConnection&) = delete;
    ~CHttpConnection() = default;

    // version null lets WinINet choose; callers that need HTTP/1.0 on the wire say so.
    std::unique_ptr<CHttpFile> OpenRequest(const wchar_t* verb, const std::wstring& object, const wchar_t* referrer,
                                           DWORD_PTR context, const wchar_t** acceptTypes, const wchar_t* version,
                                           DWORD flags);
    void Close() noexcept { m_connection.Reset(); }

private:
    CInternetHandle m_connection;
};

class CInternetSession {
public:
    CInternetSession(const wchar_t* agent, DWORD_PTR context, DWORD accessType, const wchar_t* proxyName,
                     const wchar_t* proxyBypass, DWORD flags);
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;
    ~CInternetSession() = default;

    std::unique_ptr<CHttpConnection> GetHttpConnection(const std::wstring& server, INTERNET_PORT port,
                                                       const wchar_t* userName = nullptr,
                                                       const wchar_t* password = nullptr);
    void Close() noexcept { m_session.Reset(); }

    DWORD_PTR Context() const noexcept { return m_context; }

private:
    CInternetHandle m_session;
    DWORD_PTR m_context;
};

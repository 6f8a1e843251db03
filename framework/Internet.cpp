#include "Internet.h"

#include "Url.h"

namespace {

[[noreturn]] void ThrowLastError()
{
    DWORD error = ::GetLastError();
    throw CInternetException(error != 0 ? error : ERROR_INTERNET_INTERNAL_ERROR);
}

DWORD ServiceTypeOf(UrlService service)
{
    switch (service) {
    case UrlService::Http: return AFX_INET_SERVICE_HTTP;
    case UrlService::Https: return AFX_INET_SERVICE_HTTPS;
    case UrlService::Ftp: return AFX_INET_SERVICE_FTP;
    case UrlService::Gopher: return AFX_INET_SERVICE_GOPHER;
    case UrlService::File: return AFX_INET_SERVICE_FILE;
    case UrlService::Mailto: return AFX_INET_SERVICE_MAILTO;
    case UrlService::News: return AFX_INET_SERVICE_NEWS;
    case UrlService::Nntp: return AFX_INET_SERVICE_NNTP;
    case UrlService::Telnet: return AFX_INET_SERVICE_TELNET;
    case UrlService::Wais: return AFX_INET_SERVICE_WAIS;
    default: return AFX_INET_SERVICE_UNK;
    }
}

} // namespace

std::wstring CInternetException::Describe() const
{
    return L"internet error " + std::to_wstring(m_dwError);
}

bool AfxParseURL(const std::wstring& url, DWORD& serviceType, std::wstring& server, std::wstring& object,
                 INTERNET_PORT& port)
{
    std::optional<ParsedUrl> parsed = ParseUrl(url);
    if (!parsed) {
        serviceType = AFX_INET_SERVICE_UNK;
        return false;
    }
    serviceType = ServiceTypeOf(parsed->service);
    server = parsed->server;
    object = parsed->object;
    port = parsed->port;
    return true;
}

void CHttpFile::AddRequestHeaders(const std::wstring& headers, DWORD modifiers)
{
    if (!::HttpAddRequestHeadersW(m_request.Get(), headers.c_str(), static_cast<DWORD>(-1), modifiers))
        ThrowLastError();
}

void CHttpFile::SendRequest()
{
    if (!::HttpSendRequestW(m_request.Get(), nullptr, 0, nullptr, 0))
        ThrowLastError();
}

void CHttpFile::QueryInfoStatusCode(DWORD& status)
{
    DWORD size = sizeof(status);
    DWORD index = 0;
    if (!::HttpQueryInfoW(m_request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index))
        ThrowLastError();
}

bool CHttpFile::QueryInfoContentLength(std::uint64_t& length) noexcept
{
    // As text: a length past 4 GiB does not fit the component's number form.
    wchar_t text[32] = {};
    DWORD size = sizeof text - sizeof text[0];
    DWORD index = 0;
    if (!::HttpQueryInfoW(m_request.Get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, &index))
        return false;
    std::uint64_t value = 0;
    const wchar_t* p = text;
    if (*p < L'0' || *p > L'9')
        return false;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        if (value > (UINT64_MAX - 9) / 10)
            return false;
        value = value * 10 + static_cast<std::uint64_t>(*p - L'0');
    }
    if (*p != L'\0')
        return false;
    length = value;
    return true;
}

bool CHttpFile::SetOption(DWORD option, DWORD value) noexcept
{
    return m_request && ::InternetSetOptionW(m_request.Get(), option, &value, sizeof value) != FALSE;
}

unsigned CHttpFile::Read(void* buffer, unsigned count)
{
    DWORD read = 0;
    if (!::InternetReadFile(m_request.Get(), buffer, count, &read))
        ThrowLastError();
    return read;
}

std::unique_ptr<CHttpFile> CHttpConnection::OpenRequest(const wchar_t* verb, const std::wstring& object,
                                                        const wchar_t* referrer, DWORD_PTR context,
                                                        const wchar_t** acceptTypes, const wchar_t* version,
                                                        DWORD flags)
{
    HINTERNET request =
        ::HttpOpenRequestW(m_connection.Get(), verb, object.c_str(), version, referrer, acceptTypes, flags, context);
    if (!request)
        ThrowLastError();
    return std::make_unique<CHttpFile>(request);
}

CInternetSession::CInternetSession(const wchar_t* agent, DWORD_PTR context, DWORD accessType,
                                   const wchar_t* proxyName, const wchar_t* proxyBypass, DWORD flags)
    : m_context(context)
{
    HINTERNET session = ::InternetOpenW(agent, accessType, proxyName, proxyBypass, flags);
    if (!session)
        ThrowLastError();
    m_session.Reset(session);
}

std::unique_ptr<CHttpConnection> CInternetSession::GetHttpConnection(const std::wstring& server, INTERNET_PORT port,
                                                                     const wchar_t* userName, const wchar_t* password)
{
    if (!m_session)
        throw CInternetException(ERROR_INVALID_HANDLE);
    HINTERNET connection = ::InternetConnectW(m_session.Get(), server.c_str(), port, userName, password,
                                              INTERNET_SERVICE_HTTP, 0, m_context);
    if (!connection)
        ThrowLastError();
    return std::make_unique<CHttpConnection>(connection);
}

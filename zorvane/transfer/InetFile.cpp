#include "InetFile.h"

#include <memory>

#include "Delivery.h"
#include "File.h"
#include "Internet.h"

const wchar_t* const TEXT_CONNECT_FAILED = L"连接服务器失败, 请检查网络或联系管理员";
const wchar_t* const TEXT_BAD_URL = L"URL解析错误, 请选择其他服务器进行尝试";
const wchar_t* const TEXT_BAD_STATUS = L"取得服务器文件失败, 请选择其他服务器进行尝试";
const wchar_t* const TEXT_LOCAL_FILE = L"创建本地文件失败";

namespace {
const wchar_t* const kAgent = L"Quillet - MFC App";
const wchar_t* const kHeaders = L"Accept: */*\r\nUser-Agent: Quillet_Tamsk\r\n";
} // namespace

CInetFile::CInetFile() : ErrorText(TEXT_CONNECT_FAILED)
{
}

CInetFile::~CInetFile()
{
    Cancel = true;
    Wait();
}

bool CInetFile::Start()
{
    ++StartCount;
    Wait();
    Cancel = false;
    Result = TRANSFER_PENDING;
    WroteLocalFile = false;
    return CTaskThread::Start();
}

std::wstring CInetFile::LocalPath() const
{
    return Kind == KIND_FILE ? TargetPath + L".update" : TargetPath;
}

void CInetFile::Run()
{
    std::uint32_t code = TRANSFER_OK;
    std::unique_ptr<CInternetSession> session;
    try {
        session = std::make_unique<CInternetSession>(kAgent, 1, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    } catch (const CInternetException&) {
        // Without a session there is nothing to fetch with; the run still ends
        // with its one completion.
        PostDone(TRANSFER_HTTP_FAILED);
        return;
    } catch (const std::bad_alloc&) {
        PostDone(TRANSFER_HTTP_FAILED);
        return;
    }

    std::unique_ptr<CHttpConnection> connection;
    std::unique_ptr<CHttpFile> request;
    try {
        DWORD service = 0;
        std::wstring server;
        std::wstring object;
        INTERNET_PORT port = 0;
        if (!AfxParseURL(URL, service, server, object, port) || service != AFX_INET_SERVICE_HTTP) {
            ErrorText = TEXT_BAD_URL;
            throw CInetFileException(TRANSFER_BAD_URL);
        }

        connection = session->GetHttpConnection(server, port);
        request = connection->OpenRequest(L"GET", object, nullptr, 1, nullptr, L"HTTP/1.0", INTERNET_FLAG_RELOAD);
        request->AddRequestHeaders(kHeaders, HTTP_ADDREQ_FLAG_ADD_IF_NEW);
        // A server that accepts and then says nothing must not hold the run
        // forever: the limits are set on the request itself, where every
        // implementation of the component takes them.
        for (DWORD option :
             {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
            request->SetOption(option, TRANSFER_SILENCE_LIMIT_MS);
        request->SendRequest();

        DWORD status = 0;
        request->QueryInfoStatusCode(status);
        if (status != 200) {
            ErrorText = TEXT_BAD_STATUS;
            throw CInetFileException(TRANSFER_BAD_STATUS);
        }

        const std::wstring path = LocalPath();
        // The list's temporary file may be deleted by the session while it is
        // written: a session that ends leaves nothing in the temporary folder.
        const unsigned mode =
            CFile::modeCreate | CFile::modeWrite | (Kind == KIND_UPDATE_LIST ? unsigned(CFile::shareDelete) : 0u);
        if (Cancel)
            throw CInetFileException(TRANSFER_CANCELLED);
        CFile file;
        if (!file.Open(path, mode)) {
            CreateFolders(path);
            if (!file.Open(path, mode)) {
                ErrorText = TEXT_LOCAL_FILE;
                throw CInetFileException(TRANSFER_LOCAL_FILE);
            }
        }
        WroteLocalFile = true;

        // A body that ends before the length its own server announced was cut
        // short: it fails like a broken connection, so that a truncated file
        // never replaces an installed one. Without a length, the end of the
        // connection ends the body.
        std::uint64_t announced = 0;
        const bool hasLength = request->QueryInfoContentLength(announced);
        std::uint64_t received = 0;

        BytesReceived = 0;
        for (;;) {
            unsigned n = request->Read(m_buffer, sizeof m_buffer);
            if (n == 0) {
                if (hasLength && received < announced)
                    code = TRANSFER_HTTP_FAILED;
                break;
            }
            received += n;
            // A write that fails (a full disk) ends the run like a file that
            // cannot be created; the partial file stays closed on disk.
            if (!file.Write(m_buffer, n)) {
                ErrorText = TEXT_LOCAL_FILE;
                throw CInetFileException(TRANSFER_LOCAL_FILE);
            }
            BytesReceived += static_cast<std::int32_t>(n);
            if (NotifyWindow)
                ::PostMessageW(NotifyWindow, WM_TRANSFER_PROGRESS, MakeNoticeParam(Kind, n),
                               reinterpret_cast<LPARAM>(this));
            if (Cancel) {
                code = TRANSFER_CANCELLED;
                break;
            }
        }
        file.Close();
    } catch (const CInternetException&) {
        code = TRANSFER_HTTP_FAILED;
    } catch (const CInetFileException& e) {
        code = e.Code();
    } catch (const std::bad_alloc&) {
        code = TRANSFER_HTTP_FAILED;
    }

    if (request)
        request->Close();
    request.reset();
    if (connection)
        connection->Close();
    connection.reset();
    session->Close();
    PostDone(code);
    session.reset();
}

void CInetFile::CreateFolders(const std::wstring& path)
{
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] != L'\\')
            continue;
        std::wstring folder = path.substr(0, i);
        if (::CreateDirectoryW(folder.c_str(), nullptr))
            continue;
        DWORD error = ::GetLastError();
        if (error == ERROR_ALREADY_EXISTS)
            continue;
        // A drive root ("C:") answers access denied rather than "exists"; what
        // matters is that the folder is there.
        DWORD attributes = ::GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        ErrorText = TEXT_LOCAL_FILE;
        throw CInetFileException(TRANSFER_LOCAL_FILE);
    }
}

void CInetFile::PostDone(std::uint32_t code)
{
    Result = code;
    HWND wnd = NotifyWindow;
    if (!wnd)
        return;
    // A progress notice may be dropped, the completion must not be: the session
    // waits for it. When the window's queue is full, try again until the window
    // has taken some messages, it is gone, or the transfer is being deleted (its
    // deleter pumps no messages).
    DeliverUntilTaken(
        [&] {
            return ::PostMessageW(wnd, WM_TRANSFER_DONE, MakeNoticeParam(Kind, code), reinterpret_cast<LPARAM>(this)) !=
                   FALSE;
        },
        [&] { return !::IsWindow(wnd) || Cancel; }, [] { ::Sleep(10); });
}

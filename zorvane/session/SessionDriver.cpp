// The session driver of the session window: the update list, the selection, one
// transfer after the other, installation and the start of the hall.
#include "UpdateDlg.h"

#include <memory>
#include <new>

#include "File.h"
#include "WinApp.h"

namespace {

std::wstring TempListFile()
{
    wchar_t folder[MAX_PATH + 1] = {};
    if (::GetTempPathW(MAX_PATH, folder) == 0)
        return std::wstring();
    wchar_t file[MAX_PATH + 1] = {};
    if (::GetTempFileNameW(folder, L"Xml", 0, file) == 0)
        return std::wstring();
    return file;
}

// Reads a whole text file in the system's ANSI code page.
bool ReadAnsiText(const std::wstring& path, std::wstring& text)
{
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyNone))
        return false;
    std::string bytes;
    char buffer[4096];
    for (unsigned n; (n = file.Read(buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, n);
    text.clear();
    if (bytes.empty())
        return true;
    int length = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    text.resize(static_cast<size_t>(length));
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], length);
    return true;
}

} // namespace

std::wstring SetAsidePath(const std::wstring& finalPlace)
{
    return finalPlace + L".replaced";
}

void CUpdateDlg::SetStatus(const std::wstring& text)
{
    m_status = text; // painted on the next repaint tick
}

void CUpdateDlg::StartSession(const std::wstring& /*address*/)
{
    // The server-list address is checked at start-up but not fetched: the update
    // list always comes from the first server, the built-in one.
    m_updateList.Clear();
    SetStatus(TEXT_FETCHING_SERVER_LIST);
    m_totalReceived = 0;
    StartUpdateListTransfer();
}

// A transfer of this kind that reports to the window; nullptr when the system
// cannot provide one (memory, or the events of its thread).
CInetFile* CUpdateDlg::NewTransfer(std::int32_t kind)
{
    CInetFile* task = nullptr;
    try {
        task = new CInetFile;
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const CException&) {
        return nullptr;
    }
    task->Kind = kind;
    task->NotifyWindow = m_hWnd;
    return task;
}

void CUpdateDlg::StartUpdateListTransfer()
{
    CServerInfo* server = m_servers.First();
    if (!server)
        return;
    std::wstring temp = TempListFile();
    m_updateList.Clear();
    SetStatus(TextConnecting(server->Name));
    m_totalReceived = 0;

    CInetFile* task = NewTransfer(KIND_UPDATE_LIST);
    if (!task)
        return;
    task->URL = server->URL;
    task->ServerName = server->Name;
    task->TargetPath = temp;
    task->ExpectedLength = 0;
    m_tasks.PushBack(task);
}

void CUpdateDlg::ScheduleNext()
{
    CScopedLock lock(m_sessionLock);
    if (static_cast<std::uint32_t>(m_runningCount) >= static_cast<std::uint32_t>(MAX_RUNNING))
        return;
    CInetFile* task = m_tasks.Front();
    if (!task || task->StartCount != 0)
        return;
    if (task->Kind == KIND_FILE)
        SetStatus(TextUpdatingFile(task->FileName));
    ++m_runningCount;
    if (!task->Start())
        StartFailed(task);
}

void CUpdateDlg::StartFailed(CInetFile* task)
{
    // No thread could run the transfer. It ends like a transfer whose HTTP layer
    // failed, so the user is told and the session goes on to its end instead of
    // waiting for a completion that never comes.
    ::PostMessageW(m_hWnd, WM_TRANSFER_DONE, MakeNoticeParam(task->Kind, TRANSFER_HTTP_FAILED),
                   reinterpret_cast<LPARAM>(task));
}

LRESULT CUpdateDlg::OnTransferProgress(WPARAM wParam, LPARAM lParam)
{
    CScopedLock lock(m_sessionLock);
    auto* task = reinterpret_cast<CInetFile*>(lParam);
    if (!task)
        return 0;
    if (task->ExpectedLength > 0)
        m_filePercent = Percent(static_cast<std::uint32_t>(task->BytesReceived.load()),
                                static_cast<std::uint32_t>(task->ExpectedLength));
    std::uint32_t notice = static_cast<std::uint32_t>(wParam);
    if (NoticeKind(notice) == KIND_FILE) {
        std::uint32_t block = NoticeValue(notice);
        m_totalReceived += block;
        if (m_totalLength > 0) {
            m_totalPercent = Percent(m_totalReceived, m_totalLength);
            std::uint32_t now = ::GetTickCount();
            std::uint32_t elapsed = now - m_lastProgressClock;
            m_lastProgressClock = now;
            m_rateMeter.OnBlock(block, now);
            if (elapsed > 0)
                m_rate = m_rateMeter.Rate();
        }
    }
    AnimateTray(task);
    // Posted notices are taken before timers and painting: a fast transfer would
    // starve both, so the window repaints itself here at the timer's pace.
    DWORD now = ::GetTickCount();
    if (now - m_lastPaintTick >= TIMER_PERIOD_MS) {
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
        ::UpdateWindow(m_hWnd);
    }
    return 0;
}

LRESULT CUpdateDlg::OnTransferDone(WPARAM wParam, LPARAM lParam)
{
    CScopedLock lock(m_sessionLock);
    std::uint32_t notice = static_cast<std::uint32_t>(wParam);
    std::int32_t kind = NoticeKind(notice);
    std::uint32_t code = NoticeValue(notice);
    auto* task = reinterpret_cast<CInetFile*>(lParam);
    if (!task)
        return 0;

    switch (kind) {
    case KIND_UPDATE_LIST:
        HandleUpdateList(task, code);
        break;
    case KIND_FILE:
        HandleFile(task, code);
        break;
    case KIND_SERVER_LIST:
        HandleServerList(task);
        break;
    default:
        break;
    }

    m_tasks.Remove(task);
    if (m_tasks.Count() == 0 && kind == KIND_FILE) {
        SetStatus(TEXT_ALL_DONE);
        LaunchHall();
        PostQuit();
    }
    --m_runningCount;
    return 0;
}

void CUpdateDlg::HandleUpdateList(CInetFile* task, std::uint32_t code)
{
    if (code != TRANSFER_OK) {
        SetStatus(TextListFailed(task->ErrorText, task->ServerName));
        ::DeleteFileW(task->TargetPath.c_str());
        ::MessageBoxW(m_hWnd, task->ErrorText.c_str(), TEXT_SYSTEM_CAPTION, MB_OK | MB_ICONERROR);
        LaunchHall();
        PostQuit();
        return;
    }

    SetStatus(TextListFetched(task->ServerName));
    if (m_updateList.Load(task->TargetPath)) {
        m_fileCount = m_updateList.SelectForUpdate();
        m_totalLength = m_updateList.TotalLength();
        if (m_fileCount == 0) {
            SetStatus(TEXT_UP_TO_DATE);
            LaunchHall();
            PostQuit();
        } else {
            SetStatus(TextUpdateSummary(m_fileCount, m_totalLength));
        }
        while (CFileEntry* entry = m_updateList.PopFront()) {
            std::unique_ptr<CFileEntry> owned(entry);
            CInetFile* file = NewTransfer(KIND_FILE);
            if (!file)
                continue;
            file->URL = entry->URL;
            file->ServerName = task->ServerName;
            file->TargetPath = entry->FullPath;
            file->ExpectedLength = static_cast<std::int32_t>(static_cast<std::uint32_t>(entry->Length));
            file->FileName = entry->FileName;
            file->Register = entry->Register;
            file->ZipFile = entry->ZipFile;
            file->ForceOverwrite = entry->ForceOverwrite;
            file->Execute = entry->Execute;
            file->ExecutePar = entry->ExecutePar;
            m_tasks.PushBack(file);
        }
    }
    ::DeleteFileW(task->TargetPath.c_str());
}

void CUpdateDlg::HandleFile(CInetFile* task, std::uint32_t code)
{
    if (code != TRANSFER_OK) {
        // What arrived of a failed download is of no use (and may fill a disk).
        ::DeleteFileW(task->LocalPath().c_str());
        std::wstring text = TextFileFailed(task->FileName, code);
        SetStatus(text);
        ::MessageBoxW(m_hWnd, TextFileFailedBox(text).c_str(), AfxGetApp() ? AfxGetApp()->m_pszAppName.c_str() : L"",
                      MB_OK);
        PostQuit();
        return;
    }
    if (FileExists(task->TargetPath)) {
        // The installed file is set aside, not deleted, until its replacement is in
        // place: a move that fails must not lose it.
        std::wstring aside = SetAsidePath(task->TargetPath);
        ::DeleteFileW(aside.c_str());
        if (!::MoveFileW(task->TargetPath.c_str(), aside.c_str())) {
            SetStatus(TextDeleteFailed(task->FileName));
            return;
        }
        InstallFile(task, aside);
    } else {
        InstallFile(task);
    }
}

void CUpdateDlg::InstallFile(CInetFile* task, const std::wstring& setAside)
{
    std::wstring temp = task->TargetPath + L".update";
    if (!::MoveFileW(temp.c_str(), task->TargetPath.c_str())) {
        SetStatus(TextRenameFailed(task->FileName));
        if (!setAside.empty())
            ::MoveFileW(setAside.c_str(), task->TargetPath.c_str());
        return;
    }
    if (!setAside.empty() && !::DeleteFileW(setAside.c_str())) {
        // A program that still runs from the old file: remove it when the system restarts.
        ::MoveFileExW(setAside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    SetStatus(TextInstalled(task->FileName));
    if (task->Execute)
        ::ShellExecuteW(nullptr, nullptr, task->TargetPath.c_str(),
                        task->ExecutePar.empty() ? nullptr : task->ExecutePar.c_str(), nullptr, SW_SHOW);
    if (task->Register) {
        // Quoted, so that a path with blanks reaches the tool as one argument.
        std::wstring parameters = L"/s \"" + task->TargetPath + L"\"";
        ::ShellExecuteW(nullptr, nullptr, L"regsvr32", parameters.c_str(), nullptr, SW_SHOW);
    }
}

void CUpdateDlg::HandleServerList(CInetFile* task)
{
    std::wstring text;
    if (!ReadAnsiText(task->TargetPath, text))
        return;
    std::uint32_t added = 0;
    for (const ServerListEntry& e : ParseServerList(text))
        if (m_servers.Add(e.name, e.address))
            ++added;
    SetStatus(added == 0 ? std::wstring(TEXT_SERVER_LIST_FAILED) : TextServerListFetched(added));
    ::DeleteFileW(task->TargetPath.c_str());
}

void CUpdateDlg::LaunchHall()
{
    std::wstring path = AfxModulePath();
    size_t slash = path.find_last_of(L'\\');
    path = (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) + L"Mirabond.exe";
    ::ShellExecuteW(m_hWnd, L"open", path.c_str(), nullptr, nullptr, SW_SHOW);
}

void CUpdateDlg::PostQuit()
{
    ::PostMessageW(m_hWnd, WM_QUIT, 0, 0);
}

// The session driver of the session window: the update list, the selection, one
// transfer after the other, installation and the start of the hall.
#include "UpdateDlg.h"

#include <exception>
#include <memory>
#include <new>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ComHolders.h"
#include "Exception.h"
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
    std::string bytes;
    if (!CFile::ReadAll(path, bytes))
        return false;
    text.clear();
    if (bytes.empty())
        return true;
    int length = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    text.resize(static_cast<size_t>(length));
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], length);
    return true;
}

// A path as it is compared: the platform's file names ignore case, and either
// slash separates.
std::wstring FoldCase(std::wstring path)
{
    if (!path.empty())
        ::CharLowerBuffW(&path[0], static_cast<DWORD>(path.size()));
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

std::wstring FolderOf(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// A set-aside name for finalPlace that no file has; empty when every name is
// taken. A set-aside file that an earlier run left at a name (its old program
// still ran, or it was stopped between two moves) is removed on the way, and one
// still in use is passed over. With earlierOnes (the check found such files for
// this place) every name is tried, so that all of them go.
std::wstring FreeSetAsidePath(const std::wstring& finalPlace, bool earlierOnes)
{
    std::wstring free;
    for (unsigned attempt = 0; attempt < SET_ASIDE_NAMES; ++attempt) {
        std::wstring path = SetAsidePath(finalPlace, attempt);
        const bool gone = ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
                          ::GetLastError() == ERROR_FILE_NOT_FOUND;
        if ((gone || ::DeleteFileW(path.c_str())) && free.empty()) {
            free = std::move(path);
            if (!earlierOnes)
                break;
        }
    }
    return free;
}

// Set-aside files that earlier runs left beside the listed files (a run stopped
// between its two moves or before it deleted the old copy, an old program that
// still ran), under this release's names or the previous one's: those of a file
// that is in place are removed now (one still in use stays). Answers, for each
// place (folded) whose file is missing, its set-aside files, which go once the
// file is installed.
std::unordered_map<std::wstring, std::vector<std::wstring>> RemoveEarlierSetAsides(const CUpdateList& list,
                                                                                  const std::atomic<bool>& stop)
{
    // One search per folder of the listed files; the list's own places are
    // gathered only when something is found.
    std::vector<std::wstring> folders;
    {
        std::unordered_set<std::wstring> seen;
        std::wstring last;
        list.ForEach([&](const CFileEntry& entry) {
            std::wstring folder = FolderOf(entry.FullPath);
            if (folder.empty() || folder == last)
                return;
            last = folder;
            if (seen.insert(FoldCase(folder)).second)
                folders.push_back(std::move(folder));
        });
    }
    std::unordered_set<std::wstring> listed;
    std::unordered_map<std::wstring, std::vector<std::wstring>> missing;
    const auto sweep = [&](const std::wstring& folder, const wchar_t* suffix) {
        WIN32_FIND_DATAW data;
        HANDLE find = ::FindFirstFileW((folder + L"\\*" + suffix + L"*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return;
        do {
            const std::wstring_view owner = SetAsideOwner(data.cFileName);
            if (owner.empty() || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                continue;
            if (listed.empty())
                list.ForEach([&](const CFileEntry& entry) { listed.insert(FoldCase(entry.FullPath)); });
            const std::wstring place = folder + L"\\" + std::wstring(owner);
            if (listed.count(FoldCase(place)) == 0)
                continue;
            // A file that is in place needs no old copy; one still in use stays.
            const std::wstring leftover = folder + L"\\" + data.cFileName;
            if (::GetFileAttributesW(place.c_str()) != INVALID_FILE_ATTRIBUTES)
                ::DeleteFileW(leftover.c_str());
            else
                missing[FoldCase(place)].push_back(leftover);
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    };
    for (const std::wstring& folder : folders) {
        if (stop)
            break;
        sweep(folder, SET_ASIDE_SUFFIX);
        sweep(folder, EARLIER_SET_ASIDE_SUFFIX);
    }
    return missing;
}

} // namespace

void CUpdateDlg::SetStatus(std::wstring text)
{
    m_status = std::move(text); // painted on the next repaint tick
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

void CUpdateDlg::CListFile::Delete() noexcept
{
    if (!path.empty())
        ::DeleteFileW(path.c_str());
    path.clear();
}

void CUpdateDlg::StartUpdateListTransfer()
{
    CServerInfo* server = m_servers.First();
    if (!server)
        return;
    std::wstring temp = TempListFile();
    m_listFile.Delete();
    m_listFile.path = temp;
    m_updateList.Clear();
    SetStatus(TextConnecting(server->Name));
    m_totalReceived = 0;

    std::unique_ptr<CInetFile> task(NewTransfer(KIND_UPDATE_LIST));
    if (task) {
        task->URL = server->URL;
        task->ServerName = server->Name;
        task->TargetPath = temp;
        task->ExpectedLength = 0;
    }
    // Without its first transfer the session would wait for nothing, silently.
    if (!task || !m_tasks.PushBack(task.release()))
        ReportFault();
}

void CUpdateDlg::ScheduleNext()
{
    CScopedLock lock(m_sessionLock);
    if (m_ending)
        return;
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
    task->Result = TRANSFER_HTTP_FAILED;
    ::PostMessageW(m_hWnd, WM_TRANSFER_DONE, MakeNoticeParam(task->Kind, TRANSFER_HTTP_FAILED),
                   reinterpret_cast<LPARAM>(task));
}

LRESULT CUpdateDlg::OnTransferProgress(WPARAM wParam, LPARAM lParam)
{
    CScopedLock lock(m_sessionLock);
    // Any program may post this notice with any value. Only the transfer that
    // runs, the head of the queue, reports progress; nothing else is looked at.
    auto* task = reinterpret_cast<CInetFile*>(lParam);
    if (!task || task != m_tasks.Front())
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

LRESULT CUpdateDlg::OnTransferDone(WPARAM, LPARAM lParam)
{
    CScopedLock lock(m_sessionLock);
    // Any program may post this notice with any value. Only the transfer that
    // runs, the head of the queue, can have ended, and its end is taken once,
    // with the kind and result it recorded itself; any other notice is ignored.
    auto* task = reinterpret_cast<CInetFile*>(lParam);
    if (!task || task != m_tasks.Front())
        return 0;
    const std::uint32_t code = task->Result.exchange(TRANSFER_PENDING);
    if (code == TRANSFER_PENDING)
        return 0;
    const std::int32_t kind = task->Kind;

    {
        // However the handling ends (an exception included), the transfer leaves
        // the queue and stops counting as running.
        struct Finish {
            CUpdateDlg& dlg;
            CInetFile* task;
            ~Finish()
            {
                dlg.m_tasks.Remove(task);
                if (dlg.m_runningCount > 0)
                    --dlg.m_runningCount;
            }
        } finish{*this, task};

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
    }

    // A fault that the user was told of ends the session as incomplete, also when
    // the last file's completion is handled while the message is shown.
    if (m_tasks.Count() == 0 && kind == KIND_FILE && !m_faulted) {
        SetStatus(TEXT_ALL_DONE);
        LaunchHall();
        PostQuit();
    }
    // The next transfer starts as soon as this completion has been handled, not
    // on the next tick: an update of many small files would otherwise wait a tick
    // per file. The order, the texts and the counts are the tick's.
    ScheduleNext();
    return 0;
}

bool CUpdateDlg::RunBeside(const std::function<void(const std::atomic<bool>& stop)>& work)
{
    // The session lock stays held, as during a message box: timer steps and
    // notices are handled meanwhile, and the running transfer (the one whose end
    // is being handled) keeps any other from starting.
    std::atomic<bool> stop{false};
    std::exception_ptr failure;
    CKernelHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done)
        throw CResourceException(::GetLastError());
    HANDLE doneEvent = done.Get();
    std::thread worker([&work, &stop, &failure, doneEvent] {
        try {
            work(stop);
        } catch (...) {
            failure = std::current_exception();
        }
        ::SetEvent(doneEvent);
    });

    bool quit = false;
    WPARAM quitCode = 0;
    // Messages already queued (timer ticks the modal loop has seen) do not wake
    // a plain wait: it waits here for the work or for any input at all.
    do {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
                continue;
            }
            if (!::IsDialogMessageW(m_hWnd, &msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
        // Esc, the close command or a quit request end the window's run: the work
        // is asked to stop, and this waits only until it has.
        if (quit || !InModalRun())
            stop = true;
    } while (::MsgWaitForMultipleObjectsEx(1, &doneEvent, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0);
    worker.join();
    if (quit)
        ::PostQuitMessage(static_cast<int>(quitCode)); // for the modal loop, which ends on it
    if (failure)
        std::rethrow_exception(failure);
    return !stop;
}

void CUpdateDlg::EndIncomplete(const std::wstring& text)
{
    // As a failed download ends the session: the user is told, and the hall is
    // not started as after a complete update.
    m_ending = true;
    SetStatus(text);
    ::MessageBoxW(m_hWnd, text.c_str(), TEXT_SYSTEM_CAPTION, MB_OK | MB_ICONERROR);
    PostQuit();
}

void CUpdateDlg::OnException(UINT) noexcept
{
    ReportFault();
}

void CUpdateDlg::ReportFault() noexcept
{
    // Memory or a system resource ran out somewhere in the session's work. The
    // handlers leave the queue and the files consistent, but what the session
    // has not done yet cannot be trusted to follow: the user is told, and the
    // session ends without the hall. A later failure (while the message is
    // shown, say) adds nothing: the quit request follows the message.
    if (m_faulted)
        return;
    m_faulted = true;
    m_ending = true;
    try {
        SetStatus(TEXT_SESSION_FAULT);
    } catch (...) {
    }
    ::MessageBoxW(m_hWnd, TEXT_SESSION_FAULT, TEXT_SYSTEM_CAPTION, MB_OK | MB_ICONERROR);
    PostQuit();
}

void CUpdateDlg::HandleUpdateList(CInetFile* task, std::uint32_t code)
{
    if (code != TRANSFER_OK) {
        SetStatus(TextListFailed(task->ErrorText, task->ServerName));
        m_listFile.Delete();
        ::MessageBoxW(m_hWnd, task->ErrorText.c_str(), TEXT_SYSTEM_CAPTION, MB_OK | MB_ICONERROR);
        LaunchHall();
        PostQuit();
        return;
    }

    SetStatus(TextListFetched(task->ServerName));
    // The list is read whole and its file deleted before the long check: the
    // close button ends the program at once, and the temporary folder must not
    // keep the list then.
    std::string document;
    const bool read = CFile::ReadAll(task->TargetPath, document);
    m_listFile.Delete();

    // A large client takes seconds to read and check: that runs on a thread of
    // its own while this one keeps the window painting and answering.
    bool loaded = false;
    unsigned count = 0;
    std::uint32_t total = 0;
    std::unordered_map<std::wstring, std::vector<std::wstring>> leftovers;
    const bool finished = RunBeside([&](const std::atomic<bool>& stop) {
        CComInit com;
        loaded = read && m_updateList.LoadBytes(document, &stop);
        std::string().swap(document);
        if (loaded) {
            leftovers = RemoveEarlierSetAsides(m_updateList, stop);
            count = m_updateList.SelectForUpdate(&stop);
            total = m_updateList.TotalLength();
        }
    });
    if (!finished || !loaded)
        return; // the window is ending, or the list is unreadable and the window waits

    m_earlierSetAsides = std::move(leftovers);
    m_fileCount = count;
    m_totalLength = total;
    if (m_fileCount == 0) {
        SetStatus(TEXT_UP_TO_DATE);
        LaunchHall();
        PostQuit();
    } else {
        SetStatus(TextUpdateSummary(m_fileCount, m_totalLength));
    }
    while (CFileEntry* entry = m_updateList.PopFront()) {
        std::unique_ptr<CFileEntry> owned(entry);
        std::unique_ptr<CInetFile> file(NewTransfer(KIND_FILE));
        if (file) {
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
        }
        if (!file || !m_tasks.PushBack(file.release())) {
            // A file that cannot be fetched makes the update incomplete; the
            // session ends here, before any download, rather than later as if
            // it had all arrived.
            m_updateList.Clear();
            EndIncomplete(TextNotQueued(entry->FileName));
            return;
        }
    }
}

void CUpdateDlg::HandleFile(CInetFile* task, std::uint32_t code)
{
    if (code != TRANSFER_OK) {
        // What arrived of a failed download is of no use (and may fill a disk).
        // A file of that name that this run did not write is not its to delete.
        if (task->WroteLocalFile)
            ::DeleteFileW(task->LocalPath().c_str());
        std::wstring text = TextFileFailed(task->FileName, code);
        SetStatus(text);
        ::MessageBoxW(m_hWnd, TextFileFailedBox(text).c_str(), AfxGetApp() ? AfxGetApp()->m_pszAppName.c_str() : L"",
                      MB_OK);
        PostQuit();
        return;
    }
    const auto earlier = m_earlierSetAsides.find(FoldCase(task->TargetPath));
    const bool earlierOnes = earlier != m_earlierSetAsides.end();
    if (FileExists(task->TargetPath)) {
        // The installed file is set aside, not deleted, until its replacement is in
        // place: a move that fails must not lose it.
        std::wstring aside = FreeSetAsidePath(task->TargetPath, earlierOnes);
        std::wstring failed = TextDeleteFailed(task->FileName);
        if (aside.empty() || !::MoveFileW(task->TargetPath.c_str(), aside.c_str())) {
            SetStatus(std::move(failed));
            return;
        }
        InstallFile(task, aside);
    } else if (InstallFile(task) && earlierOnes) {
        // An earlier run was stopped between its two moves: its old copies go
        // now that the file is in place.
        for (const std::wstring& leftover : earlier->second)
            ::DeleteFileW(leftover.c_str());
    }
}

bool CUpdateDlg::InstallFile(CInetFile* task, const std::wstring& setAside)
{
    // Every text and name is made before the first move: a failure of memory
    // must not stop the installation between two moves.
    const std::wstring temp = task->LocalPath();
    std::wstring renameFailed = TextRenameFailed(task->FileName);
    std::wstring installed = TextInstalled(task->FileName);
    // Quoted, so that a path with blanks reaches the tool as one argument.
    const std::wstring parameters = L"/s \"" + task->TargetPath + L"\"";
    if (!::MoveFileW(temp.c_str(), task->TargetPath.c_str())) {
        if (!setAside.empty())
            ::MoveFileW(setAside.c_str(), task->TargetPath.c_str());
        SetStatus(std::move(renameFailed));
        return false;
    }
    if (!setAside.empty() && !::DeleteFileW(setAside.c_str())) {
        // A program that still runs from the old file: remove it when the system
        // restarts, or when a later run installs this file again.
        ::MoveFileExW(setAside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    SetStatus(std::move(installed));
    if (task->Execute)
        ::ShellExecuteW(nullptr, nullptr, task->TargetPath.c_str(),
                        task->ExecutePar.empty() ? nullptr : task->ExecutePar.c_str(), nullptr, SW_SHOW);
    if (task->Register)
        ::ShellExecuteW(nullptr, nullptr, L"regsvr32", parameters.c_str(), nullptr, SW_SHOW);
    return true;
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
    m_ending = true;
    ::PostMessageW(m_hWnd, WM_QUIT, 0, 0);
}

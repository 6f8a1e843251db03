#include "Updater.h"

#include <process.h>

#include <unordered_set>

#include "CodePageText.h"
#include "StartupRules.h"
#include "SystemCodePage.h"
#include "WinApp.h"

namespace {
// Where the run keeps the file list.
const char kWorkFolder[] = "updatetmp";
} // namespace

CUpdater::CUpdater() : m_programFolder(ProgramFolderOf(AfxModulePathA(), SystemLeadBytes()))
{
}

CUpdater::~CUpdater()
{
    StopUpdateThread();
}

void CUpdater::LoadUpdateServers()
{
    m_servers = ::LoadUpdateServers("updatelist.ini");
}

std::string CUpdater::StatusText() const
{
    return m_status.Copy();
}

std::vector<FileEntry> CUpdater::DownloadList() const
{
    CScopedLock lock(m_listLock);
    return m_downloadList;
}

bool CUpdater::PickUpdateServer(std::int32_t kind)
{
    if (m_servers.empty())
        return false;
    return PickUpdateServerWith(kind, UpdateRandom().Next());
}

bool CUpdater::PickUpdateServerWith(std::int32_t kind, int draw)
{
    int index = PickServerIndex(m_servers, kind, draw);
    if (index < 0)
        return false;
    const UpdateServer& server = m_servers[static_cast<std::size_t>(index)];
    m_host = server.host;
    m_port = ServerPort(server);

    StopUpdateThread();
    HANDLE thread = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, UpdateEntry, this, 0, nullptr));
    if (!thread)
        return false;
    m_updateThread.Reset(thread);
    return true;
}

bool CUpdater::WaitUpdateThread(DWORD timeoutMs)
{
    if (!m_updateThread)
        return true;
    if (::WaitForSingleObject(m_updateThread.Get(), timeoutMs) != WAIT_OBJECT_0)
        return false;
    m_updateThread.Reset();
    return true;
}

bool CUpdater::StopUpdateThread(DWORD waitMs)
{
    if (m_updateThread) {
        RequestCancel();
        if (::WaitForSingleObject(m_updateThread.Get(), waitMs) != WAIT_OBJECT_0)
            return false;
        m_updateThread.Reset();
    }
    ClearCancel();
    return true;
}

unsigned __stdcall CUpdater::UpdateEntry(void* parameter)
{
    static_cast<CUpdater*>(parameter)->ThreadMain();
    return 0;
}

void CUpdater::ThreadMain()
{
    bool result = false;
    try {
        result = RunUpdate();
    } catch (...) {
        // Nothing leaves the thread: an exception (out of memory) fails the run.
        result = false;
    }
    if (Cancelled())
        return;
    m_updateSucceeded = result;
    m_overallProgress = PROGRESS_FULL;
    Invalidate(AREA_OVERALL_BAR);
    if (m_window)
        ::PostMessageA(m_window, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
}

void CUpdater::Invalidate(const Area& area)
{
    if (!m_window)
        return;
    RECT rc{area.left, area.top, area.left + area.width, area.top + area.height};
    ::InvalidateRect(m_window, &rc, TRUE);
}

void CUpdater::OnProgress(int code, int value)
{
    if (code != NOTIFY_PROGRESS)
        return;
    m_fileProgress = value;
    Invalidate(AREA_FILE_BAR);
    std::int32_t count = m_entryCount;
    if (count > 0) {
        m_overallProgress = OverallDuring(m_entryIndex, count, value);
        Invalidate(AREA_OVERALL_BAR);
    }
    Invalidate(AREA_STATISTICS);
}

void CUpdater::OnStatus(int code, const char* text)
{
    std::string line;
    switch (code) {
    case NOTIFY_FETCH_BEGIN:
        line = std::string(TEXT_FETCH_BEGIN) + text + ")";
        break;
    case NOTIFY_FETCH_END:
        line = std::string(TEXT_FETCH_END) + text + ")";
        break;
    case NOTIFY_TEXT:
        line = text;
        break;
    default:
        return;
    }
    m_status.Replace(std::move(line));
    Invalidate(AREA_STATUS);
}

void CUpdater::MakeDirectoryPath(const std::string& path)
{
    for (const std::string& dir : DirectoryPrefixes(path, SystemLeadBytes()))
        ::CreateDirectoryA(dir.c_str(), nullptr); // an existing or unnamed directory is no failure here
}

void CUpdater::Pause(DWORD ms)
{
    // In steps, so that a stop request does not wait for the whole pause.
    for (DWORD waited = 0; waited < ms && !Cancelled(); waited += 50)
        ::Sleep(50);
}

bool CUpdater::RunUpdate()
{
    m_overallProgress = 0;
    Invalidate(AREA_OVERALL_BAR);

    auto link = std::make_shared<CInternetLink>();
    link->session.Reset(::InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!link->session) {
        Notify(TEXT_INIT_FAILED);
        return false;
    }
    Notify(TEXT_CONNECTING);
    link->connection.Reset(::InternetConnectA(link->session.Get(), m_host.c_str(), m_port, "", "",
                                              INTERNET_SERVICE_HTTP, 0, 0));
    if (!link->connection) {
        link.reset();
        Notify(TEXT_CONNECT_FAILED);
        return false;
    }
    // The handles close when the run and the last of its transfers let them go.
    SetLink(link);
    link.reset();
    struct Detach {
        CDownloader* self;
        ~Detach() { self->SetLink(nullptr); }
    } detach{this};

    ::CreateDirectoryA(kWorkFolder, nullptr);
    ::CreateDirectoryA((std::string(kWorkFolder) + "/" + m_folder).c_str(), nullptr);

    std::optional<EntryTarget> list = FileListTarget(m_folder);
    if (!list || !Fetch(*list)) {
        Notify(TEXT_LIST_FAILED);
        return false;
    }

    // Each step ends early when the window is gone; its result is then not used.
    const StopFlag* stop = &CancelFlag();
    std::vector<FileEntry> remote = ReadFileList(list->localPath.c_str(), stop);
    if (Cancelled())
        return false;
    RemoveStalePartsBeside(remote);
    if (Cancelled())
        return false;
    std::vector<FileEntry> local = BuildLocalList(remote, m_programFolder, stop);
    if (Cancelled())
        return false;
    std::vector<FileEntry> download = CompareLists(remote, local, SystemLeadBytes(), stop);
    if (Cancelled())
        return false;
    {
        CScopedLock lock(m_listLock);
        m_downloadList = download;
    }
    if (download.empty()) {
        Notify(TEXT_DONE);
        Invalidate(AREA_COMPLETION_NOTHING);
        return true;
    }

    Notify(TEXT_GETTING);
    m_entryCount = static_cast<std::int32_t>(download.size());
    m_entryIndex = 0;
    for (const FileEntry& entry : download) {
        if (Cancelled())
            return false;
        HandleEntry(entry);
    }

    Notify(TEXT_DONE);
    Invalidate(AREA_COMPLETION);
    Pause(1000);
    return true;
}

void CUpdater::RemoveStalePartsBeside(const std::vector<FileEntry>& remote)
{
    // Bodies grow beside the files they replace: what is left of runs that ended
    // during a download lies in the folders of the listed files (and in the
    // program folder, and the work folder, where the file list grows and where
    // parts grew before).
    const CLeadBytes& leads = SystemLeadBytes();
    std::vector<std::string> folders{std::string(), kWorkFolder, std::string(kWorkFolder) + "\\" + m_folder};
    std::unordered_set<std::string> seen{std::string()};
    std::string last;
    for (const FileEntry& entry : remote) {
        if (IsSkippedEntry(entry))
            continue;
        std::optional<EntryTarget> target = TargetOf(entry, m_folder);
        if (!target)
            continue;
        const std::size_t separator = FindLastSeparator(target->localPath, true, leads);
        std::string folder = separator == std::string::npos ? std::string() : target->localPath.substr(0, separator);
        if (folder == last)
            continue;
        last = folder;
        if (seen.insert(FoldCase(folder, leads)).second)
            folders.push_back(std::move(folder));
    }
    for (const std::string& folder : folders) {
        if (Cancelled())
            return;
        RemoveStaleParts(folder);
    }
}

bool CUpdater::Fetch(const EntryTarget& target)
{
    std::string url = target.urlPath; // FetchFile turns its "\" into "/"
    return FetchFile(url, target.localPath);
}

void CUpdater::HandleEntry(const FileEntry& entry)
{
    if (IsSkippedEntry(entry))
        return;
    std::optional<EntryTarget> target = TargetOf(entry, m_folder);
    if (entry.kind == ENTRY_DIRECTORY) {
        if (target)
            MakeDirectoryPath(target->localPath);
    } else {
        // A path too long for the updater counts as a file that could not be fetched.
        bool fetched = target && Fetch(*target);
        // A file gets one further try: after a body that was cut short (the
        // installed file is then as it was), or else after a wrong checksum.
        bool triedAgain = false;
        if (!fetched && target && LastFetchWasCut() && !Cancelled()) {
            fetched = Fetch(*target);
            triedAgain = true;
        }
        if (!fetched) {
            Notify(TEXT_FILE_FAILED);
            return;
        }
        const char* path = target->localPath.c_str();
        if (!triedAgain && PathExists(path) && FileCrc(path, &CancelFlag()) != entry.checksum && !Cancelled())
            Fetch(*target); // its result is not looked at
        // Against a name of ASCII only, the code page's lead bytes make no difference.
        if (EqualNoCase(entry.name, "quillet.exe", CLeadBytes()))
            m_selfUpdated = true;
    }
    std::int32_t count = m_entryCount;
    std::int32_t index = m_entryIndex;
    if (count > 0) {
        m_overallProgress = OverallAfterEntry(index, count);
        Invalidate(AREA_OVERALL_BAR);
    }
    m_entryIndex = index + 1;
}

#include "UpdateRules.h"

#include <limits>

#include "CodePageText.h"

const char* const TEXT_INIT_FAILED = "错误：无法初始化更新器";
const char* const TEXT_CONNECTING = "尝试连接到更新伺服器...";
const char* const TEXT_CONNECT_FAILED = "无法连接到更新伺服器。";
const char* const TEXT_LIST_FAILED = "无法连接服务器，请检查您的网络或致电客服！(0)";
const char* const TEXT_FILE_FAILED = "无法连接服务器，请检查您的网络或致电客服！(G)";
const char* const TEXT_GETTING = "开始获得更新信息...";
const char* const TEXT_DONE = "完成更新。";
const char* const TEXT_FETCH_BEGIN = "下载中... (";
const char* const TEXT_FETCH_END = "完成 (";

CRandom& UpdateRandom() noexcept
{
    static CRandom random;
    return random;
}

int PickServerIndex(const std::vector<UpdateServer>& servers, std::int32_t kind, int r)
{
    const int n = static_cast<int>(servers.size());
    if (n == 0)
        return -1;
    const long long target = (static_cast<long long>(r) + n) % (2LL * n);
    long long match = -1;
    int visits = 0;
    for (int i = 0;; i = (i + 1) % n) {
        if (visits >= SERVER_WALK_VISITS)
            return -1;
        ++visits;
        if (servers[static_cast<std::size_t>(i)].kind != kind)
            continue;
        if (target == match)
            return i;
        ++match;
    }
}

std::string UpdateFolderName(std::string_view launchParameter)
{
    std::string_view folder = launchParameter.substr(0, launchParameter.find(','));
    return std::string(folder.substr(0, 259));
}

bool IsSkippedEntry(const FileEntry& entry)
{
    // Against names of ASCII only, the code page's lead bytes make no difference.
    const CLeadBytes any;
    return EqualNoCase(entry.directory, "updatetmp", any) || EqualNoCase(entry.name, "winmm.dll", any);
}

bool IsRootDirectory(std::string_view directory) noexcept
{
    return directory == "/" || directory == "\\";
}

std::optional<EntryTarget> TargetOf(const FileEntry& entry, std::string_view folder)
{
    const bool root = IsRootDirectory(entry.directory);
    EntryTarget t;
    t.localPath = root ? entry.name : entry.directory + "\\" + entry.name;
    if (entry.kind == ENTRY_FILE) {
        t.urlPath = "/Vexaupdate/";
        t.urlPath += folder;
        t.urlPath += "/release/";
        if (!root)
            t.urlPath += entry.directory + "/";
        t.urlPath += entry.name;
    }
    if (entry.name.size() > UPDATE_PATH_MAX || t.localPath.size() > UPDATE_PATH_MAX ||
        t.urlPath.size() > UPDATE_PATH_MAX || t.localPath.find('\0') != std::string::npos)
        return std::nullopt;
    return t;
}

std::optional<EntryTarget> FileListTarget(std::string_view folder)
{
    EntryTarget t;
    t.localPath = "updatetmp/" + std::string(folder) + "/filelist.list";
    t.urlPath = "/Vexaupdate/" + std::string(folder) + "/filelist.list";
    if (t.localPath.size() > UPDATE_PATH_MAX || t.urlPath.size() > UPDATE_PATH_MAX)
        return std::nullopt;
    return t;
}

std::vector<std::string> DirectoryPrefixes(std::string_view path, const CLeadBytes& leads)
{
    std::vector<std::string> out;
    if (path.size() > DIRECTORY_PATH_MAX)
        return out;
    std::string so_far;
    for (std::size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (leads.IsLead(c) && i + 1 < path.size()) {
            so_far.push_back(path[i]);
            so_far.push_back(path[++i]);
            continue;
        }
        if (c == '\\' || c == '/') {
            out.push_back(so_far);
            so_far.push_back('\\');
            continue;
        }
        so_far.push_back(path[i]);
    }
    out.push_back(so_far);
    return out;
}

std::int32_t OverallAfterEntry(std::int32_t index, std::int32_t count) noexcept
{
    if (count <= 0)
        return 0;
    return static_cast<std::int32_t>((static_cast<long long>(index) + 1) * PROGRESS_FULL / count);
}

std::int32_t OverallDuring(std::int32_t index, std::int32_t count, std::int32_t value) noexcept
{
    if (count <= 0)
        return 0;
    return static_cast<std::int32_t>(static_cast<long long>(index) * PROGRESS_FULL / count + value / count);
}

std::int32_t TransferProgress(std::uint64_t received, std::uint64_t contentLength) noexcept
{
    if (contentLength == 0 || received >= contentLength)
        return PROGRESS_FULL;
    return static_cast<std::int32_t>(static_cast<double>(received) / static_cast<double>(contentLength) *
                                     PROGRESS_FULL);
}

std::uint64_t ParseDecimal(std::string_view text) noexcept
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    std::uint64_t v = 0;
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        unsigned d = static_cast<unsigned>(text[i] - '0');
        if (v > (max - d) / 10)
            return max;
        v = v * 10 + d;
    }
    return v;
}

void CTransferMeter::Reset(std::uint32_t now) noexcept
{
    m_bytesAtSample = 0;
    m_speed = 0;
    m_lastProgress = now;
    m_lastSpeed = now;
}

bool CTransferMeter::OnBlock(std::uint64_t received, const std::function<std::uint32_t()>& now)
{
    std::uint32_t t = now();
    if (t - m_lastSpeed >= SPEED_INTERVAL) {
        std::uint32_t elapsed = now() - m_lastSpeed;
        // 64 bits: a 32-bit product overflows above about 1.4 MB per sample.
        std::uint64_t speed = (received - m_bytesAtSample) * 1000u / (elapsed ? elapsed : 1u);
        m_speed = speed > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(speed);
        m_lastSpeed += SPEED_INTERVAL;
        m_bytesAtSample = received;
    }
    if (t - m_lastProgress >= PROGRESS_INTERVAL) {
        m_lastProgress += PROGRESS_INTERVAL;
        return true;
    }
    return false;
}

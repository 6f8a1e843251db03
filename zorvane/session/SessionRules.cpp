#include "SessionRules.h"

const wchar_t* const BUILTIN_SERVER_NAME = L"棋牌服务器";
const wchar_t* const TEXT_FETCHING_SERVER_LIST = L"正在连接获取服务器列表";
const wchar_t* const TEXT_UP_TO_DATE = L"你当前的版本是最新的";
const wchar_t* const TEXT_ALL_DONE = L"更新完毕";
const wchar_t* const TEXT_SYSTEM_CAPTION = L"系统提示";
const wchar_t* const TEXT_TRAY_TIP = L"正在自动更新";
const wchar_t* const TEXT_SERVER_LIST_FAILED = L"获得服务器列表失败";
const wchar_t* const TEXT_SESSION_FAULT = L"系统资源不足，更新未完成";

namespace {
std::wstring Number(std::uint64_t n)
{
    return std::to_wstring(n);
}
std::wstring Signed(std::int64_t n)
{
    return std::to_wstring(n);
}
} // namespace

std::int32_t Percent(std::uint32_t part, std::uint32_t whole)
{
    if (whole == 0)
        return 0;
    std::uint64_t p = static_cast<std::uint64_t>(part) * 100u / whole;
    return p > 100 ? 100 : static_cast<std::int32_t>(p);
}

std::int32_t BarWidth(std::int32_t percent)
{
    if (percent <= 0)
        return 0;
    if (percent >= 100)
        return BAR_FULL_WIDTH;
    return percent * BAR_FULL_WIDTH / 100;
}

std::int32_t CurrentFileNumber(std::uint32_t fileCount, std::size_t queued)
{
    return static_cast<std::int32_t>(static_cast<std::int64_t>(fileCount) - static_cast<std::int64_t>(queued) + 1);
}

std::wstring TextConnecting(const std::wstring& serverName)
{
    return L"正在连接：" + serverName;
}

std::wstring TextListFailed(const std::wstring& errorText, const std::wstring& serverName)
{
    return errorText + L"：" + serverName;
}

std::wstring TextListFetched(const std::wstring& serverName)
{
    return L"获取更新文件列表成功：" + serverName;
}

std::wstring TextUpdateSummary(std::uint32_t fileCount, std::uint32_t totalLength)
{
    return L"需更新文件总数: " + Number(fileCount) + L", 文件总长度: " + Number(totalLength >> 10) + L" KB";
}

std::wstring TextUpdatingFile(const std::wstring& fileName)
{
    return L"正在更新文件：" + fileName;
}

std::wstring TextFileFailed(const std::wstring& fileName, std::uint32_t code)
{
    return L"下载文件失败 [" + fileName + L"], 错误代码 [" + Number(code) + L"]";
}

std::wstring TextFileFailedBox(const std::wstring& failedText)
{
    return L"可能由于网络原因，" + failedText + L" ";
}

std::wstring TextDeleteFailed(const std::wstring& fileName)
{
    return L"删除文件失败 [" + fileName + L"]";
}

std::wstring TextRenameFailed(const std::wstring& fileName)
{
    return L"重命名文件失败 [" + fileName + L"]";
}

std::wstring TextInstalled(const std::wstring& fileName)
{
    return L"下载文件成功 [" + fileName + L"]";
}

std::wstring TextServerListFetched(std::uint32_t count)
{
    return L"获取服务器列表成功,共取得 " + Number(count) + L" 个可选服务器";
}

std::wstring TextNotQueued(const std::wstring& fileName)
{
    return L"无法下载文件 [" + fileName + L"]，更新未完成";
}

std::wstring TextRate(std::int32_t bytesPerSecond)
{
    return Signed(bytesPerSecond / 1024) + L"KB/秒";
}

std::wstring TextCounter(std::int32_t filePercent, std::int32_t current, std::uint32_t fileCount)
{
    return Signed(filePercent) + L"% (" + Signed(current) + L"/" + Signed(static_cast<std::int32_t>(fileCount)) + L")";
}

std::wstring TextTrayTip(const std::wstring& fileName, std::int32_t current, std::uint32_t fileCount)
{
    return TrayTipField(L"正在更新 (" + Signed(current) + L"/" + Number(fileCount) + L") " + fileName);
}

std::wstring TrayTipField(const std::wstring& text)
{
    return text.substr(0, 63);
}

void CRateMeter::Reset()
{
    *this = CRateMeter();
}

void CRateMeter::OnBlock(std::uint32_t bytes, std::uint32_t now)
{
    m_pending += bytes;
    if (!m_started) {
        // The first block only starts the clock: there is no interval to measure yet.
        m_started = true;
        m_last = now;
        m_pending = 0;
        return;
    }
    std::uint32_t elapsed = now - m_last;
    m_last = now;
    if (elapsed == 0)
        return;
    double sample = static_cast<double>(m_pending) * 1000.0 / elapsed;
    m_pending = 0;
    double weight = static_cast<double>(elapsed) / (elapsed + 1000.0);
    m_smoothed = m_smoothed == 0 ? sample : m_smoothed + (sample - m_smoothed) * weight;
    m_rate = m_smoothed >= 2147483647.0 ? 2147483647 : static_cast<std::int32_t>(m_smoothed);
}

bool InCloseHitArea(int x, int y)
{
    return x >= 343 && x < 362 && y >= 2 && y < 12;
}

bool InTitleStrip(int x, int y)
{
    return x >= 0 && x < WINDOW_WIDTH && y >= 0 && y < 13;
}

void MouseState::Press(int x, int y)
{
    dragging = true;
    if (InCloseHitArea(x, y) && look != LOOK_PRESSED)
        look = LOOK_PRESSED;
}

bool MouseState::Move(int x, int y)
{
    look = InCloseHitArea(x, y) ? LOOK_HOVER : LOOK_NORMAL;
    return InTitleStrip(x, y) && dragging;
}

bool MouseState::Release(int x, int y)
{
    dragging = false;
    look = LOOK_NORMAL;
    return InCloseHitArea(x, y);
}

int NextTrayFrame(std::uint32_t& counter)
{
    ++counter;
    return static_cast<int>(counter % 3);
}

namespace {

bool IsSpace(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

std::wstring_view Strip(std::wstring_view s)
{
    while (!s.empty() && IsSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::vector<ServerListEntry> ParseServerList(std::wstring_view text)
{
    std::vector<ServerListEntry> entries;
    while (!text.empty()) {
        size_t end = text.find(L'\n');
        std::wstring_view line = Strip(text.substr(0, end));
        text = end == std::wstring_view::npos ? std::wstring_view() : text.substr(end + 1);
        size_t bar = line.find(L'|');
        if (bar == std::wstring_view::npos || bar == 0)
            continue;
        std::wstring_view name = Strip(line.substr(0, bar));
        std::wstring_view address = Strip(line.substr(bar + 1));
        if (!name.empty() && !address.empty())
            entries.push_back({std::wstring(name), std::wstring(address)});
    }
    return entries;
}

const wchar_t* const SET_ASIDE_SUFFIX = L".zvold";

std::wstring SetAsidePath(const std::wstring& finalPlace, unsigned attempt)
{
    std::wstring path = finalPlace + SET_ASIDE_SUFFIX;
    if (attempt > 0)
        path += static_cast<wchar_t>(L'0' + attempt % 10);
    return path;
}

const wchar_t* const EARLIER_SET_ASIDE_SUFFIX = L".zorvane-old";

std::wstring_view SetAsideOwner(std::wstring_view path)
{
    const bool numbered = !path.empty() && path.back() >= L'1' && path.back() <= L'9';
    if (numbered)
        path.remove_suffix(1);
    std::wstring_view suffix = SET_ASIDE_SUFFIX;
    const std::wstring_view earlier = EARLIER_SET_ASIDE_SUFFIX;
    const auto endsWith = [&path](std::wstring_view tail) {
        return path.size() > tail.size() && path.substr(path.size() - tail.size()) == tail;
    };
    if (!endsWith(suffix)) {
        // The earlier names number their attempts after a dot.
        if (numbered && !path.empty() && path.back() == L'.')
            path.remove_suffix(1);
        else if (numbered)
            return std::wstring_view();
        if (!endsWith(earlier))
            return std::wstring_view();
        suffix = earlier;
    }
    path.remove_suffix(suffix.size());
    return path.back() == L'\\' ? std::wstring_view() : path;
}

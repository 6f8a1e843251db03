#include "StartupRules.h"

#include <cstdio>

#include "ScanText.h"

const char* const TEXT_BASE_TITLE = "Vexa自动更新程序";
const char* const TEXT_HALL_SUFFIX = " 大厅";
const char* const TEXT_HALL_PARAMETER = "plat";
const char* const TEXT_HALL_COMMAND = "Mirabond.exe run";
const char* const HALL_WINDOW_CLASS = "PTVexaZRQBMirabond";
const char* const WORKER_FILE_NAME = "Quillet.san";

namespace {
const char* const kGameSuffix = " 游戏(%d)";
constexpr std::intptr_t kIdOk = 1;
} // namespace

std::string LaunchParameter(const std::vector<std::string>& arguments)
{
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (!a.empty() && (a[0] == '/' || a[0] == '-'))
            continue;
        return a;
    }
    return TEXT_HALL_PARAMETER;
}

GameNumbers ParseGameNumbers(std::string_view parameter)
{
    GameNumbers n;
    CScanText scan(parameter);
    if (scan.Number(n.game) && scan.Literal(','))
        scan.Number(n.second);
    return n;
}

std::string WindowTitle(std::string_view parameter)
{
    std::string title = TEXT_BASE_TITLE;
    if (parameter == TEXT_HALL_PARAMETER) {
        title += TEXT_HALL_SUFFIX;
        title += parameter;
        return title;
    }
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, kGameSuffix, static_cast<int>(ParseGameNumbers(parameter).game));
    return title + suffix;
}

std::uint32_t HallLParam(const GameNumbers& numbers) noexcept
{
    return (static_cast<std::uint32_t>(numbers.second) & 0xFFFFu) << 16 |
           (static_cast<std::uint32_t>(numbers.game) & 0xFFFFu);
}

std::string ProgramFolderOf(std::string_view path, const CLeadBytes& leads)
{
    std::size_t slash = FindLastSeparator(path, false, leads);
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string FileNamePart(std::string_view path, const CLeadBytes& leads)
{
    std::size_t slash = FindLastSeparator(path, false, leads);
    if (slash == std::string_view::npos)
        slash = FindLastSeparator(path, true, leads);
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string CopyPathOf(std::string_view ownPath)
{
    if (ownPath.size() < 3)
        return std::string();
    return std::string(ownPath.substr(0, ownPath.size() - 3)) + "san";
}

bool IsWorkerFileName(std::string_view fileName)
{
    // Against a name of ASCII only, the code page's lead bytes make no difference.
    return EqualNoCase(fileName, WORKER_FILE_NAME, CLeadBytes());
}

std::string CommandLineFor(std::string_view program, std::string_view parameter)
{
    auto quoted = [](std::string_view s, bool emptyToo) {
        bool blank = s.find_first_of(" \t") != std::string_view::npos;
        if (!blank && !(emptyToo && s.empty()))
            return std::string(s);
        return "\"" + std::string(s) + "\"";
    };
    return quoted(program, false) + " " + quoted(parameter, true);
}

HandOver DecideHandOver(std::intptr_t modalResult, bool selfUpdated, std::string_view parameter,
                        bool updateSucceeded) noexcept
{
    if (modalResult != kIdOk)
        return HandOver::Nothing;
    if (selfUpdated)
        return HandOver::RestartCopy;
    if (parameter == TEXT_HALL_PARAMETER)
        return HandOver::StartHall;
    if (updateSucceeded)
        return HandOver::NotifyHall;
    return HandOver::Nothing;
}

#include "CommandTail.h"

const wchar_t* const TEXT_USAGE = L"请输传递服务器列表参数 格式： ...exe http://..../..serverlist.txt auto";

CommandTailParts ParseCommandTail(std::wstring_view tail)
{
    CommandTailParts parts;
    size_t blank = tail.find(L' ');
    if (blank == std::wstring_view::npos || blank == 0)
        return parts;
    parts.hasAddress = true;
    parts.address = std::wstring(tail.substr(0, blank));
    parts.mode = std::wstring(tail.substr(blank + 1));
    return parts;
}

#include "ListRules.h"

#include <cstddef>

const wchar_t* const INSTALLDIR_DEFAULT = L"CURRENTDIR";

namespace {

wchar_t FoldAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// The white space that atoi skips in the C locale.
bool IsDecimalSpace(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

struct KeyEntry {
    const wchar_t* name;
    ListKey key;
};

const KeyEntry KEY_NAMES[] = {
    {L"FileName", LISTKEY_FILENAME},
    {L"FileVersion", LISTKEY_FILEVERSION},
    {L"ProductVersion", LISTKEY_PRODUCTVERSION},
    {L"Length", LISTKEY_LENGTH},
    {L"FileDateLow", LISTKEY_FILEDATELOW},
    {L"FileDateHigh", LISTKEY_FILEDATEHIGH},
    {L"InstallDir", LISTKEY_INSTALLDIR},
    {L"Register", LISTKEY_REGISTER},
    {L"ZipFile", LISTKEY_ZIPFILE},
    {L"ForceOverwrite", LISTKEY_FORCEOVERWRITE},
    {L"Execute", LISTKEY_EXECUTE},
    {L"ExecutePar", LISTKEY_EXECUTEPAR},
    {L"LocalPath", LISTKEY_LOCALPATH},
    {L"URL", LISTKEY_URL},
    {L"UserName", LISTKEY_USERNAME},
    {L"Password", LISTKEY_PASSWORD},
};

} // namespace

bool EqualsNoCaseAscii(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

ListKey MatchKey(const std::wstring& name)
{
    for (const KeyEntry& k : KEY_NAMES) {
        if (EqualsNoCaseAscii(name, k.name))
            return k.key;
    }
    return LISTKEY_NONE;
}

std::uint32_t ReadDecimalBits(const std::wstring& text)
{
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && IsDecimalSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    std::uint32_t value = 0;
    for (; i < n && text[i] >= L'0' && text[i] <= L'9'; ++i)
        value = value * 10u + static_cast<std::uint32_t>(text[i] - L'0');
    return negative ? 0u - value : value;
}

std::int32_t ReadDecimal(const std::wstring& text)
{
    const std::uint32_t bits = ReadDecimalBits(text);
    // Two's complement without relying on an out-of-range conversion.
    if (bits <= 0x7FFFFFFFu)
        return static_cast<std::int32_t>(bits);
    return -static_cast<std::int32_t>(~bits) - 1;
}

std::int64_t ReadLength(const std::wstring& text)
{
    return ReadDecimal(text);
}

bool ReadFlag(const std::wstring& text)
{
    return EqualsNoCaseAscii(text, L"YES");
}

const wchar_t* KeyName(ListKey key)
{
    for (const KeyEntry& k : KEY_NAMES) {
        if (k.key == key)
            return k.name;
    }
    return L"";
}

BaseFolder SelectBaseFolder(const std::wstring& installDir)
{
    if (EqualsNoCaseAscii(installDir, L"WINDOWSDIR"))
        return BASE_WINDOWS;
    if (EqualsNoCaseAscii(installDir, L"SYSTEMDIR"))
        return BASE_SYSTEM;
    return BASE_MODULE;
}

std::wstring JoinFullPath(const std::wstring& base, const std::wstring& localPath, const std::wstring& fileName)
{
    std::wstring path = base;
    path += L'\\';
    if (!localPath.empty()) {
        path += localPath;
        path += L'\\';
    }
    path += fileName;
    return path;
}

#include "TestDisks.h"

#include <vector>

#include "TempFolder.h"

namespace test_disks {

namespace {

// Larger than this, the folder is not on the small disk.
constexpr std::uint64_t kLargest = 64ull << 20;

bool FreeBytes(const std::wstring& folder, std::uint64_t& free, std::uint64_t& total)
{
    ULARGE_INTEGER available{}, size{}, unused{};
    if (!::GetDiskFreeSpaceExW((folder + L"\\").c_str(), &available, &size, &unused))
        return false;
    free = available.QuadPart;
    total = size.QuadPart;
    return true;
}

std::wstring Root()
{
    wchar_t root[1024];
    DWORD n = ::GetEnvironmentVariableW(L"VEXA_TEST_DISKS", root, 1024);
    return n == 0 || n >= 1024 ? std::wstring() : std::wstring(root, n);
}

std::wstring FreshFolder(const std::wstring& path)
{
    RemoveTree(path);
    return ::CreateDirectoryW(path.c_str(), nullptr) ? path : std::wstring();
}

} // namespace

std::wstring SmallFolder(const std::wstring& name)
{
    const std::wstring disk = Root() + L"\\small";
    std::uint64_t free = 0, total = 0;
    if (Root().empty() || !FreeBytes(disk, free, total) || total > kLargest)
        return std::wstring();
    return FreshFolder(disk + L"\\" + name);
}

std::wstring JoinedFolder()
{
    const std::wstring joined = Root() + L"\\joined";
    std::uint64_t free = 0, total = 0;
    if (Root().empty() || !FreeBytes(joined + L"\\data", free, total) || total > kLargest)
        return std::wstring();
    // Everything goes but the link itself (and what it leads to is emptied).
    WIN32_FIND_DATAW data;
    for (const std::wstring& folder : {joined + L"\\data", joined}) {
        HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(find, &data))
            if (data.cFileName[0] != L'.' && (folder != joined || std::wstring(data.cFileName) != L"data"))
                RemoveTree(folder + L"\\" + data.cFileName);
        if (find != INVALID_HANDLE_VALUE)
            ::FindClose(find);
    }
    return joined;
}

ReadOnlyFolder ReadOnlyPair(const std::wstring& name)
{
    if (Root().empty())
        return {};
    ReadOnlyFolder pair;
    pair.writable = FreshFolder(Root() + L"\\writable\\" + name);
    pair.readOnly = Root() + L"\\read-only\\" + name;
    // The view is read-only when no file can be made through it.
    const std::wstring probe = pair.readOnly + L"\\probe";
    HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (pair.writable.empty() || !FolderExistsAt(pair.readOnly) || h != INVALID_HANDLE_VALUE) {
        if (h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(h);
            ::DeleteFileW(probe.c_str());
        }
        return {};
    }
    return pair;
}

bool FillLeaving(const std::wstring& folder, std::uint64_t leave)
{
    HANDLE h = ::CreateFileW((folder + L"\\filler.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    // Written, not extended: a sparse file would take no room.
    std::vector<char> block(64 * 1024, '\x5A');
    bool ok = true;
    for (;;) {
        std::uint64_t free = 0, total = 0;
        if (!FreeBytes(folder, free, total)) {
            ok = false;
            break;
        }
        if (free <= leave)
            break;
        std::uint64_t step = free - leave < block.size() ? free - leave : block.size();
        DWORD written = 0;
        if (!::WriteFile(h, block.data(), static_cast<DWORD>(step), &written, nullptr) || written == 0)
            break; // the disk is full already
    }
    ::CloseHandle(h);
    return ok;
}

} // namespace test_disks

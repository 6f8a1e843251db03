#include "SmallDisk.h"

#include <vector>

#include "TempFolder.h"

namespace small_disk {

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

} // namespace

std::wstring Folder(const std::wstring& name)
{
    wchar_t root[1024];
    DWORD n = ::GetEnvironmentVariableW(L"VEXA_SMALL_DISK", root, 1024);
    if (n == 0 || n >= 1024)
        return std::wstring();
    std::uint64_t free = 0, total = 0;
    if (!FreeBytes(std::wstring(root, n), free, total) || total > kLargest)
        return std::wstring();
    std::wstring folder = std::wstring(root, n) + L"\\" + name;
    RemoveTree(folder);
    if (!::CreateDirectoryW(folder.c_str(), nullptr))
        return std::wstring();
    return folder;
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

} // namespace small_disk

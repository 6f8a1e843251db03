#include "FileEntry.h"

#include <memory>
#include <new>
#include <vector>

#include "File.h"
#include "Handle.h"
#include "ListRules.h"
#include "VersionRules.h"

namespace {

CKernelHandle OpenForReading(const std::wstring& path)
{
    return CKernelHandle(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

FileTimeValue ToValue(const FILETIME& t)
{
    FileTimeValue v;
    v.Low = t.dwLowDateTime;
    v.High = t.dwHighDateTime;
    return v;
}

} // namespace

bool FileExists(const std::wstring& path)
{
    return static_cast<bool>(OpenForReading(path));
}

CFileEntry::CFileEntry(std::wstring path) : InstallDir(INSTALLDIR_DEFAULT), FullPath(std::move(path)) {}

void CFileEntry::SetValue(const std::wstring& name, const std::wstring& text)
{
    StoreListValue(*this, name, text);
}

bool CFileEntry::ReadVersion()
{
    VersionInfo = VS_FIXEDFILEINFO{};
    FileVersion.clear();
    {
        CFile file;
        if (!file.Open(FullPath, CFile::modeRead | CFile::shareDenyNone))
            return false;
    }
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(FullPath.c_str(), &ignored);
    if (size == 0)
        return false;
    std::vector<unsigned char> block(size);
    if (!::GetFileVersionInfoW(FullPath.c_str(), 0, size, block.data()))
        return false;
    void* fixed = nullptr;
    UINT fixedSize = 0;
    wchar_t root[] = L"\\";
    if (!::VerQueryValueW(block.data(), root, &fixed, &fixedSize) || !fixed || fixedSize < sizeof(VS_FIXEDFILEINFO))
        return false;
    VersionInfo = *static_cast<const VS_FIXEDFILEINFO*>(fixed);
    FileVersion = FormatVersion(VersionInfo.dwFileVersionMS, VersionInfo.dwFileVersionLS);
    return true;
}

bool CFileEntry::ReadLastWriteTime()
{
    FileTime = FILETIME{};
    CKernelHandle file = OpenForReading(FullPath);
    if (!file)
        return false;
    FILETIME written{};
    if (!::GetFileTime(file.Get(), nullptr, nullptr, &written))
        return false;
    FileTime = written;
    return true;
}

bool CFileEntry::ReadLocalState()
{
    if (FullPath.empty())
        return false;
    bool versionRead = false;
    try {
        versionRead = ReadVersion();
    } catch (const std::bad_alloc&) {
        VersionInfo = VS_FIXEDFILEINFO{};
        FileVersion.clear();
    }
    const bool timeRead = ReadLastWriteTime();
    return versionRead || timeRead;
}

bool CFileEntry::DecideUpdate()
{
    LocalFileState state;
    state.opened = FileExists(FullPath);
    if (state.opened) {
        // Out of memory for the local-state record leaves the entry as it is.
        try {
            auto local = std::make_unique<CFileEntry>(FullPath);
            state.read = local->ReadLocalState();
            state.version = local->FileVersion;
            state.time = ToValue(local->FileTime);
        } catch (const std::bad_alloc&) {
            return NeedsUpdate;
        }
    }
    // The rule itself is platform-free, so that the publishing tools explain it with the same code.
    const UpdateCause cause = DecideUpdateCause(FileVersion, ToValue(FileTime), state);
    if (cause != CAUSE_UNREADABLE)
        NeedsUpdate = IsFetchCause(cause);
    return NeedsUpdate;
}

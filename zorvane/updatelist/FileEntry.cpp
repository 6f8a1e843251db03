#include "FileEntry.h"

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

namespace {

// The fixed block of a version resource; false when the block has none.
bool QueryFixedVersion(std::vector<unsigned char>& block, VS_FIXEDFILEINFO& info)
{
    void* fixed = nullptr;
    UINT fixedSize = 0;
    wchar_t root[] = L"\\";
    if (!::VerQueryValueW(block.data(), root, &fixed, &fixedSize) || !fixed || fixedSize < sizeof(VS_FIXEDFILEINFO))
        return false;
    info = *static_cast<const VS_FIXEDFILEINFO*>(fixed);
    return true;
}

// Through the version service, which reads every kind of program file.
bool ReadFixedVersionByService(const std::wstring& path, VS_FIXEDFILEINFO& info)
{
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return false;
    std::vector<unsigned char> block(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
        return false;
    return QueryFixedVersion(block, info);
}

// The fixed block of the file's version resource; false when the file has none
// or it cannot be read. The version service maps a program image twice (once for
// the size, once for the copy), which is most of what a check of a file costs:
// the image is mapped once here and its resource read the way the service reads
// it. A file the loader does not map (a 16-bit program, say) goes to the service.
bool ReadFixedVersion(const std::wstring& path, VS_FIXEDFILEINFO& info)
{
    // A name without an extension would get ".dll" from the loader: the
    // trailing point keeps it as it is.
    const std::size_t name = path.find_last_of(L"\\/");
    const bool extension = path.find(L'.', name == std::wstring::npos ? 0 : name + 1) != std::wstring::npos;
    CModuleHandle image(
        ::LoadLibraryExW(extension ? path.c_str() : (path + L".").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!image.Get())
        return ReadFixedVersionByService(path, info);
    HRSRC resource = ::FindResourceW(image.Get(), MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    if (!resource)
        return false;
    const DWORD size = ::SizeofResource(image.Get(), resource);
    HGLOBAL loaded = ::LoadResource(image.Get(), resource);
    const auto* data = static_cast<const unsigned char*>(loaded ? ::LockResource(loaded) : nullptr);
    if (!data || size == 0)
        return false;
    // The query wants a block of its own, as the service hands out.
    std::vector<unsigned char> block(data, data + size);
    return QueryFixedVersion(block, info);
}

} // namespace

bool CFileEntry::ReadVersion()
{
    VersionInfo = VS_FIXEDFILEINFO{};
    FileVersion.clear();
    {
        CFile file;
        if (!file.Open(FullPath, CFile::modeRead | CFile::shareDenyNone))
            return false;
    }
    VS_FIXEDFILEINFO info{};
    if (!ReadFixedVersion(FullPath, info))
        return false;
    VersionInfo = info;
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
    // The answer is the one the whole local state gives (ReadLocalState, then the
    // listed version or time), but the file is opened once, and its version
    // resource, which costs more than everything else together, is read only
    // when it can change the answer: when a version is listed, or when the time
    // cannot be read and the version alone tells whether anything of the file can.
    LocalFileState state;
    state.opened = FileExists(FullPath); // else missing, a folder, locked against reading
    if (state.opened) {
        // The time is asked for by name once the file has been opened: under Wine
        // that costs a quarter less than asking through the open handle.
        WIN32_FILE_ATTRIBUTE_DATA attributes{};
        const bool timeRead = ::GetFileAttributesExW(FullPath.c_str(), GetFileExInfoStandard, &attributes) != FALSE;
        if (timeRead)
            state.time = ToValue(attributes.ftLastWriteTime);
        bool versionRead = false;
        if (!FileVersion.empty() || !timeRead) {
            VS_FIXEDFILEINFO info{};
            versionRead = ReadFixedVersion(FullPath, info);
            if (versionRead)
                state.version = FormatVersion(info.dwFileVersionMS, info.dwFileVersionLS);
        }
        state.read = timeRead || versionRead;
    }
    // The rule itself is platform-free, so that the publishing tools explain it with the same code.
    const UpdateCause cause = DecideUpdateCause(FileVersion, ToValue(FileTime), state);
    if (cause != CAUSE_UNREADABLE)
        NeedsUpdate = IsFetchCause(cause);
    return NeedsUpdate;
}

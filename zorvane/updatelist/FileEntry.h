#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// True when the file at path can be opened for reading with read sharing. A
// folder, a file that another handle holds without read sharing and a file
// without read rights all count as missing.
bool FileExists(const std::wstring& path);

// The words of a list entry's FILETIME, for StoreListValue.
inline void SetTimeLow(FILETIME& t, std::uint32_t bits) { t.dwLowDateTime = bits; }
inline void SetTimeHigh(FILETIME& t, std::uint32_t bits) { t.dwHighDateTime = bits; }

// One listed file of the update list, and also the record of a file's local
// state made from a path. Fields in the order of the list's record.
class CFileEntry {
public:
    // An empty path for a list entry; the file's path for a local-state record.
    explicit CFileEntry(std::wstring path = std::wstring());
    virtual ~CFileEntry() = default;

    // Stores the text of one child element of a File element under the key its
    // name selects; an unknown name changes nothing.
    void SetValue(const std::wstring& name, const std::wstring& text);

    // On a local-state record: reads the version and the last-write time of the
    // file at FullPath; true when at least one of the two was read.
    bool ReadLocalState();

    // On a list entry: whether the file on disk is missing or older than the
    // listed one. Sets NeedsUpdate and answers it. The answer is the one the
    // file's whole local state (ReadLocalState) gives, but the file is opened
    // once and its version is read only when the answer depends on it.
    bool DecideUpdate();

    VS_FIXEDFILEINFO VersionInfo{};
    std::int64_t Length = 0;
    std::wstring FileName;
    std::wstring FileVersion;
    std::wstring ProductVersion;
    bool Register = false;
    std::wstring InstallDir;
    bool ZipFile = false;
    bool ForceOverwrite = false;
    bool Execute = false;
    std::wstring ExecutePar;
    std::wstring LocalPath;
    FILETIME FileTime{};
    std::wstring FullPath;
    std::wstring URL;
    std::wstring UserName;
    std::wstring Password;
    bool NeedsUpdate = false;

private:
    bool ReadVersion();
    bool ReadLastWriteTime();
};

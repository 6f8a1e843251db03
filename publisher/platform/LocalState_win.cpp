// On Windows the tools read a client's files with the update component's own code.
#include "ReleaseFolder.h"

#include "FileEntry.h"

LocalFileState ReadLocalFileState(const std::filesystem::path& path, bool /*wantVersion*/)
{
    LocalFileState state;
    const std::wstring full = path.wstring();
    state.opened = FileExists(full);
    if (!state.opened)
        return state;
    CFileEntry local(full);
    state.read = local.ReadLocalState();
    state.version = local.FileVersion;
    state.time.Low = local.FileTime.dwLowDateTime;
    state.time.High = local.FileTime.dwHighDateTime;
    return state;
}

// Natively the version resource is read with our PE reader, which yields the
// same fixed version block as the platform's version functions.
#include "ReleaseFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ReleaseFile.h"
#include "pe/PeImage.h"

LocalFileState ReadLocalFileState(const std::filesystem::path& path, bool wantVersion)
{
    LocalFileState state;
    // A folder cannot be opened as a file on Windows: it counts as missing.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return state;
    struct stat st{};
    const bool isFile = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!isFile)
        return state;
    state.opened = true;
    state.time = FileTimeFromUnix(st.st_mtim.tv_sec, static_cast<std::uint32_t>(st.st_mtim.tv_nsec));
    state.read = true;
    std::vector<std::uint8_t> bytes;
    if (wantVersion && ReadWholeFile(path, bytes)) {
        PeResult<CPeImage> image = CPeImage::Open(bytes);
        if (image) {
            PeResult<VersionInfo> info = image->ReadVersionInfo();
            if (info && info->fixed)
                state.version = FormatVersion(info->fixed->fileVersionMS, info->fixed->fileVersionLS);
        }
    }
    return state;
}

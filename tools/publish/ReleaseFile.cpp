#include "ReleaseFile.h"

#include "Crc32.h"
#include "pe/PeImage.h"

const char* const WRITING_SUFFIX = ".vexa-writing";

namespace {

bool SameNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

const char* NeverPublishedReason(std::string_view name, bool isFolder)
{
    if (isFolder) {
        for (const char* vcs : {".git", ".svn", ".hg", ".bzr", "CVS"}) {
            if (SameNoCase(name, vcs))
                return "a version-control folder";
        }
        return nullptr;
    }
    for (const char* desktop : {"Thumbs.db", "desktop.ini", ".DS_Store", "ehthumbs.db"}) {
        if (SameNoCase(name, desktop))
            return "a file the desktop keeps in the folders it shows";
    }
    const std::string_view suffix = WRITING_SUFFIX;
    if (name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix)
        return "a list that vexa-publish was writing when it was stopped";
    return nullptr;
}

ReleaseFile DescribeReleaseFile(std::string path, const std::vector<std::uint8_t>& bytes, FileTimeValue lastWrite)
{
    ReleaseFile f;
    f.path = std::move(path);
    f.size = bytes.size();
    f.lastWrite = lastWrite;
    f.crc = Crc32(CRC32_START, bytes.data(), bytes.size());
    PeResult<CPeImage> image = CPeImage::Open(bytes);
    if (image) {
        f.isPe = true;
        PeResult<VersionInfo> info = image->ReadVersionInfo();
        if (info && info->fixed)
            f.version = info->fixed;
    }
    return f;
}

FileTimeValue FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds)
{
    // 11644473600 seconds lie between 1601-01-01 and 1970-01-01.
    const std::int64_t ticks = (seconds + 11644473600LL) * 10000000LL + nanoseconds / 100;
    const std::uint64_t bits = ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks);
    FileTimeValue t;
    t.Low = static_cast<std::uint32_t>(bits & 0xFFFFFFFFu);
    t.High = static_cast<std::uint32_t>(bits >> 32);
    return t;
}

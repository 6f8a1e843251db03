#include "ReleaseFile.h"

#include "CodePageText.h"
#include "Crc32.h"
#include "pe/PeImage.h"

const char* const WRITING_SUFFIX = ".vexa-writing";

const char* NeverPublishedReason(std::string_view name, bool isFolder)
{
    if (isFolder) {
        for (const char* vcs : {".git", ".svn", ".hg", ".bzr", "CVS"}) {
            if (EqualNoCase(name, vcs, CLeadBytes()))
                return "a version-control folder";
        }
        return nullptr;
    }
    for (const char* desktop : {"Thumbs.db", "desktop.ini", ".DS_Store", "ehthumbs.db"}) {
        if (EqualNoCase(name, desktop, CLeadBytes()))
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

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "VersionRules.h"
#include "pe/VersionInfo.h"

// One file of a release folder, as the publishing tools see it.
struct ReleaseFile {
    std::string path; // below the release folder, "/" between folders, UTF-8
    std::uint64_t size = 0;
    FileTimeValue lastWrite;        // as a FILETIME, UTC
    std::uint32_t crc = 0;          // the clients' checksum (start value -1)
    bool isPe = false;              // an .exe or .dll image the PE reader opened
    std::optional<FixedFileInfo> version; // its fixed version block, when it has one
};

// The facts of a file from its bytes and last-write time.
ReleaseFile DescribeReleaseFile(std::string path, const std::vector<std::uint8_t>& bytes, FileTimeValue lastWrite);

// FILETIME of a Unix time (seconds and nanoseconds since 1970, UTC).
FileTimeValue FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds);

// What a release folder may hold that is never published: version-control
// folders, the files a desktop leaves in folders it shows, the tool's own
// half-written lists. The reason, or nullptr for a name that is published.
const char* NeverPublishedReason(std::string_view name, bool isFolder);

// The suffix of the file a list is written into before it replaces the list.
extern const char* const WRITING_SUFFIX;

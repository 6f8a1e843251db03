#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

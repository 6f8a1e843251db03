#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PeResult.h"

// Values of VS_FIXEDFILEINFO that callers test.
constexpr std::uint32_t VS_FIXED_SIGNATURE = 0xFEEF04BD;
constexpr std::uint32_t VS_OS_WINDOWS32 = 0x00000004;
constexpr std::uint32_t VS_OS_NT_WINDOWS32 = 0x00040004;
constexpr std::uint32_t VS_TYPE_APP = 1;
constexpr std::uint32_t VS_TYPE_DLL = 2;

// The four numbers of a file or product version, as Windows shows them ("1.0.0.1").
struct FileVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;

    static FileVersion FromWords(std::uint32_t ms, std::uint32_t ls);
    std::string ToString() const;
    bool operator==(const FileVersion& other) const;
    bool operator!=(const FileVersion& other) const { return !(*this == other); }
    bool operator<(const FileVersion& other) const;
};

// VS_FIXEDFILEINFO, field by field.
struct FixedFileInfo {
    std::uint32_t signature = 0;
    std::uint32_t strucVersion = 0;
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMS = 0;
    std::uint32_t fileDateLS = 0;

    FileVersion FileVersionNumber() const { return FileVersion::FromWords(fileVersionMS, fileVersionLS); }
    FileVersion ProductVersionNumber() const { return FileVersion::FromWords(productVersionMS, productVersionLS); }
};

struct VersionString {
    std::u16string key;
    std::u16string value;
};

// One block of StringFileInfo, keyed by language and code page in hex ("080403a8").
struct VersionStringTable {
    std::u16string key;
    std::vector<VersionString> strings;
};

// One language and code page pair of VarFileInfo\Translation.
struct VersionTranslation {
    std::uint16_t language = 0;
    std::uint16_t codePage = 0;
};

// A version resource (VS_VERSIONINFO) read into plain values.
struct VersionInfo {
    std::optional<FixedFileInfo> fixed;
    std::vector<VersionStringTable> stringTables;
    std::vector<VersionTranslation> translations;

    // The value of a string in the named table, or in the first table when table is empty.
    std::optional<std::u16string> Value(std::u16string_view key, std::u16string_view table = {}) const;
};

// Reads the bytes of a version resource. Every length is checked against the
// block and against the node it sits in; text values end at their terminating
// zero even where a writer counted their length in bytes instead of characters.
PeResult<VersionInfo> ParseVersionInfo(PeBytes block);

// UTF-16 text as UTF-8, for output and comparison with literals; a lone
// surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "VersionRules.h"

// The few services of the file system and of text conversion that the tools
// need, over the platform (POSIX or Windows).

// What a release folder holds, below it, "/" between folders, in UTF-8, sorted.
// What is never published (see IsNeverPublished) is named in ignored, and the
// walk does not enter an ignored folder.
struct FolderContents {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    std::vector<std::string> ignored;
};

// False, with the reason, when the folder cannot be listed.
bool ListReleaseFolder(const std::filesystem::path& root, FolderContents& contents, std::string& error);

// A path from UTF-8 text, and back.
std::filesystem::path PathFromUtf8(const std::string& text);
std::string Utf8FromPath(const std::filesystem::path& path);

// The last-write time of a file as a FILETIME, or nothing when it cannot be read.
std::optional<FileTimeValue> LastWriteTime(const std::filesystem::path& path);
// Sets it; false when it cannot be set.
bool SetLastWriteTime(const std::filesystem::path& path, FileTimeValue time);

// The path of a file named in the clients' 8-bit text (GBK) on this machine:
// natively the GBK bytes themselves, as a web server on Linux must store them for
// Quillet's requests; on Windows the same characters.
std::filesystem::path PathFromGbk(const std::string& gbk);

// The whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes);
// Writes beside the file and renames over it once the bytes are on the disk, so
// that a reader sees the old file or the new one, never a part of it, and a
// failed write leaves the old file as it was. False, with the reason, when
// nothing was replaced.
bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes, std::string* error = nullptr);

// The state of a client's file as the update component reads it: opened for
// reading with read sharing, its version resource's fixed version, its
// last-write time. The version is read only when wantVersion is set.
LocalFileState ReadLocalFileState(const std::filesystem::path& path, bool wantVersion);

// UTF-8 in code page 936 (GBK), or nothing when a character has no GBK form.
std::optional<std::string> GbkFromUtf8(std::string_view text);
// GBK as UTF-8 for output; bytes that do not convert are shown as \xNN.
std::string Utf8FromGbk(std::string_view text);

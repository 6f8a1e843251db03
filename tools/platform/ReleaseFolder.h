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
struct FolderContents {
    std::vector<std::string> files;
    std::vector<std::string> folders;
};

// False, with the reason, when the folder cannot be listed.
bool ListReleaseFolder(const std::filesystem::path& root, FolderContents& contents, std::string& error);

// A path from UTF-8 text, and back.
std::filesystem::path PathFromUtf8(const std::string& text);
std::string Utf8FromPath(const std::filesystem::path& path);

// The last-write time of a file as a FILETIME, or nothing when it cannot be read.
std::optional<FileTimeValue> LastWriteTime(const std::filesystem::path& path);

// The whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes);
bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);

// UTF-8 in code page 936 (GBK), or nothing when a character has no GBK form.
std::optional<std::string> GbkFromUtf8(std::string_view text);
// GBK as UTF-8 for output; bytes that do not convert are shown as \xNN.
std::string Utf8FromGbk(std::string_view text);

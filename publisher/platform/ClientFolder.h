#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "FileList.h"
#include "VersionRules.h"
#include "ZorvaneList.h"

// An installed client folder (or a copy of a player's), seen the way each
// program sees its own folder, for the clients' decision code.

// Absolute, without a trailing separator, as a program names its own folder.
std::filesystem::path NormalClientFolder(const std::filesystem::path& dir);

// Zorvane: the local state of an entry's file, at the client folder joined with
// the entry's LocalPath and FileName as the program joins them.
LocalFileState ZorvaneStateIn(const std::filesystem::path& client, const ListedFile& entry);

// Quillet: the program folder as the updater spells it (its 8-bit text, ending
// in "\"), and a probe of the local paths below it.
struct QuilletFolderView {
    std::string programFolder;
    LocalPathProbe probe;
};
QuilletFolderView QuilletViewOf(const std::filesystem::path& client);

// The checksum of a whole file as the updater takes it: -1 when it cannot be opened.
std::int32_t FileChecksum(const std::filesystem::path& path);

// A path the programs spell with "\" between folders, on this machine's file system.
std::filesystem::path NativeClientPath(std::string utf8);

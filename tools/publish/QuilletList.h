#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "FileList.h"
#include "ReleaseFile.h"
#include "Report.h"

// A release folder's entries for filelist.list: folders and files, names in the
// clients' 8-bit text (GBK).
struct QuilletRelease {
    std::vector<std::string> folders; // below the release folder, "/" between folders, GBK
    std::vector<ReleaseFile> files;   // paths in GBK
};

struct QuilletOptions {
    std::string folder = "plat";              // the update folder on the server (the launch parameter)
    std::size_t installFolderLength = 24;     // assumed length of the client's program folder, with its "\"
};

// The records of filelist.list in the clients' order: each folder before what it
// holds, then its files. Refused names (":" anywhere, a file name without ".",
// a folder name with ".", paths the clients cannot hold) are errors; entries the
// clients skip or that are too long for a typical install folder are warnings.
// Errors leave the list empty.
std::vector<FileEntry> PlanQuilletList(const QuilletRelease& release, const QuilletOptions& options,
                                       CReport& report);

// The text of filelist.list: "directory:name:checksum" and CR LF per record, then
// one more line that the reader never takes as a record (it takes a record only
// when more text follows it).
std::string WriteQuilletList(const std::vector<FileEntry>& entries);

// The line after the last record.
extern const char* const QUILLET_LIST_END_LINE;

// What the clients will do with filelist.list and its problems: the last record
// that is never read, lines that are no record, numbers that wrap, names that
// are created as folders, entries listed twice or too long.
void CheckQuilletList(std::string_view bytes, const QuilletOptions& options, const std::string& file,
                      CReport& report);

// updatelist.ini as the clients read it: the servers they can pick, lines they drop.
void CheckUpdateServers(std::string_view bytes, const std::string& file, CReport& report);

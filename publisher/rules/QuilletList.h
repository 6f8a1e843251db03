#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "FileList.h"
#include "UpdateServerList.h"
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

// How often the clients' pick of an update server (PickServerIndex, with a draw
// of 0..32767) lands on each server of a list, for the kind they ask for (1).
struct ServerShares {
    std::vector<std::uint32_t> draws; // per server, of the 32768 draws
    std::uint32_t givenUp = 0;        // draws whose walk gives up: no update runs
    static constexpr std::uint32_t ALL = 32768;
};
ServerShares ComputeServerShares(const std::vector<UpdateServer>& servers, std::int32_t kind = 1);

// A share of the draws as "42.9%".
std::string ShareText(std::uint32_t draws);

// updatelist.ini as the clients read it: the servers they can pick and how often,
// starts on which the pick gives up, lines they drop.
void CheckUpdateServers(std::string_view bytes, const std::string& file, CReport& report);

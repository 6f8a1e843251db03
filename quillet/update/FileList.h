#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "CodePageText.h"

// One record of filelist.list ("directory:name:checksum").
struct FileEntry {
    std::string directory;     // relative to the program folder; "/" or "\" is the folder itself
    std::string name;          // a name without "." is a directory
    std::int32_t checksum = 0; // CRC-32 of the file (see FileCrc); not compared for directories
    std::int32_t kind = 0;     // ENTRY_FILE or ENTRY_DIRECTORY, set for the download list

    bool operator==(const FileEntry& o) const
    {
        return directory == o.directory && name == o.name && checksum == o.checksum && kind == o.kind;
    }
};

constexpr std::int32_t ENTRY_FILE = 0;
constexpr std::int32_t ENTRY_DIRECTORY = 1;

// Longest directory or name field of a record, and longest local path.
constexpr std::size_t FILE_LIST_FIELD_MAX = 9999;
constexpr std::size_t LOCAL_PATH_MAX = 259;

inline bool HasDot(std::string_view name) noexcept
{
    return name.find('.') != std::string_view::npos;
}

// Set from another thread to end the long steps below early: they then return
// what they have so far, which the caller does not use.
using StopFlag = std::atomic<bool>;

inline bool Stopped(const StopFlag* stop) noexcept
{
    return stop && stop->load(std::memory_order_relaxed);
}

// Reads the records from the bytes of a file list (read in binary mode). A record
// is "%[^:]:%[^:]:%d" followed by white space; it is taken only when more text
// follows it, so the record that reaches the end of the bytes is never taken.
// A record with a field over FILE_LIST_FIELD_MAX bytes or with a NUL byte in a
// field is skipped; a record that does not match is skipped up to the next line
// break. Linear in the size of the bytes, whatever they hold.
std::vector<FileEntry> ParseFileList(std::string_view bytes, const StopFlag* stop = nullptr);

// The records of the file at path; empty when it cannot be read.
std::vector<FileEntry> ReadFileList(const char* path, const StopFlag* stop = nullptr);

// Where the entry lives below the program folder (which ends in "\"):
// folder + directory, then "\" unless the directory is exactly "\", then the name.
std::string LocalEntryPath(std::string_view programFolder, const FileEntry& entry);

// What the local list learns of one local path: whether something (file or
// directory) exists there and, when asked for, the checksum of the file.
struct LocalPathState {
    bool exists = false;
    std::int32_t checksum = 0;
};
// Looks at one local path; wantChecksum is set for names with a ".".
using LocalPathProbe = std::function<LocalPathState(const std::string& path, bool wantChecksum)>;

// One local entry per remote entry that exists at its local path, in remote
// order; the checksum of one whose name has a "." is its FileCrc, otherwise 0.
// An entry whose local path is longer than LOCAL_PATH_MAX is taken as missing.
// A file is opened once: what cannot be opened for another reason than its
// absence is looked for again, and counts as present with checksum -1.
std::vector<FileEntry> BuildLocalList(const std::vector<FileEntry>& remote, std::string_view programFolder,
                                      const StopFlag* stop = nullptr);
// The same rule over another view of the local paths: the publishing tools hand
// in a player's folder or a previous release, so that they decide with this code.
std::vector<FileEntry> BuildLocalList(const std::vector<FileEntry>& remote, std::string_view programFolder,
                                      const LocalPathProbe& probe);

// The download list: first, in local order, a copy of every remote entry with a
// "." in its name whose directory and name equal a local entry's (without regard
// to case in the code page of the given lead bytes) and whose checksum differs
// from it; then, when the two lists differ in length, every remote entry that no
// local entry matches, in remote order. Each gets the kind ENTRY_DIRECTORY when
// its name has no ".", else ENTRY_FILE. Linear in the sizes of the lists and of
// the result.
std::vector<FileEntry> CompareLists(const std::vector<FileEntry>& remote, const std::vector<FileEntry>& local,
                                    const CLeadBytes& leads, const StopFlag* stop = nullptr);

// The checksum of a whole file with start value -1 (streamed through a fixed
// buffer), or -1 when the file cannot be opened. A read error ends the sum with
// what was read.
std::int32_t FileCrc(const char* path, const StopFlag* stop = nullptr);

// True when something (file or directory) exists at path.
bool PathExists(const char* path);

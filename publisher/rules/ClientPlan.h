#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FileList.h"
#include "Report.h"
#include "VersionRules.h"
#include "ZorvaneList.h"

// What a client will do with each listed file, decided by the clients' own
// rules (DecideUpdateCause for Zorvane; BuildLocalList and CompareLists for
// Quillet), and why.

struct PlanRow {
    std::string target;             // where the file lands, below the client folder, "\" between folders
    bool checked = true;            // false: outside the client folder (Windows or system folder)
    bool fetch = false;             // fetched (or, for a folder, created) in the next run
    bool folder = false;            // a folder to create rather than a file to fetch
    int fetches = 0;                // downloads of it in one run (a file listed twice: four)
    std::string why;                // "missing", "lower version (local 2.0.0.9, listed 2.0.0.10)", ...
    std::vector<std::string> traps; // what the clients get wrong with this entry, and what to do
    std::optional<std::uint64_t> bytes; // one download of it, when known
    int line = 0;                   // of its entry in the list
};

struct ClientPlan {
    std::vector<PlanRow> rows;
    std::size_t files = 0;     // listed files that the plan looked at
    std::size_t fetched = 0;   // files fetched at least once
    std::size_t downloads = 0; // downloads in one run
    std::size_t folders = 0;   // folders to create
    std::uint64_t bytes = 0;   // of the downloads whose size is known
    std::size_t sizesUnknown = 0; // downloads whose size is unknown
    std::size_t unchecked = 0; // entries outside the client folder

    bool NothingToDo() const { return downloads == 0 && folders == 0; }
};

// Zorvane: stateOf reads the local state of an entry's file (the client folder
// joined with its LocalPath and FileName as the program joins them); entries
// whose InstallDir selects the Windows or the system folder are not checked.
ClientPlan PlanZorvane(const std::vector<ListedFile>& entries,
                       const std::function<LocalFileState(const ListedFile&)>& stateOf);

// Quillet: the program folder as the program spells it (ending in "\"), a probe
// of the client's local paths, the update folder (for the lengths of the
// download addresses) and, when known, the size of an entry's download.
ClientPlan PlanQuillet(const std::vector<FileEntry>& remote, std::string_view programFolder,
                       const LocalPathProbe& probe, const std::string& folder,
                       const std::function<std::optional<std::uint64_t>(const FileEntry&)>& sizeOf);

// What a release changes for a client that holds the previous one.
struct ReleaseChanges {
    std::size_t added = 0;     // new places: fetched
    std::size_t changed = 0;   // places of both releases that the clients fetch again
    std::size_t unchanged = 0; // places of both releases that the clients leave alone
    std::size_t removed = 0;   // places of the previous release only: the clients keep them
    std::size_t downloads = 0;
    std::uint64_t bytes = 0;   // what an up-to-date client downloads
    std::vector<std::string> fetchedNames; // the places added or changed, as the list names them
};

// Zorvane: the previous list's version and time of a place stand for the
// installed file. Warns where a file differs from the previous release but the
// clients keep the previous one (a version or a time that goes back, or the same
// version or time with another length).
ReleaseChanges CompareZorvaneReleases(const std::vector<ListedFile>& next, const std::vector<ListedFile>& previous,
                                      const std::string& previousFile, CReport& report);

// Quillet: a client holding exactly the previous list's files. sizeOf gives the
// length of a new release file.
ReleaseChanges CompareQuilletReleases(const std::vector<FileEntry>& next, const std::vector<FileEntry>& previous,
                                      const std::function<std::uint64_t(const FileEntry&)>& sizeOf);

// "3 added, 1 changed, ..." in one line, with the bytes an up-to-date client downloads.
std::string DescribeChanges(const ReleaseChanges& changes);

// The names of the places fetched, at most the given number, then how many more.
std::string DescribeFetchedNames(const ReleaseChanges& changes, std::size_t most = 20);

// A size for people: "1.2 MB (1234567 bytes)".
std::string ShowBytes(std::uint64_t bytes);

// True when the bytes are well-formed two-byte GBK text (lead 0x81..0xFE, then
// 0x40..0xFE but 0x7F); ASCII passes.
bool IsGbkText(std::string_view text);

#pragma once

// What a server serves, fetched the way the clients fetch it and held against
// the list and the release: the checks of `verify`, also run on every server of
// the fleet before a rollout switches it.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "FileList.h"
#include "HttpGet.h"
#include "ZorvaneList.h"

struct VerifyTally {
    std::size_t ok = 0;
    std::size_t failed = 0;
    std::uint64_t bytes = 0;
    std::vector<std::string> failures;
};

// One line per fetch ("[ 3/12] what ... ok (300 bytes)"), or nothing when
// quiet; every fetch counts in the tally and every failure is kept.
class CFetchProgress {
public:
    CFetchProgress(VerifyTally& tally, std::size_t count, bool quiet) : m_tally(tally), m_count(count), m_quiet(quiet) {}
    void Start(const std::string& what);
    void End(const std::string& what, const std::string& problem, std::uint64_t bytes);

private:
    VerifyTally& m_tally;
    std::size_t m_index = 0;
    std::size_t m_count;
    bool m_quiet;
};

// "" for a complete answer with status 200, else what went wrong.
std::string StatusProblem(const HttpGetResult& r);
// The published list must be the one on the server, byte for byte.
std::string CompareServedList(const HttpGetResult& r, const std::vector<std::uint8_t>& local);

void PrintTally(const char* who, const VerifyTally& tally);

// The release folder a list was made from: each served body is held against the
// release file it came from.
class CReleaseCopy {
public:
    struct Facts {
        std::uint64_t size = 0;
        std::uint32_t crc = 0;
    };

    bool Open(const std::filesystem::path& root, std::string& error);
    // The release path (UTF-8, "/") that an address of Update.xml ends in; the
    // longest such path where several do.
    std::optional<std::string> PathOfUrl(const std::string& object) const;
    // Size and checksum of a release file, or nothing when it cannot be read.
    std::optional<Facts> FactsOf(const std::string& path);
    // "" when the served body is the release file's bytes.
    std::string Compare(const std::string& path, const HttpGetResult& r);

private:
    std::filesystem::path m_root;
    std::vector<std::string> m_files;
    std::map<std::string, Facts> m_facts;
};

// Every file of Update.xml's entries, as Zorvane fetches it: status, length,
// version and, with a release, the bytes. `server` stands in for the host of
// every address (a mirror serves the same paths under its own address).
void CheckZorvaneFiles(const std::vector<ListedFile>& entries, const std::string& file,
                       const std::optional<Target>& server, int timeoutSeconds, CReleaseCopy* release,
                       CFetchProgress& progress);

// The list and every file of filelist.list on one server, as Quillet fetches
// them from it.
VerifyTally CheckQuilletServer(const QuilletSource& source, const std::vector<FileEntry>& entries,
                               const std::vector<std::uint8_t>& listBytes, int timeoutSeconds, CReleaseCopy* release,
                               bool quiet);

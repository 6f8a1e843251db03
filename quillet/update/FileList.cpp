#include "FileList.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <unordered_map>

#include "Crc32.h"
#include "GbkText.h"
#include "ScanText.h"

namespace {

// The skip of a record that does not match: on after the next line break.
void SkipLine(CScanText& scan)
{
    scan.Until('\n');
    scan.Literal('\n');
}

// The key under which entries count as the same: directory and name folded;
// neither can hold ":", so the joined text is unambiguous.
std::string EntryKey(const FileEntry& e)
{
    std::string key = FoldCase(e.directory);
    key.push_back(':');
    key += FoldCase(e.name);
    return key;
}

} // namespace

std::vector<FileEntry> ParseFileList(std::string_view bytes)
{
    std::vector<FileEntry> list;
    CScanText scan(bytes);
    while (!scan.AtEnd()) {
        std::size_t start = scan.Position();
        std::string_view directory = scan.Until(':');
        if (scan.AtEnd())
            break; // the end came inside the record
        std::string_view name;
        std::int32_t checksum = 0;
        bool matched = !directory.empty() && scan.Literal(':');
        if (matched) {
            name = scan.Until(':');
            if (scan.AtEnd())
                break;
            matched = !name.empty() && scan.Literal(':') && scan.Number(checksum);
        }
        if (!matched) {
            scan.MoveTo(start);
            SkipLine(scan);
            scan.SkipSpace();
            continue;
        }
        scan.SkipSpace();
        if (scan.AtEnd())
            break; // a record that reaches the end is not taken
        if (directory.size() > FILE_LIST_FIELD_MAX || name.size() > FILE_LIST_FIELD_MAX)
            continue;
        FileEntry e;
        e.directory = std::string(directory);
        e.name = std::string(name);
        e.checksum = checksum;
        list.push_back(std::move(e));
    }
    return list;
}

std::vector<FileEntry> ReadFileList(const char* path)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return {};
    std::string bytes;
    char block[16384];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0)
        bytes.append(block, n);
    std::fclose(f);
    return ParseFileList(bytes);
}

std::string LocalEntryPath(std::string_view programFolder, const FileEntry& entry)
{
    std::string path(programFolder);
    path += entry.directory;
    if (entry.directory != "\\")
        path.push_back('\\');
    path += entry.name;
    return path;
}

LocalPathState ProbeDisk(const std::string& path, bool wantChecksum)
{
    LocalPathState state;
    state.exists = PathExists(path.c_str());
    if (state.exists && wantChecksum)
        state.checksum = FileCrc(path.c_str());
    return state;
}

std::vector<FileEntry> BuildLocalList(const std::vector<FileEntry>& remote, std::string_view programFolder,
                                      const LocalPathProbe& probe)
{
    std::vector<FileEntry> local;
    for (const FileEntry& r : remote) {
        std::string path = LocalEntryPath(programFolder, r);
        if (path.size() > LOCAL_PATH_MAX)
            continue;
        const bool dotted = HasDot(r.name);
        const LocalPathState state = probe(path, dotted);
        if (!state.exists)
            continue;
        FileEntry copy = r;
        copy.checksum = dotted ? state.checksum : 0;
        local.push_back(std::move(copy));
    }
    return local;
}

std::vector<FileEntry> CompareLists(const std::vector<FileEntry>& remote, const std::vector<FileEntry>& local)
{
    // Remote entries grouped by key in remote order; each group is cut into runs
    // of equal checksums, so that the entries whose checksum differs from a given
    // one are found by stepping over at most one skipped run per copied run.
    struct Run {
        std::int32_t checksum;
        std::size_t begin; // into order
        std::size_t end;
    };
    struct Group {
        std::vector<Run> runs;
        bool matched = false;
    };
    std::unordered_map<std::string, std::size_t> groupOf;
    groupOf.reserve(remote.size());
    std::vector<std::size_t> groupOfRemote(remote.size());
    std::vector<Group> groups;
    std::vector<std::vector<std::size_t>> members;
    for (std::size_t i = 0; i < remote.size(); ++i) {
        auto [it, added] = groupOf.emplace(EntryKey(remote[i]), groups.size());
        if (added) {
            groups.emplace_back();
            members.emplace_back();
        }
        groupOfRemote[i] = it->second;
        members[it->second].push_back(i);
    }
    std::vector<std::size_t> order;
    order.reserve(remote.size());
    for (std::size_t g = 0; g < groups.size(); ++g) {
        for (std::size_t i : members[g]) {
            std::vector<Run>& runs = groups[g].runs;
            if (runs.empty() || runs.back().checksum != remote[i].checksum)
                runs.push_back(Run{remote[i].checksum, order.size(), order.size()});
            order.push_back(i);
            runs.back().end = order.size();
        }
    }
    members.clear();

    std::vector<FileEntry> download;
    for (const FileEntry& l : local) {
        auto it = groupOf.find(EntryKey(l));
        if (it == groupOf.end())
            continue;
        Group& g = groups[it->second];
        g.matched = true;
        // Equal keys have equal names up to case, and a "." is no letter.
        if (!HasDot(l.name))
            continue;
        for (const Run& run : g.runs) {
            if (run.checksum == l.checksum)
                continue;
            for (std::size_t k = run.begin; k < run.end; ++k)
                download.push_back(remote[order[k]]);
        }
    }
    if (remote.size() != local.size()) {
        for (std::size_t i = 0; i < remote.size(); ++i)
            if (!groups[groupOfRemote[i]].matched)
                download.push_back(remote[i]);
    }
    for (FileEntry& e : download)
        e.kind = HasDot(e.name) ? ENTRY_FILE : ENTRY_DIRECTORY;
    return download;
}

std::int32_t FileCrc(const char* path)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return -1;
    constexpr std::size_t BLOCK = 64 * 1024;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[BLOCK]);
    std::uint32_t crc = CRC32_START;
    std::size_t n;
    while ((n = std::fread(buffer.get(), 1, BLOCK, f)) > 0)
        crc = Crc32(crc, buffer.get(), n);
    std::fclose(f);
    return static_cast<std::int32_t>(crc);
}

bool PathExists(const char* path)
{
#ifdef _WIN32
    // The 64-bit form, so that files over 2 GiB are found too.
    struct _stat64 info;
    return ::_stat64(path, &info) == 0;
#else
    struct stat info;
    return ::stat(path, &info) == 0;
#endif
}

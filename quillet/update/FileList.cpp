#include "FileList.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <unordered_map>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "Crc32.h"
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
std::string EntryKey(const FileEntry& e, const CLeadBytes& leads)
{
    std::string key = FoldCase(e.directory, leads);
    key.push_back(':');
    key += FoldCase(e.name, leads);
    return key;
}

bool HoldsNul(std::string_view field) noexcept
{
    return field.find('\0') != std::string_view::npos;
}

// The bytes of a file are summed through a buffer of this size.
constexpr std::size_t SUM_BLOCK = 64 * 1024;

// The C runtime's unbuffered file calls: one open, the reads, one close.
#ifdef _WIN32
int OpenToRead(const char* path)
{
    return ::_open(path, _O_RDONLY | _O_BINARY | _O_SEQUENTIAL);
}
long ReadSome(int fd, unsigned char* buffer, std::size_t size)
{
    return ::_read(fd, buffer, static_cast<unsigned>(size));
}
void CloseFile(int fd)
{
    ::_close(fd);
}
#else
int OpenToRead(const char* path)
{
    return ::open(path, O_RDONLY | O_CLOEXEC);
}
long ReadSome(int fd, unsigned char* buffer, std::size_t size)
{
    return static_cast<long>(::read(fd, buffer, size));
}
void CloseFile(int fd)
{
    ::close(fd);
}
#endif

enum class Opened {
    Yes,
    Missing, // nothing at the path
    Refused, // something may be there that cannot be opened (a folder, a file in use)
};

struct FileSum {
    Opened opened = Opened::Missing;
    std::int32_t checksum = -1;
};

// Opens the file at path once and sums it with start value -1. What cannot be
// opened has checksum -1; a read error (a folder, where it opens) ends the sum
// with what was read.
FileSum SumFile(const char* path, std::vector<unsigned char>& buffer, const StopFlag* stop)
{
    FileSum sum;
    const int fd = OpenToRead(path);
    if (fd < 0) {
        sum.opened = (errno == ENOENT || errno == ENOTDIR) ? Opened::Missing : Opened::Refused;
        return sum;
    }
    sum.opened = Opened::Yes;
    std::uint32_t crc = CRC32_START;
    for (;;) {
        const long n = ReadSome(fd, buffer.data(), buffer.size());
        if (n <= 0 || Stopped(stop))
            break;
        crc = Crc32(crc, buffer.data(), static_cast<std::size_t>(n));
    }
    CloseFile(fd);
    sum.checksum = static_cast<std::int32_t>(crc);
    return sum;
}

} // namespace

std::vector<FileEntry> ParseFileList(std::string_view bytes, const StopFlag* stop)
{
    std::vector<FileEntry> list;
    CScanText scan(bytes);
    // A record that fails after its first ":" fails the same way from every start
    // up to that ":", since the rest of it is the same text. Those starts are
    // skipped line by line without scanning to the ":" again, so that lines
    // without ":" before a malformed record cost each one scan, not one each.
    std::size_t failsBefore = 0;
    while (!scan.AtEnd()) {
        if (Stopped(stop))
            break;
        const std::size_t start = scan.Position();
        bool matched = false;
        std::string_view directory;
        std::string_view name;
        std::int32_t checksum = 0;
        if (start >= failsBefore) {
            directory = scan.Until(':');
            if (scan.AtEnd())
                break; // the end came inside the record
            const std::size_t colon = scan.Position();
            matched = !directory.empty() && scan.Literal(':');
            if (matched) {
                name = scan.Until(':');
                if (scan.AtEnd())
                    break;
                matched = !name.empty() && scan.Literal(':') && scan.Number(checksum);
                if (!matched)
                    failsBefore = colon + 1;
            }
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
        // A field over its limit, or one that a NUL byte would end early for the
        // file functions (a name that is not the name compared), is no record.
        if (directory.size() > FILE_LIST_FIELD_MAX || name.size() > FILE_LIST_FIELD_MAX || HoldsNul(directory) ||
            HoldsNul(name))
            continue;
        FileEntry e;
        e.directory = std::string(directory);
        e.name = std::string(name);
        e.checksum = checksum;
        list.push_back(std::move(e));
    }
    return list;
}

std::vector<FileEntry> ReadFileList(const char* path, const StopFlag* stop)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return {};
    std::string bytes;
    char block[16384];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0 && !Stopped(stop))
        bytes.append(block, n);
    std::fclose(f);
    return ParseFileList(bytes, stop);
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

namespace {

template <typename Probe>
std::vector<FileEntry> LocalListOf(const std::vector<FileEntry>& remote, std::string_view programFolder,
                                   const StopFlag* stop, Probe&& probe)
{
    std::vector<FileEntry> local;
    for (const FileEntry& r : remote) {
        if (Stopped(stop))
            break;
        const std::string path = LocalEntryPath(programFolder, r);
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

} // namespace

std::vector<FileEntry> BuildLocalList(const std::vector<FileEntry>& remote, std::string_view programFolder,
                                      const StopFlag* stop)
{
    std::vector<unsigned char> buffer(SUM_BLOCK);
    return LocalListOf(remote, programFolder, stop, [&](const std::string& path, bool dotted) {
        LocalPathState state;
        if (!dotted) {
            state.exists = PathExists(path.c_str());
            return state;
        }
        // The open tells whether the file is there; only a refusal is looked
        // into, since a folder or a file that cannot be opened is present too.
        const FileSum sum = SumFile(path.c_str(), buffer, stop);
        state.exists = sum.opened != Opened::Missing && (sum.opened != Opened::Refused || PathExists(path.c_str()));
        state.checksum = sum.checksum;
        return state;
    });
}

std::vector<FileEntry> BuildLocalList(const std::vector<FileEntry>& remote, std::string_view programFolder,
                                      const LocalPathProbe& probe)
{
    return LocalListOf(remote, programFolder, nullptr, probe);
}

std::vector<FileEntry> CompareLists(const std::vector<FileEntry>& remote, const std::vector<FileEntry>& local,
                                    const CLeadBytes& leads, const StopFlag* stop)
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
        if (Stopped(stop))
            return {};
        auto [it, added] = groupOf.emplace(EntryKey(remote[i], leads), groups.size());
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
        if (Stopped(stop))
            return download;
        auto it = groupOf.find(EntryKey(l, leads));
        if (it == groupOf.end())
            continue;
        Group& g = groups[it->second];
        g.matched = true;
        // Equal keys have equal names up to case, and a "." is no letter.
        if (!HasDot(l.name))
            continue;
        for (const Run& run : g.runs) {
            // The same file listed many times multiplies the copies: stop between them too.
            if (run.checksum == l.checksum || Stopped(stop))
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

std::int32_t FileCrc(const char* path, const StopFlag* stop)
{
    std::vector<unsigned char> buffer(SUM_BLOCK);
    return SumFile(path, buffer, stop).checksum;
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

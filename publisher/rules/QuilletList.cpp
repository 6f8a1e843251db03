#include "QuilletList.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "GbkText.h"
#include "UpdateRules.h"
#include "UpdateServerList.h"

const char* const QUILLET_LIST_END_LINE = "updatetmp:end:0";

namespace {

// The lines of a text one by one, numbered from 1, without their line ends.
class LineReader {
public:
    explicit LineReader(std::string_view bytes) : m_bytes(bytes) {}

    bool Next(std::string_view& text)
    {
        if (m_pos >= m_bytes.size())
            return false;
        std::size_t end = m_bytes.find('\n', m_pos);
        if (end == std::string_view::npos)
            end = m_bytes.size();
        text = m_bytes.substr(m_pos, end - m_pos);
        m_pos = end + 1;
        ++m_line;
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        return true;
    }
    int Line() const { return m_line; }

private:
    std::string_view m_bytes;
    std::size_t m_pos = 0;
    int m_line = 0;
};

// The entry of a path below the release folder ("data/sub/x.dat").
FileEntry EntryOf(const std::string& path)
{
    FileEntry e;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        e.directory = "\\";
        e.name = path;
    } else {
        e.directory = path.substr(0, slash);
        for (char& c : e.directory) {
            if (c == '/')
                c = '\\';
        }
        e.name = path.substr(slash + 1);
    }
    return e;
}

std::string Shown(const FileEntry& e)
{
    return e.directory + ":" + e.name;
}

} // namespace

std::vector<FileEntry> PlanQuilletList(const QuilletRelease& release, const QuilletOptions& options,
                                       CReport& report)
{
    // Folders first, each before its contents: sorting "a" before "a/b" before
    // "a/b.txt" keeps that when every folder sorts as "path/".
    std::map<std::string, FileEntry> ordered;
    bool refused = false;
    const auto check = [&](const std::string& path, bool isFolder) {
        const FileEntry e = EntryOf(path);
        if (path.find(':') != std::string::npos) {
            report.Error(path, 0, "contains \":\", which separates the fields of filelist.list");
            refused = true;
            return;
        }
        if (isFolder && HasDot(e.name)) {
            report.Error(path, 0, "is a folder whose name contains \".\": clients would fetch it as a file");
            refused = true;
            return;
        }
        if (!isFolder && !HasDot(e.name)) {
            report.Error(path, 0, "is a file whose name has no \".\": clients would create a folder of that name");
            refused = true;
            return;
        }
        FileEntry probe = e;
        probe.kind = isFolder ? ENTRY_DIRECTORY : ENTRY_FILE;
        const std::optional<EntryTarget> target = TargetOf(probe, options.folder);
        if (!target || e.directory.size() > FILE_LIST_FIELD_MAX) {
            report.Error(path, 0,
                         "is too long: clients hold at most " + std::to_string(UPDATE_PATH_MAX) +
                             " bytes of local path and of /Vexaupdate/" + options.folder + "/release/ address");
            refused = true;
            return;
        }
        if (isFolder && target->localPath.size() > DIRECTORY_PATH_MAX) {
            report.Error(path, 0,
                         "is too long: clients create folders of at most " + std::to_string(DIRECTORY_PATH_MAX) +
                             " bytes");
            refused = true;
            return;
        }
        if (options.installFolderLength + target->localPath.size() > LOCAL_PATH_MAX)
            report.Warn(path, 0,
                        "local path of " + std::to_string(target->localPath.size()) +
                            " bytes is too long below an install folder of " +
                            std::to_string(options.installFolderLength) +
                            " bytes: clients take it as missing and fetch it on every run");
        if (IsSkippedEntry(probe))
            report.Warn(path, 0, "clients never fetch or create this entry (updatetmp and winmm.dll are skipped)");
        std::string key = path;
        if (isFolder)
            key += '/';
        ordered.emplace(key, e);
    };
    for (const std::string& folder : release.folders)
        check(folder, true);
    std::map<std::string, std::int32_t> checksums;
    for (const ReleaseFile& f : release.files) {
        check(f.path, false);
        checksums[f.path] = static_cast<std::int32_t>(f.crc);
    }
    // Names that differ only in case are one entry for the clients.
    std::map<std::string, std::string> folded;
    for (const auto& [key, e] : ordered) {
        const auto [it, added] = folded.emplace(FoldCase(key), key);
        if (!added) {
            report.Error(key, 0, "differs from " + it->second + " only in case: clients take both as one entry");
            refused = true;
        }
    }
    if (refused)
        return {};
    std::vector<FileEntry> out;
    for (auto& [key, e] : ordered) {
        const bool isFolder = key.back() == '/';
        e.checksum = isFolder ? 0 : checksums[key];
        out.push_back(e);
    }
    return out;
}

std::string WriteQuilletList(const std::vector<FileEntry>& entries)
{
    std::string text;
    for (const FileEntry& e : entries) {
        text += e.directory;
        text += ':';
        text += e.name;
        text += ':';
        text += std::to_string(e.checksum);
        text += "\r\n";
    }
    text += QUILLET_LIST_END_LINE;
    text += "\r\n";
    return text;
}

void CheckQuilletList(std::string_view bytes, const QuilletOptions& options, const std::string& file,
                      CReport& report)
{
    const std::vector<FileEntry> taken = ParseFileList(bytes);
    // The records that a following line would make the reader take.
    std::string extended(bytes);
    extended += "\n\\:x.x:0\n\\:x.x:0";
    const std::vector<FileEntry> all = ParseFileList(extended);
    const std::size_t dropped = all.size() >= taken.size() + 1 ? all.size() - 1 - taken.size() : 0;

    // Line by line, for the line numbers of what the reader takes or skips.
    std::map<std::string, int> seen;
    std::set<std::string> folders;
    std::vector<std::pair<FileEntry, int>> files;
    std::size_t records = 0;
    LineReader lines(bytes);
    std::string_view text;
    while (lines.Next(text)) {
        const int line = lines.Line();
        if (text.find_first_not_of(" \t\r\v\f") == std::string_view::npos)
            continue;
        const std::size_t a = text.find(':');
        const std::size_t b = a == std::string_view::npos ? a : text.find(':', a + 1);
        if (a == std::string_view::npos || b == std::string_view::npos || a == 0 || b == a + 1) {
            report.Error(file, line, "not a record \"directory:name:checksum\": clients skip it");
            continue;
        }
        FileEntry e;
        e.directory = std::string(text.substr(0, a));
        e.name = std::string(text.substr(a + 1, b - a - 1));
        std::string_view number = text.substr(b + 1);
        while (!number.empty() && (number.back() == ' ' || number.back() == '\t'))
            number.remove_suffix(1);
        std::size_t i = (!number.empty() && (number[0] == '-' || number[0] == '+')) ? 1 : 0;
        bool digits = i < number.size();
        long long value = 0;
        for (; i < number.size(); ++i) {
            if (number[i] < '0' || number[i] > '9') {
                digits = false;
                break;
            }
            if (value < 100000000000LL)
                value = value * 10 + (number[i] - '0');
        }
        if (!number.empty() && number[0] == '-')
            value = -value;
        if (!digits) {
            report.Error(file, line, "checksum \"" + std::string(number) + "\" is not a decimal number");
            continue;
        }
        if (value > 2147483647LL || value < -2147483648LL)
            report.Warn(file, line,
                        "checksum " + std::string(number) +
                            " is outside the signed 32-bit range: clients read it wrapped (write it as a signed "
                            "number)");
        ++records;
        const bool last = records > taken.size();
        if (last && dropped > 0) {
            FileEntry probe = e;
            probe.kind = HasDot(e.name) ? ENTRY_FILE : ENTRY_DIRECTORY;
            if (IsSkippedEntry(probe))
                report.Note(file, line, "the end line: never read as a record, as the reader needs");
            else
                report.Error(file, line,
                             "the last record " + Shown(e) +
                                 " is never read: the reader takes a record only when more text follows it; add "
                                 "one more line after it");
            continue;
        }
        const std::string key = FoldCase(Shown(e));
        if (seen.count(key))
            report.Warn(file, line,
                        Shown(e) + " is listed again (first at line " + std::to_string(seen[key]) +
                            "): clients compare and may fetch it more than once");
        else
            seen[key] = line;
        if (e.directory.find('/') != std::string::npos && !IsRootDirectory(e.directory))
            report.Warn(file, line, "directory \"" + e.directory + "\" uses \"/\": deeper levels are separated by \"\\\"");
        FileEntry probe = e;
        probe.kind = HasDot(e.name) ? ENTRY_FILE : ENTRY_DIRECTORY;
        if (IsSkippedEntry(probe))
            report.Warn(file, line, Shown(e) + " is never fetched or created by the clients");
        const std::optional<EntryTarget> target = TargetOf(probe, options.folder);
        if (!target)
            report.Error(file, line, Shown(e) + " is longer than the clients' paths can hold: they skip it");
        else if (options.installFolderLength + target->localPath.size() > LOCAL_PATH_MAX)
            report.Warn(file, line,
                        Shown(e) + " is too long below a typical install folder: clients fetch it on every run");
        if (probe.kind == ENTRY_DIRECTORY) {
            folders.insert(FoldCase(IsRootDirectory(e.directory) ? e.name : e.directory + "\\" + e.name));
            report.Note(file, line, Shown(e) + ": no \".\" in the name, so clients create it as a folder");
        } else {
            files.emplace_back(e, line);
        }
    }
    // A folder named with a "." is listed as a file: its own record would be fetched.
    std::map<std::string, std::pair<const FileEntry*, int>> filePaths;
    for (const auto& [e, at] : files)
        filePaths.emplace(FoldCase(IsRootDirectory(e.directory) ? e.name : e.directory + "\\" + e.name),
                          std::make_pair(&e, at));
    std::set<std::string> reported;
    for (const auto& [e, at] : files) {
        if (IsRootDirectory(e.directory))
            continue;
        const std::string dir = FoldCase(e.directory);
        for (std::size_t cut = 0; cut != std::string::npos;) {
            cut = dir.find('\\', cut + 1);
            const std::string prefix = dir.substr(0, cut);
            const auto it = filePaths.find(prefix);
            if (it != filePaths.end() && reported.insert(prefix).second)
                report.Error(file, it->second.second,
                             Shown(*it->second.first) + " is a folder (line " + std::to_string(at) +
                                 " lies in it) whose name has a \".\": clients fetch it as a file");
        }
    }
    if (dropped == 0 && !taken.empty())
        report.Warn(file, 0, "no end line after the last record; a list that ends right after a record loses it");
    report.Note(file, 0,
                "clients take " + std::to_string(taken.size()) + " records: " + std::to_string(files.size()) +
                    " files and " + std::to_string(folders.size()) + " folders");
    if (taken.empty())
        report.Warn(file, 0, "clients take no record: the update ends at once with nothing fetched");
}

ServerShares ComputeServerShares(const std::vector<UpdateServer>& servers, std::int32_t kind)
{
    ServerShares shares;
    shares.draws.assign(servers.size(), 0);
    const std::size_t n = servers.size();
    if (n == 0) {
        shares.givenUp = ServerShares::ALL;
        return shares;
    }
    // The walk depends on the draw only through its target, (r + n) mod 2n.
    std::vector<std::uint32_t> perTarget(2 * n, 0);
    for (std::uint32_t r = 0; r < ServerShares::ALL; ++r)
        ++perTarget[(r + n) % (2 * n)];
    for (std::size_t target = 0; target < 2 * n; ++target) {
        if (perTarget[target] == 0)
            continue;
        // The smallest draw with this target stands for all of them.
        const int r = static_cast<int>((target + 2 * n - n % (2 * n)) % (2 * n));
        const int index = PickServerIndex(servers, kind, r);
        if (index < 0)
            shares.givenUp += perTarget[target];
        else
            shares.draws[static_cast<std::size_t>(index)] += perTarget[target];
    }
    return shares;
}

std::string ShareText(std::uint32_t draws)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * draws / ServerShares::ALL);
    return text;
}

void CheckUpdateServers(std::string_view bytes, const std::string& file, CReport& report)
{
    const std::vector<UpdateServer> servers = ParseUpdateServers(bytes);
    const ServerShares shares = ComputeServerShares(servers);
    std::size_t kindOne = 0;
    std::uint32_t most = 0;
    std::uint32_t least = ServerShares::ALL;
    for (std::size_t i = 0; i < servers.size(); ++i) {
        const UpdateServer& s = servers[i];
        std::string what = "server " + std::to_string(s.id) + " (kind " + std::to_string(s.kind) + ") \"" + s.name +
                           "\" at " + s.host + ":" + std::to_string(ServerPort(s));
        if (s.kind == 1) {
            ++kindOne;
            most = std::max(most, shares.draws[i]);
            least = std::min(least, shares.draws[i]);
            what += shares.draws[i] == 0 ? ": never picked" : ": picked on " + ShareText(shares.draws[i]) + " of starts";
        }
        if (s.host.empty() || ServerPort(s) == 0)
            report.Warn(file, 0, what + ": no host or no port, so a run that picks it cannot connect");
        else if (s.port != static_cast<std::int32_t>(ServerPort(s)))
            report.Warn(file, 0, what + ": port " + std::to_string(s.port) + " keeps only its low 16 bits");
        else if (s.kind == 1 && shares.draws[i] == 0)
            report.Warn(file, 0, what + " (the pick gives up before it reaches it)");
        else
            report.Note(file, 0, what);
    }
    if (kindOne > 0 && shares.givenUp > 0)
        report.Warn(file, 0,
                    "on " + ShareText(shares.givenUp) +
                        " of starts the pick gives up (it stops after 1001 visits of the list) and nothing is "
                        "updated: put the servers of kind 1 first, or list fewer of other kinds");
    if (kindOne > 1 && least > 0 && 2 * static_cast<std::uint64_t>(most) >= 3 * static_cast<std::uint64_t>(least))
        report.Warn(file, 0,
                    "the pick is uneven: the most picked server of kind 1 gets " + ShareText(most) +
                        " of starts, the least picked " + ShareText(least));
    // Where reading stops: an empty line, including one at the start of the file.
    LineReader lines(bytes);
    std::string_view text;
    while (lines.Next(text)) {
        const int line = lines.Line();
        if (text.empty() && line == 1) {
            report.Error(file, line, "the file begins with an empty line: clients read no server at all");
            break;
        }
        if (!text.empty() && text[0] != '#' && (text[0] < '0' || text[0] > '9') && text[0] != '-' && text[0] != ' ')
            report.Warn(file, line, "does not start with a server id: clients ignore it");
    }
    if (kindOne == 0)
        report.Error(file, 0, "no server of kind 1: the clients ask for kind 1 and start no update");
}

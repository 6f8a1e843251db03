#include "ClientPlan.h"

#include <cstdio>
#include <map>
#include <set>

#include "GbkText.h"
#include "ListRules.h"
#include "UpdateRules.h"
#include "Utf8.h"

namespace {

std::string Narrow(const std::wstring& text)
{
    return Utf8FromWide(text);
}

std::string ShownVersion(const std::wstring& v)
{
    return v.empty() ? std::string("none") : Narrow(v);
}

// Whether a path, with "\" or "/" between its parts, has a ".." part.
bool HasParentStep(std::string_view path)
{
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find_first_of("\\/", begin);
        if (end == std::string_view::npos)
            end = path.size();
        if (path.substr(begin, end - begin) == "..")
            return true;
        begin = end + 1;
    }
    return false;
}

// Quillet's entries are the same entry when directory and name match without case.
std::string QuilletKey(const FileEntry& e)
{
    return FoldCase(e.directory) + ":" + FoldCase(e.name);
}

std::string QuilletTarget(const FileEntry& e)
{
    return IsRootDirectory(e.directory) ? e.name : e.directory + "\\" + e.name;
}

} // namespace

bool IsGbkText(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80)
            continue;
        if (c == 0x80 || c == 0xFF || i + 1 == text.size())
            return false;
        const unsigned char t = static_cast<unsigned char>(text[++i]);
        if (t < 0x40 || t == 0x7F || t == 0xFF)
            return false;
    }
    return true;
}

std::string ShowBytes(std::uint64_t bytes)
{
    char text[64];
    if (bytes >= 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1048576.0);
    else if (bytes >= 1024)
        std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1024.0);
    else
        return std::to_string(bytes) + " bytes";
    return std::string(text) + " (" + std::to_string(bytes) + " bytes)";
}

ClientPlan PlanZorvane(const std::vector<ListedFile>& entries,
                       const std::function<LocalFileState(const ListedFile&)>& stateOf)
{
    ClientPlan plan;
    std::map<std::wstring, std::vector<int>> places;
    for (const ListedFile& e : entries)
        places[PlaceKey(e)].push_back(e.line);
    for (const ListedFile& e : entries) {
        PlanRow row;
        row.line = e.line;
        row.target = Narrow(JoinFullPath(L"", e.LocalPath, e.FileName).substr(1));
        row.bytes = static_cast<std::uint64_t>(e.Length < 0 ? 0 : e.Length);
        const BaseFolder base = SelectBaseFolder(e.InstallDir);
        if (base != BASE_MODULE) {
            row.checked = false;
            row.target = (base == BASE_WINDOWS ? "<Windows folder>\\" : "<system folder>\\") + row.target;
            row.why = "it goes into the player's " +
                      std::string(base == BASE_WINDOWS ? "Windows" : "system") + " folder, not the client folder";
            ++plan.unchecked;
            plan.rows.push_back(std::move(row));
            continue;
        }
        ++plan.files;
        const LocalFileState local = stateOf(e);
        const UpdateCause cause = DecideUpdateCause(e.FileVersion, e.FileTime, local);
        row.fetch = IsFetchCause(cause);
        const std::string times = "(local " + FileTimeText(local.time) + ", listed " + FileTimeText(e.FileTime) + ")";
        const std::string versions = "(local " + ShownVersion(local.version) + ", listed " + Narrow(e.FileVersion) + ")";
        switch (cause) {
        case CAUSE_MISSING: row.why = "missing (or it cannot be opened for reading)"; break;
        case CAUSE_OLDER_TIME: row.why = "older by time " + times; break;
        case CAUSE_LOWER_VERSION: row.why = "lower version " + versions; break;
        case CAUSE_UNREADABLE: row.why = "neither its version nor its time can be read"; break;
        case CAUSE_SAME_OR_LATER_TIME: row.why = "same or later time " + times; break;
        case CAUSE_SAME_OR_HIGHER_VERSION: row.why = "same or higher version " + versions; break;
        }
        if (cause == CAUSE_LOWER_VERSION && local.version.empty())
            row.traps.push_back("fetched on every start: the installed file has no version resource, and its empty "
                                "version is below any FileVersion; list it without FileVersion (Compare = time)");
        const std::wstring path = e.LocalPath + L"\\" + e.FileName;
        if (path.find(L':') != std::wstring::npos)
            row.traps.push_back("a drive (\":\") inside LocalPath or FileName: the joined path is not valid, so the "
                                "file counts as missing on every start and is never installed");
        if (HasParentStep(Narrow(path)))
            row.traps.push_back("\"..\" climbs out of the client folder: the file lands where the joined path leads");
        if (e.FileName.empty())
            row.traps.push_back("no FileName: the client fetches into the folder path itself and fails");
        const std::vector<int>& lines = places[PlaceKey(e)];
        if (lines.size() > 1) {
            std::string at;
            for (int l : lines)
                at += (at.empty() ? "" : ", ") + std::to_string(l);
            row.traps.push_back("listed " + std::to_string(lines.size()) + " times (lines " + at +
                                "): each entry is decided and fetched on its own, and entries that disagree fetch "
                                "it on every start");
        }
        if (row.fetch) {
            row.fetches = 1;
            ++plan.fetched;
            ++plan.downloads;
            plan.bytes += *row.bytes;
        }
        plan.rows.push_back(std::move(row));
    }
    return plan;
}

ClientPlan PlanQuillet(const std::vector<FileEntry>& remote, std::string_view programFolder,
                       const LocalPathProbe& probe, const std::string& folder,
                       const std::function<std::optional<std::uint64_t>(const FileEntry&)>& sizeOf)
{
    // The client's own steps: the local list, then the download list.
    const std::vector<FileEntry> local = BuildLocalList(remote, programFolder, probe);
    const std::vector<FileEntry> download = CompareLists(remote, local, GbkLeadBytes());

    // Downloads per entry: copies of a remote entry, shared among its equal twins.
    std::map<std::string, int> copies;
    std::map<std::string, int> twins;
    const auto exact = [](const FileEntry& e) {
        return e.directory + ":" + e.name + ":" + std::to_string(e.checksum);
    };
    for (const FileEntry& d : download)
        ++copies[exact(d)];
    std::map<std::string, int> listed;
    for (const FileEntry& r : remote) {
        ++twins[exact(r)];
        ++listed[QuilletKey(r)];
    }

    ClientPlan plan;
    std::size_t next = 0; // the local list follows the remote order
    for (const FileEntry& r : remote) {
        PlanRow row;
        row.target = QuilletTarget(r);
        row.folder = !HasDot(r.name);
        std::optional<std::int32_t> localSum;
        if (next < local.size() && local[next].directory == r.directory && local[next].name == r.name)
            localSum = local[next++].checksum;
        const int downloads = copies.count(exact(r)) ? copies[exact(r)] / twins[exact(r)] : 0;
        FileEntry probeEntry = r;
        probeEntry.kind = row.folder ? ENTRY_DIRECTORY : ENTRY_FILE;
        const bool skipped = IsSkippedEntry(probeEntry);
        if (row.folder) {
            row.fetch = downloads > 0 && !skipped;
            row.why = localSum ? "the folder exists (folders are never compared)"
                               : skipped ? "the updater creates nothing in updatetmp"
                                         : "folder to create";
            if (row.fetch)
                ++plan.folders;
        } else {
            ++plan.files;
            row.fetches = skipped ? 0 : downloads;
            row.fetch = row.fetches > 0;
            if (skipped)
                row.why = "the updater never fetches anything in updatetmp, nor winmm.dll";
            else if (!localSum)
                row.why = "missing";
            else if (*localSum != r.checksum)
                row.why = "checksum differs (local " + std::to_string(*localSum) + ", listed " +
                          std::to_string(r.checksum) + ")";
            else
                row.why = "same checksum (" + std::to_string(r.checksum) + ")";
            if (row.fetch) {
                row.bytes = sizeOf(r);
                ++plan.fetched;
                plan.downloads += static_cast<std::size_t>(row.fetches);
                if (row.bytes)
                    plan.bytes += *row.bytes * static_cast<std::uint64_t>(row.fetches);
                else
                    plan.sizesUnknown += static_cast<std::size_t>(row.fetches);
            }
        }
        const int times = listed[QuilletKey(r)];
        if (times > 1)
            row.traps.push_back("listed " + std::to_string(times) +
                                " times (without regard to case): each listing is compared with each local copy, so "
                                "a changed file is fetched " +
                                std::to_string(times * times) + " times a run; list it once");
        if (!row.folder && !skipped && !TargetOf(probeEntry, folder))
            row.traps.push_back("its path or download address is longer than the updater's 259 bytes: the fetch "
                                "fails on every run");
        if (LocalEntryPath(programFolder, r).size() > LOCAL_PATH_MAX)
            row.traps.push_back("its local path is longer than 259 bytes below this folder: the updater takes it as "
                                "missing and fetches it on every run");
        if (HasParentStep(r.directory) || r.name == "..")
            row.traps.push_back("\"..\" climbs out of the program folder");
        if (!IsGbkText(r.directory) || !IsGbkText(r.name))
            row.traps.push_back(IsUtf8(r.directory + r.name)
                                    ? "the name is UTF-8, not GBK (the clients' code page): the updater asks for and "
                                      "writes a garbled name; publish the list with vexa-publish"
                                    : "the name is no GBK text (the clients' code page)");
        plan.rows.push_back(std::move(row));
    }
    return plan;
}

ReleaseChanges CompareZorvaneReleases(const std::vector<ListedFile>& next, const std::vector<ListedFile>& previous,
                                      const std::string& previousFile, CReport& report)
{
    ReleaseChanges changes;
    std::map<std::wstring, const ListedFile*> old;
    for (const ListedFile& p : previous)
        old.emplace(PlaceKey(p), &p);
    std::set<std::wstring> kept;
    for (const ListedFile& n : next) {
        const std::wstring key = PlaceKey(n);
        kept.insert(key);
        const std::uint64_t length = static_cast<std::uint64_t>(n.Length < 0 ? 0 : n.Length);
        const std::string name = Narrow(JoinFullPath(L"", n.LocalPath, n.FileName).substr(1));
        const auto it = old.find(key);
        if (it == old.end()) {
            ++changes.added;
            ++changes.downloads;
            changes.bytes += length;
            changes.fetchedNames.push_back(name);
            continue;
        }
        const ListedFile& p = *it->second;
        // The previous release as installed: its listed version and time.
        LocalFileState installed;
        installed.opened = true;
        installed.read = true;
        installed.version = p.FileVersion;
        installed.time = p.FileTime;
        const UpdateCause cause = DecideUpdateCause(n.FileVersion, n.FileTime, installed);
        if (IsFetchCause(cause)) {
            ++changes.changed;
            ++changes.downloads;
            changes.bytes += length;
            changes.fetchedNames.push_back(name);
            continue;
        }
        ++changes.unchanged;
        const std::string where = n.sourcePath.empty() ? Narrow(DescribeTarget(n)) : n.sourcePath;
        const std::string previousAt = previousFile + ":" + std::to_string(p.line);
        if (cause == CAUSE_SAME_OR_HIGHER_VERSION && IsVersionBelow(n.FileVersion, p.FileVersion))
            report.Warn(where, 0,
                        "version " + Narrow(n.FileVersion) + " goes back from " + Narrow(p.FileVersion) + " (" +
                            previousAt + "): clients holding the previous file keep it");
        else if (cause == CAUSE_SAME_OR_LATER_TIME && CompareFileTimes(n.FileTime, p.FileTime) < 0)
            report.Warn(where, 0,
                        "file time " + FileTimeText(n.FileTime) + " is earlier than the previous release's " +
                            FileTimeText(p.FileTime) + " (" + previousAt + "): clients holding the previous file keep it");
        else if (n.Length != p.Length)
            report.Warn(where, 0,
                        "is " + std::to_string(n.Length) + " bytes long, " + std::to_string(p.Length) +
                            " in the previous release (" + previousAt + "), but has the same " +
                            (n.FileVersion.empty() ? "file time" : "version") +
                            ": clients holding the previous file keep it");
    }
    for (const auto& [key, p] : old)
        changes.removed += kept.count(key) ? 0 : 1;
    return changes;
}

ReleaseChanges CompareQuilletReleases(const std::vector<FileEntry>& next, const std::vector<FileEntry>& previous,
                                      const std::function<std::uint64_t(const FileEntry&)>& sizeOf)
{
    // A client holding the previous release: its paths (without case, as on the
    // player's disk) with their checksums.
    std::map<std::string, std::int32_t> held;
    for (const FileEntry& p : previous)
        held.emplace(FoldCase(LocalEntryPath("", p)), p.checksum);
    const LocalPathProbe probe = [&held](const std::string& path, bool) {
        LocalPathState state;
        const auto it = held.find(FoldCase(path));
        state.exists = it != held.end();
        state.checksum = state.exists ? it->second : 0;
        return state;
    };
    const std::vector<FileEntry> local = BuildLocalList(next, "", probe);
    const std::vector<FileEntry> download = CompareLists(next, local, GbkLeadBytes());

    ReleaseChanges changes;
    std::set<std::string> fetched;
    for (const FileEntry& d : download) {
        if (d.kind != ENTRY_FILE || IsSkippedEntry(d))
            continue;
        ++changes.downloads;
        changes.bytes += sizeOf(d);
        fetched.insert(FoldCase(LocalEntryPath("", d)));
        changes.fetchedNames.push_back(QuilletTarget(d));
    }
    std::set<std::string> kept;
    for (const FileEntry& n : next) {
        const std::string path = FoldCase(LocalEntryPath("", n));
        kept.insert(path);
        if (!HasDot(n.name))
            continue;
        if (!held.count(path))
            ++changes.added;
        else if (fetched.count(path))
            ++changes.changed;
        else
            ++changes.unchanged;
    }
    for (const FileEntry& p : previous) {
        if (HasDot(p.name) && !kept.count(FoldCase(LocalEntryPath("", p))))
            ++changes.removed;
    }
    return changes;
}

std::string DescribeChanges(const ReleaseChanges& c)
{
    return std::to_string(c.added) + " added, " + std::to_string(c.changed) + " changed, " +
           std::to_string(c.unchanged) + " unchanged, " + std::to_string(c.removed) +
           " removed (clients keep removed files); a client holding the previous release downloads " +
           std::to_string(c.downloads) + (c.downloads == 1 ? " file, " : " files, ") + ShowBytes(c.bytes);
}

std::string DescribeFetchedNames(const ReleaseChanges& c, std::size_t most)
{
    std::string names;
    for (std::size_t i = 0; i < c.fetchedNames.size() && i < most; ++i)
        names += (i == 0 ? "" : ", ") + c.fetchedNames[i];
    if (c.fetchedNames.size() > most)
        names += " and " + std::to_string(c.fetchedNames.size() - most) + " more";
    return names;
}

#include "FleetOps.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "ClientPlan.h"
#include "Commands.h"
#include "Crc32.h"
#include "GoLive.h"
#include "HttpGet.h"
#include "Processes.h"
#include "QuilletList.h"
#include "UpdateRules.h"
#include "ReleaseFolder.h"
#include "Report.h"
#include "ServedCheck.h"
#include "Utf8.h"
#include "XmlList.h"

namespace {

std::int64_t Now()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Text(const std::vector<std::uint8_t>& bytes)
{
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// rsync's own rule: a colon before the first slash names another host.
bool IsRemote(const std::string& where)
{
    const std::size_t colon = where.find(':');
    return colon != std::string::npos && colon < where.find('/');
}

std::string WithSlash(std::string path)
{
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    return path;
}

// The Quillet lists of a release folder: Vexaupdate/<folder>/filelist.list.
std::vector<FileEntry> QuilletEntries(const std::filesystem::path& list)
{
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(list, bytes))
        return {};
    return ParseFileList(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// One line of the deploy's progress.
void Say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace

std::optional<CFleet> CFleet::Open(const FleetOptions& options, int& rc)
{
    CFleet f;
    f.m_options = options;
    f.m_fleetFile = PathFromUtf8(options.fleetFile);
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(f.m_fleetFile, bytes)) {
        rc = BadInput(options.fleetFile, "cannot be read (the fleet: give --fleet FILE; docs/publishing.md says "
                                         "what it holds)");
        return std::nullopt;
    }
    CReport report;
    std::optional<Fleet> fleet = ReadFleet(Text(bytes), options.fleetFile, report);
    if (!fleet) {
        report.Print(std::cerr, false);
        rc = EXIT_BAD_INPUT;
        return std::nullopt;
    }
    f.m_fleet = *fleet;
    const std::filesystem::path shares = f.m_fleetFile.parent_path() / "shares.conf";
    std::vector<std::uint8_t> state;
    if (ReadWholeFile(shares, state)) {
        std::string error;
        std::optional<ShareState> read = ReadNginxShares(Text(state), error);
        if (!read) {
            rc = BadInput(Utf8FromPath(shares), error);
            return std::nullopt;
        }
        if (read->salt != f.m_fleet.salt && !read->shares.empty()) {
            rc = BadInput(options.fleetFile, "the salt is " + f.m_fleet.salt + ", but the shares were cut with \"" +
                                                 read->salt + "\": another salt would move every player to another "
                                                              "share; put it back");
            return std::nullopt;
        }
        f.m_state = *read;
    }
    f.m_state.salt = f.m_fleet.salt;
    std::error_code ec;
    if (!std::filesystem::is_directory(f.Root(), ec)) {
        rc = BadInput(f.m_fleet.root, "no such folder (the fleet's root)");
        return std::nullopt;
    }
    return f;
}

std::filesystem::path CFleet::Root() const
{
    return PathFromUtf8(m_fleet.root);
}

std::filesystem::path CFleet::ReleaseDir(const std::string& release) const
{
    return Root() / "releases" / PathFromUtf8(release);
}

std::string CFleet::PlayersUrl() const
{
    return m_fleet.servers.empty() ? std::string() : m_fleet.servers.front().url;
}

bool CFleet::HasRelease(const std::string& release, std::string& error) const
{
    if (!IsReleaseName(release)) {
        error = release + " is no release name (letters, digits, \".\", \"-\" and \"_\")";
        return false;
    }
    std::error_code ec;
    const bool zorvane = std::filesystem::is_regular_file(ReleaseDir(release) / "Update.xml", ec);
    if (!zorvane && QuilletFolders(release).empty()) {
        error = "the fleet has no release " + release + " (" + Utf8FromPath(ReleaseDir(release)) +
                " holds neither Update.xml nor Vexaupdate/<folder>/filelist.list)";
        return false;
    }
    return true;
}

bool CFleet::PublishedZorvane(const std::string& release, std::vector<ListedFile>& entries, std::string& error) const
{
    entries.clear();
    std::error_code ec;
    if (!std::filesystem::exists(ReleaseDir(release) / "Update.xml", ec))
        return true;
    return ListAt("/releases/" + release + "/Update.xml", entries, error);
}

bool CFleet::ListAt(const std::string& path, std::vector<ListedFile>& entries, std::string& error) const
{
    const std::filesystem::path list = Root() / PathFromUtf8(path.substr(path.find_first_not_of('/')));
    std::vector<XmlFileElement> elements;
    if (!ReadXmlList(list, elements, error)) {
        error = Utf8FromPath(list) + ": " + error;
        return false;
    }
    entries = ReadListedFiles(elements);
    return true;
}

std::vector<std::string> CFleet::QuilletFolders(const std::string& release) const
{
    std::vector<std::string> folders;
    std::error_code ec;
    const std::filesystem::path base = ReleaseDir(release) / "Vexaupdate";
    for (std::filesystem::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec) && std::filesystem::is_regular_file(it->path() / "filelist.list", ec))
            folders.push_back(Utf8FromPath(it->path().filename()));
    }
    std::sort(folders.begin(), folders.end());
    return folders;
}

std::optional<std::filesystem::path> CFleet::MasterPathOfUrl(const std::wstring& url) const
{
    const std::optional<Target> t = TargetOfUrl(Utf8FromWide(url));
    if (!t || t->object.rfind("/releases/", 0) != 0)
        return std::nullopt;
    const std::string path = DecodeUrlPath(t->object.substr(1));
    if (path.find("/../") != std::string::npos)
        return std::nullopt;
    return Root() / PathFromUtf8(path);
}

bool CFleet::SameBytes(const ListedFile& a, const ListedFile& b, bool& known)
{
    known = false;
    std::pair<std::uint64_t, std::uint32_t> digest[2];
    const ListedFile* entries[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        const std::optional<std::filesystem::path> path = MasterPathOfUrl(entries[i]->URL);
        if (!path)
            return false;
        const std::string key = Utf8FromPath(*path);
        auto it = m_digests.find(key);
        if (it == m_digests.end()) {
            std::vector<std::uint8_t> bytes;
            if (!ReadWholeFile(*path, bytes))
                return false;
            it = m_digests.emplace(key, std::make_pair(bytes.size(), Crc32(CRC32_START, bytes.data(), bytes.size())))
                     .first;
        }
        digest[i] = it->second;
    }
    known = true;
    return digest[0] == digest[1];
}

bool CFleet::GoLiveFor(const Share& before, const std::string& release, std::int64_t when,
                       std::optional<std::vector<ListedFile>>& list, std::string& error)
{
    std::vector<ListedFile> next;
    if (!PublishedZorvane(release, next, error))
        return false;
    std::error_code ec;
    if (!std::filesystem::exists(ReleaseDir(release) / "Update.xml", ec)) {
        list.reset();
        return true;
    }
    std::vector<ListedFile> servedPublished;
    std::vector<ListedFile> served;
    GoLiveInput input;
    input.next = &next;
    input.when = FileTimeFromUnix(when, 0);
    if (!before.release.empty() && !before.list.empty()) {
        if (!PublishedZorvane(before.release, servedPublished, error) || !ListAt(before.list, served, error))
            return false;
        input.servedPublished = &servedPublished;
        input.served = &served;
    }
    input.sameBytes = [this](const ListedFile& a, const ListedFile& b) -> std::optional<bool> {
        bool known = false;
        const bool same = SameBytes(a, b, known);
        return known ? std::optional<bool>(same) : std::nullopt;
    };
    list = GoLiveList(input).entries;
    return true;
}

bool CFleet::WriteShareList(const std::string& release, const std::vector<ListedFile>& list, std::string& path,
                            std::string& error) const
{
    const std::string bytes = WriteZorvaneList(list);
    char name[32];
    std::snprintf(name, sizeof name, "Update-%08x.xml", Crc32(CRC32_START, bytes.data(), bytes.size()) ^ 0xffffffffu);
    const std::filesystem::path dir = ReleaseDir(release) / "lists";
    const std::filesystem::path file = dir / name;
    path = "/releases/" + release + "/lists/" + name;
    std::vector<std::uint8_t> there;
    if (ReadWholeFile(file, there)) {
        if (Text(there) == bytes)
            return true; // a list once written never changes
        error = Utf8FromPath(file) + " holds another list: remove it";
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!WriteWholeFile(file, bytes, &error)) {
        error = Utf8FromPath(file) + ": " + error;
        return false;
    }
    return true;
}

void CFleet::PrintChanges(const Share& before, const std::string& release,
                          const std::optional<std::vector<ListedFile>>& list)
{
    std::string was = before.release.empty() ? "nothing" : before.release + " since " + IsoTime(before.since);
    Say("  " + ShowPercent(before.from) + " to " + ShowPercent(before.to) + " of the players (was " + was +
        "), to " + release + ":");
    if (list) {
        std::vector<ListedFile> served;
        std::string error;
        if (!before.list.empty() && !ListAt(before.list, served, error))
            served.clear();
        CReport ignored;
        const ReleaseChanges c = CompareZorvaneReleases(*list, served, before.list, ignored);
        Say("    Zorvane: " + DescribeChanges(c));
        if (!c.fetchedNames.empty())
            Say("      fetched: " + DescribeFetchedNames(c, 8));
    }
    for (const std::string& folder : QuilletFolders(release)) {
        const std::filesystem::path dir = ReleaseDir(release) / "Vexaupdate" / PathFromUtf8(folder);
        const std::vector<FileEntry> next = QuilletEntries(dir / "filelist.list");
        std::vector<FileEntry> previous;
        if (!before.release.empty())
            previous = QuilletEntries(ReleaseDir(before.release) / "Vexaupdate" / PathFromUtf8(folder) /
                                      "filelist.list");
        const ReleaseChanges c = CompareQuilletReleases(next, previous, [&dir](const FileEntry& e) {
            std::string gbk = IsRootDirectory(e.directory) ? e.name : e.directory + "\\" + e.name;
            for (char& ch : gbk) {
                if (ch == '\\')
                    ch = '/';
            }
            std::error_code ec;
            const std::uintmax_t size = std::filesystem::file_size(dir / "release" / PathFromGbk(gbk), ec);
            return ec ? std::uint64_t{0} : static_cast<std::uint64_t>(size);
        });
        Say("    Quillet " + folder + ": " + DescribeChanges(c));
        if (!c.fetchedNames.empty())
            Say("      fetched: " + Utf8FromGbk(DescribeFetchedNames(c, 8)));
    }
}

bool CFleet::CopyReleases(const FleetServer& server, std::string& error) const
{
    if (!server.mirror)
        return true; // this server serves the root itself
    std::string output;
    const std::vector<std::string> argv = {"rsync", "-rlt", "--mkpath", WithSlash(Utf8FromPath(Root() / "releases")),
                                           WithSlash(server.root) + "releases/"};
    const int rc = RunProgram(argv, output);
    if (rc != 0) {
        while (!output.empty() && output.back() == '\n')
            output.pop_back();
        error = "rsync exited with " + std::to_string(rc) + (output.empty() ? "" : ": " + output);
        return false;
    }
    return true;
}

bool CFleet::VerifyReleases(const FleetServer& server, const std::set<std::string>& releases, std::string& error)
{
    const std::optional<Target> at = TargetOfUrl(server.url + "/");
    if (!at) {
        error = server.url + " is no http:// address";
        return false;
    }
    VerifyTally tally;
    for (const std::string& release : releases) {
        std::vector<ListedFile> entries;
        if (!PublishedZorvane(release, entries, error))
            return false;
        CReleaseCopy copy;
        std::string ignored;
        CReleaseCopy* files = copy.Open(ReleaseDir(release) / "files", ignored) ? &copy : nullptr;
        CFetchProgress progress(tally, entries.size(), true);
        CheckZorvaneFiles(entries, "releases/" + release + "/Update.xml", at, m_options.timeoutSeconds, files,
                          progress);
        for (const std::string& folder : QuilletFolders(release)) {
            std::vector<std::uint8_t> listBytes;
            const std::filesystem::path list = ReleaseDir(release) / "Vexaupdate" / PathFromUtf8(folder) / "filelist.list";
            if (!ReadWholeFile(list, listBytes)) {
                error = Utf8FromPath(list) + " cannot be read";
                return false;
            }
            QuilletSource source;
            source.server = *at;
            source.folder = folder;
            source.prefix = "/releases/" + release;
            source.listPath = source.prefix + "/Vexaupdate/" + folder + "/filelist.list";
            const VerifyTally t =
                CheckQuilletServer(source, ParseFileList(Text(listBytes)), listBytes, m_options.timeoutSeconds,
                                   nullptr, true);
            tally.ok += t.ok;
            tally.failed += t.failed;
            tally.bytes += t.bytes;
            tally.failures.insert(tally.failures.end(), t.failures.begin(), t.failures.end());
        }
    }
    if (tally.failed > 0) {
        error = std::to_string(tally.failed) + " of " + std::to_string(tally.ok + tally.failed) +
                " fetches failed, first " + tally.failures.front();
        return false;
    }
    Say("    " + server.name + ": " + std::to_string(tally.ok) + " files served as published (" +
        ShowBytes(tally.bytes) + ")");
    return true;
}

bool CFleet::VerifyLists(const FleetServer& server, const ShareState& state, std::string& error) const
{
    const std::optional<Target> at = TargetOfUrl(server.url + "/");
    if (!at) {
        error = server.url + " is no http:// address";
        return false;
    }
    std::set<std::string> lists;
    for (const Share& s : state.shares) {
        if (!s.list.empty())
            lists.insert(s.list);
    }
    for (const std::string& list : lists) {
        std::vector<std::uint8_t> bytes;
        if (!ReadWholeFile(Root() / PathFromUtf8(list.substr(1)), bytes)) {
            error = list + " cannot be read on this machine";
            return false;
        }
        HttpGetOptions options;
        options.zorvaneHeaders = true;
        options.keepBody = true;
        options.timeoutMs = m_options.timeoutSeconds * 1000;
        const HttpGetResult r = HttpGet(at->host, at->port, list, options);
        const std::string problem = CompareServedList(r, bytes);
        if (!problem.empty()) {
            error = list + ": " + problem;
            return false;
        }
    }
    return true;
}

bool CFleet::Switch(const FleetServer& server, const std::string& conf, const std::string& stamp,
                    std::string& error) const
{
    std::string output;
    if (IsRemote(server.nginxConf)) {
        // rsync writes beside the file and renames it: nginx never reads half of it.
        const std::filesystem::path pending = m_fleetFile.parent_path() / "shares.conf.sending";
        if (!WriteWholeFile(pending, conf, &error))
            return false;
        const int rc = RunProgram({"rsync", "-t", Utf8FromPath(pending), server.nginxConf}, output);
        std::error_code ec;
        std::filesystem::remove(pending, ec);
        if (rc != 0) {
            error = "rsync of the shares exited with " + std::to_string(rc) + ": " + output;
            return false;
        }
    } else if (!WriteWholeFile(PathFromUtf8(server.nginxConf), conf, &error)) {
        error = server.nginxConf + ": " + error;
        return false;
    }
    if (server.reload.empty()) {
        Say("    " + server.name + ": its nginx takes the shares when it is reloaded (nginx -s reload): give "
                                   "reload = ... in the fleet to have it done");
        return true;
    }
    const int rc = RunShell(server.reload, output);
    if (rc != 0) {
        while (!output.empty() && output.back() == '\n')
            output.pop_back();
        error = "\"" + server.reload + "\" exited with " + std::to_string(rc) + (output.empty() ? "" : ": " + output);
        return false;
    }
    // nginx takes a new configuration a moment after it is told: wait until the
    // server's answers carry the new stamp.
    const std::optional<Target> at = TargetOfUrl(server.url + "/");
    if (!at)
        return true;
    HttpGetOptions options;
    options.headOnly = true;
    options.timeoutMs = 5000;
    std::string seen;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const HttpGetResult r = HttpGet(at->host, at->port, "/Update.xml", options);
        seen = r.head.Header("X-Vexa-Shares").value_or("");
        if (seen == stamp)
            return true;
        if (r.head.status != 0 && seen.empty() && attempt == 0) {
            Say("    " + server.name + ": its answers carry no X-Vexa-Shares header (add_header X-Vexa-Shares "
                                       "$vexa_shares_stamp always;): the switch cannot be seen, assumed done");
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    error = "its nginx still serves the shares " + (seen.empty() ? std::string("(none)") : seen) + ", not " + stamp +
            " (did it take the file at " + server.nginxConf + "?)";
    return false;
}

bool CFleet::Keep(const ShareState& state, const std::string& what, std::string& error)
{
    const std::filesystem::path dir = m_fleetFile.parent_path();
    if (!WriteWholeFile(dir / "shares.conf", WriteNginxShares(state), &error))
        return false;
    ShareHistoryEntry entry;
    entry.at = Now();
    entry.what = what;
    entry.state = state;
    std::vector<std::uint8_t> history;
    ReadWholeFile(dir / "history.log", history);
    if (!WriteWholeFile(dir / "history.log", Text(history) + WriteHistoryEntry(entry), &error))
        return false;
    m_state = state;
    return true;
}

std::int64_t CFleet::GoLiveTime(std::int64_t notBefore) const
{
    // A player who fetches a file being replaced until the last server is
    // switched still finds the listed time later than its own copy's.
    const int margin =
        m_options.marginSeconds.value_or(std::max<int>(5, 5 * static_cast<int>(m_fleet.servers.size())));
    return std::max(Now() + margin, notBefore);
}

int CFleet::Deploy(const std::set<std::string>& releases,
                   const std::function<bool(std::int64_t when, ShareState& after)>& makeState, const std::string& what,
                   std::int64_t notBefore)
{
    const auto started = std::chrono::steady_clock::now();
    const std::vector<FleetServer>& servers = m_fleet.servers;
    const auto failed = [](const FleetServer& s, const std::string& step, const std::string& why) {
        std::fprintf(stderr, "%s (%s): FAILED to %s: %s\n", s.name.c_str(), s.url.c_str(), step.c_str(), why.c_str());
        std::printf("%s: nothing switched: every server serves what it served before; mend %s and run the command "
                    "again\n",
                    "vexa-publish", s.name.c_str());
        return EXIT_VERIFY;
    };
    std::string error;
    Say("files: the releases onto every server, before any of them is switched");
    for (const FleetServer& s : servers) {
        if (!CopyReleases(s, error))
            return failed(s, "receive the releases", error);
    }
    Say("verify: every server serves every file of " + std::to_string(releases.size()) + " release" +
        (releases.size() == 1 ? "" : "s") + " as published");
    for (const FleetServer& s : servers) {
        if (!VerifyReleases(s, releases, error))
            return failed(s, "serve the releases", error);
    }

    const std::int64_t when = GoLiveTime(notBefore);
    ShareState after;
    if (!makeState(when, after))
        return EXIT_BAD_INPUT;
    for (const FleetServer& s : servers) {
        if (!CopyReleases(s, error))
            return failed(s, "receive the lists", error);
    }
    for (const FleetServer& s : servers) {
        if (!VerifyLists(s, after, error))
            return failed(s, "serve the lists", error);
    }

    Say("switch: the shares on every server");
    const std::string conf = WriteNginxShares(after);
    const std::string before = WriteNginxShares(m_state);
    const std::string stamp = SharesStamp(conf);
    std::vector<const FleetServer*> switched;
    for (const FleetServer& s : servers) {
        if (Switch(s, conf, stamp, error)) {
            switched.push_back(&s);
            Say("    " + s.name + ": switched");
            continue;
        }
        std::fprintf(stderr, "%s (%s): FAILED to switch: %s\n", s.name.c_str(), s.url.c_str(), error.c_str());
        // Nothing half-switched: the servers switched so far go back.
        bool back = true;
        for (const FleetServer* done : switched) {
            std::string why;
            if (!Switch(*done, before, SharesStamp(before), why)) {
                std::fprintf(stderr, "%s: FAILED to go back as well: %s\n", done->name.c_str(), why.c_str());
                back = false;
            }
        }
        std::string why;
        Switch(s, before, SharesStamp(before), why);
        std::printf("vexa-publish: %s; mend %s and run the command again\n",
                    back ? "nothing switched: every server serves what it served before"
                         : "some servers could not go back: run the command again once they can be reached",
                    s.name.c_str());
        return EXIT_VERIFY;
    }
    const std::int64_t done = Now();
    if (done > when)
        std::printf("vexa-publish: warning: the last server was switched %lld s after the go-live time; players of "
                    "the switched shares who fetched a replaced file in between keep it: give a --margin of %lld s "
                    "or more next time\n",
                    static_cast<long long>(done - when), static_cast<long long>((done - when) * 2 + 10));
    if (!Keep(after, what, error)) {
        std::fprintf(stderr, "vexa-publish: every server is switched, but the shares cannot be kept here: %s\n",
                     error.c_str());
        return EXIT_BAD_INPUT;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%s: done on %zu server%s in %.1f s; go-live time %s\n", what.c_str(), servers.size(),
                servers.size() == 1 ? "" : "s", seconds, IsoTime(when).c_str());
    return EXIT_OK;
}

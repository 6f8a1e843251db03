// verify: fetches what the list names the way the clients do, and checks it.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "ClientPlan.h"
#include "Commands.h"
#include "Crc32.h"
#include "FileList.h"
#include "HttpGet.h"
#include "ListRules.h"
#include "QuilletList.h"
#include "ReleaseFolder.h"
#include "UpdateRules.h"
#include "UpdateServerList.h"
#include "Utf8.h"
#include "XmlList.h"
#include "ZorvaneList.h"
#include "pe/PeImage.h"

namespace {

struct VerifyTally {
    std::size_t ok = 0;
    std::size_t failed = 0;
    std::uint64_t bytes = 0;
    std::vector<std::string> failures;
};

// One line of progress per fetch; the failures again in the summary.
void Progress(std::size_t index, std::size_t count, const std::string& what)
{
    std::printf("[%*zu/%zu] %s ... ", static_cast<int>(std::to_string(count).size()), index, count, what.c_str());
    std::fflush(stdout);
}

void Outcome(VerifyTally& tally, const std::string& what, const std::string& problem, std::uint64_t bytes)
{
    if (problem.empty()) {
        ++tally.ok;
        tally.bytes += bytes;
        std::printf("ok (%llu bytes)\n", static_cast<unsigned long long>(bytes));
    } else {
        ++tally.failed;
        std::printf("FAILED: %s\n", problem.c_str());
        tally.failures.push_back(what + ": " + problem);
    }
    std::fflush(stdout);
}

std::string StatusProblem(const HttpGetResult& r)
{
    if (!r.ok && r.head.status == 0)
        return r.error;
    if (r.head.status != 200)
        return "status " + std::to_string(r.head.status) + " " + r.head.reason + " (clients take only 200)";
    if (!r.ok)
        return r.error;
    return std::string();
}

void PrintTally(const char* who, const VerifyTally& tally)
{
    std::printf("%s: %zu fetched, %zu ok, %zu failed, %.1f MB checked\n", who, tally.ok + tally.failed, tally.ok,
                tally.failed, static_cast<double>(tally.bytes) / 1048576.0);
    for (const std::string& f : tally.failures)
        std::printf("  failed: %s\n", f.c_str());
}

int Verdict(bool failed, const char* what)
{
    if (failed) {
        std::printf("verify: do NOT announce this release\n");
        return EXIT_VERIFY;
    }
    std::printf("verify: %s\n", what);
    return EXIT_OK;
}

// The published list must be the one on the server, byte for byte.
std::string CompareServedList(const HttpGetResult& r, const std::vector<std::uint8_t>& local)
{
    std::string problem = StatusProblem(r);
    if (problem.empty() && r.body != local)
        problem = "differs from the local list (" + std::to_string(r.body.size()) + " bytes served, " +
                  std::to_string(local.size()) + " published)";
    return problem;
}

// The release folder a list was made from: each served body is held against the
// release file it came from.
class CReleaseCopy {
public:
    struct Facts {
        std::uint64_t size = 0;
        std::uint32_t crc = 0;
    };

    bool Open(const std::string& dir, std::string& error)
    {
        m_root = PathFromUtf8(dir);
        FolderContents contents;
        if (!ListReleaseFolder(m_root, contents, error))
            return false;
        m_files = contents.files;
        return true;
    }

    // The release path (UTF-8, "/") that an address of Update.xml ends in; the
    // longest such path where several do.
    std::optional<std::string> PathOfUrl(const std::string& object) const
    {
        std::optional<std::string> best;
        for (const std::string& f : m_files) {
            const std::string tail = "/" + EncodeUrlPath(f);
            if (object.size() >= tail.size() && object.compare(object.size() - tail.size(), tail.size(), tail) == 0 &&
                (!best || f.size() > best->size()))
                best = f;
        }
        return best;
    }

    // Size and checksum of a release file, or nothing when it cannot be read.
    std::optional<Facts> FactsOf(const std::string& path)
    {
        const auto it = m_facts.find(path);
        if (it != m_facts.end())
            return it->second;
        std::vector<std::uint8_t> bytes;
        if (!ReadWholeFile(m_root / PathFromUtf8(path), bytes))
            return std::nullopt;
        Facts f;
        f.size = bytes.size();
        f.crc = Crc32(CRC32_START, bytes.data(), bytes.size());
        m_facts.emplace(path, f);
        return f;
    }

    // "" when the served body is the release file's bytes.
    std::string Compare(const std::string& path, const HttpGetResult& r)
    {
        const std::optional<Facts> f = FactsOf(path);
        if (!f)
            return "the release folder has no file " + path;
        if (r.bodyBytes != f->size)
            return std::to_string(r.bodyBytes) + " bytes served, the release file " + path + " has " +
                   std::to_string(f->size);
        if (r.crc != f->crc)
            return "other bytes than the release file " + path + " (same length, checksum " +
                   std::to_string(static_cast<std::int32_t>(r.crc)) + " served, " +
                   std::to_string(static_cast<std::int32_t>(f->crc)) + " in the release)";
        return std::string();
    }

private:
    std::filesystem::path m_root;
    std::vector<std::string> m_files;
    std::map<std::string, Facts> m_facts;
};

int VerifyZorvane(const Arguments& a, const std::vector<std::uint8_t>& listBytes, CReleaseCopy* release)
{
    const std::string file = a.positional[0];
    if (a.folder)
        return BadUsage("--folder does not apply to verify of Update.xml");
    std::vector<XmlFileElement> elements;
    std::string error;
    if (!ReadXmlList(PathFromUtf8(file), elements, error))
        return BadInput(file, error);
    const std::vector<ListedFile> entries = ReadListedFiles(elements);
    HttpGetOptions options;
    options.zorvaneHeaders = true;
    options.timeoutMs = a.timeoutSeconds * 1000;
    VerifyTally tally;
    const bool withList = a.positional.size() > 1;
    const std::size_t count = entries.size() + (withList ? 1 : 0);
    std::size_t index = 0;
    if (withList) {
        const std::string url = a.positional[1];
        const std::optional<Target> t = TargetOfUrl(url);
        if (!t)
            return BadUsage(url + " is no http:// address");
        Progress(++index, count, url);
        HttpGetOptions listOptions = options;
        listOptions.keepBody = true;
        const HttpGetResult r = HttpGet(t->host, t->port, t->object, listOptions);
        Outcome(tally, url, CompareServedList(r, listBytes), r.bodyBytes);
    }
    for (const ListedFile& e : entries) {
        const std::string url = Utf8FromWide(e.URL);
        const std::optional<Target> t = TargetOfUrl(url);
        Progress(++index, count, url.empty() ? "(no URL)" : url);
        if (!t) {
            Outcome(tally, file + ":" + std::to_string(e.line), "no http:// address the clients can fetch", 0);
            continue;
        }
        HttpGetOptions fileOptions = options;
        fileOptions.keepBody = !e.FileVersion.empty();
        const HttpGetResult r = HttpGet(t->host, t->port, t->object, fileOptions);
        std::string problem = StatusProblem(r);
        const std::uint32_t listed = static_cast<std::uint32_t>(static_cast<std::uint64_t>(e.Length));
        if (problem.empty() && static_cast<std::uint32_t>(r.bodyBytes) != listed)
            problem = std::to_string(r.bodyBytes) + " bytes served, Length " + std::to_string(e.Length) + " listed";
        if (problem.empty() && !e.FileVersion.empty()) {
            PeResult<FileVersion> v = ReadFileVersion(r.body);
            const std::wstring served =
                v ? FormatVersion((static_cast<std::uint32_t>(v->major) << 16) | v->minor,
                                  (static_cast<std::uint32_t>(v->build) << 16) | v->revision)
                  : std::wstring();
            if (!EqualsNoCaseAscii(served, e.FileVersion))
                problem = "version " + (served.empty() ? std::string("(none)") : Utf8FromWide(served)) +
                          " served, " + Utf8FromWide(e.FileVersion) + " listed";
        }
        if (problem.empty() && release) {
            const std::optional<std::string> path = release->PathOfUrl(t->object);
            problem = path ? release->Compare(*path, r) : "no file of the release folder has this address";
        }
        Outcome(tally, url, problem, r.bodyBytes);
    }
    PrintTally("verify", tally);
    return Verdict(tally.failed > 0, "the server serves the list as published");
}

bool HasHighBytes(const std::string& text)
{
    for (unsigned char c : text) {
        if (c >= 0x80)
            return true;
    }
    return false;
}

// The files of one server, as Quillet fetches them from it.
VerifyTally VerifyQuilletServer(const QuilletSource& source, const std::vector<FileEntry>& entries,
                                const std::vector<std::uint8_t>& listBytes, const Arguments& a,
                                CReleaseCopy* release)
{
    std::vector<std::pair<FileEntry, std::string>> fetches;
    for (FileEntry e : entries) {
        e.kind = HasDot(e.name) ? ENTRY_FILE : ENTRY_DIRECTORY;
        if (e.kind != ENTRY_FILE || IsSkippedEntry(e))
            continue;
        const std::optional<EntryTarget> target = TargetOf(e, source.folder);
        if (!target)
            continue;
        fetches.emplace_back(e, QuilletRequestTarget(target->urlPath));
    }
    HttpGetOptions options;
    options.timeoutMs = a.timeoutSeconds * 1000;
    VerifyTally tally;
    const std::size_t count = fetches.size() + 1;
    std::size_t index = 0;
    const Target& t = source.server;
    {
        Progress(++index, count, source.listPath);
        HttpGetOptions listOptions = options;
        listOptions.keepBody = true;
        const HttpGetResult r = HttpGet(t.host, t.port, source.listPath, listOptions);
        Outcome(tally, source.listPath, CompareServedList(r, listBytes), r.bodyBytes);
        // A server that cannot be reached fails every fetch the same way: one line says so.
        if (!r.ok && r.head.status == 0 && r.bodyBytes == 0 && r.error.rfind("the connection", 0) != 0) {
            tally.failed += fetches.size();
            if (!fetches.empty())
                tally.failures.push_back(std::to_string(fetches.size()) + " files not fetched: " + r.error);
            return tally;
        }
    }
    for (const auto& [e, path] : fetches) {
        const std::string shown = Utf8FromGbk(path);
        Progress(++index, count, shown);
        // Quillet sends the name's GBK bytes as they are.
        const HttpGetResult r = HttpGet(t.host, t.port, path, options);
        std::string problem = StatusProblem(r);
        if (r.head.status == 404 && HasHighBytes(path)) {
            // A server that stored the name in UTF-8 has it under another address.
            HttpGetOptions probe = options;
            probe.headOnly = true;
            const HttpGetResult utf8 = HttpGet(t.host, t.port, shown, probe);
            if (utf8.ok && utf8.head.status == 200)
                problem = "status 404 for the GBK name that Quillet asks for; the server has the file under its "
                          "UTF-8 name: store it under its GBK name (docs/publishing.md, \"Files with Chinese names\")";
        }
        if (problem.empty() && !r.head.contentLength)
            problem = "no Content-Length (Quillet refuses such an answer)";
        if (problem.empty() && static_cast<std::int32_t>(r.crc) != e.checksum)
            problem = "checksum " + std::to_string(static_cast<std::int32_t>(r.crc)) + " served, " +
                      std::to_string(e.checksum) + " listed";
        if (problem.empty() && release)
            problem = release->Compare(ReleasePathOf(e), r);
        Outcome(tally, shown, problem, r.bodyBytes);
    }
    return tally;
}

int VerifyQuillet(const Arguments& a, const std::vector<std::uint8_t>& listBytes, CReleaseCopy* release)
{
    if (a.positional.size() != 2)
        return BadUsage("verify of filelist.list needs the server's address (http://updates.example.com), the "
                        "list's address, or updatelist.ini");
    const std::string where = a.positional[1];
    const std::vector<FileEntry> entries =
        ParseFileList(std::string_view(reinterpret_cast<const char*>(listBytes.data()), listBytes.size()));

    std::vector<std::uint8_t> iniBytes;
    if (where.rfind("http://", 0) == 0 || !ReadWholeFile(PathFromUtf8(where), iniBytes)) {
        std::string error;
        const std::optional<QuilletSource> source = QuilletSourceOf(where, a, error);
        if (!source)
            return BadUsage(error);
        const VerifyTally tally = VerifyQuilletServer(*source, entries, listBytes, a, release);
        PrintTally("verify", tally);
        return Verdict(tally.failed > 0, "the server serves the list as published");
    }
    if (KindOf(where, iniBytes) != ListKind::Servers)
        return BadUsage(where + ": give the server's address, the list's address or updatelist.ini");

    // Every server that Quillet can pick, one after another.
    const std::vector<UpdateServer> servers =
        ParseUpdateServers(std::string_view(reinterpret_cast<const char*>(iniBytes.data()), iniBytes.size()));
    const ServerShares shares = ComputeServerShares(servers);
    std::vector<std::string> lines;
    bool failed = false;
    std::size_t checked = 0;
    for (std::size_t i = 0; i < servers.size(); ++i) {
        if (shares.draws[i] == 0)
            continue;
        const UpdateServer& s = servers[i];
        ++checked;
        const std::string name = "server " + std::to_string(s.id) + " \"" + Utf8FromGbk(s.name) + "\" at " +
                                 Utf8FromGbk(s.host) + ":" + std::to_string(ServerPort(s)) + " (picked on " +
                                 ShareText(shares.draws[i]) + " of starts)";
        std::printf("%s\n", name.c_str());
        QuilletSource source;
        source.label = name;
        source.server.host = s.host;
        source.server.port = ServerPort(s);
        source.folder = a.Folder();
        const std::optional<EntryTarget> live = FileListTarget(source.folder);
        if (!live)
            return BadUsage("the folder name " + source.folder + " is too long for the clients' paths");
        source.listPath = live->urlPath;
        VerifyTally tally;
        if (s.host.empty() || ServerPort(s) == 0) {
            ++tally.failed;
            tally.failures.push_back("no host or no port: Quillet cannot connect");
        } else {
            tally = VerifyQuilletServer(source, entries, listBytes, a, release);
        }
        failed = failed || tally.failed > 0;
        lines.push_back(name + ": " +
                        (tally.failed == 0 ? "ok, " + std::to_string(tally.ok) + " fetched"
                                           : "FAILED, " + std::to_string(tally.failed) + " of " +
                                                 std::to_string(tally.ok + tally.failed) + " fetches"));
        for (const std::string& f : tally.failures)
            lines.push_back("  failed: " + f);
    }
    std::printf("verify: %zu servers that Quillet picks\n", checked);
    for (const std::string& l : lines)
        std::printf("  %s\n", l.c_str());
    if (shares.givenUp > 0)
        std::printf("verify: warning: on %s of starts Quillet's pick gives up and updates nothing (vexa-publish "
                    "check %s)\n",
                    ShareText(shares.givenUp).c_str(), where.c_str());
    if (checked == 0) {
        std::printf("verify: Quillet picks no server of %s\n", where.c_str());
        return Verdict(true, "");
    }
    return Verdict(failed, "every server serves the list as published");
}

int Verify(const Arguments& a)
{
    if (a.positional.empty() || a.positional.size() > 2)
        return BadUsage("verify needs LIST and an address");
    const std::string file = a.positional[0];
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(PathFromUtf8(file), bytes))
        return BadInput(file, "cannot be read");
    CReleaseCopy releaseCopy;
    CReleaseCopy* release = nullptr;
    if (a.release) {
        std::string error;
        if (!releaseCopy.Open(*a.release, error))
            return BadInput(*a.release, error);
        release = &releaseCopy;
    }
    switch (KindOf(file, bytes)) {
    case ListKind::Zorvane: return VerifyZorvane(a, bytes, release);
    case ListKind::Quillet: return VerifyQuillet(a, bytes, release);
    case ListKind::Servers: break;
    }
    return BadUsage("verify takes Update.xml or filelist.list");
}

} // namespace

void AddVerifyCommand(CLI::App& app, std::vector<Command>& commands)
{
    auto a = std::make_shared<Arguments>();
    CLI::App* verify = app.add_subcommand("verify", "fetch what a list names the way the clients do, and check it");
    AddPositionals(*verify, *a, "LIST ADDRESS");
    AddFolderOption(*verify, *a);
    AddReleaseOption(*verify, *a, "the release folder: every body must be its file's bytes");
    AddTimeoutOption(*verify, *a);
    commands.push_back({"verify",
                        "vexa-publish verify Update.xml [LIST_ADDRESS] [--release DIR] [--timeout SECONDS]\n"
                        "vexa-publish verify filelist.list SERVER_ADDRESS|LIST_ADDRESS|updatelist.ini\n"
                        "                               [--folder NAME] [--release DIR] [--timeout SECONDS]",
                        verify, [a] { return Verify(*a); }});
}

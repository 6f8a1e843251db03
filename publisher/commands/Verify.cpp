// verify: fetches what the list names the way the clients do, and checks it.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "FileList.h"
#include "HttpGet.h"
#include "ReleaseFolder.h"
#include "ServedCheck.h"
#include "UpdateRules.h"
#include "UpdateServerList.h"
#include "Utf8.h"
#include "XmlList.h"
#include "ZorvaneList.h"

namespace {

int Verdict(bool failed, const char* what)
{
    if (failed) {
        std::printf("verify: do NOT announce this release\n");
        return EXIT_VERIFY;
    }
    std::printf("verify: %s\n", what);
    return EXIT_OK;
}

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
    VerifyTally tally;
    const bool withList = a.positional.size() > 1;
    CFetchProgress progress(tally, entries.size() + (withList ? 1 : 0), false);
    if (withList) {
        const std::string url = a.positional[1];
        const std::optional<Target> t = TargetOfUrl(url);
        if (!t)
            return BadUsage(url + " is no http:// address");
        progress.Start(url);
        HttpGetOptions listOptions;
        listOptions.zorvaneHeaders = true;
        listOptions.keepBody = true;
        listOptions.timeoutMs = a.timeoutSeconds * 1000;
        const HttpGetResult r = HttpGet(t->host, t->port, t->object, listOptions);
        progress.End(url, CompareServedList(r, listBytes), r.bodyBytes);
    }
    CheckZorvaneFiles(entries, file, std::nullopt, a.timeoutSeconds, release, progress);
    PrintTally("verify", tally);
    return Verdict(tally.failed > 0, "the server serves the list as published");
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
        const VerifyTally tally = CheckQuilletServer(*source, entries, listBytes, a.timeoutSeconds, release, false);
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
            tally = CheckQuilletServer(source, entries, listBytes, a.timeoutSeconds, release, false);
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
        if (!releaseCopy.Open(PathFromUtf8(*a.release), error))
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

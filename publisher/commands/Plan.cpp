// plan: what a client will fetch, and why, by the clients' own rules.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "ClientFolder.h"
#include "ClientPlan.h"
#include "Commands.h"
#include "FleetOps.h"
#include "FileList.h"
#include "HttpGet.h"
#include "ReleaseFolder.h"
#include "UpdateRules.h"
#include "Utf8.h"
#include "XmlList.h"
#include "ZorvaneList.h"

namespace {

void PrintPlan(const ClientPlan& plan)
{
    for (const PlanRow& row : plan.rows) {
        std::string verb = !row.checked ? "unchecked" : row.folder ? (row.fetch ? "create" : "leave")
                                                                   : (row.fetch ? "fetch" : "leave");
        if (row.fetches > 1)
            verb += " x" + std::to_string(row.fetches);
        std::printf("  %-9s %s: %s\n", verb.c_str(), row.target.c_str(), row.why.c_str());
        for (const std::string& trap : row.traps)
            std::printf("  %-9s   trap: %s\n", "", trap.c_str());
    }
    if (plan.NothingToDo()) {
        std::printf("plan: nothing would be fetched (%zu files checked)\n", plan.files);
    } else {
        std::printf("plan: %zu of %zu files would be fetched", plan.fetched, plan.files);
        if (plan.downloads != plan.fetched)
            std::printf(" (%zu downloads)", plan.downloads);
        if (plan.folders > 0)
            std::printf(", %zu folders created", plan.folders);
        if (plan.sizesUnknown < plan.downloads)
            std::printf(", %s to download", ShowBytes(plan.bytes).c_str());
        if (plan.sizesUnknown == plan.downloads && plan.downloads > 0)
            std::printf(", sizes unknown (filelist.list names no sizes: give --release DIR, or the list's address "
                        "when the server holds the files)");
        else if (plan.sizesUnknown > 0)
            std::printf(" and %zu downloads of unknown size (filelist.list names no sizes: give --release DIR, or "
                        "the list's address when the server holds the files)",
                        plan.sizesUnknown);
        std::printf("\n");
    }
    if (plan.unchecked > 0)
        std::printf("plan: %zu entries go outside the client folder and were not checked\n", plan.unchecked);
}

int Result(const ClientPlan& plan)
{
    PrintPlan(plan);
    return plan.NothingToDo() ? EXIT_OK : EXIT_PROBLEMS;
}

int PlanZorvaneEntries(const std::vector<ListedFile>& entries, const std::filesystem::path& client)
{
    return Result(PlanZorvane(entries, [&client](const ListedFile& e) { return ZorvaneStateIn(client, e); }));
}

int PlanZorvaneList(const Arguments& a, const std::filesystem::path& client, const std::filesystem::path& listFile)
{
    if (a.folder || a.release)
        return BadUsage(std::string(a.folder ? "--folder" : "--release") + " does not apply to a plan of Update.xml");
    std::vector<XmlFileElement> elements;
    std::string error;
    if (!ReadXmlList(listFile, elements, error))
        return BadInput(a.positional[1], error + ": Zorvane reads no entry and reports that the list cannot be loaded");
    return PlanZorvaneEntries(ReadListedFiles(elements), client);
}

// A release of the fleet as it goes live for a player's share: the list the
// share would be served, with its go-live time.
int PlanGoLive(const Arguments& a, const std::filesystem::path& client)
{
    FleetOptions options;
    options.fleetFile = *a.fleet;
    options.timeoutSeconds = a.timeoutSeconds;
    int rc = EXIT_OK;
    std::optional<CFleet> fleet = CFleet::Open(options, rc);
    if (!fleet)
        return rc;
    const std::string release = a.positional[1];
    std::string error;
    if (!fleet->HasRelease(release, error))
        return BadInput(*a.fleet, error);
    const ShareState& state = fleet->State();
    Share share; // nothing served yet
    if (a.player) {
        const std::optional<std::size_t> i = ShareOfAddress(state, *a.player);
        if (i)
            share = state.shares[*i];
    } else {
        // The next share to switch: the first one not on the release.
        for (const Share& s : state.shares) {
            if (s.release != release) {
                share = s;
                break;
            }
        }
    }
    std::optional<std::vector<ListedFile>> list;
    if (!share.release.empty() && share.release == release) {
        std::vector<ListedFile> served;
        if (!fleet->ListAt(share.list, served, error))
            return BadInput(*a.fleet, error);
        list = served;
        std::printf("plan: the share %s is served %s since %s\n", share.Name().c_str(), release.c_str(),
                    IsoTime(share.since).c_str());
    } else {
        const std::int64_t when = fleet->GoLiveTime(share.since + 1);
        if (!fleet->GoLiveFor(share, release, when, list, error))
            return BadInput(*a.fleet, error);
        if (!list)
            return BadInput(*a.fleet, release + " has no list of Zorvane's");
        std::printf("plan: %s as it goes live for the share %s (now %s) at %s\n", release.c_str(),
                    share.release.empty() ? "of no release" : share.Name().c_str(),
                    share.release.empty() ? "nothing" : share.release.c_str(), IsoTime(when).c_str());
    }
    return PlanZorvaneEntries(*list, client);
}

int PlanQuilletList(const Arguments& a, const std::filesystem::path& client, const std::vector<std::uint8_t>& bytes,
                    const std::string& folder, const std::optional<QuilletSource>& source)
{
    const std::vector<FileEntry> remote =
        ParseFileList(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    const QuilletFolderView view = QuilletViewOf(client);
    std::optional<std::filesystem::path> release;
    if (a.release)
        release = PathFromUtf8(*a.release);
    const auto sizeOf = [&](const FileEntry& e) -> std::optional<std::uint64_t> {
        if (release) {
            std::error_code ec;
            const std::uintmax_t size = std::filesystem::file_size(*release / PathFromUtf8(ReleasePathOf(e)), ec);
            return ec ? std::nullopt : std::optional<std::uint64_t>(size);
        }
        if (!source)
            return std::nullopt;
        FileEntry file = e;
        file.kind = ENTRY_FILE;
        const std::optional<EntryTarget> target = TargetOf(file, folder);
        if (!target)
            return std::nullopt;
        const std::string path = source->prefix + QuilletRequestTarget(target->urlPath);
        HttpGetOptions options;
        options.headOnly = true;
        options.timeoutMs = a.timeoutSeconds * 1000;
        const HttpGetResult r = HttpGet(source->server.host, source->server.port, path, options);
        if (!r.ok || r.head.status != 200 || !r.head.contentLength)
            return std::nullopt;
        return *r.head.contentLength;
    };
    ClientPlan plan = PlanQuillet(remote, view.programFolder, view.probe, folder, sizeOf);
    for (PlanRow& row : plan.rows)
        row.target = Utf8FromGbk(row.target);
    if (remote.empty())
        std::printf("plan: the list holds no record that Quillet takes: it ends with nothing fetched\n");
    return Result(plan);
}

bool EndsWithNoCase(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() &&
           EqualsNoCaseAscii(WideFromUtf8(text.substr(text.size() - tail.size())), WideFromUtf8(tail));
}

int Plan(const Arguments& a)
{
    if (a.positional.size() != 2)
        return BadUsage("plan needs CLIENT_DIR and a list (a file or its http:// address)");
    std::error_code ec;
    if (!std::filesystem::is_directory(PathFromUtf8(a.positional[0]), ec))
        return BadInput(a.positional[0], "no such folder");
    const std::filesystem::path client = NormalClientFolder(PathFromUtf8(a.positional[0]));
    const std::string list = a.positional[1];
    std::printf("plan for the client folder %s, list %s\n", Utf8FromPath(client).c_str(), list.c_str());
    if (a.fleet)
        return PlanGoLive(a, client);
    if (a.player)
        return BadUsage("--player needs --fleet");

    if (list.rfind("http://", 0) != 0) {
        std::vector<std::uint8_t> bytes;
        if (!ReadWholeFile(PathFromUtf8(list), bytes))
            return BadInput(list, "cannot be read");
        switch (KindOf(list, bytes)) {
        case ListKind::Zorvane: return PlanZorvaneList(a, client, PathFromUtf8(list));
        case ListKind::Quillet: return PlanQuilletList(a, client, bytes, a.Folder(), std::nullopt);
        case ListKind::Servers: break;
        }
        return BadUsage("plan takes Update.xml or filelist.list");
    }

    const std::optional<Target> t = TargetOfUrl(list);
    if (!t)
        return BadUsage(list + " is no http:// address");
    std::vector<std::uint8_t> bytes;
    std::string error;
    // Zorvane's list address ends in Update.xml; every other address is Quillet's.
    if (EndsWithNoCase(t->object, ".xml")) {
        if (!FetchList(*t, true, a.timeoutSeconds, bytes, error)) {
            std::fprintf(stderr, "%s: error: %s\n", list.c_str(), error.c_str());
            return EXIT_VERIFY;
        }
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        const std::filesystem::path copy =
            std::filesystem::temp_directory_path() / ("vexa-plan-" + std::to_string(stamp) + ".xml");
        if (!WriteWholeFile(copy, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())))
            return BadInput(Utf8FromPath(copy), "cannot be written");
        const int rc = PlanZorvaneList(a, client, copy);
        std::filesystem::remove(copy, ec);
        return rc;
    }
    const std::optional<QuilletSource> source = QuilletSourceOf(list, a, error);
    if (!source)
        return BadUsage(error);
    Target at = source->server;
    at.object = source->listPath;
    if (!FetchList(at, false, a.timeoutSeconds, bytes, error)) {
        std::fprintf(stderr, "%s: error: %s\n", list.c_str(), error.c_str());
        return EXIT_VERIFY;
    }
    return PlanQuilletList(a, client, bytes, source->folder, source);
}

} // namespace

void AddPlanCommand(CLI::App& app, std::vector<Command>& commands)
{
    auto a = std::make_shared<Arguments>();
    CLI::App* plan = app.add_subcommand("plan", "what a client will fetch from a list, and why");
    AddPositionals(*plan, *a, "CLIENT_DIR LIST");
    AddFolderOption(*plan, *a);
    AddReleaseOption(*plan, *a, "the release folder, for the sizes of Quillet's files");
    AddTimeoutOption(*plan, *a);
    plan->add_option("--fleet", a->fleet, "LIST is a release of this fleet, as it goes live for a player")
        ->type_name("FILE");
    plan->add_option("--player", a->player, "the player's address (default: the next share to switch)")
        ->type_name("ADDRESS");
    commands.push_back({"plan",
                        "vexa-publish plan CLIENT_DIR LIST_FILE|LIST_ADDRESS [--folder NAME] [--release DIR] "
                        "[--timeout SECONDS]\n"
                        "vexa-publish plan CLIENT_DIR RELEASE --fleet FILE [--player ADDRESS]",
                        plan, [a] { return Plan(*a); }});
}

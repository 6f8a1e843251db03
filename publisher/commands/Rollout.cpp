// rollout, complete, halt, push, status: the fleet's shares of players and the
// releases they are served, switched on every server together.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "Commands.h"
#include "FleetOps.h"
#include "Utf8.h"

namespace {

struct RolloutOptions {
    FleetOptions fleet;
    std::string release;
    std::string percent;
    bool resume = false;
    bool dryRun = false;
};

void AddFleetOptions(CLI::App& app, FleetOptions& o, bool deploys)
{
    app.add_option("--fleet", o.fleetFile, "the fleet (default fleet.ini)")->type_name("FILE");
    if (!deploys)
        return;
    app.add_option_function<std::string>(
           "--timeout", [&o](const std::string& v) { o.timeoutSeconds = std::max(1, std::stoi(v)); },
           "seconds that each read of a server may take (default 30)")
        ->check(CLI::Validator(
            [](const std::string& v) {
                return v.empty() || v.size() > 4 || v.find_first_not_of("0123456789") != std::string::npos
                           ? "needs a number"
                           : "";
            },
            ""))
        ->type_name("SECONDS");
}

// The releases the shares are served, in the order of the axis.
std::vector<std::string> ReleasesOf(const ShareState& state)
{
    std::vector<std::string> releases;
    for (const Share& s : state.shares) {
        if (std::find(releases.begin(), releases.end(), s.release) == releases.end())
            releases.push_back(s.release);
    }
    return releases;
}

void PrintState(const ShareState& state, const std::string& playersUrl)
{
    if (state.shares.empty()) {
        std::printf("no release is live: roll one out to every player (vexa-publish rollout RELEASE 100%%)\n");
        return;
    }
    for (const Share& s : state.shares)
        std::printf("  %7s to %7s  %-12s since %s  list %s%s\n", ShowPercent(s.from).c_str(), ShowPercent(s.to).c_str(),
                    s.release.c_str(), IsoTime(s.since).c_str(), playersUrl.c_str(), s.list.c_str());
    std::string totals;
    for (const std::string& r : ReleasesOf(state))
        totals += (totals.empty() ? "" : ", ") + r + " " + ShowPercent(state.PercentOf(r)) +
                  (r == state.halted ? " (halted)" : "");
    std::printf("players: %s\n", totals.c_str());
}

int Rollout(const RolloutOptions& o, const std::string& what)
{
    int rc = EXIT_OK;
    std::optional<CFleet> fleet = CFleet::Open(o.fleet, rc);
    if (!fleet)
        return rc;
    std::string error;
    if (!fleet->HasRelease(o.release, error))
        return BadInput(o.fleet.fleetFile, error);
    const std::optional<int> upTo = ParsePercent(o.percent);
    if (!upTo || *upTo == 0)
        return BadUsage("the share is a percentage above 0 and up to 100 (\"10%\", \"0.5\")");
    const ShareState& state = fleet->State();
    if (state.shares.empty() && *upTo != SHARE_WHOLE)
        return Refuse("nothing is live yet: the first release goes to every player (rollout " + o.release +
                      " 100%)");
    if (state.halted == o.release && !o.resume)
        return Refuse(o.release + " is halted at " + ShowPercent(state.PercentOf(o.release)) +
                        ": give --resume to go on with it, or roll out another release");
    ShareState after;
    const std::vector<ShareSwitch> switches = PlanRollout(state, o.release, *upTo, after);
    if (switches.empty()) {
        std::printf("%s: %s already reaches %s of the players: nothing to switch%s\n", what.c_str(), o.release.c_str(),
                    ShowPercent(state.ReachOf(o.release)).c_str(),
                    state.ReachOf(o.release) > *upTo ? " (a rollout never takes a release back from its players: "
                                                       "roll out another release for that)"
                                                     : "");
        return EXIT_OK;
    }
    std::printf("%s: %s to %s of the players; the players who switch, share by share:\n", what.c_str(),
                o.release.c_str(), ShowPercent(*upTo).c_str());
    std::int64_t notBefore = 0;
    for (const ShareSwitch& sw : switches)
        notBefore = std::max(notBefore, sw.before.since + 1);
    if (o.dryRun) {
        const std::int64_t when = fleet->GoLiveTime(notBefore);
        for (const ShareSwitch& sw : switches) {
            std::optional<std::vector<ListedFile>> list;
            if (!fleet->GoLiveFor(sw.before, o.release, when, list, error))
                return BadInput(o.fleet.fleetFile, error);
            Share part = sw.before;
            part.from = sw.from;
            part.to = sw.to;
            fleet->PrintChanges(part, o.release, list);
        }
        std::printf("%s: dry run, nothing switched\n", what.c_str());
        return EXIT_OK;
    }
    const auto makeState = [&](std::int64_t when, ShareState& out) {
        out = after;
        for (const ShareSwitch& sw : switches) {
            std::optional<std::vector<ListedFile>> list;
            std::string path;
            if (!fleet->GoLiveFor(sw.before, o.release, when, list, error) ||
                (list && !fleet->WriteShareList(o.release, *list, path, error))) {
                std::fprintf(stderr, "vexa-publish: %s\n", error.c_str());
                return false;
            }
            for (Share& s : out.shares) {
                if (s.from == sw.from) {
                    s.list = path;
                    s.since = when;
                }
            }
            Share part = sw.before;
            part.from = sw.from;
            part.to = sw.to;
            fleet->PrintChanges(part, o.release, list);
        }
        if (out.halted == o.release)
            out.halted.clear();
        MergeShares(out);
        return true;
    };
    const std::string step = what + " " + o.release + " " + ShowPercent(*upTo);
    rc = fleet->Deploy({o.release}, makeState, step, notBefore);
    if (rc == EXIT_OK)
        PrintState(fleet->State(), fleet->PlayersUrl());
    return rc;
}

struct HaltOptions {
    FleetOptions fleet;
    std::string release;
};

int Halt(const HaltOptions& o)
{
    int rc = EXIT_OK;
    std::optional<CFleet> fleet = CFleet::Open(o.fleet, rc);
    if (!fleet)
        return rc;
    ShareState state = fleet->State();
    const int percent = state.PercentOf(o.release);
    if (percent == 0)
        return Refuse(o.release + " is served to no player: nothing to halt");
    if (percent == SHARE_WHOLE)
        return Refuse(o.release + " is served to every player: roll out another release to take it back");
    state.halted = o.release;
    std::string error;
    if (!fleet->Keep(state, "halt " + o.release, error))
        return BadInput(o.fleet.fleetFile, error);
    std::printf("halt: %s stays with the %s of the players who have it; no other player gets it until "
                "`vexa-publish rollout %s PERCENT --resume`, and no server changes\n",
                o.release.c_str(), ShowPercent(percent).c_str(), o.release.c_str());
    PrintState(fleet->State(), fleet->PlayersUrl());
    return EXIT_OK;
}

struct PushOptions {
    FleetOptions fleet;
    std::vector<std::string> releases;
};

int Push(const PushOptions& o)
{
    int rc = EXIT_OK;
    std::optional<CFleet> fleet = CFleet::Open(o.fleet, rc);
    if (!fleet)
        return rc;
    std::set<std::string> releases;
    for (const std::string& r : ReleasesOf(fleet->State()))
        releases.insert(r);
    std::string error;
    for (const std::string& r : o.releases) {
        if (!fleet->HasRelease(r, error))
            return BadInput(o.fleet.fleetFile, error);
        releases.insert(r);
    }
    if (releases.empty())
        return Refuse("nothing is live and no release is named: push RELEASE copies one to every server");
    const ShareState current = fleet->State();
    return fleet->Deploy(releases, [&current](std::int64_t, ShareState& out) {
        out = current;
        return true;
    }, "push");
}

struct StatusOptions {
    FleetOptions fleet;
    std::vector<std::string> players;
    bool nginx = false;
};

int Status(const StatusOptions& o)
{
    int rc = EXIT_OK;
    std::optional<CFleet> fleet = CFleet::Open(o.fleet, rc);
    if (!fleet)
        return rc;
    const ShareState& state = fleet->State();
    if (o.nginx) {
        std::fputs(WriteNginxShares(state).c_str(), stdout);
        return EXIT_OK;
    }
    std::printf("fleet %s: %zu server%s, players placed by the salt \"%s\"\n", o.fleet.fleetFile.c_str(),
                fleet->Config().servers.size(), fleet->Config().servers.size() == 1 ? "" : "s", state.salt.c_str());
    PrintState(state, fleet->PlayersUrl());
    for (const std::string& player : o.players) {
        const std::optional<std::size_t> i = ShareOfAddress(state, player);
        if (!i) {
            std::printf("player %s: served nothing\n", player.c_str());
            continue;
        }
        const Share& s = state.shares[*i];
        std::printf("player %s: share %s, release %s, list %s%s\n", player.c_str(), s.Name().c_str(),
                    s.release.c_str(), fleet->PlayersUrl().c_str(), s.list.c_str());
    }
    return EXIT_OK;
}

} // namespace

void AddFleetCommands(CLI::App& app, std::vector<Command>& commands)
{
    auto rollout = std::make_shared<RolloutOptions>();
    CLI::App* r = app.add_subcommand("rollout", "serve a release to a share of the players, on every server");
    r->add_option("RELEASE", rollout->release, "a release folder below the fleet's releases/")->required();
    r->add_option("PERCENT", rollout->percent, "the share of the players, from the start of the axis")->required();
    AddFleetOptions(*r, rollout->fleet, true);
    r->add_option_function<int>(
         "--margin", [o = rollout.get()](int v) { o->fleet.marginSeconds = v; },
         "seconds between the go-live time and now (default 5 per server)")
        ->check(CLI::Range(0, 3600))
        ->type_name("SECONDS");
    r->add_flag("--resume", rollout->resume, "go on with a halted release");
    r->add_flag("--dry-run", rollout->dryRun, "say what would change for the players, and change nothing");
    commands.push_back({"rollout",
                        "vexa-publish rollout RELEASE PERCENT [--fleet FILE] [--resume] [--dry-run] [--margin SECONDS]",
                        r, [rollout] { return Rollout(*rollout, "rollout"); }});

    auto complete = std::make_shared<RolloutOptions>();
    CLI::App* c = app.add_subcommand("complete", "serve a release to every player, on every server");
    c->add_option("RELEASE", complete->release, "a release folder below the fleet's releases/")->required();
    AddFleetOptions(*c, complete->fleet, true);
    c->add_flag("--resume", complete->resume, "go on with a halted release");
    c->add_flag("--dry-run", complete->dryRun, "say what would change for the players, and change nothing");
    commands.push_back({"complete", "vexa-publish complete RELEASE [--fleet FILE] [--resume] [--dry-run]", c,
                        [complete] {
                            RolloutOptions all = *complete;
                            all.percent = "100";
                            return Rollout(all, "complete");
                        }});

    auto halt = std::make_shared<HaltOptions>();
    CLI::App* h = app.add_subcommand("halt", "no further player gets a release; those who have it keep it");
    h->add_option("RELEASE", halt->release, "the release whose rollout stops")->required();
    AddFleetOptions(*h, halt->fleet, false);
    commands.push_back({"halt", "vexa-publish halt RELEASE [--fleet FILE]", h, [halt] { return Halt(*halt); }});

    auto push = std::make_shared<PushOptions>();
    CLI::App* p = app.add_subcommand("push", "copy the releases to every mirror, verify them, switch the shares");
    p->add_option("RELEASE", push->releases, "releases to copy and verify besides the live ones");
    AddFleetOptions(*p, push->fleet, true);
    commands.push_back({"push", "vexa-publish push [RELEASE...] [--fleet FILE]", p, [push] { return Push(*push); }});

    auto status = std::make_shared<StatusOptions>();
    CLI::App* s = app.add_subcommand("status", "the shares of the players and what each is served");
    AddFleetOptions(*s, status->fleet, false);
    s->add_option("--player", status->players, "which share and release a player's address gets")
        ->type_name("ADDRESS");
    s->add_flag("--nginx", status->nginx, "the shares file as nginx includes it (to set up a server)");
    commands.push_back({"status", "vexa-publish status [--fleet FILE] [--player ADDRESS...] [--nginx]", s,
                        [status] { return Status(*status); }});
}

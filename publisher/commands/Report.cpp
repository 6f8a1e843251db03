// report: how a release is going, from the servers' access logs.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AccessLog.h"
#include "Commands.h"
#include "Fleet.h"
#include "LogFile.h"
#include "ReleaseFolder.h"
#include "Report.h"
#include "RolloutTally.h"
#include "ServedTreeScan.h"
#include "Shares.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

struct ReportArguments {
    std::vector<std::string> logs;
    std::optional<std::string> fleet;
    std::optional<std::string> root;
    std::optional<std::string> since;
    std::optional<std::string> until;
    std::optional<std::string> idle;
    std::optional<std::string> interval;
    std::optional<std::string> failOver;
    std::optional<std::string> html;
    std::optional<std::string> release;
    std::size_t top = 10;
    bool players = false;
};

// A log's lines in order, with the line it stands on.
struct Stream {
    std::string name; // as given
    std::uint32_t mirror = 0;
    CLogFile file;
    CLogClock clock;
    AccessLine line;
    bool has = false;
    std::uint64_t read = 0;   // lines
    std::uint64_t parsed = 0;
    std::string firstBad;     // the first line that did not read
};

// Lines of a log's start that may fail to read before it is refused as no access log.
constexpr std::uint64_t SNIFF_LINES = 100;

void Advance(Stream& s, CRolloutTally& tally)
{
    std::string_view text;
    while (s.file.NextLine(text)) {
        ++s.read;
        if (ParseAccessLine(text, s.clock, s.line)) {
            ++s.parsed;
            s.has = true;
            return;
        }
        if (text.empty())
            continue;
        if (s.firstBad.empty()) {
            s.firstBad = "line " + std::to_string(s.read) + ": ";
            for (const char c : text.substr(0, 80))
                s.firstBad += c >= 0x20 && c < 0x7f ? std::string(1, c) : EscapeAsLogged(std::string_view(&c, 1));
        }
        tally.CountMalformed();
        if (s.parsed == 0 && s.read >= SNIFF_LINES)
            break;
    }
    s.has = false;
}

// "90s", "10m", "2h", "1d"; a bare number is minutes.
std::optional<std::int64_t> Seconds(const std::string& text)
{
    std::size_t used = 0;
    long long n = 0;
    try {
        n = std::stoll(text, &used);
    } catch (...) {
        return std::nullopt;
    }
    const std::string unit = text.substr(used);
    if (n < 0)
        return std::nullopt;
    if (unit == "s")
        return n;
    if (unit.empty() || unit == "m" || unit == "min")
        return n * 60;
    if (unit == "h")
        return n * 3600;
    if (unit == "d")
        return n * 86400;
    return std::nullopt;
}

bool OnTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

std::string ReadText(const std::filesystem::path& path, bool& found)
{
    std::vector<std::uint8_t> bytes;
    found = ReadWholeFile(path, bytes);
    return std::string(bytes.begin(), bytes.end());
}

int Report(const ReportArguments& a)
{
    if (a.logs.empty())
        return BadUsage("report needs at least one LOG");
    RolloutOptions options;
    std::int64_t since = std::numeric_limits<std::int64_t>::min();
    std::int64_t until = std::numeric_limits<std::int64_t>::max();
    if (a.since && !ParseReportTime(*a.since, since))
        return BadUsage("--since needs a time such as 2026-12-09T10:15:00Z");
    if (a.until && !ParseReportTime(*a.until, until))
        return BadUsage("--until needs a time such as 2026-12-09T10:15:00Z");
    if (a.idle) {
        const std::optional<std::int64_t> s = Seconds(*a.idle);
        if (!s)
            return BadUsage("--idle needs a duration such as 10m");
        options.idle = *s;
    }
    if (a.interval) {
        const std::optional<std::int64_t> s = Seconds(*a.interval);
        if (!s || *s < 60 || *s % 60 != 0)
            return BadUsage("--interval needs whole minutes, such as 10m");
        options.interval = *s;
    }
    double pct = -1;
    if (a.failOver) {
        const std::optional<int> hundredths = ParsePercent(*a.failOver);
        if (!hundredths)
            return BadUsage("--fail-over needs a percentage such as 5 or 2.5%");
        pct = *hundredths / 100.0;
    }
    options.allPlayers = a.players;
    options.release = a.release.value_or("");
    options.end = a.until ? until
                          : std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();

    // The tree, and the shares that placed the players.
    std::string root;
    std::vector<std::string> mirrorNames;
    CShareRouting routing;
    std::filesystem::path fleetFile = PathFromUtf8(a.fleet.value_or("fleet.ini"));
    std::error_code ec;
    const bool useFleet = a.fleet || (!a.root && std::filesystem::exists(fleetFile, ec));
    if (useFleet) {
        bool found = false;
        const std::string text = ReadText(fleetFile, found);
        if (!found)
            return BadInput(Utf8FromPath(fleetFile), "cannot be read");
        CReport problems;
        const std::optional<Fleet> fleet = ReadFleet(text, Utf8FromPath(fleetFile), problems);
        if (!fleet)
            return FinishReport(problems, false);
        root = fleet->root;
        const std::filesystem::path beside = fleetFile.parent_path();
        const std::string history = ReadText(beside / "history.log", found);
        if (found) {
            std::vector<std::string> errors;
            for (ShareHistoryEntry& e : ReadShareHistory(history, errors))
                routing.AddState(e.at, std::move(e.state));
            for (const std::string& e : errors)
                std::cerr << Utf8FromPath(beside / "history.log") << ": warning: " << e << "\n";
        } else {
            const std::string shares = ReadText(beside / "shares.conf", found);
            std::string error;
            std::optional<ShareState> state = found ? ReadNginxShares(shares, error) : std::nullopt;
            if (state)
                routing.AddState(std::numeric_limits<std::int64_t>::min(), std::move(*state));
        }
        if (!fleet->servers.empty())
            mirrorNames.push_back(fleet->servers.front().name);
    } else if (!a.root) {
        return BadUsage("report needs the server's tree: --fleet FILE (fleet.ini) or --root DIR");
    }
    if (a.root)
        root = *a.root;
    if (mirrorNames.empty())
        mirrorNames.push_back("this server");
    CServedTree tree;
    std::string error;
    if (!ScanServedTree(PathFromUtf8(root), tree, error))
        return BadInput(root, error);

    // The logs: NAME=FILE names the mirror that wrote it.
    std::vector<std::unique_ptr<Stream>> streams;
    for (const std::string& given : a.logs) {
        auto s = std::make_unique<Stream>();
        std::string file = given;
        const std::size_t eq = given.find('=');
        if (eq != std::string::npos && eq > 0 && !std::filesystem::exists(PathFromUtf8(given), ec)) {
            const std::string name = given.substr(0, eq);
            file = given.substr(eq + 1);
            std::size_t m = 0;
            while (m < mirrorNames.size() && mirrorNames[m] != name)
                ++m;
            if (m == mirrorNames.size())
                mirrorNames.push_back(name);
            s->mirror = static_cast<std::uint32_t>(m);
        }
        s->name = file;
        if (!s->file.Open(PathFromUtf8(file), error))
            return BadInput(file, error);
        streams.push_back(std::move(s));
    }
    // A mirror named only on the command line comes after the fleet's first server.
    CRolloutTally tally(tree, routing, mirrorNames);
    std::uint64_t total = 0;
    for (auto& s : streams) {
        Advance(*s, tally);
        if (!s->has && s->parsed == 0 && !s->firstBad.empty())
            return BadInput(s->name, "not an nginx access log: no line of its start reads as the combined or the vexa "
                                     "format (" + s->firstBad + ")");
        total += s->file.Size();
    }

    const bool progress = OnTerminal();
    auto lastShown = std::chrono::steady_clock::now();
    std::uint64_t lines = 0;
    for (;;) {
        Stream* next = nullptr;
        std::int64_t limit = std::numeric_limits<std::int64_t>::max();
        for (auto& s : streams) {
            if (!s->has)
                continue;
            if (!next || s->line.time < next->line.time) {
                if (next)
                    limit = std::min(limit, next->line.time);
                next = s.get();
            } else {
                limit = std::min(limit, s->line.time);
            }
        }
        if (!next)
            break;
        // This log's lines up to the next one's time: the logs in time order.
        while (next->has && next->line.time <= limit) {
            if (next->line.time < since || next->line.time > until)
                tally.CountOutside();
            else
                tally.Add(next->line, next->mirror);
            Advance(*next, tally);
            if (progress && (++lines & 0xFFFF) == 0) {
                const auto now = std::chrono::steady_clock::now();
                if (now - lastShown > std::chrono::milliseconds(250)) {
                    lastShown = now;
                    std::uint64_t done = 0;
                    for (auto& s : streams)
                        done += s->file.Consumed();
                    std::fprintf(stderr, "\rreport: %3.0f%% of %s, %s lines, %s players ",
                                 total ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 100.0,
                                 ShowVolume(static_cast<double>(total)).c_str(), ShowCount(lines).c_str(),
                                 ShowCount(tally.Players()).c_str());
                }
            }
        }
    }
    if (progress && lines > 0xFFFF)
        std::fprintf(stderr, "\r%60s\r", "");
    for (auto& s : streams) {
        if (!s->file.Problem().empty())
            std::cerr << s->name << ": warning: " << s->file.Problem() << "; read " << s->read << " lines\n";
    }

    RolloutFigures figures = tally.Finish(options);
    for (auto& s : streams) {
        if (!s->firstBad.empty() && figures.firstMalformed.empty())
            figures.firstMalformed = s->name + " " + s->firstBad;
    }
    std::cout << RolloutText(figures, a.top);
    std::vector<FailOverLine> failOver;
    bool over = false;
    if (a.failOver) {
        failOver = CheckFailOver(figures, pct);
        std::printf("\n");
        for (const FailOverLine& l : failOver) {
            std::printf("fail-over %.2f%%: %s: %s of %s started updates failed (%.2f%%)%s\n", pct, l.release.c_str(),
                        ShowCount(l.failed).c_str(), ShowCount(l.started).c_str(),
                        l.started ? 100.0 * static_cast<double>(l.failed) / static_cast<double>(l.started) : 0.0,
                        l.over ? ": over, halt" : "");
            over = over || l.over;
        }
        if (failOver.empty())
            std::printf("fail-over %.2f%%: no update started\n", pct);
    }
    std::cout.flush();
    if (a.html) {
        std::string why;
        if (!WriteWholeFile(PathFromUtf8(*a.html), RolloutPage(figures, a.top, failOver, pct), &why))
            return BadInput(*a.html, "cannot be written (" + why + ")");
        std::printf("wrote %s\n", a.html->c_str());
    }
    return over ? EXIT_PROBLEMS : EXIT_OK;
}

} // namespace

void AddReportCommand(CLI::App& app, std::vector<Command>& commands)
{
    auto a = std::make_shared<ReportArguments>();
    CLI::App* report = app.add_subcommand("report", "how a release is going, from the servers' access logs");
    report->add_option("logs", a->logs, "[MIRROR=]LOG ...");
    report->add_option("--fleet", a->fleet, "fleet.ini: the tree, and the shares beside it (default ./fleet.ini)")
        ->type_name("FILE");
    report->add_option("--root", a->root, "the server's tree, where no fleet.ini names it")->type_name("DIR");
    report->add_option("--since", a->since, "only lines from this time on (UTC)")->type_name("TIME");
    report->add_option("--until", a->until, "only lines up to this time (UTC); the report's end")->type_name("TIME");
    report->add_option("--idle", a->idle, "a player quiet this long has finished its update (default 10m)")
        ->type_name("DURATION");
    report->add_option("--interval", a->interval, "the step of the figures over time (default: from the window)")
        ->type_name("DURATION");
    report->add_option("--fail-over", a->failOver, "exit 1 when failed updates exceed PCT of started ones")
        ->type_name("PCT");
    report->add_option("--release", a->release, "only this release's players and files")->type_name("NAME");
    report->add_option("--html", a->html, "also write the report as one HTML page")->type_name("FILE");
    report->add_option("--top", a->top, "rows of the files that fail most and of the failed players (default 10)")
        ->type_name("N");
    report->add_flag("--players", a->players, "every player's verdict, not only the failed ones");
    commands.push_back({"report",
                        "vexa-publish report [MIRROR=]LOG... [--fleet FILE | --root DIR] [--since TIME] [--until TIME]\n"
                        "                      [--idle DURATION] [--interval DURATION] [--release NAME] [--players]\n"
                        "                      [--top N] [--fail-over PCT] [--html FILE]",
                        report, [a] { return Report(*a); }});
}

#include <algorithm>
#include <cstdio>

#include "RolloutTally.h"

namespace {

std::string Causes(const std::map<Fault, std::uint64_t>& causes)
{
    std::vector<std::pair<std::uint64_t, Fault>> byCount;
    for (const auto& [fault, n] : causes)
        byCount.emplace_back(n, fault);
    std::stable_sort(byCount.begin(), byCount.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::string text;
    for (const auto& [n, fault] : byCount)
        text += (text.empty() ? "" : ", ") + FaultText(fault) + " " + ShowCount(n);
    return text;
}

std::string Percent(std::uint64_t part, std::uint64_t whole)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f%%", whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0);
    return text;
}

std::string Rate(double perSecond, bool bytes)
{
    if (bytes)
        return ShowVolume(perSecond) + "/s";
    char text[32];
    std::snprintf(text, sizeof text, perSecond >= 100 || perSecond == static_cast<int>(perSecond) ? "%.0f/s" : "%.1f/s",
                  perSecond);
    return text;
}

std::string Duration(std::int64_t seconds)
{
    if (seconds % 86400 == 0 && seconds >= 86400)
        return std::to_string(seconds / 86400) + " d";
    if (seconds % 3600 == 0 && seconds >= 3600)
        return std::to_string(seconds / 3600) + " h";
    if (seconds % 60 == 0 && seconds >= 60)
        return std::to_string(seconds / 60) + " min";
    return std::to_string(seconds) + " s";
}

// Columns on a terminal: CJK characters take two.
std::size_t Width(const std::string& text)
{
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        std::uint32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (std::size_t k = 1; k < n && i + k < text.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                          (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                          (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                          (cp >= 0xFFE0 && cp <= 0xFFE6);
        width += wide ? 2 : 1;
        i += n;
    }
    return width;
}

std::vector<std::string> CountCells(const VerdictCounts& c)
{
    return {ShowCount(c.players), ShowCount(c.checked), ShowCount(c.current), ShowCount(c.completed),
            ShowCount(c.failed), ShowCount(c.midUpdate)};
}

ReportTable ShareTable(const RolloutFigures& f)
{
    ReportTable t;
    t.title = "players per release and share";
    t.header = {"release", "client", "share", "players", "checked", "current", "completed", "failed", "mid-update"};
    t.numeric = {false, false, false, true, true, true, true, true, true};
    for (std::size_t i = 0; i < f.shares.size();) {
        // One release and client: its shares, their total, and why its players failed.
        std::size_t j = i;
        VerdictCounts total;
        for (; j < f.shares.size() && f.shares[j].release == f.shares[i].release &&
               f.shares[j].channel == f.shares[i].channel;
             ++j) {
            const ShareRow& row = f.shares[j];
            std::vector<std::string> cells = {row.release, row.channel, row.share.empty() ? "-" : row.share};
            for (std::string& c : CountCells(row.counts))
                cells.push_back(std::move(c));
            t.rows.push_back(std::move(cells));
            total.Add(row.counts);
        }
        if (j - i > 1) {
            std::vector<std::string> cells = {f.shares[i].release, f.shares[i].channel, "all shares"};
            for (std::string& c : CountCells(total))
                cells.push_back(std::move(c));
            t.rows.push_back(std::move(cells));
        }
        if (total.failed > 0)
            t.notes.push_back(f.shares[i].release + " " + f.shares[i].channel + " failed: " + Causes(total.causes));
        i = j;
    }
    if (f.shares.empty())
        t.notes.push_back("no player fetched a list or a file of a release");
    return t;
}

ReportTable PlayerTable(const RolloutFigures& f, std::size_t top)
{
    ReportTable t;
    std::size_t failed = 0;
    for (const PlayerRow& p : f.players)
        failed += p.verdict == Verdict::Failed ? 1 : 0;
    t.title = f.allPlayers ? "players (" + ShowCount(f.players.size()) + ")"
                           : "failed players (" + ShowCount(failed) + ")";
    t.header = {"address", "agent", "client", "release", "share", "mirror", "verdict", "cause", "file", "last request"};
    t.numeric = std::vector<bool>(t.header.size(), false);
    for (const PlayerRow& p : f.players) {
        if (!f.allPlayers && t.rows.size() == top) {
            t.notes.push_back("and " + ShowCount(f.players.size() - top) + " more (--players lists every player)");
            break;
        }
        t.rows.push_back({p.address, p.agent.empty() ? "-" : p.agent, p.channel, p.release,
                          p.share.empty() ? "-" : p.share, p.mirror, VerdictText(p.verdict),
                          p.verdict == Verdict::Failed ? FaultText(p.fault) : "-", p.file.empty() ? "-" : p.file,
                          ShowTime(p.time)});
    }
    return t;
}

ReportTable FileTable(const RolloutFigures& f, std::size_t top)
{
    ReportTable t;
    t.title = "files that fail most (of " + ShowCount(f.files.size()) + " asked for)";
    t.header = {"release", "client", "file", "length", "fetches", "whole", "failed", "bytes sent", "causes"};
    t.numeric = {false, false, false, true, true, true, true, true, false};
    for (const FileRow& row : f.files) {
        if (t.rows.size() == top)
            break;
        t.rows.push_back({row.release, row.channel, row.path, row.known ? ShowCount(row.length) : "?",
                          ShowCount(row.fetches), ShowCount(row.whole), ShowCount(row.failed), ShowVolume(row.bytes),
                          row.causes.empty() ? "-" : Causes(row.causes)});
    }
    return t;
}

ReportTable MirrorTable(const RolloutFigures& f)
{
    ReportTable t;
    t.title = "mirrors";
    t.header = {"mirror", "requests", "bytes sent", "players", "fetches", "failed", "failure rate", "peak requests",
                "peak bytes", "completed", "failed updates"};
    t.numeric = {false, true, true, true, true, true, true, true, true, true, true};
    for (const MirrorRow& m : f.mirrors) {
        t.rows.push_back({m.name, ShowCount(m.requests), ShowVolume(m.bytes), ShowCount(m.players),
                          ShowCount(m.fetches), ShowCount(m.failed), Percent(m.failed, m.fetches),
                          Rate(m.peaks.requests.rate, false), Rate(m.peaks.bytes.rate, true),
                          ShowCount(m.counts.completed), ShowCount(m.counts.failed)});
        if (m.failsMore)
            t.notes.push_back(m.name + " fails more than the others: " + Percent(m.failed, m.fetches) +
                              " of its fetches (" + Causes(m.causes) + ")");
    }
    return t;
}

ReportTable TimeTable(const RolloutFigures& f)
{
    ReportTable t;
    t.title = "over time (per " + Duration(f.interval) + ", UTC)";
    t.header = {"from", "checks", "completed", "failed", "requests", "bytes sent"};
    t.numeric = {false, true, true, true, true, true};
    for (const IntervalRow& row : f.intervals) {
        t.rows.push_back({ShowTime(row.from).substr(0, 16), ShowCount(row.checks), ShowCount(row.completed),
                          ShowCount(row.failed), ShowCount(row.requests), ShowVolume(row.bytes)});
    }
    const Peaks& p = f.peaks;
    t.notes.push_back("peak: " + Rate(p.requests.rate, false) + " requests at " + ShowTime(p.requests.at) + ", " +
                      Rate(p.bytes.rate, true) + " at " + ShowTime(p.bytes.at) + "; busiest minute: " +
                      Rate(p.requestsMinute.rate, false) + " requests at " + ShowTime(p.requestsMinute.at).substr(0, 16) +
                      ", " + Rate(p.bytesMinute.rate, true) + " at " + ShowTime(p.bytesMinute.at).substr(0, 16));
    t.notes.push_back(f.vexaLines == f.lines - f.malformed - f.outside
                          ? "bodies spread over the seconds they took ($request_time)"
                          : "bodies of combined lines counted in the second they ended (no $request_time)");
    return t;
}

} // namespace

std::vector<std::string> RolloutSummary(const RolloutFigures& f)
{
    std::vector<std::string> lines;
    const std::uint64_t read = f.lines - f.malformed - f.outside;
    std::string format = f.vexaLines == read ? "vexa format" : f.vexaLines == 0 ? "combined format"
                                                                              : ShowCount(f.vexaLines) + " in the vexa format";
    lines.push_back(ShowCount(f.lines) + " lines, " + ShowCount(read) + " reported" +
                    (read ? " (" + format + "), from " + ShowTime(f.first) + " to " + ShowTime(f.last) + " UTC"
                          : std::string()));
    if (f.malformed || f.outside)
        lines.push_back("skipped: " + ShowCount(f.malformed) + " malformed lines, " + ShowCount(f.outside) +
                        " outside the window" + (f.firstMalformed.empty() ? "" : " (first malformed: " + f.firstMalformed + ")"));
    lines.push_back(ShowCount(f.other) + " requests for nothing that players update from; a player who asked for "
                    "nothing since " + ShowTime(f.end - f.idle) + " (idle " + Duration(f.idle) + ") has finished");
    return lines;
}

std::vector<ReportTable> RolloutTables(const RolloutFigures& figures, std::size_t top)
{
    return {ShareTable(figures), PlayerTable(figures, top), FileTable(figures, top), MirrorTable(figures),
            TimeTable(figures)};
}

std::string RolloutText(const RolloutFigures& figures, std::size_t top)
{
    std::string out;
    for (const std::string& line : RolloutSummary(figures))
        out += "report: " + line + "\n";
    for (const ReportTable& t : RolloutTables(figures, top)) {
        out += "\n" + t.title + "\n";
        if (!t.rows.empty()) {
            std::vector<std::size_t> width(t.header.size());
            for (std::size_t c = 0; c < t.header.size(); ++c) {
                width[c] = Width(t.header[c]);
                for (const auto& row : t.rows)
                    width[c] = std::max(width[c], Width(row[c]));
            }
            const auto line = [&](const std::vector<std::string>& cells) {
                std::string text = " ";
                for (std::size_t c = 0; c < cells.size(); ++c) {
                    const std::string pad(width[c] - Width(cells[c]), ' ');
                    text += " " + (t.numeric[c] ? pad + cells[c] : cells[c] + (c + 1 < cells.size() ? pad : ""));
                }
                return text + "\n";
            };
            out += line(t.header);
            for (const auto& row : t.rows)
                out += line(row);
        }
        for (const std::string& note : t.notes)
            out += "  " + note + "\n";
    }
    return out;
}

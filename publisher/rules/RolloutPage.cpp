// The report as one HTML page: its own styles and inline SVG charts, nothing
// fetched from anywhere, so that it can be mailed or kept beside the logs.
#include <algorithm>
#include <cstdio>

#include "RolloutTally.h"

namespace {

const char* const GREY = "#9aa5b1";
const char* const GREEN = "#2e9e5b";
const char* const RED = "#d64545";
const char* const AMBER = "#e0a526";
const char* const BLUE = "#3b73c4";

std::string Escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string Number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

std::string Rect(double x, double y, double w, double h, const char* fill, const std::string& tip)
{
    return "<rect x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" + Number(std::max(w, 0.0)) +
           "\" height=\"" + Number(h) + "\" fill=\"" + fill + "\"><title>" + Escape(tip) + "</title></rect>";
}

std::string Text(double x, double y, const std::string& text, const char* anchor = "start")
{
    return "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" text-anchor=\"" + anchor + "\">" + Escape(text) +
           "</text>";
}

std::string Legend(const std::vector<std::pair<const char*, const char*>>& keys)
{
    std::string out = "<p class=\"legend\">";
    for (const auto& [colour, name] : keys)
        out += std::string("<span style=\"background:") + colour + "\"></span>" + name + " ";
    return out + "</p>\n";
}

// One bar per release, client and share: its players by verdict.
std::string VerdictBars(const RolloutFigures& f)
{
    if (f.shares.empty())
        return std::string();
    const double labelWidth = 300;
    const double barWidth = 560;
    const double rowHeight = 26;
    std::uint64_t most = 1;
    for (const ShareRow& row : f.shares)
        most = std::max(most, row.counts.players);
    std::string svg = "<svg width=\"" + Number(labelWidth + barWidth + 80) + "\" height=\"" +
                      Number(rowHeight * static_cast<double>(f.shares.size()) + 4) + "\">";
    double y = 2;
    for (const ShareRow& row : f.shares) {
        const VerdictCounts& c = row.counts;
        svg += Text(0, y + 16, row.release + "  " + row.channel + "  " + (row.share.empty() ? "-" : row.share));
        double x = labelWidth;
        const auto part = [&](std::uint64_t n, const char* colour, const char* what) {
            const double w = barWidth * static_cast<double>(n) / static_cast<double>(most);
            if (n > 0)
                svg += Rect(x, y + 3, w, rowHeight - 8, colour, ShowCount(n) + " " + what);
            x += w;
        };
        part(c.current, GREY, "current");
        part(c.completed, GREEN, "completed");
        part(c.failed, RED, "failed");
        part(c.midUpdate, AMBER, "mid-update");
        svg += Text(x + 6, y + 16, ShowCount(c.players));
        y += rowHeight;
    }
    return Legend({{GREY, "current"}, {GREEN, "completed"}, {RED, "failed"}, {AMBER, "mid-update"}}) + svg +
           "</svg>\n";
}

// Per interval: updates completed and failed as bars, checks as a line.
std::string TimeChart(const RolloutFigures& f)
{
    if (f.intervals.empty())
        return std::string();
    const double left = 50, top = 10, width = 820, height = 220;
    std::uint64_t most = 1;
    for (const IntervalRow& row : f.intervals)
        most = std::max({most, row.checks, row.completed + row.failed});
    const double step = width / static_cast<double>(f.intervals.size());
    const auto yOf = [&](std::uint64_t n) { return top + height - height * static_cast<double>(n) / static_cast<double>(most); };
    std::string svg = "<svg width=\"" + Number(left + width + 20) + "\" height=\"" + Number(top + height + 40) + "\">";
    svg += "<line x1=\"" + Number(left) + "\" y1=\"" + Number(top + height) + "\" x2=\"" + Number(left + width) +
           "\" y2=\"" + Number(top + height) + "\" stroke=\"#555\"/>";
    svg += Text(left - 6, top + 10, ShowCount(most), "end") + Text(left - 6, top + height, "0", "end");
    std::string points;
    std::string dots;
    for (std::size_t i = 0; i < f.intervals.size(); ++i) {
        const IntervalRow& row = f.intervals[i];
        const double x = left + step * static_cast<double>(i);
        const double bar = std::clamp(step * 0.7, 1.0, 48.0);
        const std::string when = ShowTime(row.from).substr(0, 16);
        svg += Rect(x, yOf(row.completed), bar, top + height - yOf(row.completed), GREEN,
                    when + ": " + ShowCount(row.completed) + " completed");
        svg += Rect(x, yOf(row.completed + row.failed), bar, yOf(row.completed) - yOf(row.completed + row.failed), RED,
                    when + ": " + ShowCount(row.failed) + " failed");
        points += Number(x + bar / 2) + "," + Number(yOf(row.checks)) + " ";
        dots += "<circle cx=\"" + Number(x + bar / 2) + "\" cy=\"" + Number(yOf(row.checks)) + "\" r=\"3\" fill=\"" +
                BLUE + "\"><title>" + Escape(when + ": " + ShowCount(row.checks) + " checks") + "</title></circle>";
    }
    svg += "<polyline fill=\"none\" stroke=\"" + std::string(BLUE) + "\" stroke-width=\"2\" points=\"" + points + "\"/>" +
           dots;
    const std::size_t labels = std::min<std::size_t>(f.intervals.size(), 6);
    for (std::size_t k = 0; k < labels; ++k) {
        const std::size_t i = labels == 1 ? 0 : k * (f.intervals.size() - 1) / (labels - 1);
        svg += Text(left + step * static_cast<double>(i), top + height + 18, ShowTime(f.intervals[i].from).substr(5, 11));
    }
    return Legend({{GREEN, "updates completed"}, {RED, "updates failed"}, {BLUE, "checks (lists fetched)"}}) + svg +
           "</svg>\n";
}

// Horizontal bars with a label; red where flagged.
struct Bar {
    std::string label;
    double value = 0;
    std::string shown;
    bool flagged = false;
};

std::string Bars(const std::vector<Bar>& bars, const char* colour)
{
    if (bars.empty())
        return "<p>none</p>\n";
    const double labelWidth = 380, barWidth = 420, rowHeight = 24;
    double most = 0;
    for (const Bar& b : bars)
        most = std::max(most, b.value);
    if (most <= 0)
        most = 1;
    std::string svg = "<svg width=\"" + Number(labelWidth + barWidth + 120) + "\" height=\"" +
                      Number(rowHeight * static_cast<double>(bars.size()) + 4) + "\">";
    double y = 2;
    for (const Bar& b : bars) {
        const double w = barWidth * b.value / most;
        svg += Text(0, y + 16, b.label);
        svg += Rect(labelWidth, y + 3, w, rowHeight - 8, b.flagged ? RED : colour, b.label + ": " + b.shown);
        svg += Text(labelWidth + w + 6, y + 16, b.shown);
        y += rowHeight;
    }
    return svg + "</svg>\n";
}

std::string FileBars(const RolloutFigures& f, std::size_t top)
{
    std::vector<Bar> bars;
    for (const FileRow& row : f.files) {
        if (row.failed == 0 || bars.size() == top)
            break;
        bars.push_back({row.release + " " + row.path, static_cast<double>(row.failed),
                        ShowCount(row.failed) + " of " + ShowCount(row.fetches), false});
    }
    return Bars(bars, RED);
}

std::string MirrorBars(const RolloutFigures& f)
{
    std::vector<Bar> bars;
    for (const MirrorRow& m : f.mirrors) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.2f%%", 100.0 * m.FailureRate());
        bars.push_back({m.name, m.FailureRate(), std::string(rate) + " of " + ShowCount(m.fetches), m.failsMore});
    }
    return Bars(bars, AMBER);
}

std::string Table(const ReportTable& t)
{
    std::string title = t.title;
    if (!title.empty() && title[0] >= 'a' && title[0] <= 'z')
        title[0] = static_cast<char>(title[0] - 'a' + 'A');
    std::string out = "<h2>" + Escape(title) + "</h2>\n";
    if (!t.rows.empty()) {
        out += "<table>\n<tr>";
        for (std::size_t c = 0; c < t.header.size(); ++c)
            out += std::string(t.numeric[c] ? "<th class=\"n\">" : "<th>") + Escape(t.header[c]) + "</th>";
        out += "</tr>\n";
        for (const auto& row : t.rows) {
            out += "<tr>";
            for (std::size_t c = 0; c < row.size(); ++c)
                out += std::string(t.numeric[c] ? "<td class=\"n\">" : "<td>") + Escape(row[c]) + "</td>";
            out += "</tr>\n";
        }
        out += "</table>\n";
    }
    for (const std::string& note : t.notes)
        out += "<p class=\"note\">" + Escape(note) + "</p>\n";
    return out;
}

} // namespace

std::string RolloutPage(const RolloutFigures& figures, std::size_t top, const std::vector<FailOverLine>& failOver,
                        double pct)
{
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Rollout report</title>\n"
        "<style>\n"
        "body{font-family:sans-serif;margin:24px;color:#222;max-width:1200px}\n"
        "h1{font-size:22px;margin:0 0 8px}h2{font-size:17px;margin:28px 0 8px}\n"
        "table{border-collapse:collapse;font-size:13px}th,td{padding:3px 9px;border-bottom:1px solid #ddd;"
        "text-align:left;white-space:nowrap}th{background:#f1f3f5}.n{text-align:right}\n"
        "svg{font-size:12px;display:block;margin:4px 0 10px}text{fill:#222}\n"
        ".legend span{display:inline-block;width:12px;height:12px;margin:0 4px 0 12px;vertical-align:-1px}\n"
        ".note{font-size:13px;color:#444;margin:4px 0}.summary{margin:2px 0;font-size:14px}\n"
        ".verdict{padding:8px 12px;margin:12px 0;font-weight:bold;border-radius:4px}"
        ".ok{background:#e3f4ea;color:#1d6b3e}.halt{background:#fbe4e4;color:#9b2222}\n"
        "</style>\n</head>\n<body>\n<h1>Rollout report</h1>\n";
    for (const std::string& line : RolloutSummary(figures))
        page += "<p class=\"summary\">" + Escape(line) + "</p>\n";
    if (!failOver.empty()) {
        bool over = false;
        std::string lines;
        for (const FailOverLine& l : failOver) {
            char text[200];
            std::snprintf(text, sizeof text, "%s: %llu of %llu started updates failed (%.2f%%)", l.release.c_str(),
                          static_cast<unsigned long long>(l.failed), static_cast<unsigned long long>(l.started),
                          l.started ? 100.0 * static_cast<double>(l.failed) / static_cast<double>(l.started) : 0.0);
            lines += "<br>" + Escape(text) + (l.over ? ": over" : "");
            over = over || l.over;
        }
        char head[100];
        std::snprintf(head, sizeof head, over ? "Halt: failed updates over %.2f%% of started ones"
                                              : "Go on: failed updates within %.2f%% of started ones",
                      pct);
        page += std::string("<div class=\"verdict ") + (over ? "halt" : "ok") + "\">" + head + lines + "</div>\n";
    }
    const std::vector<ReportTable> tables = RolloutTables(figures, top);
    page += "<h2>Verdicts per release and share</h2>\n" + VerdictBars(figures);
    page += "<h2>Players updated over time</h2>\n" + TimeChart(figures);
    page += "<h2>Failures per file</h2>\n" + FileBars(figures, top);
    page += "<h2>Failures per mirror</h2>\n" + MirrorBars(figures);
    for (const ReportTable& t : tables)
        page += Table(t);
    page += "</body>\n</html>\n";
    return page;
}

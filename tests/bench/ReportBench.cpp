// The report's benchmark material and its floor.
//
//   report_bench make DIR LINES PLAYERS   a server's tree (two releases, a 10%
//       then 50% rollout in history.log), fleet.ini, and DIR/access.log: a day
//       of LINES lines in the vexa format from PLAYERS players
//   report_bench floor LOG                the log read and cut into lines, nothing
//       else: what no report of it can go below
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "LogFile.h"
#include "Shares.h"

namespace fs = std::filesystem;

namespace {

const std::int64_t DAY = 1796774400; // 2026-12-09T00:00:00Z
const char* const RELEASES[] = {"2.0.13", "2.0.14"};

struct TreeFile {
    std::string target; // as logged, below the release's prefix
    std::uint64_t length;
};

struct Tree {
    std::vector<TreeFile> zorvane;
    std::vector<TreeFile> quillet;
};

void Touch(const fs::path& path, std::uint64_t length)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).close();
    fs::resize_file(path, length); // sparse: the report reads lengths only
}

Tree MakeTree(const fs::path& dir)
{
    Tree tree;
    std::mt19937_64 rng(7);
    for (int i = 0; i < 40; ++i) {
        const std::string path = (i < 10 ? "" : "data/") + std::string("file") + std::to_string(i) + (i % 3 ? ".dat" : ".dll");
        tree.zorvane.push_back({path, 2000 + rng() % (i % 7 == 0 ? 20000000 : 400000)});
    }
    for (int i = 0; i < 30; ++i) {
        const std::string path = (i < 5 ? "" : "skins/") + std::string("part") + std::to_string(i) + ".bmp";
        tree.quillet.push_back({path, 1000 + rng() % 300000});
    }
    for (const char* r : RELEASES) {
        const fs::path release = dir / "srv/releases" / r;
        Touch(release / "Update.xml", 9000);
        Touch(release / "lists/Update-0000000a.xml", 9010);
        for (const TreeFile& f : tree.zorvane)
            Touch(release / "files" / f.target, f.length);
        Touch(release / "Vexaupdate/plat/filelist.list", 1500);
        for (const TreeFile& f : tree.quillet)
            Touch(release / "Vexaupdate/plat/release" / f.target, f.length);
    }
    return tree;
}

ShareState StateOf(int percent)
{
    ShareState s;
    s.salt = "vexa";
    const auto share = [&](int from, int to, const char* release) {
        Share x;
        x.from = from;
        x.to = to;
        x.release = release;
        x.list = std::string("/releases/") + release + "/lists/Update-0000000a.xml";
        x.since = DAY;
        s.shares.push_back(x);
    };
    if (percent > 0)
        share(0, percent * 100, RELEASES[1]);
    if (percent < 100)
        share(percent * 100, SHARE_WHOLE, RELEASES[0]);
    return s;
}

struct Step {
    std::int64_t at;
    std::uint32_t session;
    bool operator>(const Step& o) const { return at > o.at; }
};

struct Session {
    std::uint32_t player;
    std::uint8_t files; // still to fetch
    bool retry;         // Quillet fetches a cut file once more
    std::uint8_t file;
};

int Make(const fs::path& dir, std::uint64_t lines, std::uint32_t players)
{
    fs::create_directories(dir);
    const Tree tree = MakeTree(dir);
    {
        std::ofstream fleet(dir / "fleet.ini");
        fleet << "root = " << fs::absolute(dir / "srv").string() << "\nurl = http://updates.example.com\n"
              << "nginx-conf = " << fs::absolute(dir / "shares.conf").string() << "\nsalt = vexa\n";
        std::ofstream history(dir / "history.log");
        history << WriteHistoryEntry({DAY - 86400, "rollout 2.0.13 100.00%", StateOf(0)})
                << WriteHistoryEntry({DAY + 6 * 3600, "rollout 2.0.14 10.00%", StateOf(10)})
                << WriteHistoryEntry({DAY + 14 * 3600, "rollout 2.0.14 50.00%", StateOf(50)});
    }
    std::FILE* out = std::fopen((dir / "access.log").string().c_str(), "wb");
    if (!out)
        return 2;
    std::vector<char> buffer(1 << 22);
    std::setvbuf(out, buffer.data(), _IOFBF, buffer.size());
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(0, 1);
    std::priority_queue<Step, std::vector<Step>, std::greater<Step>> queue;
    std::vector<Session> sessions;
    std::vector<std::uint32_t> freeSessions;
    std::uint64_t written = 0;
    const std::uint64_t starts = lines / 2;
    char time[32];
    std::int64_t timeOf = -1;
    const auto emit = [&](std::int64_t at, std::uint32_t id, bool list) {
        Session& s = sessions[id];
        const std::uint32_t p = s.player;
        const bool zorvane = p % 10 < 7;
        const int percent = at < DAY + 6 * 3600 ? 0 : at < DAY + 14 * 3600 ? 10 : 50;
        const bool fresh = static_cast<int>(p % 100) < percent;
        const char* release = RELEASES[fresh ? 1 : 0];
        const char* share = percent == 0 ? "0.00-100.00" : fresh ? (percent == 10 ? "0.00-10.00" : "0.00-50.00")
                                                          : (percent == 10 ? "10.00-100.00" : "50.00-100.00");
        if (at != timeOf) {
            std::snprintf(time, sizeof time, "%02d/Dec/2026:%02d:%02d:%02d +0000", 9, static_cast<int>((at - DAY) / 3600),
                          static_cast<int>((at - DAY) / 60 % 60), static_cast<int>((at - DAY) % 60));
            timeOf = at;
        }
        std::string target;
        std::uint64_t length = 0;
        if (list) {
            target = zorvane ? "/Update.xml" : "/Vexaupdate/plat/filelist.list";
            length = zorvane ? 9010 : 1500;
        } else if (zorvane) {
            const TreeFile& f = tree.zorvane[s.file % tree.zorvane.size()];
            target = std::string("/releases/") + release + "/files/" + f.target;
            length = f.length;
        } else {
            const TreeFile& f = tree.quillet[s.file % tree.quillet.size()];
            target = "/Vexaupdate/plat/release/" + f.target;
            length = f.length;
        }
        int status = 200;
        std::uint64_t bytes = length;
        bool completed = true;
        const double draw = list ? 1 : unit(rng);
        if (draw < 0.02) {
            bytes = length * (1 + rng() % 9) / 10;
            completed = false;
        } else if (draw < 0.025) {
            status = 404;
            bytes = 153;
        } else if (draw < 0.03) {
            status = 499;
            bytes = 0;
            completed = false;
        }
        const double seconds = static_cast<double>(bytes) / 2e6 + 0.001 * static_cast<double>(rng() % 50);
        std::fprintf(out, "127.%u.%u.%u - - [%s] \"GET %s HTTP/1.0\" %d %llu \"-\" \"%s\" %.3f %s \"%s\" \"%s\"\n",
                     (p >> 16) & 255, (p >> 8) & 255, p & 255, time, target.c_str(), status,
                     static_cast<unsigned long long>(bytes), zorvane ? "Quillet_Tamsk" : "-", seconds,
                     completed ? "OK" : "", share, release);
        ++written;
        // The next request: Quillet tries a cut file once more, Zorvane gives up at a failure.
        if (!list && !completed && !zorvane && !s.retry) {
            s.retry = true;
        } else if (!list) {
            s.retry = false;
            s.file = static_cast<std::uint8_t>(rng());
            s.files = (status != 200 || !completed) && zorvane ? 0 : static_cast<std::uint8_t>(s.files - 1);
        }
        return static_cast<std::int64_t>(seconds);
    };
    for (std::uint64_t i = 0; written < lines; ++i) {
        const std::int64_t start = DAY + static_cast<std::int64_t>(86399.0 * static_cast<double>(std::min(i, starts)) /
                                                                   static_cast<double>(starts));
        while (!queue.empty() && queue.top().at <= start && written < lines) {
            const Step step = queue.top();
            queue.pop();
            Session& s = sessions[step.session];
            const std::int64_t took = emit(step.at, step.session, false);
            if (s.files > 0 || s.retry)
                queue.push({step.at + took + 1, step.session});
            else
                freeSessions.push_back(step.session);
        }
        if (written >= lines)
            break;
        std::uint32_t id;
        if (freeSessions.empty()) {
            id = static_cast<std::uint32_t>(sessions.size());
            sessions.emplace_back();
        } else {
            id = freeSessions.back();
            freeSessions.pop_back();
        }
        Session& s = sessions[id];
        s.player = static_cast<std::uint32_t>(rng() % players);
        s.files = unit(rng) < 0.3 ? static_cast<std::uint8_t>(1 + rng() % 6) : 0;
        s.retry = false;
        s.file = static_cast<std::uint8_t>(rng());
        emit(start, id, true);
        if (s.files > 0)
            queue.push({start + 1, id});
        else
            freeSessions.push_back(id);
    }
    std::fclose(out);
    std::printf("wrote %s: %llu lines from %u players\n", (dir / "access.log").string().c_str(),
                static_cast<unsigned long long>(written), players);
    return 0;
}

int Floor(const fs::path& log)
{
    const auto start = std::chrono::steady_clock::now();
    CLogFile file;
    std::string error;
    if (!file.Open(log, error)) {
        std::fprintf(stderr, "%s: %s\n", log.string().c_str(), error.c_str());
        return 2;
    }
    std::uint64_t lines = 0;
    std::uint64_t bytes = 0;
    std::string_view line;
    while (file.NextLine(line)) {
        ++lines;
        bytes += line.size();
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("floor: %llu lines (%llu bytes) in %.2f s\n", static_cast<unsigned long long>(lines),
                static_cast<unsigned long long>(bytes), s);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "make") == 0)
        return Make(argv[2], std::stoull(argv[3]), static_cast<std::uint32_t>(std::stoul(argv[4])));
    if (argc == 3 && std::strcmp(argv[1], "floor") == 0)
        return Floor(argv[2]);
    std::fprintf(stderr, "usage: report_bench make DIR LINES PLAYERS | report_bench floor LOG\n");
    return 2;
}

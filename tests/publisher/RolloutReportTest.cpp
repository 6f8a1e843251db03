// The report's reading of access logs: one table of log lines and the verdicts
// they lead to, against a tree of two releases and a 10% rollout.
#include <gtest/gtest.h>

#include <set>

#include "RolloutTally.h"

namespace {

const std::int64_t ROLLOUT = 1796810400; // 2026-12-09T10:00:00Z: 2.0.14 goes to 10%
const std::string LIST14 = "/releases/2.0.14/lists/Update-1a2b3c4d.xml";
const std::string LIST13 = "/releases/2.0.13/lists/Update-00000013.xml";

ShareState State(int cut)
{
    ShareState s;
    s.salt = "vexa";
    if (cut > 0)
        s.shares.push_back({0, cut, "2.0.14", LIST14, ROLLOUT});
    s.shares.push_back({cut, SHARE_WHOLE, "2.0.13", LIST13, ROLLOUT - 86400});
    return s;
}

// An address of the first 10% and one of the rest, as nginx places them.
std::string AddressIn(bool first)
{
    for (int i = 2;; ++i) {
        const std::string a = "127.0.1." + std::to_string(i);
        if ((*ShareOfAddress(State(1000), a) == 0) == first)
            return a;
    }
}
const std::string IN = AddressIn(true);
const std::string OUT = AddressIn(false);

// A line in the vexa format at 10:MM:SS UTC.
std::string V(const std::string& address, const char* minuteSecond, const std::string& target, int status,
              std::uint64_t bytes, bool completed = true, const char* share = "0.00-10.00", const char* release = "2.0.14")
{
    return address + " - - [09/Dec/2026:10:" + minuteSecond + " +0000] \"GET " + target + " HTTP/1.0\" " +
           std::to_string(status) + " " + std::to_string(bytes) + " \"-\" \"-\" 0.250 " + (completed ? "OK" : "") +
           " \"" + share + "\" \"" + release + "\"";
}

// A line in Debian's combined format.
std::string C(const std::string& address, const char* time, const std::string& target, int status, std::uint64_t bytes,
              const char* agent = "Quillet_Tamsk")
{
    return address + " - - [09/Dec/2026:" + time + "] \"GET " + target + " HTTP/1.0\" " + std::to_string(status) + " " +
           std::to_string(bytes) + " \"-\" \"" + agent + "\"";
}

const std::string CARDS = "/releases/2.0.14/files/data/cards.dat";
const std::string VEXA = "/releases/2.0.14/files/Vexa.exe";
const std::string QLIST = "/Vexaupdate/plat/filelist.list";
const std::string LEVELS = "/Vexaupdate/plat/release/data/levels.dat";

struct Row {
    const char* what;
    std::vector<std::string> lines;
    std::vector<std::string> players; // "address client release share verdict[: cause file]"
    std::uint64_t malformed = 0;
};

std::string Describe(const PlayerRow& p)
{
    std::string text = p.address + " " + p.channel + " " + p.release + " " + p.share + " " + VerdictText(p.verdict);
    if (p.verdict == Verdict::Failed)
        text += ": " + FaultText(p.fault) + " " + p.file;
    return text;
}

TEST(RolloutReportTest, LogLinesAndVerdicts)
{
    const std::string z = IN + " Zorvane 2.0.14 0.00-10.00 ";
    const std::string q = IN + " Quillet plat 2.0.14 0.00-10.00 ";
    const std::vector<Row> rows = {
        {"a list and nothing after it: current", {V(IN, "10:00", "/Update.xml", 200, 1010)}, {z + "current"}},
        {"every file whole: completed",
         {V(IN, "10:00", "/Update.xml", 200, 1010), V(IN, "10:01", VEXA, 200, 5000), V(IN, "10:05", CARDS, 200, 50000)},
         {z + "completed"}},
        {"a body cut short of the file's length",
         {V(IN, "10:00", "/Update.xml", 200, 1010), V(IN, "10:03", CARDS, 200, 20000, false)},
         {z + "failed: cut short data/cards.dat"}},
        {"nginx sent all it has, shorter than the release's file: the server's copy is wrong",
         {V(IN, "10:00", "/Update.xml", 200, 1010), V(IN, "10:03", CARDS, 200, 20000)},
         {z + "failed: wrong length data/cards.dat"}},
        {"the client gone before the answer",
         {V(IN, "10:00", "/Update.xml", 200, 1010), V(IN, "10:03", CARDS, 499, 0, false)},
         {z + "failed: abandoned data/cards.dat"}},
        {"an error status on the list",
         {V(IN, "10:00", "/Update.xml", 404, 153)}, {z + "failed: status 404 Update-1a2b3c4d.xml"}},
        {"Quillet's once-more fetch that comes whole makes good the cut one",
         {V(IN, "10:00", QLIST, 200, 300), V(IN, "10:02", LEVELS, 200, 100, false), V(IN, "10:03", LEVELS, 200, 30000)},
         {q + "completed"}},
        {"GBK and percent-encoded names are the tree's files",
         {V(IN, "10:00", QLIST, 200, 300), V(IN, "10:01", "/Vexaupdate/plat/release/\\xB9\\xE6\\xD4\\xF2.txt", 200, 2, false),
          V(IN, "11:00", "/Update.xml", 200, 1010),
          V(IN, "11:01", "/releases/2.0.14/files/data/%E8%A7%84%E5%88%99%201.txt", 200, 1, false)},
         {q + "failed: cut short \xE8\xA7\x84\xE5\x88\x99.txt", z + "failed: cut short data/\xE8\xA7\x84\xE5\x88\x99 1.txt"}},
        {"a request within the idle time of the end: mid-update",
         {V(IN, "10:00", "/Update.xml", 200, 1010), V(IN, "55:00", CARDS, 200, 20000, false)}, {z + "mid-update"}},
        {"a later check that finds the player current keeps it completed; a failed update after it counts",
         {V(IN, "10:00", "/Update.xml", 200, 1010), V(IN, "10:01", VEXA, 200, 5000), V(IN, "20:00", "/Update.xml", 200, 1010),
          V(OUT, "10:00", "/Update.xml", 200, 1010), V(OUT, "10:01", VEXA, 200, 5000),
          V(OUT, "20:00", "/Update.xml", 200, 1010), V(OUT, "20:01", CARDS, 404, 153)},
         {z + "completed", OUT + " Zorvane 2.0.14 0.00-10.00 failed: status 404 data/cards.dat"}},
        {"combined lines: the share from the address and the shares' history, the zone of the time honoured",
         {C(IN, "10:20:00 +0000", "/Update.xml", 200, 1010), C(IN, "10:20:05 +0000", CARDS, 200, 50000),
          C(OUT, "10:20:00 +0000", "/Update.xml", 200, 1000), C(IN, "17:30:00 +0800", QLIST, 200, 290, "-")},
         {z + "completed", OUT + " Zorvane 2.0.13 10.00-100.00 current",
          IN + " Quillet plat 2.0.13 0.00-100.00 current"}},
        {"files without their list in the window: counted, not checked",
         {V(IN, "10:01", VEXA, 200, 5000)}, {z + "completed"}},
        {"malformed and cut lines are counted and skipped; other requests are no players",
         {"garbage", V(IN, "10:00", "/Update.xml", 200, 1010).substr(0, 60), V(IN, "10:00", "/favicon.ico", 404, 153),
          V(IN, "10:01", "/Update.xml", 200, 1010)},
         {z + "current"}, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CServedTree tree;
        tree.AddZorvaneList("2.0.14", LIST14, 1010);
        tree.AddZorvaneFile("2.0.14", "Vexa.exe", 5000);
        tree.AddZorvaneFile("2.0.14", "data/cards.dat", 50000);
        tree.AddZorvaneFile("2.0.14", "data/\xE8\xA7\x84\xE5\x88\x99 1.txt", 3);
        tree.AddZorvaneList("2.0.13", LIST13, 1000);
        tree.AddQuilletList("2.0.14", "plat", 300);
        tree.AddQuilletList("2.0.13", "plat", 290);
        tree.AddQuilletFile("2.0.14", "plat", "data/levels.dat", "data/levels.dat", 30000);
        tree.AddQuilletFile("2.0.14", "plat", "\xB9\xE6\xD4\xF2.txt", "\xE8\xA7\x84\xE5\x88\x99.txt", 20);
        CShareRouting routing;
        routing.AddState(ROLLOUT - 86400, State(0));
        routing.AddState(ROLLOUT, State(1000));
        CRolloutTally tally(tree, routing, {"this server"});
        CLogClock clock;
        for (const std::string& text : row.lines) {
            AccessLine line;
            if (ParseAccessLine(text, clock, line))
                tally.Add(line, 0);
            else
                tally.CountMalformed();
        }
        RolloutOptions options;
        options.end = ROLLOUT + 3600;
        options.allPlayers = true;
        const RolloutFigures f = tally.Finish(options);
        std::set<std::string> players;
        for (const PlayerRow& p : f.players)
            players.insert(Describe(p));
        EXPECT_EQ(players, std::set<std::string>(row.players.begin(), row.players.end()));
        EXPECT_EQ(f.malformed, row.malformed);
    }
}

} // namespace

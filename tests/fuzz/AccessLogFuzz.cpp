// The access log's reader and the report on any lines: each line reads or is
// counted as malformed, never both, and the figures hold together whatever the
// log says (addresses, targets and agents are written by anyone who connects).
#include "FuzzInput.h"
#include "RolloutTally.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CServedTree tree;
    tree.AddZorvaneList("2.0.14", "/releases/2.0.14/lists/Update-1a2b3c4d.xml", 1010);
    tree.AddZorvaneFile("2.0.14", "data/cards.dat", 50000);
    tree.AddQuilletList("2.0.14", "plat", 300);
    tree.AddQuilletFile("2.0.14", "plat", "\xB9\xE6\xD4\xF2.txt", "\xE8\xA7\x84\xE5\x88\x99.txt", 20);
    ShareState state;
    state.salt = "vexa";
    state.shares.push_back({0, 1000, "2.0.14", "/releases/2.0.14/lists/Update-1a2b3c4d.xml", 0});
    state.shares.push_back({1000, SHARE_WHOLE, "2.0.13", "/releases/2.0.13/lists/Update-00000013.xml", 0});
    CShareRouting routing;
    routing.AddState(0, state);
    CRolloutTally tally(tree, routing, {"this server", "east"});
    CLogClock clock;
    const std::string_view log = AsBytes(data, size);
    std::uint64_t lines = 0;
    for (std::size_t at = 0; at < log.size();) {
        std::size_t end = log.find('\n', at);
        if (end == std::string_view::npos)
            end = log.size();
        AccessLine line;
        if (ParseAccessLine(log.substr(at, end - at), clock, line))
            tally.Add(line, static_cast<std::uint32_t>(lines & 1));
        else
            tally.CountMalformed();
        ++lines;
        at = end + 1;
    }
    RolloutOptions options;
    options.end = 1796810400;
    options.allPlayers = true;
    const RolloutFigures f = tally.Finish(options);
    FUZZ_CHECK(f.lines == lines);
    std::uint64_t players = 0;
    for (const ShareRow& row : f.shares) {
        const VerdictCounts& c = row.counts;
        FUZZ_CHECK(c.players == c.current + c.completed + c.failed + c.midUpdate && c.checked <= c.players);
        players += c.players;
    }
    FUZZ_CHECK(players == f.players.size());
    for (const FileRow& file : f.files)
        FUZZ_CHECK(file.whole + file.failed == file.fetches);
    RolloutText(f, 10);
    RolloutPage(f, 10, CheckFailOver(f, 5), 5);
    return 0;
}

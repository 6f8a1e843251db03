#include <gtest/gtest.h>

#include "Fleet.h"
#include "PublishRules.h"
#include "Shares.h"

namespace {

struct MatchCase {
    const char* pattern;
    const char* path;
    bool matches;
};

TEST(PublishRulesTest, PatternsMatchAsDocumented)
{
    const MatchCase cases[] = {
        {"*.dll", "Helper.dll", true},
        {"*.dll", "bin/sub/Helper.DLL", true}, // no "/": the name in any folder, any case
        {"*.dll", "Helper.dll.bak", false},
        {"bin/*.dll", "bin/Helper.dll", true},
        {"bin/*.dll", "bin/sub/Helper.dll", false}, // "*" stays inside one folder
        {"bin/**", "bin/sub/Helper.dll", true},
        {"bin/**/*.dll", "bin/Helper.dll", true}, // "**/" also matches no folder
        {"bin/**/*.dll", "bin/a/b/Helper.dll", true},
        {"bin/**/*.dll", "lib/a/Helper.dll", false},
        {"data/?.dat", "data/a.dat", true},
        {"data/?.dat", "data/ab.dat", false},
        {"data/?x", "data//x", false}, // "?" is no folder separator
        {"Vexa.exe", "Vexa.exe", true},
        {"Vexa.exe", "old/Vexa.exe", true},
        {"/Vexa.exe", "Vexa.exe", false},
    };
    for (const MatchCase& c : cases)
        EXPECT_EQ(MatchPattern(c.pattern, c.path), c.matches) << c.pattern << " against " << c.path;
}

TEST(PublishRulesTest, LaterSectionsOverrideEarlierOnesKeyByKey)
{
    CReport report;
    std::optional<PublishRules> rules = ParsePublishRules("# a release\n"
                                                          "BaseUrl = http://cdn.example.com/r1\n"
                                                          "[*.dll]\n"
                                                          "Register = YES\n"
                                                          "LocalPath = bin\n"
                                                          "[Helper.dll]\n"
                                                          "Register = no\n"
                                                          "Compare = time\n",
                                                          "rules.txt", report);
    ASSERT_TRUE(rules) << report.Findings().size();
    EXPECT_EQ(rules->baseUrl, "http://cdn.example.com/r1/");
    const FileRule helper = rules->RuleFor("Helper.dll");
    EXPECT_EQ(helper.registerFile, false);
    EXPECT_EQ(helper.localPath, "bin");
    EXPECT_EQ(helper.compare, CompareBy::Time);
    const FileRule other = rules->RuleFor("Other.dll");
    EXPECT_EQ(other.registerFile, true);
    EXPECT_FALSE(other.compare);
    EXPECT_FALSE(rules->RuleFor("readme.txt").registerFile);
}

struct BadRules {
    const char* text;
    int line;
    const char* fragment;
};

TEST(PublishRulesTest, BadRulesAreErrorsWithTheirLine)
{
    const BadRules cases[] = {
        {"BaseUrl = http://a/\n[*.dll]\nRegister = 1\n", 3, "YES or NO"},
        {"BaseUrl = http://a/\n[*.dll]\nColour = red\n", 3, "unknown key"},
        {"BaseUrl = http://a/\nRegister = YES\n", 2, "must follow a [pattern]"},
        {"BaseUrl = ftp://a/\n", 1, "http://"},
        {"BaseUrl = http://a/\n[*.dll\n", 2, "brackets"},
        {"BaseUrl = http://a/\n[bin\\*.dll]\n", 2, "\"/\" between folders"},
        {"BaseUrl = http://a/\n[*]\nInstallDir = PROGRAMDIR\n", 3, "CURRENTDIR, WINDOWSDIR or SYSTEMDIR"},
        {"BaseUrl = http://a/\n[*]\nLocalPath = a/b\n", 3, "\"\\\""},
        {"BaseUrl = http://a/\njust words\n", 2, "KEY = VALUE"},
        {"[*]\nRegister = YES\n", 0, "no BaseUrl"},
    };
    for (const BadRules& c : cases) {
        CReport report;
        EXPECT_FALSE(ParsePublishRules(c.text, "rules.txt", report)) << c.text;
        ASSERT_FALSE(report.Findings().empty()) << c.text;
        const Finding& f = report.Findings().front();
        EXPECT_EQ(f.severity, Severity::Error) << c.text;
        EXPECT_EQ(f.file, "rules.txt");
        EXPECT_EQ(f.line, c.line) << c.text;
        EXPECT_NE(f.text.find(c.fragment), std::string::npos) << f.text;
    }
}

TEST(PublishRulesTest, PercentagesHoldNginxsTwoDecimals)
{
    const std::pair<const char*, int> good[] = {{"10", 1000}, {"10%", 1000}, {"2.5", 250}, {"0.01%", 1}, {"100", 10000}};
    for (const auto& [text, value] : good)
        EXPECT_EQ(ParsePercent(text), std::optional<int>(value)) << text;
    for (const char* bad : {"100.01", "101", "1.234", "", "%", "1.", ".5", "abc", "-1", "5%%"})
        EXPECT_FALSE(ParsePercent(bad)) << bad;
}

Share Part(int from, int to, const char* release, const char* list)
{
    Share s;
    s.from = from;
    s.to = to;
    s.release = release;
    s.list = list;
    s.since = 1796126400;
    return s;
}

std::string Cuts(const ShareState& state)
{
    std::string out;
    for (const Share& s : state.shares)
        out += s.Name() + " " + s.release + (s.list.empty() ? " new" : "") + "; ";
    return out;
}

struct RolloutCase {
    std::vector<Share> shares;
    const char* release;
    int upTo;
    const char* after;
    std::size_t switches;
};

// A rollout moves the parts before the cut that are not on the release yet,
// each on its own, so that every part keeps the history of its one list.
TEST(PublishRulesTest, ARolloutMovesOnlyThePartsBeforeTheCut)
{
    const RolloutCase cases[] = {
        {{Part(0, 10000, "a", "/la")}, "b", 1000, "0.00-10.00 b new; 10.00-100.00 a; ", 1},
        {{Part(0, 1000, "b", "/lb"), Part(1000, 10000, "a", "/la")}, "b", 5000,
         "0.00-10.00 b; 10.00-50.00 b new; 50.00-100.00 a; ", 1},
        // A rollback that took the first players back: they go over again.
        {{Part(0, 500, "r", "/lr"), Part(500, 1000, "b", "/lb"), Part(1000, 10000, "a", "/la")}, "b", 2000,
         "0.00-5.00 b new; 5.00-10.00 b; 10.00-20.00 b new; 20.00-100.00 a; ", 2},
        // Lowering takes nobody back.
        {{Part(0, 1000, "b", "/lb"), Part(1000, 10000, "a", "/la")}, "b", 500, "0.00-10.00 b; 10.00-100.00 a; ", 0},
        {{}, "a", 10000, "0.00-100.00 a new; ", 1},
    };
    for (const RolloutCase& c : cases) {
        ShareState state;
        state.shares = c.shares;
        ShareState after;
        EXPECT_EQ(PlanRollout(state, c.release, c.upTo, after).size(), c.switches) << c.after;
        EXPECT_EQ(Cuts(after), c.after);
    }
    ShareState same;
    same.shares = {Part(0, 1000, "b", "/lb"), Part(1000, 3000, "b", "/lb"), Part(3000, 10000, "b", "/lc")};
    MergeShares(same);
    EXPECT_EQ(Cuts(same), "0.00-30.00 b; 30.00-100.00 b; ");
}

TEST(PublishRulesTest, TheSharesFileReadsBackAndRefusesWhatDoesNotHoldTogether)
{
    ShareState state;
    state.salt = "game-7";
    state.shares = {Part(0, 150, "2.0.14", "/releases/2.0.14/lists/Update-1.xml"),
                    Part(150, 10000, "2.0.13", "/releases/2.0.13/lists/Update-2.xml")};
    state.halted = "2.0.14";
    const std::string text = WriteNginxShares(state);
    EXPECT_NE(text.find("    1.50% \"0.00-1.50\";\n    * \"1.50-100.00\";"), std::string::npos) << text;
    EXPECT_EQ(SharesStamp(text).size(), 8u);
    std::string error;
    const std::optional<ShareState> back = ReadNginxShares(text, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(Cuts(*back), Cuts(state));
    EXPECT_EQ(back->halted, "2.0.14");
    EXPECT_EQ(back->shares[1].since, state.shares[1].since);

    const std::string header = text.substr(0, text.find('\n') + 1) + "# salt s\n";
    const std::pair<std::string, const char*> bad[] = {
        {"# salt s\n", "not a file of vexa-publish's shares"},
        {header + "# share 0.00-10.00 a /l 2026-12-01T12:00:00Z\n", "end at 10.00%"},
        {header + "# share 0.00-10.00 a /l 2026-12-01T12:00:00Z\n# share 20.00-100.00 a /l 2026-12-01T12:00:00Z\n",
         "gap or overlap at 10.00%"},
        {header + "# share 0.00-100.00 ../a /l 2026-12-01T12:00:00Z\n", "a share is"},
        {header + "# share 0.00-100.00 a /l yesterday\n", "a share is"},
    };
    for (const auto& [file, fragment] : bad) {
        error.clear();
        EXPECT_FALSE(ReadNginxShares(file, error)) << file;
        EXPECT_NE(error.find(fragment), std::string::npos) << error;
    }
}

TEST(PublishRulesTest, AFleetNamesItsTreeAndEveryServer)
{
    CReport report;
    const std::optional<Fleet> fleet = ReadFleet("root = /srv/vexa\nurl = http://u.example.com\n"
                                                 "nginx-conf = /etc/nginx/conf.d/vexa-shares.conf\nsalt = g7\n"
                                                 "[mirror east]\nroot = east:/srv/vexa\nurl = http://e.example.com:8080\n"
                                                 "nginx-conf = east:/etc/nginx/conf.d/vexa-shares.conf\n",
                                                 "fleet.ini", report);
    ASSERT_TRUE(fleet);
    ASSERT_EQ(fleet->servers.size(), 2u);
    EXPECT_EQ(fleet->servers[1].name, "east");
    EXPECT_TRUE(fleet->servers[1].mirror);
    const std::pair<const char*, const char*> bad[] = {
        {"url = http://u\n", "root names no folder"},
        {"root = /r\n", "no server"},
        {"root = /r\nurl = http://u/path\nnginx-conf = /c\n", "without a path"},
        {"root = /r\nurl = http://u\n", "no nginx-conf"},
        {"root = /r\n[mirror m]\nroot = h:/r\n", "needs root, url and nginx-conf"},
        {"root = /r\nroot = /s\n", "given twice"},
        {"root = /r\ncolour = red\n", "unknown setting colour"},
        {"root = /r\n[east]\n", "[mirror NAME]"},
    };
    for (const auto& [text, fragment] : bad) {
        CReport r;
        EXPECT_FALSE(ReadFleet(text, "fleet.ini", r)) << text;
        EXPECT_TRUE(r.Mentions(fragment, Severity::Error)) << text;
    }
}

} // namespace

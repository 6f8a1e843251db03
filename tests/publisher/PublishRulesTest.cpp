#include <gtest/gtest.h>

#include "PublishRules.h"

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

} // namespace

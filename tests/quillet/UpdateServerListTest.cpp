#include "UpdateServerList.h"

#include <gtest/gtest.h>

namespace {

std::string Describe(const std::vector<UpdateServer>& list)
{
    std::string out;
    for (const UpdateServer& s : list)
        out += std::to_string(s.id) + "|" + std::to_string(s.kind) + "|" + s.name + "|" + s.host + "|" +
               std::to_string(s.port) + "\n";
    return out;
}

} // namespace

TEST(UpdateServerList, ReadingRules)
{
    struct Case {
        const char* name;
        std::string file;
        std::string expected;
    } cases[] = {
        {"comment and id 0 dropped", "# servers\n1;1;main;srv1;80\n0;1;off;srv2;80\n", "1|1|main|srv1|80\n"},
        {"CR LF lines", "# servers\r\n1;1;main;srv1;80\r\n2;3;b;srv2;81\r\n", "1|1|main|srv1|80\n2|3|b|srv2|81\n"},
        {"last line without a break", "1;1;main;srv1;80", "1|1|main|srv1|80\n"},
        {"empty name stops the parse", "2;1;;srv3;80\n", "2|1|||0\n"},
        {"missing fields stay empty", "3;2;only\n4\n5;1;n;h\n", "3|2|only||0\n4|0|||0\n5|1|n|h|0\n"},
        {"leading blanks after a line", "1;1;a;h1;80\n   2;1;b;h2;81\n", "1|1|a|h1|80\n2|1|b|h2|81\n"},
        {"empty lines between lines are skipped", "1;1;a;h1;80\n\n\n2;1;b;h2;81\n", "1|1|a|h1|80\n2|1|b|h2|81\n"},
        {"a file that begins with an empty line", "\n1;1;a;h1;80\n", ""},
        {"port keeps its value, the low 16 bits are used", "1;1;a;h;65616\n", "1|1|a|h|65616\n"},
        {"not a number", "x;1;a;h;80\n#1;1;a;h;80\n1;1;a;h;80\n", "1|1|a|h|80\n"},
        {"negative id is kept", "-3;1;a;h;80\n", "-3|1|a|h|80\n"},
        {"blanks inside fields are kept", "1; 1;a b;h ;80\n", "1|1|a b|h |80\n"},
        {"Ctrl-Z ends a text-mode file", "1;1;a;h;80\n\x1A" "2;1;b;h;80\n", "1|1|a|h|80\n"},
        {"an empty file", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Describe(ParseUpdateServers(c.file)), c.expected) << c.name;

    EXPECT_EQ(ServerPort(ParseUpdateServers("1;1;a;h;65616\n").at(0)), 80);
}

TEST(UpdateServerList, OverLongLinesAndFieldsAreSkippedWhole)
{
    const std::string name259(259, 'n');
    const std::string host63(63, 'h');
    struct Case {
        const char* name;
        std::string line;
        bool taken;
    } cases[] = {
        {"name at its limit", "7;1;" + name259 + ";h;80", true},
        {"name over its limit", "7;1;" + name259 + "n;h;80", false},
        {"host at its limit", "7;1;n;" + host63 + ";80", true},
        {"host over its limit", "7;1;n;" + host63 + "h;80", false},
        {"line at its limit", "7;1;n;h;80" + std::string(1299 - 10, ' '), true},
        {"line over its limit", "7;1;n;h;80" + std::string(1300 - 10, ' '), false},
    };
    for (const Case& c : cases) {
        std::vector<UpdateServer> list = ParseUpdateServers("1;1;a;h1;80\n" + c.line + "\n2;1;b;h2;81\n");
        ASSERT_EQ(list.size(), c.taken ? 3u : 2u) << c.name;
        EXPECT_EQ(list.front().host, "h1") << c.name;
        EXPECT_EQ(list.back().host, "h2") << c.name;
        if (c.taken) {
            EXPECT_EQ(list[1].id, 7) << c.name;
        }
    }
}

TEST(UpdateServerList, AMissingFileGivesAnEmptyList)
{
    EXPECT_TRUE(LoadUpdateServers("no such folder/updatelist.ini").empty());
}

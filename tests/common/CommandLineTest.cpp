#include "CommandLine.h"

#include <gtest/gtest.h>

TEST(CommandTail, SkipsTheProgramNameAndTheBlanksAfterIt)
{
    struct Case {
        const wchar_t* line;
        const wchar_t* tail;
    };
    const Case cases[] = {
        {L"Zorvane.exe http://a/b auto", L"http://a/b auto"},
        {L"\"C:\\Program Files\\Zorvane.exe\" http://a/b auto", L"http://a/b auto"},
        // A quoted name ends at its closing quote; an unquoted one at the first blank.
        {L"\"C:\\x\\Zorvane.exe\"http://a/b auto", L"http://a/b auto"},
        {L"\"C:\\x\\Zorvane.exe\"", L""},
        {L"\"C:\\no end http://a/b auto", L""},
        {L"Zorvane.exe    \t  x  y ", L"x  y "},
        {L"Zorvane.exe", L""},
        {L"Zorvane.exe   ", L""},
        {L"", L""},
        {L"C:\\a\"b c\"d.exe rest", L"c\"d.exe rest"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CommandTail(c.line), c.tail) << "line: " << testing::PrintToString(std::wstring(c.line));
}

TEST(SplitCommandLine, FollowsTheRuntimeQuotingRules)
{
    using V = std::vector<std::wstring>;
    EXPECT_EQ(SplitCommandLine(L"Quillet.exe 12,7"), (V{L"Quillet.exe", L"12,7"}));
    EXPECT_EQ(SplitCommandLine(L"\"C:\\A B\\Quillet.exe\" /x -y plat"), (V{L"C:\\A B\\Quillet.exe", L"/x", L"-y", L"plat"}));
    EXPECT_EQ(SplitCommandLine(L"p \"a b\" c"), (V{L"p", L"a b", L"c"}));
    EXPECT_EQ(SplitCommandLine(L"p a\\\\\\\"b"), (V{L"p", L"a\\\"b"}));     // 3 backslashes and a quote
    EXPECT_EQ(SplitCommandLine(L"p \"a\\\\\" b"), (V{L"p", L"a\\", L"b"}));  // 2 backslashes end the group
    EXPECT_EQ(SplitCommandLine(L"p a\\b\\c"), (V{L"p", L"a\\b\\c"}));       // backslashes alone stay
    EXPECT_EQ(SplitCommandLine(L"p \"\""), (V{L"p", L""}));
    EXPECT_EQ(SplitCommandLine(L"p \t "), (V{L"p"}));
    EXPECT_EQ(SplitCommandLine(L""), (V{L""}));
    // A quoted program name ends at its closing quote, as the command tail's does.
    EXPECT_EQ(SplitCommandLine(L"\"C:\\x\\Quillet.san\"12,7"), (V{L"C:\\x\\Quillet.san", L"12,7"}));
}

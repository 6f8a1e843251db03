#include "CommandTail.h"

#include <gtest/gtest.h>

TEST(CommandTail, TakesTheAddressBeforeTheFirstBlank)
{
    struct Case {
        const wchar_t* tail;
        bool taken;
        const wchar_t* address;
        const wchar_t* mode;
    };
    const Case cases[] = {
        {L"http://s/serverlist.txt auto", true, L"http://s/serverlist.txt", L"auto"},
        {L"http://s/serverlist.txt AUTO", true, L"http://s/serverlist.txt", L"AUTO"},
        {L"http://s/serverlist.txt manual", true, L"http://s/serverlist.txt", L"manual"},
        {L"http://s/serverlist.txt  auto", true, L"http://s/serverlist.txt", L" auto"},
        {L"one two three", true, L"one", L"two three"},
        {L"http://s/x ", true, L"http://s/x", L""},
        {L"http://s/serverlist.txt", false, L"", L""},
        {L"", false, L"", L""},
        {L" auto", false, L"", L""},
        {L"http://s/x\tauto", false, L"", L""}, // a tab is no separator
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.tail)));
        CommandTailParts p = ParseCommandTail(c.tail);
        EXPECT_EQ(p.hasAddress, c.taken);
        EXPECT_EQ(p.address, c.address);
        EXPECT_EQ(p.mode, c.mode);
    }
}

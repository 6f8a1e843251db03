// Compiled with GBK literals, like the program.
#include "StartupRules.h"

#include <gtest/gtest.h>

#include "GbkText.h"

TEST(StartupRules, TheBaseTitleIsSixteenBytesOfGbk)
{
    EXPECT_EQ(std::string(TEXT_BASE_TITLE).size(), 16u);
}

TEST(StartupRules, LaunchParameterIsTheFirstArgumentThatIsNoSwitch)
{
    struct Case {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{"Quillet.exe"}, "plat"},
        {{"Quillet.exe", "12,7"}, "12,7"},
        {{"Quillet.exe", "/s", "-x", "abc", "def"}, "abc"},
        {{"Quillet.exe", "/s"}, "plat"},
        {{"Quillet.exe", "PLAT"}, "PLAT"},
        {{"Quillet.exe", ""}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LaunchParameter(c.args), c.expected);
}

TEST(StartupRules, TitleNumbersAndHallMessage)
{
    struct Case {
        const char* parameter;
        const char* title;
        std::int32_t game;
        std::int32_t second;
        std::uint32_t lParam;
    } cases[] = {
        {"plat", "Vexa自动更新程序 大厅plat", 0, 0, 0},
        {"12,7", "Vexa自动更新程序 游戏(12)", 12, 7, 7u * 65536u + 12u},
        {"12", "Vexa自动更新程序 游戏(12)", 12, 0, 12u},
        {"abc", "Vexa自动更新程序 游戏(0)", 0, 0, 0},
        {"PLAT", "Vexa自动更新程序 游戏(0)", 0, 0, 0},
        {"65616,65537", "Vexa自动更新程序 游戏(65616)", 65616, 65537, 1u * 65536u + 80u},
        {"-1,-2", "Vexa自动更新程序 游戏(-1)", -1, -2, 0xFFFEFFFFu},
        {"12,x", "Vexa自动更新程序 游戏(12)", 12, 0, 12u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WindowTitle(c.parameter), c.title) << c.parameter;
        GameNumbers n = ParseGameNumbers(c.parameter);
        EXPECT_EQ(n.game, c.game) << c.parameter;
        EXPECT_EQ(n.second, c.second) << c.parameter;
        EXPECT_EQ(HallLParam(n), c.lParam) << c.parameter;
    }
}

TEST(StartupRules, PathParts)
{
    const CLeadBytes singleByte; // code page 1252 and the like
    struct Case {
        const char* path;
        const CLeadBytes& leads;
        const char* folder;
        const char* fileName;
        const char* copy;
    } cases[] = {
        {"C:\\Vexa\\Quillet.exe", GbkLeadBytes(), "C:\\Vexa\\", "Quillet.exe", "C:\\Vexa\\Quillet.san"},
        {"C:\\Vexa\\quillet.SAN", GbkLeadBytes(), "C:\\Vexa\\", "quillet.SAN", "C:\\Vexa\\quillet.san"},
        {"C:/Vexa/Quillet.exe", GbkLeadBytes(), "", "Quillet.exe", "C:/Vexa/Quillet.san"},
        {"C:\\a/b/Quillet.exe", GbkLeadBytes(), "C:\\", "a/b/Quillet.exe", "C:\\a/b/Quillet.san"},
        {"Quillet.exe", GbkLeadBytes(), "", "Quillet.exe", "Quillet.san"},
        // A character whose second byte is "\" does not split the path.
        {"C:\\\xB1\x5C\\Q.exe", GbkLeadBytes(), "C:\\\xB1\x5C\\", "Q.exe", "C:\\\xB1\x5C\\Q.san"},
        // "José" in code page 1252: no byte leads a pair.
        {"C:\\Jos\xE9\\Quillet.san", singleByte, "C:\\Jos\xE9\\", "Quillet.san", "C:\\Jos\xE9\\Quillet.san"},
        {"ab", GbkLeadBytes(), "", "ab", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProgramFolderOf(c.path, c.leads), c.folder) << c.path;
        EXPECT_EQ(FileNamePart(c.path, c.leads), c.fileName) << c.path;
        EXPECT_EQ(CopyPathOf(c.path), c.copy) << c.path;
    }
}

TEST(StartupRules, TheWorkerRoleGoesByTheCopysNameInAnyCase)
{
    EXPECT_TRUE(IsWorkerFileName("Quillet.san"));
    EXPECT_TRUE(IsWorkerFileName("quillet.SAN"));
    EXPECT_FALSE(IsWorkerFileName("Quillet.exe"));
    EXPECT_FALSE(IsWorkerFileName("Quillet.san.exe"));
}

TEST(StartupRules, CommandLines)
{
    EXPECT_EQ(CommandLineFor("C:\\Vexa\\Quillet.san", "plat"), "C:\\Vexa\\Quillet.san plat");
    EXPECT_EQ(CommandLineFor("C:\\Program Files\\Vexa\\Quillet.san", "12,7"),
              "\"C:\\Program Files\\Vexa\\Quillet.san\" 12,7");
    EXPECT_EQ(CommandLineFor("Q.san", ""), "Q.san \"\"");
}

TEST(StartupRules, HandOverAfterTheDialog)
{
    struct Case {
        std::intptr_t result;
        bool selfUpdated;
        const char* parameter;
        bool succeeded;
        HandOver expected;
    } cases[] = {
        {1, true, "plat", true, HandOver::RestartCopy},
        {1, true, "12,7", false, HandOver::RestartCopy},
        {1, false, "plat", false, HandOver::StartHall},
        {1, false, "plat", true, HandOver::StartHall},
        {1, false, "12,7", true, HandOver::NotifyHall},
        {1, false, "12,7", false, HandOver::Nothing},
        {1, false, "PLAT", true, HandOver::NotifyHall},
        {2, true, "plat", true, HandOver::Nothing},
        {-1, false, "plat", true, HandOver::Nothing},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecideHandOver(c.result, c.selfUpdated, c.parameter, c.succeeded), c.expected)
            << c.result << " " << c.selfUpdated << " " << c.parameter << " " << c.succeeded;
}

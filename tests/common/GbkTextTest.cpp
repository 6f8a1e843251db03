#include "GbkText.h"

#include <gtest/gtest.h>

// "\xB1\x5C" and "\xB1\x41" are two-byte characters whose second byte reads as
// "\" and "A" in ASCII.
TEST(GbkText, FoldsOnlyLettersOutsideTwoByteCharacters)
{
    EXPECT_EQ(FoldCase("Quillet.SAN"), "quillet.san");
    EXPECT_EQ(FoldCase("\xB1\x41Z"), "\xB1\x41z");
    EXPECT_EQ(FoldCase("A\xB1"), "a\xB1"); // a lead byte at the end stands alone
}

TEST(GbkText, EqualNoCase)
{
    struct Case {
        const char* a;
        const char* b;
        bool equal;
    } cases[] = {
        {"UPDATETMP", "updatetmp", true},
        {"WinMM.dll", "winmm.DLL", true},
        {"winmm.dll", "winmm.dl", false},
        {"\xB1\x41", "\xB1\x61", false}, // different characters, not case variants
        {"\xB1\x41x", "\xB1\x41X", true},
        {"a\xB1\x41", "A\xB1\x41", true},
        {"", "", true},
        {"a[", "A{", false}, // no folding beyond the letters
    };
    for (const Case& c : cases)
        EXPECT_EQ(EqualNoCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
}

TEST(GbkText, FindsTheLastSeparatorThatIsACharacter)
{
    struct Case {
        const char* text;
        bool alsoSlash;
        std::size_t expected;
    } cases[] = {
        {"C:\\game\\Quillet.exe", false, 7},
        {"C:\\\xB1\x5C.exe", false, 2}, // the second byte of a character is no separator
        {"a/b\\c/d", false, 3},
        {"a/b\\c/d", true, 5},
        {"plain", true, std::string_view::npos},
        {"", false, std::string_view::npos},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindLastSeparator(c.text, c.alsoSlash), c.expected) << c.text;
}

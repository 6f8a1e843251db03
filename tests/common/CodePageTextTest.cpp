#include "CodePageText.h"

#include <gtest/gtest.h>

#include "GbkText.h"

namespace {

// Code page 1252 and the like: no lead bytes.
const CLeadBytes kSingleByte;

} // namespace

TEST(CodePageText, LeadBytesFromThePlatformsRanges)
{
    const unsigned char ranges[] = {0x81, 0x9F, 0xE0, 0xFC, 0, 0, 0x20, 0x30}; // 932's, then the end
    CLeadBytes leads = CLeadBytes::FromRanges(ranges, 4);
    EXPECT_FALSE(leads.IsLead(0x80));
    EXPECT_TRUE(leads.IsLead(0x81));
    EXPECT_TRUE(leads.IsLead(0x9F));
    EXPECT_FALSE(leads.IsLead(0xA0));
    EXPECT_TRUE(leads.IsLead(0xFC));
    EXPECT_FALSE(leads.IsLead(0xFD));
    EXPECT_FALSE(leads.IsLead(0x25)); // after the end of the list
    EXPECT_FALSE(kSingleByte.HasAny());
    EXPECT_TRUE(GbkLeadBytes().IsLead(0x81));
    EXPECT_TRUE(GbkLeadBytes().IsLead(0xFE));
    EXPECT_FALSE(GbkLeadBytes().IsLead(0xFF));
}

// "\xB1\x5C" and "\xB1\x41" are two-byte characters in GBK whose second byte
// reads as "\" and "A"; in code page 1252 they are two characters each.
TEST(CodePageText, FoldsOnlyLettersOutsideTwoByteCharacters)
{
    EXPECT_EQ(FoldCase("Quillet.SAN"), "quillet.san");
    EXPECT_EQ(FoldCase("\xB1\x41Z"), "\xB1\x41z");
    EXPECT_EQ(FoldCase("A\xB1"), "a\xB1"); // a lead byte at the end stands alone
    EXPECT_EQ(FoldCase("\xB1\x41Z", kSingleByte), "\xB1\x61z");
}

TEST(CodePageText, EqualNoCase)
{
    struct Case {
        const char* a;
        const char* b;
        bool gbk;         // equal in GBK
        bool singleByte;  // equal in code page 1252
    } cases[] = {
        {"UPDATETMP", "updatetmp", true, true},
        {"WinMM.dll", "winmm.DLL", true, true},
        {"winmm.dll", "winmm.dl", false, false},
        {"\xB1\x41", "\xB1\x61", false, true}, // other characters in GBK, case variants in 1252
        {"\xB1\x41x", "\xB1\x41X", true, true},
        {"a\xB1\x41", "A\xB1\x41", true, true},
        {"", "", true, true},
        {"a[", "A{", false, false}, // no folding beyond the letters
        {"\xC9", "\xE9", false, false}, // nor beyond ASCII
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EqualNoCase(c.a, c.b), c.gbk) << c.a << " / " << c.b;
        EXPECT_EQ(EqualNoCase(c.a, c.b, kSingleByte), c.singleByte) << c.a << " / " << c.b;
    }
}

TEST(CodePageText, FindsTheLastSeparatorThatIsACharacter)
{
    struct Case {
        const char* text;
        bool alsoSlash;
        std::size_t gbk;
        std::size_t singleByte;
    } cases[] = {
        {"C:\\game\\Quillet.exe", false, 7, 7},
        {"C:\\\xB1\x5C.exe", false, 2, 4}, // in GBK the second byte of a character is no separator
        {"C:\\Jos\xE9\\Q.exe", false, 2, 7}, // "José" in 1252
        {"a/b\\c/d", false, 3, 3},
        {"a/b\\c/d", true, 5, 5},
        {"plain", true, std::string_view::npos, std::string_view::npos},
        {"", false, std::string_view::npos, std::string_view::npos},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindLastSeparator(c.text, c.alsoSlash, GbkLeadBytes()), c.gbk) << c.text;
        EXPECT_EQ(FindLastSeparator(c.text, c.alsoSlash, kSingleByte), c.singleByte) << c.text;
    }
}

#include "ListRules.h"

#include <gtest/gtest.h>

TEST(ListRules, MatchesEveryKeyInAnyAsciiCase)
{
    struct Case {
        const wchar_t* name;
        ListKey key;
    };
    const Case cases[] = {
        {L"FileName", LISTKEY_FILENAME},
        {L"filename", LISTKEY_FILENAME},
        {L"FILENAME", LISTKEY_FILENAME},
        {L"fILEnAME", LISTKEY_FILENAME},
        {L"FileVersion", LISTKEY_FILEVERSION},
        {L"ProductVersion", LISTKEY_PRODUCTVERSION},
        {L"Length", LISTKEY_LENGTH},
        {L"FileDateLow", LISTKEY_FILEDATELOW},
        {L"filedatehigh", LISTKEY_FILEDATEHIGH},
        {L"InstallDir", LISTKEY_INSTALLDIR},
        {L"Register", LISTKEY_REGISTER},
        {L"ZipFile", LISTKEY_ZIPFILE},
        {L"ForceOverwrite", LISTKEY_FORCEOVERWRITE},
        {L"Execute", LISTKEY_EXECUTE},
        {L"ExecutePar", LISTKEY_EXECUTEPAR},
        {L"LocalPath", LISTKEY_LOCALPATH},
        {L"url", LISTKEY_URL},
        {L"UserName", LISTKEY_USERNAME},
        {L"PASSWORD", LISTKEY_PASSWORD},
        // Near misses select nothing.
        {L"", LISTKEY_NONE},
        {L"File", LISTKEY_NONE},
        {L"FileNam", LISTKEY_NONE},
        {L"FileNames", LISTKEY_NONE},
        {L" FileName", LISTKEY_NONE},
        {L"File_Name", LISTKEY_NONE},
        {L"x:FileName", LISTKEY_NONE},
        {L"Executes", LISTKEY_NONE},
        // Only ASCII letters fold: a fullwidth letter is another character.
        {L"\xFF35RL", LISTKEY_NONE},
        {L"UR\x212A", LISTKEY_NONE}, // KELVIN SIGN folds to k outside ASCII, not here
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        EXPECT_EQ(MatchKey(c.name), c.key);
    }
}

TEST(ListRules, ReadsDecimalsAsAtoiWithWrappingArithmetic)
{
    struct Case {
        const wchar_t* text;
        std::uint32_t bits;
    };
    const Case cases[] = {
        {L"", 0},
        {L"0", 0},
        {L"42", 42},
        {L"+42", 42},
        {L"-42", 0xFFFFFFD6u},
        {L"12abc", 12},
        {L"abc", 0},
        {L"-", 0},
        {L"+", 0},
        {L"+-5", 0},
        {L"--5", 0},
        {L"- 5", 0},
        {L" \t\n\v\f\r17", 17},
        {L"\x3000" L"17", 0},  // ideographic space is not skipped
        {L"\xFF11" L"7", 0},   // fullwidth digit one is not a digit
        {L"\x0661", 0},        // nor is an Arabic-Indic one
        {L"1 2", 1},
        {L"007", 7},
        {L"2147483647", 0x7FFFFFFFu},
        {L"2147483648", 0x80000000u},
        {L"-2147483648", 0x80000000u},
        {L"4294967295", 0xFFFFFFFFu},
        {L"-1", 0xFFFFFFFFu},
        {L"4294967296", 0},
        {L"4294967297", 1},
        {L"3000000000", 3000000000u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        EXPECT_EQ(ReadDecimalBits(c.text), c.bits);
    }
    // Twenty nines, accumulated modulo 2^32.
    std::uint32_t expected = 0;
    for (int i = 0; i < 20; ++i)
        expected = expected * 10u + 9u;
    EXPECT_EQ(ReadDecimalBits(L"99999999999999999999"), expected);
    // A long run of digits neither overflows nor stops early.
    EXPECT_EQ(ReadDecimalBits(std::wstring(100000, L'0') + L"5"), 5u);
}

TEST(ListRules, SignedReadingsKeepTheBitPattern)
{
    EXPECT_EQ(ReadDecimal(L"4294967295"), -1);
    EXPECT_EQ(ReadDecimal(L"-1"), -1);
    EXPECT_EQ(ReadDecimal(L"2147483648"), INT32_MIN);
    EXPECT_EQ(ReadDecimal(L"-2147483648"), INT32_MIN);
    EXPECT_EQ(ReadDecimal(L"2147483647"), INT32_MAX);
    // Three thousand million wraps to a negative 32-bit value, widened with its sign.
    EXPECT_EQ(ReadLength(L"3000000000"), -1294967296LL);
    EXPECT_EQ(ReadLength(L"-5"), -5LL);
    EXPECT_EQ(ReadLength(L"4294967296"), 0LL);
    EXPECT_EQ(ReadLength(L"123456"), 123456LL);
}

TEST(ListRules, OnlyYesInAnyCaseIsAFlag)
{
    struct Case {
        const wchar_t* text;
        bool flag;
    };
    const Case cases[] = {
        {L"YES", true}, {L"yes", true}, {L"Yes", true}, {L"yEs", true},
        {L"", false}, {L"Y", false}, {L"1", false}, {L"TRUE", false}, {L"true", false},
        {L"YESS", false}, {L"YE", false}, {L"NO", false},
        {L" YES", false}, {L"YES ", false}, {L"YES\n", false},
        {L"\xFF39" L"ES", false}, // fullwidth Y
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        EXPECT_EQ(ReadFlag(c.text), c.flag);
    }
}

TEST(ListRules, InstallDirSelectsTheBaseFolder)
{
    struct Case {
        const wchar_t* word;
        BaseFolder base;
    };
    const Case cases[] = {
        {L"WINDOWSDIR", BASE_WINDOWS}, {L"windowsdir", BASE_WINDOWS}, {L"WindowsDir", BASE_WINDOWS},
        {L"SYSTEMDIR", BASE_SYSTEM},   {L"systemdir", BASE_SYSTEM},   {L"SystemDir", BASE_SYSTEM},
        {L"CURRENTDIR", BASE_MODULE},  {L"CurrentDir", BASE_MODULE},  {L"", BASE_MODULE},
        {L"TEMP", BASE_MODULE},        {L"WINDOWS", BASE_MODULE},     {L" WINDOWSDIR", BASE_MODULE},
        {L"SYSTEMDIR32", BASE_MODULE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.word)));
        EXPECT_EQ(SelectBaseFolder(c.word), c.base);
    }
    EXPECT_EQ(std::wstring(INSTALLDIR_DEFAULT), L"CURRENTDIR");
    EXPECT_EQ(SelectBaseFolder(INSTALLDIR_DEFAULT), BASE_MODULE);
}

TEST(ListRules, JoinsTheFullPathWithoutNormalising)
{
    struct Case {
        const wchar_t* base;
        const wchar_t* localPath;
        const wchar_t* fileName;
        const wchar_t* fullPath;
    };
    const Case cases[] = {
        {L"C:\\Game", L"", L"a.dll", L"C:\\Game\\a.dll"},
        {L"C:\\Game", L"res", L"a.dll", L"C:\\Game\\res\\a.dll"},
        {L"C:\\Game", L"res\\img", L"a.png", L"C:\\Game\\res\\img\\a.png"},
        {L"C:\\Game", L"res\\", L"a.png", L"C:\\Game\\res\\\\a.png"},
        {L"C:\\Game", L"..", L"a.dll", L"C:\\Game\\..\\a.dll"},
        {L"C:\\Game", L"res/img", L"sub\\a.png", L"C:\\Game\\res/img\\sub\\a.png"},
        {L"C:\\Game", L"", L"", L"C:\\Game\\"},
        {L"C:\\Game", L"res", L"", L"C:\\Game\\res\\"},
        {L"", L"", L"a.dll", L"\\a.dll"},
        {L"C:\\\x6E38\x620F", L"\x56FE", L"\x724C.png", L"C:\\\x6E38\x620F\\\x56FE\\\x724C.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.fullPath)));
        EXPECT_EQ(JoinFullPath(c.base, c.localPath, c.fileName), c.fullPath);
    }
}

TEST(ListRules, AsciiFoldingLeavesOtherCharactersAlone)
{
    EXPECT_TRUE(EqualsNoCaseAscii(L"", L""));
    EXPECT_TRUE(EqualsNoCaseAscii(L"AbC", L"aBc"));
    EXPECT_FALSE(EqualsNoCaseAscii(L"abc", L"abcd"));
    EXPECT_FALSE(EqualsNoCaseAscii(L"\xC4", L"\xE4")); // A and a with diaeresis
    EXPECT_FALSE(EqualsNoCaseAscii(L"[", L"{"));       // 0x5B and 0x7B differ by 0x20 but are no letters
    EXPECT_FALSE(EqualsNoCaseAscii(L"@", L"`"));
}

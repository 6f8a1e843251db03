#include "UpdateList.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ComHolders.h"
#include "TempFolder.h"

namespace {

using Entries = std::vector<std::unique_ptr<CFileEntry>>;

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

class UpdateListTest : public ::testing::Test {
protected:
    // Writes the document (UTF-8) and loads it.
    bool Load(const std::string& xml, const std::wstring& name = L"Update.xml")
    {
        const std::wstring path = m_folder / name;
        EXPECT_TRUE(WriteWholeFile(path, xml));
        return m_list.Load(path);
    }

    // The whole list, in order; the list is empty afterwards.
    Entries Drain()
    {
        Entries out;
        while (CFileEntry* e = m_list.PopFront())
            out.emplace_back(e);
        return out;
    }

    // The one entry of a document with a single File element holding body.
    std::unique_ptr<CFileEntry> One(const std::string& body)
    {
        EXPECT_TRUE(Load("<List><File>" + body + "</File></List>"));
        Entries e = Drain();
        EXPECT_EQ(e.size(), 1u);
        return e.empty() ? std::make_unique<CFileEntry>() : std::move(e.front());
    }

    CComInit m_com;
    TempFolder m_folder;
    CUpdateList m_list;
};

} // namespace

TEST_F(UpdateListTest, CapturesTheFoldersOnceAtConstruction)
{
    EXPECT_EQ(m_list.ModuleFolder(), OwnFolder());
    wchar_t windows[MAX_PATH];
    wchar_t system[MAX_PATH];
    ASSERT_GT(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    EXPECT_EQ(m_list.WindowsFolder(), windows);
    EXPECT_EQ(m_list.SystemFolder(), system);
    EXPECT_NE(m_list.WindowsFolder(), m_list.SystemFolder());
}

TEST_F(UpdateListTest, ReadsEveryKeyOfAnEntry)
{
    auto e = One("<FileName>game\\hall.exe</FileName>"
                 "<FileVersion>2.0.13.5</FileVersion>"
                 "<ProductVersion>7.1</ProductVersion>"
                 "<Length>123456</Length>"
                 "<FileDateLow>3000000000</FileDateLow>"
                 "<FileDateHigh>30000000</FileDateHigh>"
                 "<InstallDir>SYSTEMDIR</InstallDir>"
                 "<Register>YES</Register>"
                 "<ZipFile>yes</ZipFile>"
                 "<ForceOverwrite>Yes</ForceOverwrite>"
                 "<Execute>yEs</Execute>"
                 "<ExecutePar>/quiet /x</ExecutePar>"
                 "<LocalPath>bin</LocalPath>"
                 "<URL>http://files.example/hall.exe</URL>"
                 "<UserName>u</UserName>"
                 "<Password>p</Password>");
    EXPECT_EQ(e->FileName, L"game\\hall.exe");
    EXPECT_EQ(e->FileVersion, L"2.0.13.5");
    EXPECT_EQ(e->ProductVersion, L"7.1");
    EXPECT_EQ(e->Length, 123456);
    EXPECT_EQ(e->FileTime.dwLowDateTime, 3000000000u);
    EXPECT_EQ(e->FileTime.dwHighDateTime, 30000000u);
    EXPECT_EQ(e->InstallDir, L"SYSTEMDIR");
    EXPECT_TRUE(e->Register);
    EXPECT_TRUE(e->ZipFile);
    EXPECT_TRUE(e->ForceOverwrite);
    EXPECT_TRUE(e->Execute);
    EXPECT_EQ(e->ExecutePar, L"/quiet /x");
    EXPECT_EQ(e->LocalPath, L"bin");
    EXPECT_EQ(e->URL, L"http://files.example/hall.exe");
    EXPECT_EQ(e->UserName, L"u");
    EXPECT_EQ(e->Password, L"p");
    EXPECT_EQ(e->FullPath, m_list.SystemFolder() + L"\\bin\\game\\hall.exe");
    EXPECT_FALSE(e->NeedsUpdate);
    const VS_FIXEDFILEINFO zero{};
    EXPECT_EQ(std::memcmp(&e->VersionInfo, &zero, sizeof zero), 0);
}

TEST_F(UpdateListTest, AnEmptyFileElementTakesTheDefaults)
{
    auto e = One("");
    EXPECT_TRUE(e->FileName.empty());
    EXPECT_TRUE(e->URL.empty());
    EXPECT_TRUE(e->FileVersion.empty());
    EXPECT_EQ(e->InstallDir, L"CURRENTDIR");
    EXPECT_EQ(e->Length, 0);
    EXPECT_EQ(e->FileTime.dwLowDateTime, 0u);
    EXPECT_EQ(e->FileTime.dwHighDateTime, 0u);
    EXPECT_FALSE(e->Register || e->ZipFile || e->ForceOverwrite || e->Execute);
    EXPECT_EQ(e->FullPath, m_list.ModuleFolder() + L"\\");

    auto empty = One("<FileName></FileName><Register/><Length/>");
    EXPECT_TRUE(empty->FileName.empty());
    EXPECT_FALSE(empty->Register);
    EXPECT_EQ(empty->Length, 0);
}

TEST_F(UpdateListTest, EntriesAreExactlyTheFileElementsAtAnyDepthInDocumentOrder)
{
    ASSERT_TRUE(Load("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<!-- a comment --><Root a=\"1\">"
                     "  <File><FileName>1</FileName></File>"
                     "  <Group><Sub><Deeper><File><FileName>2</FileName></File></Deeper></Sub></Group>"
                     "  <file><FileName>lower</FileName></file>"
                     "  <FILE><FileName>upper</FileName></FILE>"
                     "  <x:File xmlns:x=\"urn:x\"><FileName>prefixed</FileName></x:File>"
                     "  <File><FileName>3</FileName><File><FileName>4</FileName></File></File>"
                     "  <File FileName=\"attribute\"><FileName>5</FileName></File>"
                     "</Root>"));
    Entries e = Drain();
    std::vector<std::wstring> names;
    for (const auto& entry : e)
        names.push_back(entry->FileName);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"1", L"2", L"3", L"4", L"5"}));
}

TEST_F(UpdateListTest, TheRootIsNeverAnEntry)
{
    ASSERT_TRUE(Load("<File><FileName>root</FileName><File><FileName>inner</FileName></File></File>"));
    Entries e = Drain();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0]->FileName, L"inner");
}

TEST_F(UpdateListTest, ADocumentWithoutFileElementsLoadsEmpty)
{
    EXPECT_TRUE(Load("<List><Files/><Item><FileName>x</FileName></Item></List>"));
    EXPECT_EQ(m_list.Count(), 0u);
    EXPECT_TRUE(Load("<List/>"));
    EXPECT_EQ(m_list.Count(), 0u);
}

TEST_F(UpdateListTest, ChildNamesMatchInAnyCaseAndTheLastKeyWins)
{
    auto e = One("<filename>first.dll</filename><FILENAME>second.dll</FILENAME>"
                 "<url>http://a/1</url><Url>http://a/2</Url>"
                 "<LENGTH>5</LENGTH><length>7</length>"
                 "<register>yes</register><REGISTER>no</REGISTER>");
    EXPECT_EQ(e->FileName, L"second.dll");
    EXPECT_EQ(e->URL, L"http://a/2");
    EXPECT_EQ(e->Length, 7);
    EXPECT_FALSE(e->Register);
}

TEST_F(UpdateListTest, OnlyDirectChildElementsCarryValues)
{
    auto e = One("<Info><FileName>nested.dll</FileName></Info>"
                 "<!--<FileName>comment.dll</FileName>-->"
                 "<?FileName pi.dll?>"
                 "<![CDATA[<FileName>cdata.dll</FileName>]]>"
                 "stray text"
                 "<Unknown>u</Unknown>"
                 "<URL>http://a/<b>b</b>/c<!--x--></URL>");
    EXPECT_TRUE(e->FileName.empty());
    // A value is all the text below its element.
    EXPECT_EQ(e->URL, L"http://a/b/c");
}

TEST_F(UpdateListTest, NumbersReadAsWrappingDecimals)
{
    struct Case {
        const char* text;
        std::uint32_t low;
        std::int64_t length;
    };
    const Case cases[] = {
        {"4294967295", 0xFFFFFFFFu, -1},
        {"-1", 0xFFFFFFFFu, -1},
        {"12abc", 12u, 12},
        {"abc", 0u, 0},
        {"3000000000", 3000000000u, -1294967296LL},
        {"4294967296", 0u, 0},
        {"+7", 7u, 7},
        {"", 0u, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto e = One(std::string("<FileDateLow>") + c.text + "</FileDateLow><FileDateHigh>" + c.text +
                     "</FileDateHigh><Length>" + c.text + "</Length>");
        EXPECT_EQ(e->FileTime.dwLowDateTime, c.low);
        EXPECT_EQ(e->FileTime.dwHighDateTime, c.low);
        EXPECT_EQ(e->Length, c.length);
    }
}

TEST_F(UpdateListTest, FlagsAreSetOnlyByYes)
{
    struct Case {
        const char* text;
        bool flag;
    };
    const Case cases[] = {{"YES", true}, {"yes", true}, {"Yes", true}, {"Y", false},
                          {"1", false},  {"TRUE", false}, {"", false}, {"no", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string t = c.text;
        auto e = One("<Register>" + t + "</Register><ZipFile>" + t + "</ZipFile><ForceOverwrite>" + t +
                     "</ForceOverwrite><Execute>" + t + "</Execute>");
        EXPECT_EQ(e->Register, c.flag);
        EXPECT_EQ(e->ZipFile, c.flag);
        EXPECT_EQ(e->ForceOverwrite, c.flag);
        EXPECT_EQ(e->Execute, c.flag);
    }
}

TEST_F(UpdateListTest, InstallDirAndLocalPathResolveTheFullPath)
{
    struct Case {
        const char* installDir; // null: no InstallDir element
        const char* localPath;  // null: no LocalPath element
        int base;               // 0 module, 1 Windows, 2 system
        const wchar_t* rest;
    };
    const Case cases[] = {
        {nullptr, nullptr, 0, L"\\a.dll"},
        {"windowsdir", nullptr, 1, L"\\a.dll"},
        {"WINDOWSDIR", "fonts", 1, L"\\fonts\\a.dll"},
        {"SystemDir", nullptr, 2, L"\\a.dll"},
        {"CurrentDir", nullptr, 0, L"\\a.dll"},
        {"TEMP", nullptr, 0, L"\\a.dll"},
        {"", nullptr, 0, L"\\a.dll"},
        {nullptr, "res\\img", 0, L"\\res\\img\\a.dll"},
        {nullptr, "res\\", 0, L"\\res\\\\a.dll"},
        {nullptr, "..\\up", 0, L"\\..\\up\\a.dll"},
        {nullptr, "", 0, L"\\a.dll"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.rest)));
        std::string body = "<FileName>a.dll</FileName>";
        if (c.installDir)
            body += std::string("<InstallDir>") + c.installDir + "</InstallDir>";
        if (c.localPath)
            body += std::string("<LocalPath>") + c.localPath + "</LocalPath>";
        auto e = One(body);
        const std::wstring& base =
            c.base == 1 ? m_list.WindowsFolder() : (c.base == 2 ? m_list.SystemFolder() : m_list.ModuleFolder());
        EXPECT_EQ(e->FullPath, base + c.rest);
    }
}

TEST_F(UpdateListTest, ChineseTextSurvivesInAnyDeclaredEncoding)
{
    auto utf8 = One("<FileName>\xE6\xB8\xB8\xE6\x88\x8F.dll</FileName>"); // 游戏.dll
    EXPECT_EQ(utf8->FileName, L"\x6E38\x620F.dll");

    ASSERT_TRUE(Load("<?xml version=\"1.0\" encoding=\"GBK\"?><List><File><FileName>\xD3\xCE\xCF\xB7.dll"
                     "</FileName></File></List>"));
    Entries e = Drain();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0]->FileName, L"\x6E38\x620F.dll");
}

TEST_F(UpdateListTest, MissingOrMalformedDocumentsGiveFalseAndAnEmptyList)
{
    ASSERT_TRUE(Load("<List><File><FileName>kept</FileName></File></List>"));
    ASSERT_EQ(m_list.Count(), 1u);
    EXPECT_FALSE(m_list.Load(m_folder / L"missing.xml"));
    EXPECT_EQ(m_list.Count(), 0u);

    const char* broken[] = {
        "",
        "not xml at all",
        "<List><File><FileName>a</FileName></File>",              // unclosed root
        "<List><File><FileName>a</File></FileName></List>",       // crossed tags
        "<List><File/></List><List/>",                            // two roots
        "<List><File><FileName>a & b</FileName></File></List>",   // bare ampersand
    };
    for (const char* xml : broken) {
        SCOPED_TRACE(xml);
        ASSERT_TRUE(Load("<List><File/></List>"));
        ASSERT_EQ(m_list.Count(), 1u);
        EXPECT_FALSE(Load(xml));
        EXPECT_EQ(m_list.Count(), 0u);
    }
    // A folder is no document either.
    EXPECT_FALSE(m_list.Load(m_folder.Path()));
    EXPECT_EQ(m_list.Count(), 0u);
}

TEST_F(UpdateListTest, ASecondLoadDiscardsTheFirstList)
{
    ASSERT_TRUE(Load("<List><File><FileName>a</FileName></File><File><FileName>b</FileName></File></List>"));
    ASSERT_EQ(m_list.Count(), 2u);
    ASSERT_TRUE(Load("<List><File><FileName>c</FileName></File></List>", L"Second.xml"));
    Entries e = Drain();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0]->FileName, L"c");
}

TEST_F(UpdateListTest, WithoutComOnTheThreadTheDocumentCannotBeCreated)
{
    const std::wstring path = m_folder / L"Update.xml";
    ASSERT_TRUE(WriteWholeFile(path, "<List><File/></List>"));
    bool loaded = true;
    std::size_t count = 99;
    std::thread([&] {
        CUpdateList list;
        loaded = list.Load(path);
        count = list.Count();
    }).join();
    EXPECT_FALSE(loaded);
    EXPECT_EQ(count, 0u);
}

TEST_F(UpdateListTest, ExternalEntitiesAreNotFetched)
{
    const std::wstring secret = m_folder / L"secret.txt";
    ASSERT_TRUE(WriteWholeFile(secret, "SECRET"));
    std::string url = "file:///";
    for (wchar_t c : secret)
        url += c == L'\\' ? '/' : static_cast<char>(c);
    const bool loaded = Load("<!DOCTYPE List [<!ENTITY s SYSTEM \"" + url +
                             "\">]><List><File><FileName>&s;</FileName></File></List>");
    Entries e = Drain();
    if (loaded) {
        ASSERT_EQ(e.size(), 1u);
        EXPECT_EQ(e[0]->FileName.find(L"SECRET"), std::wstring::npos);
    } else {
        EXPECT_TRUE(e.empty());
    }
}

TEST_F(UpdateListTest, ValuesAreTakenAsTheDomComponentDeliversThem)
{
    // The component trims white space around an element's text and keeps it inside;
    // so a flag written " yes " is set, and a padded version compares as written.
    auto e = One("<FileName>  a.dll \n</FileName><URL>\n\thttp://a/b \r\n</URL><Length> \n 42 </Length>"
                 "<Register> yes </Register><FileVersion> 1.0 </FileVersion><ExecutePar>a  b</ExecutePar>");
    EXPECT_EQ(e->FileName, L"a.dll");
    EXPECT_EQ(e->URL, L"http://a/b");
    EXPECT_EQ(e->Length, 42);
    EXPECT_TRUE(e->Register);
    EXPECT_EQ(e->FileVersion, L"1.0");
    EXPECT_EQ(e->ExecutePar, L"a  b");
}

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

TEST_F(UpdateListTest, AHundredThousandEntriesLoadSelectAndDrainInOrder)
{
    // Every hundredth entry names the versioned library beside the tests at its own
    // version (current, dropped); the others name missing files (kept). Reading a
    // version resource is slow on some platforms, so few entries name a real file.
    const int count = 100000;
    std::string xml = "<List>";
    std::uint32_t expectedTotal = 0;
    std::vector<int> kept;
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        if (i % 100 == 0) {
            xml += "<File><FileName>versioned.dll</FileName><FileVersion>1.0.0.10</FileVersion><Length>" + n +
                   "</Length></File>";
        } else {
            xml += "<File><FileName>missing-" + n + ".dll</FileName><Length>" + n + "</Length></File>";
            expectedTotal += static_cast<std::uint32_t>(i);
            kept.push_back(i);
        }
    }
    xml += "</List>";
    ASSERT_TRUE(Load(xml));
    ASSERT_EQ(m_list.Count(), static_cast<std::size_t>(count));
    EXPECT_EQ(m_list.SelectForUpdate(), kept.size());
    EXPECT_EQ(m_list.TotalLength(), expectedTotal);
    Entries e = Drain();
    ASSERT_EQ(e.size(), kept.size());
    for (std::size_t k = 0; k < e.size(); ++k) {
        ASSERT_EQ(e[k]->FileName, L"missing-" + std::to_wstring(kept[k]) + L".dll");
        ASSERT_EQ(e[k]->Length, kept[k]);
        ASSERT_TRUE(e[k]->NeedsUpdate);
    }
}

TEST_F(UpdateListTest, HugeValuesLoadOrFailCleanly)
{
    const std::string name(4 * 1024 * 1024, 'n');
    const std::string digits(1024 * 1024, '9');
    auto e = One("<FileName>" + name + "</FileName><Length>" + digits + "</Length><FileDateLow>" + digits +
                 "</FileDateLow>");
    EXPECT_EQ(e->FileName.size(), name.size());
    std::uint32_t wrapped = 0;
    for (std::size_t i = 0; i < digits.size(); ++i)
        wrapped = wrapped * 10u + 9u;
    EXPECT_EQ(e->FileTime.dwLowDateTime, wrapped);
    EXPECT_EQ(e->Length, static_cast<std::int32_t>(wrapped));

    // Beyond what the component takes as one text, it may refuse the document.
    const std::string huge(24 * 1024 * 1024, 'h');
    if (Load("<List><File><URL>" + huge + "</URL></File><File/></List>")) {
        Entries all = Drain();
        ASSERT_EQ(all.size(), 2u);
        EXPECT_EQ(all[0]->URL.size(), huge.size());
    } else {
        EXPECT_EQ(m_list.Count(), 0u);
    }
}

TEST_F(UpdateListTest, DeepNestingLoadsOrFailsCleanly)
{
    auto nest = [](int depth, const std::string& inner) {
        std::string s;
        for (int i = 0; i < depth; ++i)
            s += "<g>";
        s += inner;
        for (int i = 0; i < depth; ++i)
            s += "</g>";
        return s;
    };
    // Moderate depth loads, around the entries and inside a value.
    ASSERT_TRUE(Load("<List>" + nest(100, "<File><FileName>" + nest(100, "deep") + "</FileName></File>") + "</List>"));
    Entries e = Drain();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0]->FileName, L"deep");

    for (int depth : {5000, 100000}) {
        SCOPED_TRACE(depth);
        if (Load("<List>" + nest(depth, "<File><FileName>x</FileName></File>") + "</List>")) {
            Entries deep = Drain();
            ASSERT_EQ(deep.size(), 1u);
            EXPECT_EQ(deep[0]->FileName, L"x");
        } else {
            EXPECT_EQ(m_list.Count(), 0u);
        }
    }
}

TEST_F(UpdateListTest, ManyChildrenInOneEntryAndNestedEntries)
{
    std::string body;
    for (int i = 0; i < 50000; ++i)
        body += "<Unknown>" + std::to_string(i) + "</Unknown><FileName>" + std::to_string(i) + "</FileName>";
    auto e = One(body);
    EXPECT_EQ(e->FileName, L"49999");

    // File elements each inside the previous one: all are entries, outer first.
    std::string xml = "<List>";
    for (int i = 0; i < 200; ++i)
        xml += "<File><FileName>" + std::to_string(i) + "</FileName>";
    for (int i = 0; i < 200; ++i)
        xml += "</File>";
    xml += "</List>";
    ASSERT_TRUE(Load(xml));
    Entries nested = Drain();
    ASSERT_EQ(nested.size(), 200u);
    for (std::size_t i = 0; i < nested.size(); ++i)
        ASSERT_EQ(nested[i]->FileName, std::to_wstring(i));
}

TEST_F(UpdateListTest, EntityExpansionIsRefusedOrBounded)
{
    std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE List [<!ENTITY e0 \"laughlaughlaughlaugh\">";
    for (int i = 1; i <= 9; ++i) {
        xml += "<!ENTITY e" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            xml += "&e" + std::to_string(i - 1) + ";";
        xml += "\">";
    }
    xml += "]><List><File><FileName>&e9;</FileName></File></List>";
    if (Load(xml)) {
        Entries e = Drain();
        ASSERT_EQ(e.size(), 1u);
        EXPECT_LT(e[0]->FileName.size(), 100u * 1024 * 1024);
    } else {
        EXPECT_EQ(m_list.Count(), 0u);
    }
}

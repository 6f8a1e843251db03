#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "ClientFolder.h"
#include "ClientPlan.h"
#include "GoLive.h"
#include "ReleaseBuilder.h"
#include "ReleaseFolder.h"
#include "Utf8.h"
#include "XmlList.h"
#include "ZorvaneList.h"

namespace {

const std::int64_t RELEASE_TIME = 1796126400; // 2026-12-01 12:00 UTC
const std::int64_t OLD_TIME = RELEASE_TIME - 7 * 86400;

PublishRules Rules(const std::string& text)
{
    CReport report;
    std::optional<PublishRules> rules = ParsePublishRules(text, "rules.txt", report);
    EXPECT_TRUE(rules);
    return rules ? *rules : PublishRules{};
}

std::vector<XmlFileElement> ReadBack(const TempDir& dir, const std::string& xml)
{
    const std::filesystem::path path = dir / "Update.xml";
    EXPECT_TRUE(WriteWholeFile(path, xml));
    std::vector<XmlFileElement> elements;
    std::string error;
    EXPECT_TRUE(ReadXmlList(path, elements, error)) << error;
    return elements;
}

TEST(ZorvanePublishTest, PublishedListSelectsExactlyTheChangedFiles)
{
    TempDir dir;
    const std::filesystem::path release = dir / "release";
    const std::filesystem::path client = dir / "client";
    // The release, and a client holding part of it.
    WriteFileAt(release / "Vexa.exe", VersionedImage({2, 0, 0, 10}), RELEASE_TIME);
    WriteFileAt(client / "Vexa.exe", VersionedImage({2, 0, 0, 9}), RELEASE_TIME); // older as a number only
    WriteFileAt(release / "Helper.dll", VersionedImage({1, 0, 0, 3}), RELEASE_TIME);
    WriteFileAt(client / "Helper.dll", VersionedImage({1, 0, 0, 3}), OLD_TIME); // same version, older time
    WriteFileAt(release / "data/cards.dat", SomeBytes(5000, 1), RELEASE_TIME);
    WriteFileAt(client / "data/cards.dat", SomeBytes(4000, 2), OLD_TIME);
    WriteFileAt(release / "data/rules.txt", SomeBytes(300, 3), RELEASE_TIME);
    WriteFileAt(client / "data/rules.txt", SomeBytes(200, 4), RELEASE_TIME); // same time: current
    WriteFileAt(release / "skins/table & chairs.bmp", SomeBytes(900, 5), RELEASE_TIME);

    FolderContents contents;
    std::string error;
    ASSERT_TRUE(ListReleaseFolder(release, contents, error)) << error;
    std::vector<ReleaseFile> files;
    for (const std::string& rel : contents.files) {
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(ReadWholeFile(release / rel, bytes));
        files.push_back(DescribeReleaseFile(rel, bytes, *LastWriteTime(release / rel)));
    }
    PublishRules rules = Rules("BaseUrl = http://127.0.0.1:47810/files\n[*.dll]\nRegister = YES\n");
    CReport report;
    const std::vector<ListedFile> planned = PlanZorvaneList(files, rules, report);
    EXPECT_FALSE(report.HasProblems());

    const std::vector<ListedFile> read = ReadListedFiles(ReadBack(dir, WriteZorvaneList(planned)));
    ASSERT_EQ(read.size(), 5u);
    // The clients' decision on the client's files, read as the program reads them.
    const ClientPlan plan =
        PlanZorvane(read, [&client](const ListedFile& e) { return ZorvaneStateIn(NormalClientFolder(client), e); });
    std::set<std::string> selected;
    for (const PlanRow& row : plan.rows) {
        if (row.fetch)
            selected.insert(row.target);
    }
    EXPECT_EQ(selected, (std::set<std::string>{"Vexa.exe", "data\\cards.dat", "skins\\table & chairs.bmp"}));
    EXPECT_EQ(plan.bytes, VersionedImage({2, 0, 0, 10}).size() + 5000u + 900u);

    // The fields as the clients read them, in path order.
    EXPECT_EQ(read[0].FileName, L"Helper.dll");
    EXPECT_EQ(read[0].FileVersion, L"1.0.0.3");
    EXPECT_TRUE(read[0].Register);
    EXPECT_EQ(read[1].FileName, L"Vexa.exe");
    EXPECT_EQ(read[1].FileVersion, L"2.0.0.10");
    EXPECT_FALSE(read[1].Register);
    EXPECT_EQ(read[2].LocalPath, L"data");
    EXPECT_EQ(read[2].Length, 5000);
    EXPECT_EQ(read[2].FileVersion, L"");
    const FileTimeValue listed = FileTimeFromUnix(RELEASE_TIME, 0);
    EXPECT_EQ(read[2].FileTime.Low, listed.Low);
    EXPECT_EQ(read[2].FileTime.High, listed.High);
    EXPECT_EQ(read[2].InstallDir, L"CURRENTDIR");
    EXPECT_EQ(read[4].URL, L"http://127.0.0.1:47810/files/skins/table%20%26%20chairs.bmp");
    EXPECT_EQ(read[4].FileName, L"table & chairs.bmp");
}

TEST(ZorvanePublishTest, RulesPlaceSkipAndCompare)
{
    const std::vector<ReleaseFile> files = {
        Described("bin/Tool.exe", VersionedImage({3, 1, 0, 0}), RELEASE_TIME),
        Described("bin/notes.txt", SomeBytes(10, 1), RELEASE_TIME),
        Described("sys/Codec.dll", VersionedImage({1, 2, 0, 0}), RELEASE_TIME),
    };
    PublishRules rules = Rules("BaseUrl = http://h/r/\n"
                               "[bin/*]\nLocalPath = tools\\x\n"
                               "[*.exe]\nExecute = YES\nExecutePar = /quiet\nCompare = time\n"
                               "[*.txt]\nSkip = YES\n"
                               "[sys/*.dll]\nInstallDir = SYSTEMDIR\nLocalPath =\nRegister = YES\n");
    CReport report;
    const std::vector<ListedFile> out = PlanZorvaneList(files, rules, report);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].LocalPath, L"tools\\x");
    EXPECT_TRUE(out[0].Execute);
    EXPECT_EQ(out[0].ExecutePar, L"/quiet");
    EXPECT_EQ(out[0].FileVersion, L""); // compared by time although it has a version
    EXPECT_EQ(out[1].InstallDir, L"SYSTEMDIR");
    EXPECT_EQ(out[1].LocalPath, L"");
    EXPECT_EQ(DescribeTarget(out[1]), L"<system folder>\\Codec.dll");
    EXPECT_TRUE(out[1].Register);
    EXPECT_EQ(out[1].URL, L"http://h/r/sys/Codec.dll");
    EXPECT_FALSE(report.HasProblems());

    // A rule that flattens folders, or names that differ in case only, put two files on one client path.
    PublishRules flat = Rules("BaseUrl = http://h/\n[bin/**]\nLocalPath = bin\n");
    PlanZorvaneList({Described("bin/a/x.dll", SomeBytes(4, 1), RELEASE_TIME),
                     Described("bin/b/X.DLL", SomeBytes(4, 2), RELEASE_TIME)},
                    flat, report);
    EXPECT_TRUE(report.Mentions("lands on <program folder>\\bin\\X.DLL like bin/a/x.dll", Severity::Error));
}

TEST(ZorvanePublishTest, WarnsWhereAVersionIsWantedButMissingAndForWrongActions)
{
    const std::vector<ReleaseFile> files = {
        Described("Plain.dll", UnversionedImage(), RELEASE_TIME),
        Described("fake.exe", SomeBytes(64, 2), RELEASE_TIME),
        Described("data.bin", SomeBytes(64, 3), RELEASE_TIME),
        Described("movie.dat", SomeBytes(64, 4), RELEASE_TIME),
    };
    PublishRules rules = Rules("BaseUrl = http://h/\n[*.bin]\nCompare = version\nRegister = YES\n"
                               "[*.dat]\nExecute = YES\n[*.ocx]\nRegister = YES\n");
    CReport report;
    const std::vector<ListedFile> out = PlanZorvaneList(files, rules, report);
    ASSERT_EQ(out.size(), 4u);
    for (const ListedFile& e : out)
        EXPECT_EQ(e.FileVersion, L"");
    std::vector<std::string> warned;
    for (const Finding& f : report.Findings()) {
        EXPECT_EQ(f.severity, Severity::Warning);
        warned.push_back(f.file + ": " + f.text);
    }
    ASSERT_EQ(warned.size(), 6u);
    EXPECT_NE(warned[0].find("Plain.dll: has no version resource"), std::string::npos);
    EXPECT_NE(warned[1].find("fake.exe: is not a program image"), std::string::npos);
    EXPECT_NE(warned[2].find("data.bin: is not a program image"), std::string::npos);
    EXPECT_NE(warned[3].find("data.bin: Register is set"), std::string::npos);
    EXPECT_NE(warned[4].find("movie.dat: Execute is set"), std::string::npos);
    EXPECT_NE(warned[5].find("[*.ocx] matches no file"), std::string::npos);
}

TEST(ZorvanePublishTest, LengthsBeyondTheSignedRangeAreWarnedAbout)
{
    ReleaseFile big = Described("huge.pak", SomeBytes(8, 1), RELEASE_TIME);
    big.size = 3000000000u;
    PublishRules rules = Rules("BaseUrl = http://h/\n");
    CReport report;
    PlanZorvaneList({big}, rules, report);
    EXPECT_TRUE(report.Mentions("wraps", Severity::Warning));
}

ListedFile Entry(const wchar_t* name, const wchar_t* version, FileTimeValue time = {}, std::int64_t length = 100)
{
    ListedFile e;
    e.FileName = name;
    e.FileVersion = version;
    e.FileTime = time;
    e.Length = length;
    e.line = 7;
    return e;
}

TEST(ZorvanePublishTest, ThePreviousReleaseGivesTheChangesAndWhatClientsKeep)
{
    const FileTimeValue t1 = FileTimeFromUnix(RELEASE_TIME, 0);
    const FileTimeValue t0 = FileTimeFromUnix(OLD_TIME, 0);
    const std::vector<ListedFile> previous = {
        Entry(L"a.dll", L"1.0.0.9"),   Entry(L"b.dll", L"1.0.0.10"), Entry(L"c.dll", L"1.0.0.4"),
        Entry(L"d.dll", L"2.0.0.0"),   Entry(L"e.dat", L"", t1),     Entry(L"f.dat", L"", t0),
        Entry(L"h.dll", L"3.0.0.0"),   Entry(L"i.dat", L"", t1),     Entry(L"gone.dat", L"", t0),
    };
    const std::vector<ListedFile> next = {
        Entry(L"A.DLL", L"1.0.0.10", {}, 300), // an ordinary bump (names match in any case): fetched
        Entry(L"b.dll", L"1.0.0.9"),           // goes back: kept
        Entry(L"c.dll", L"1.0.0.5", {}, 200),  // fetched
        Entry(L"d.dll", L"1.9.0.0"),           // goes back: kept
        Entry(L"e.dat", L"", t0),              // time goes back: kept
        Entry(L"f.dat", L"", t1, 400),         // fetched
        Entry(L"h.dll", L"3.0.0.0", {}, 999),  // same version, other length: kept
        Entry(L"i.dat", L"", t1),              // unchanged
        Entry(L"g.dll", L"1.0.0.1", {}, 50),   // new
    };
    CReport report;
    const ReleaseChanges c = CompareZorvaneReleases(next, previous, "old.xml", report);
    EXPECT_EQ(c.added, 1u);
    EXPECT_EQ(c.changed, 3u);
    EXPECT_EQ(c.unchanged, 5u);
    EXPECT_EQ(c.removed, 1u);
    EXPECT_EQ(c.downloads, 4u);
    EXPECT_EQ(c.bytes, 950u);
    std::vector<std::string> texts;
    for (const Finding& f : report.Findings())
        texts.push_back(f.file + ": " + f.text);
    ASSERT_EQ(texts.size(), 4u) << (texts.empty() ? "" : texts[0]);
    EXPECT_NE(texts[0].find("b.dll: version 1.0.0.9 goes back from 1.0.0.10 (old.xml:7)"), std::string::npos);
    EXPECT_NE(texts[1].find("d.dll: version 1.9.0.0 goes back"), std::string::npos);
    EXPECT_NE(texts[2].find("2026-11-24 12:00:00 UTC is earlier than the previous release's 2026-12-01 12:00:00 UTC"),
              std::string::npos)
        << texts[2];
    EXPECT_NE(texts[3].find("h.dll: is 999 bytes long, 100 in the previous release (old.xml:7), but has the same "
                            "version"),
              std::string::npos)
        << texts[3];
}

// The same two releases as they go live for a share that was served the
// previous one: changed files by time and programs whose version does not rise
// carry the go-live time, so that every changed file is fetched; what did not
// change keeps the time the share was served.
TEST(ZorvanePublishTest, AGoLiveListsEveryChangeSoThatItIsFetched)
{
    const FileTimeValue t1 = FileTimeFromUnix(RELEASE_TIME, 0);
    const FileTimeValue t0 = FileTimeFromUnix(OLD_TIME, 0);
    const FileTimeValue served = FileTimeFromUnix(RELEASE_TIME + 3600, 0);
    const FileTimeValue when = FileTimeFromUnix(RELEASE_TIME + 7200, 0);
    const std::vector<ListedFile> published = {
        Entry(L"a.dll", L"1.0.0.9"), Entry(L"b.dll", L"1.0.0.10"), Entry(L"d.dll", L"2.0.0.0"),
        Entry(L"e.dat", L"", t1),    Entry(L"f.dat", L"", t0),     Entry(L"h.dll", L"3.0.0.0"),
        Entry(L"i.dat", L"", t1),    Entry(L"j.dat", L"", t1),
    };
    std::vector<ListedFile> live = published; // as the share was served: its own go-live times
    for (ListedFile& e : live) {
        if (e.FileVersion.empty())
            e.FileTime = served;
    }
    const std::vector<ListedFile> next = {
        Entry(L"A.DLL", L"1.0.0.10", {}, 300), // the version rises: by version
        Entry(L"b.dll", L"1.0.0.9"),           // goes back: by the go-live time
        Entry(L"d.dll", L"1.9.0.0"),           // goes back: by the go-live time
        Entry(L"e.dat", L"", t0),              // time goes back: the go-live time
        Entry(L"f.dat", L"", t1, 400),         // the go-live time
        Entry(L"h.dll", L"3.0.0.0", {}, 999),  // same version, other bytes: by the go-live time
        Entry(L"i.dat", L"", t1),              // unchanged: as served
        Entry(L"j.dat", L"", t0),              // rebuilt with the same bytes: as served
        Entry(L"g.dll", L"1.0.0.1", {}, 50),   // new, by version
        Entry(L"k.dat", L"", t0, 10),          // new, by time: the go-live time
    };
    GoLiveInput input;
    input.next = &next;
    input.servedPublished = &published;
    input.served = &live;
    input.when = when;
    input.sameBytes = [](const ListedFile& a, const ListedFile&) -> std::optional<bool> {
        if (a.FileName == L"j.dat")
            return true;
        return std::nullopt; // the other files are not at hand
    };
    const GoLiveResult r = GoLiveList(input);
    EXPECT_EQ(r.newTime, (std::vector<std::string>{"e.dat", "f.dat", "k.dat"}));
    EXPECT_EQ(r.rolledBack, (std::vector<std::string>{"b.dll", "d.dll", "h.dll"}));
    EXPECT_EQ(r.unchanged, 2u);
    ASSERT_EQ(r.entries.size(), next.size());
    EXPECT_EQ(r.entries[0].FileVersion, L"1.0.0.10");
    EXPECT_TRUE(r.entries[1].FileVersion.empty());
    EXPECT_EQ(CompareFileTimes(r.entries[6].FileTime, served), 0);
    EXPECT_EQ(CompareFileTimes(r.entries[7].FileTime, served), 0);
    for (const std::size_t i : {1, 2, 3, 4, 5, 9})
        EXPECT_EQ(CompareFileTimes(r.entries[i].FileTime, when), 0) << i;

    CReport report;
    const ReleaseChanges c = CompareZorvaneReleases(r.entries, live, "live.xml", report);
    EXPECT_EQ(c.downloads, 8u);
    EXPECT_EQ(c.unchanged, 2u);
    EXPECT_TRUE(report.Findings().empty()) << report.Findings().front().text;

    // A share that was served nothing gets the release as published.
    GoLiveInput first;
    first.next = &next;
    first.when = when;
    EXPECT_EQ(CompareFileTimes(GoLiveList(first).entries[3].FileTime, t0), 0);
}

TEST(ZorvanePublishTest, CheckReportsWhatTheClientsDoAndTheTraps)
{
    TempDir dir;
    const std::string xml = "<?xml version=\"1.0\"?>\n"
                            "<List>\n"
                            " <Group>\n"
                            "  <File>\n"
                            "   <filename>a.dll</filename>\n"
                            "   <FileVersion>1.0.0.10</FileVersion>\n"
                            "   <Length>3000000000</Length>\n"
                            "   <Register>1</Register>\n"
                            "   <URL>http://h/a.dll</URL>\n"
                            "   <URL>http://h/b.dll</URL>\n"
                            "   <Colour>red</Colour>\n"
                            "  </File>\n"
                            " </Group>\n"
                            " <File>\n"
                            "  <FileName>b.dat</FileName>\n"
                            "  <FileDateLow>12abc</FileDateLow>\n"
                            "  <FileDateHigh>-1</FileDateHigh>\n"
                            "  <InstallDir>TEMP</InstallDir>\n"
                            "  <File><FileName>inner.txt</FileName><URL>ftp://h/x</URL></File>\n"
                            " </File>\n"
                            " <file><FileName>ignored.txt</FileName></file>\n"
                            " <File><FileVersion>release 2</FileVersion><FileName>a.dll</FileName>"
                            "<URL>http://h/a.dll</URL></File>\n"
                            "</List>\n";
    const std::vector<XmlFileElement> elements = ReadBack(dir, xml);
    ASSERT_EQ(elements.size(), 4u); // "file" is no entry; nested File elements are
    EXPECT_EQ(elements[0].line, 4);
    EXPECT_TRUE(elements[2].insideFile);
    CReport report;
    CheckZorvaneList(elements, "Update.xml", report);
    std::vector<std::string> lines;
    for (const Finding& f : report.Findings())
        lines.push_back(std::to_string(f.line) + " " + (f.severity == Severity::Note ? "note" : f.severity == Severity::Warning ? "warning" : "error") + " " + f.text);
    // "line severity text"
    const auto has = [&lines](const std::string& fragment) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
    };
    EXPECT_TRUE(has("5 warning <filename> is read as FileName"));
    EXPECT_TRUE(has("7 warning Length \"3000000000\" reads as -1294967296"));
    EXPECT_TRUE(has("8 warning Register \"1\" reads as NO"));
    EXPECT_TRUE(has("10 warning URL given twice (first at line 9)"));
    EXPECT_TRUE(has("11 warning <Colour> is no key"));
    EXPECT_TRUE(has("4 note <program folder>\\a.dll: fetched when missing or when its version is below 1.0.0.10"));
    EXPECT_TRUE(has("16 warning FileDateLow \"12abc\" reads as 12"));
    EXPECT_TRUE(has("17 warning FileDateHigh \"-1\" reads as 4294967295"));
    EXPECT_TRUE(has("18 warning InstallDir \"TEMP\" is no known word"));
    EXPECT_TRUE(has("14 error entry without URL"));
    EXPECT_TRUE(has("19 note File element inside another File element"));
    EXPECT_TRUE(has("19 error URL \"ftp://h/x\" is no http:// address"));
    EXPECT_TRUE(has("22 warning FileVersion \"release 2\" is not a dotted number"));
    EXPECT_TRUE(has("22 warning <program folder>\\a.dll is listed again (first at line 4)"));
    EXPECT_FALSE(has("ignored.txt"));
}

// The values the clients' DOM component gives for a child's text; the native
// reader stands in for it and must give the same.
struct XmlValueCase {
    const char* child;    // the child element as written
    const wchar_t* value; // the text the clients take
};

TEST(ZorvanePublishTest, BothReadersTakeValuesAsTheClientsDo)
{
    const XmlValueCase cases[] = {
        {"<FileName>a.dll</FileName>", L"a.dll"},
        {"<FileName>  a.dll  </FileName>", L"a.dll"},
        {"<FileName>\n      a.dll\n    </FileName>", L"a.dll"},
        {"<FileName>\r\n\ta.dll\t\r\n</FileName>", L"a.dll"},
        {"<FileName>a  b.dll</FileName>", L"a  b.dll"},
        {"<FileName>a\n b.dll</FileName>", L"a\n b.dll"},
        {"<FileName><![CDATA[ a.dll ]]></FileName>", L" a.dll "},
        {"<FileName> <![CDATA[a.dll]]> </FileName>", L"a.dll"},
        {"<FileName>a<!-- note -->b.dll</FileName>", L"ab.dll"},
        {"<FileName> a <x> b </x> c </FileName>", L"a  b  c"},
        {"<FileName>&#32;a.dll&#32;</FileName>", L"a.dll"},
        {"<FileName>a&amp;b.dll</FileName>", L"a&b.dll"},
        {"<FileName/>", L""},
        {"<FileName>   </FileName>", L""},
        {"<FileName>\xC2\xA0" "a.dll\xC2\xA0</FileName>", L"\u00A0a.dll\u00A0"},
        {"<FileName xml:space=\"preserve\"> a.dll </FileName>", L" a.dll "},
    };
    TempDir dir;
    for (const XmlValueCase& c : cases) {
        const std::string xml = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<UpdateList>\n  <File>\n    ") +
                                c.child + "\n    <URL>http://h/a.dll</URL>\n  </File>\n</UpdateList>\n";
        const std::vector<XmlFileElement> elements = ReadBack(dir, xml);
        ASSERT_EQ(elements.size(), 1u) << c.child;
        ASSERT_EQ(elements[0].children.size(), 2u) << c.child;
        EXPECT_EQ(elements[0].children[0].text, c.value) << c.child;
        EXPECT_EQ(elements[0].line, 3) << c.child;
        EXPECT_EQ(elements[0].children[0].line, 4) << c.child;
    }
}

TEST(ZorvanePublishTest, DocumentsThatAreNoListFailToRead)
{
    TempDir dir;
    const std::filesystem::path path = dir / "Update.xml";
    ASSERT_TRUE(WriteWholeFile(path, "<List>\n<File>\n</List>\n"));
    std::vector<XmlFileElement> elements;
    std::string error;
    EXPECT_FALSE(ReadXmlList(path, elements, error));
    EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
    EXPECT_FALSE(ReadXmlList(dir / "missing.xml", elements, error));

    ASSERT_TRUE(WriteWholeFile(path, "<List/>"));
    ASSERT_TRUE(ReadXmlList(path, elements, error));
    CReport report;
    CheckZorvaneList(elements, "Update.xml", report);
    EXPECT_TRUE(report.Mentions("no File element", Severity::Warning));
}

} // namespace

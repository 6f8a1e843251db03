#include "FileList.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "CompareListsLiteral.h"
#include "Crc32.h"
#include "GbkText.h"
#include "ScanText.h"

using namespace std::string_literals;

namespace {

std::string Describe(const std::vector<FileEntry>& list)
{
    std::string out;
    for (const FileEntry& e : list)
        out += e.directory + "|" + e.name + "|" + std::to_string(e.checksum) + "|" + std::to_string(e.kind) + "\n";
    return out;
}

FileEntry Entry(std::string directory, std::string name, std::int32_t checksum = 0)
{
    FileEntry e;
    e.directory = std::move(directory);
    e.name = std::move(name);
    e.checksum = checksum;
    return e;
}

// The reader as first written: after a record that does not match, the next
// line is tried from scratch. The oracle for ParseFileList, which skips the
// lines that are bound to fail the same way.
std::vector<FileEntry> ParseFileListLiteral(std::string_view bytes)
{
    std::vector<FileEntry> list;
    CScanText scan(bytes);
    while (!scan.AtEnd()) {
        const std::size_t start = scan.Position();
        std::string_view directory = scan.Until(':');
        if (scan.AtEnd())
            break;
        std::string_view name;
        std::int32_t checksum = 0;
        bool matched = !directory.empty() && scan.Literal(':');
        if (matched) {
            name = scan.Until(':');
            if (scan.AtEnd())
                break;
            matched = !name.empty() && scan.Literal(':') && scan.Number(checksum);
        }
        if (!matched) {
            scan.MoveTo(start);
            scan.Until('\n');
            scan.Literal('\n');
            scan.SkipSpace();
            continue;
        }
        scan.SkipSpace();
        if (scan.AtEnd())
            break;
        const bool nul = directory.find('\0') != std::string_view::npos || name.find('\0') != std::string_view::npos;
        if (directory.size() > FILE_LIST_FIELD_MAX || name.size() > FILE_LIST_FIELD_MAX || nul)
            continue;
        list.push_back(Entry(std::string(directory), std::string(name), checksum));
    }
    return list;
}

} // namespace

TEST(FileList, ReadingRules)
{
    struct Case {
        const char* name;
        std::string file;
        std::string expected;
    } cases[] = {
        {"the record that reaches the end is not taken", "\\:a.dll:5\r\n\\:b.dll:-6\r\n", "\\|a.dll|5|0\n"},
        {"a closing line makes the last record count", "\\:a.dll:5\r\n\\:b.dll:-6\r\nend\r\n",
         "\\|a.dll|5|0\n\\|b.dll|-6|0\n"},
        {"LF only, no final break", "/:a.dll:1\nsub\\data:a.dat:2", "/|a.dll|1|0\n"},
        {"blank lines and leading blanks are skipped", "\\:a:1\n\n  \\:b:2\n\n#\n", "\\|a|1|0\n\\|b|2|0\n"},
        {"blank inside fields and before the number", "my dir:my file.txt: 42\nx\n", "my dir|my file.txt|42|0\n"},
        {"checksums wrap like 32-bit numbers", "\\:a:4294967295\n\\:b:-2147483648\nx\n",
         "\\|a|-1|0\n\\|b|-2147483648|0\n"},
        {"a field may hold a line break", "a\nb:c:1\nx\n", "a\nb|c|1|0\n"},
        {"a record with an empty field is skipped to the next line",
         ":a:1\n\\::2\n\\:b:3\nx\n", "\\|b|3|0\n"},
        {"a checksum that is no number is skipped to the next line", "\\:a:x1\n\\:b:3\nx\n", "\\|b|3|0\n"},
        {"the end inside a record", "\\:a:1\n\\:b", "\\|a|1|0\n"},
        {"a field with a NUL byte is no record", "\\:winmm.dll\0x:1\n\\:b:2\nx\n"s, "\\|b|2|0\n"},
        {"a NUL byte in the directory too", "\\\0:a.dll:1\n\\:b:2\nx\n"s, "\\|b|2|0\n"},
        {"lines without \":\" before a record that fails at its name", "a\nb\nc\n::0\n\\:d:4\nx\n", "\\|d|4|0\n"},
        {"... or at its number", "a\nb\n:x:y\n\\:d:4\nx\n", "\\|d|4|0\n"},
        {"empty", "", ""},
        {"only white space", " \r\n\r\n", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Describe(ParseFileList(c.file)), c.expected) << c.name;
}

TEST(FileList, ReadingEqualsTheReaderAsFirstWrittenOnGeneratedText)
{
    // Few kinds of bytes, so that colons, line breaks, numbers and failures meet often.
    const char alphabet[] = {':', ':', '\n', '\n', 'a', '\\', '1', '7', '-', ' ', '\r', '\0', 'x'};
    std::mt19937 random(911);
    for (int round = 0; round < 3000; ++round) {
        std::string text(random() % 60, ' ');
        for (char& c : text)
            c = alphabet[random() % sizeof alphabet];
        ASSERT_EQ(Describe(ParseFileList(text)), Describe(ParseFileListLiteral(text))) << "round " << round;
    }
}

TEST(FileList, AFieldOverItsLimitSkipsOnlyThatRecord)
{
    const std::string limit(FILE_LIST_FIELD_MAX, 'd');
    struct Case {
        std::string record;
        bool taken;
    } cases[] = {
        {limit + ":a.dat:1", true},
        {limit + "d:a.dat:1", false},
        {"\\:" + limit + ":1", true},
        {"\\:" + limit + "n:1", false},
    };
    for (const Case& c : cases) {
        std::vector<FileEntry> list = ParseFileList("\\:first.dat:1\n" + c.record + "\n\\:last.dat:2\nend\n");
        ASSERT_EQ(list.size(), c.taken ? 3u : 2u);
        EXPECT_EQ(list.front().name, "first.dat");
        EXPECT_EQ(list.back().name, "last.dat");
    }
}

TEST(FileList, LocalPaths)
{
    EXPECT_EQ(LocalEntryPath("C:\\V\\", Entry("\\", "a.dll")), "C:\\V\\\\a.dll");
    EXPECT_EQ(LocalEntryPath("C:\\V\\", Entry("/", "a.dll")), "C:\\V\\/\\a.dll");
    EXPECT_EQ(LocalEntryPath("C:\\V\\", Entry("sub\\data", "a.dat")), "C:\\V\\sub\\data\\a.dat");
}

TEST(FileList, CompareCases)
{
    struct Case {
        const char* name;
        std::vector<FileEntry> remote;
        std::vector<FileEntry> local;
        std::string expected;
    } cases[] = {
        {"all present and equal", {Entry("\\", "a.dll", 1), Entry("d", "b.dat", 2)},
         {Entry("\\", "a.dll", 1), Entry("d", "b.dat", 2)}, ""},
        {"only the second missing", {Entry("\\", "a.dll", 1), Entry("d", "b.dat", 2)}, {Entry("\\", "a.dll", 1)},
         "d|b.dat|2|0\n"},
        {"a missing name without a dot is a directory", {Entry("\\", "README", 0)}, {}, "\\|README|0|1\n"},
        {"an existing directory is never compared", {Entry("\\", "README", 0)}, {Entry("\\", "README", 0)}, ""},
        {"changed before missing, in local order",
         {Entry("\\", "x.dat", 1), Entry("\\", "gone.dat", 2), Entry("\\", "y.dat", 3)},
         {Entry("\\", "x.dat", 9), Entry("\\", "y.dat", 8)}, "\\|x.dat|1|0\n\\|y.dat|3|0\n\\|gone.dat|2|0\n"},
        {"case variants are the same entry", {Entry("SUB", "A.DAT", 1), Entry("\\", "n.dat", 2)},
         {Entry("sub", "a.dat", 5)}, "SUB|A.DAT|1|0\n\\|n.dat|2|0\n"},
        {"the same file listed twice and changed: four times",
         {Entry("\\", "a.dll", 1), Entry("\\", "a.dll", 1)}, {Entry("\\", "a.dll", 7), Entry("\\", "a.dll", 7)},
         "\\|a.dll|1|0\n\\|a.dll|1|0\n\\|a.dll|1|0\n\\|a.dll|1|0\n"},
        {"equal lengths list nothing missing",
         {Entry("\\", "a.dll", 1), Entry("\\", "b.dll", 2)}, {Entry("\\", "a.dll", 1), Entry("\\", "c.dll", 3)}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Describe(CompareLists(c.remote, c.local, GbkLeadBytes())), c.expected) << c.name;
        EXPECT_EQ(Describe(CompareListsLiteral(c.remote, c.local, GbkLeadBytes())), c.expected) << c.name << " (literal)";
    }
}

TEST(FileList, CompareEqualsTheLiteralAlgorithmOnGeneratedLists)
{
    std::mt19937 random(20240611);
    const char* dirs[] = {"\\", "/", "sub", "SUB", "Sub\\Data", "sub\\data", "\xB1\x41", "\xB1\x61"};
    const char* names[] = {"a.dll", "A.DLL", "b.dat", "README", "readme", "Lib", "c.Exe", "C.exe", "\xB1\x41.txt"};
    for (int round = 0; round < 400; ++round) {
        std::vector<FileEntry> remote;
        int n = static_cast<int>(random() % 40);
        for (int i = 0; i < n; ++i)
            remote.push_back(Entry(dirs[random() % 8], names[random() % 9], static_cast<std::int32_t>(random() % 3)));
        // The local list: a subsequence of the remote one with checksums that
        // often differ, as BuildLocalList would give.
        std::vector<FileEntry> local;
        for (const FileEntry& r : remote) {
            if (random() % 4 == 0)
                continue;
            FileEntry l = r;
            l.checksum = HasDot(r.name) ? static_cast<std::int32_t>(random() % 3) : 0;
            local.push_back(l);
        }
        if (round % 5 == 0)
            local = remote; // equal lengths
        ASSERT_EQ(CompareLists(remote, local, GbkLeadBytes()), CompareListsLiteral(remote, local, GbkLeadBytes()))
            << "round " << round;
    }
}

TEST(FileList, CompareEqualsTheLiteralAlgorithmForAnyLocalList)
{
    // Local lists drawn on their own (other order, entries the remote list lacks,
    // more copies than it has), and long lists of few distinct entries, where
    // duplicates and checksum runs dominate.
    std::mt19937 random(77);
    const char* dirs[] = {"\\", "sub", "SUB", "a\\b"};
    const char* names[] = {"x.dat", "X.DAT", "y", "Y", "z.Bin", "Z.bin"};
    auto draw = [&](int n, int checksums) {
        std::vector<FileEntry> list;
        for (int i = 0; i < n; ++i)
            list.push_back(Entry(dirs[random() % 4], names[random() % 6], static_cast<std::int32_t>(random() % checksums)));
        return list;
    };
    for (int round = 0; round < 300; ++round) {
        const bool large = round % 10 == 0;
        const int checksums = 1 + static_cast<int>(random() % 4);
        std::vector<FileEntry> remote = draw(static_cast<int>(random() % (large ? 400 : 30)), checksums);
        std::vector<FileEntry> local = draw(static_cast<int>(random() % (large ? 400 : 30)), checksums);
        if (round % 7 == 0)
            local.resize(remote.size(), Entry("\\", "x.dat", 0));
        ASSERT_EQ(CompareLists(remote, local, GbkLeadBytes()), CompareListsLiteral(remote, local, GbkLeadBytes()))
            << "round " << round;
    }
}

TEST(FileList, TheLocalListTakesWhatIsThere)
{
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("quillet_local_list_" + std::to_string(std::random_device()()));
    fs::create_directories(root);
    const std::string folder = root.string() + (root.string().back() == '/' ? "" : std::string(1, fs::path::preferred_separator));
    struct Case {
        const char* name;
        enum { File, Folder, Nothing } what;
        const char* content;
        bool present;
        std::int32_t checksum;
    } cases[] = {
        {"a.dat", Case::File, "abc", true, 899311407},
        {"empty.dat", Case::File, "", true, -1},
        {"missing.dat", Case::Nothing, "", false, 0},
        {"folder.d", Case::Folder, "", true, -1}, // a name with a dot that cannot be summed
        {"folder", Case::Folder, "", true, 0},
        {"nofolder", Case::Nothing, "", false, 0},
    };
    std::vector<FileEntry> remote;
    std::string expected;
    for (const Case& c : cases) {
        const FileEntry e = Entry("\\", c.name, 12345);
        const std::string path = LocalEntryPath(folder, e);
        if (c.what == Case::File) {
            std::FILE* f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fputs(c.content, f);
            std::fclose(f);
        } else if (c.what == Case::Folder) {
            fs::create_directory(path);
        }
        remote.push_back(e);
        if (c.present)
            expected += Describe({Entry("\\", c.name, c.checksum)});
    }
#ifdef _WIN32
    // A file that someone holds without sharing it is there, and cannot be summed.
    const FileEntry held = Entry("\\", "held.dat", 5);
    HANDLE hold = ::CreateFileA(LocalEntryPath(folder, held).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    remote.push_back(held);
    expected += Describe({Entry("\\", "held.dat", -1)});
#endif
    const std::vector<FileEntry> local = BuildLocalList(remote, folder);
#ifdef _WIN32
    ::CloseHandle(hold);
#endif
    EXPECT_EQ(Describe(local), expected);
    // A stop asked for before the walk ends it at once.
    StopFlag stop{true};
    EXPECT_TRUE(BuildLocalList(remote, folder, &stop).empty());
    fs::remove_all(root);
}

TEST(FileList, FileCrcStreamsTheSameChecksumAsTheWholeFile)
{
    const char* path = "quillet_filecrc_test.bin";
    struct Case {
        std::size_t length;
    } cases[] = {{0}, {3}, {65535}, {65536}, {65537}, {3 * 65536 + 17}};
    for (const Case& c : cases) {
        std::string data(c.length, '\0');
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>((i * 131u + (i >> 9)) & 0xFF);
        if (c.length == 3)
            data = "abc";
        std::FILE* f = std::fopen(path, "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
        std::fclose(f);
        std::int32_t expected = static_cast<std::int32_t>(Crc32Bytewise(CRC32_START, data.data(), data.size()));
        EXPECT_EQ(FileCrc(path), expected) << c.length;
    }
    EXPECT_EQ(std::remove(path), 0);
    EXPECT_EQ(FileCrc(path), -1); // cannot be opened
}

TEST(FileList, KnownChecksumsOfFiles)
{
    const char* path = "quillet_filecrc_known.bin";
    std::FILE* f = std::fopen(path, "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(FileCrc(path), -1); // an empty file
    f = std::fopen(path, "wb");
    std::fputs("abc", f);
    std::fclose(f);
    EXPECT_EQ(FileCrc(path), 899311407);
    std::remove(path);
}

#include "FileList.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "CompareListsLiteral.h"
#include "Crc32.h"
#include "GbkText.h"

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
        {"empty", "", ""},
        {"only white space", " \r\n\r\n", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Describe(ParseFileList(c.file)), c.expected) << c.name;
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
        EXPECT_EQ(Describe(CompareLists(c.remote, c.local)), c.expected) << c.name;
        EXPECT_EQ(Describe(CompareListsLiteral(c.remote, c.local)), c.expected) << c.name << " (literal)";
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
        ASSERT_EQ(CompareLists(remote, local), CompareListsLiteral(remote, local)) << "round " << round;
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
        ASSERT_EQ(CompareLists(remote, local), CompareListsLiteral(remote, local)) << "round " << round;
    }
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

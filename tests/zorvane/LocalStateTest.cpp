#include "FileEntry.h"
#include "UpdateList.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ComHolders.h"
#include "Handle.h"
#include "TempFolder.h"
#include "VersionRules.h"

namespace {

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

// The library built beside the tests, whose version resource says 1.0.0.10.
std::wstring VersionedDll()
{
    return OwnFolder() + L"\\versioned.dll";
}

FILETIME MakeTime(unsigned long long value)
{
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(value);
    t.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return t;
}

unsigned long long TimeValue(const FILETIME& t)
{
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// 2024-01-01 00:00:00 UTC, and one second in FILETIME steps.
const unsigned long long BASE_TIME = 133485408000000000ULL;
const unsigned long long ONE_SECOND = 10000000ULL;

bool SetLastWriteTime(const std::wstring& path, unsigned long long value)
{
    CKernelHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return false;
    const FILETIME t = MakeTime(value);
    return ::SetFileTime(file.Get(), nullptr, nullptr, &t) != FALSE;
}

bool IsZero(const VS_FIXEDFILEINFO& info)
{
    const VS_FIXEDFILEINFO zero{};
    return std::memcmp(&info, &zero, sizeof zero) == 0;
}

class LocalStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dll = m_folder / L"versioned.dll";
        m_text = m_folder / L"readme.txt";
        ASSERT_TRUE(::CopyFileW(VersionedDll().c_str(), m_dll.c_str(), FALSE)) << "versioned.dll beside the tests";
        ASSERT_TRUE(WriteWholeFile(m_text, "no version here"));
        ASSERT_TRUE(SetLastWriteTime(m_dll, BASE_TIME));
        ASSERT_TRUE(SetLastWriteTime(m_text, BASE_TIME));
    }

    // A list entry for path with a listed version and a listed time.
    static std::unique_ptr<CFileEntry> Listed(const std::wstring& path, const std::wstring& version,
                                              unsigned long long time = 0)
    {
        auto e = std::make_unique<CFileEntry>();
        e->FullPath = path;
        e->FileVersion = version;
        e->FileTime = MakeTime(time);
        return e;
    }

    TempFolder m_folder;
    std::wstring m_dll;
    std::wstring m_text;
};

} // namespace

TEST_F(LocalStateTest, FileExistsOnlyForFilesThatCanBeReadWithReadSharing)
{
    EXPECT_TRUE(FileExists(m_dll));
    EXPECT_TRUE(FileExists(m_text));
    EXPECT_FALSE(FileExists(m_folder / L"missing.dll"));
    EXPECT_FALSE(FileExists(m_folder / L"no\\such\\folder.dll"));
    EXPECT_FALSE(FileExists(L""));
    EXPECT_FALSE(FileExists(m_folder.Path()));
    ASSERT_TRUE(::CreateDirectoryW((m_folder / L"sub").c_str(), nullptr));
    EXPECT_FALSE(FileExists(m_folder / L"sub"));
}

TEST_F(LocalStateTest, AFileHeldWithoutReadSharingCountsAsMissing)
{
    struct Case {
        DWORD access;
        DWORD share;
        bool exists;
    };
    const Case cases[] = {
        {GENERIC_READ, 0, false},
        {GENERIC_WRITE, FILE_SHARE_WRITE, false},
        {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, false},
        {GENERIC_READ, FILE_SHARE_READ, true},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        // A writer that shares reading keeps out a reader that does not share writing.
        {GENERIC_WRITE, FILE_SHARE_READ, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "access " << std::hex << c.access << " share " << c.share);
        CKernelHandle other(::CreateFileW(m_text.c_str(), c.access, c.share, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(other);
        EXPECT_EQ(FileExists(m_text), c.exists);
        auto e = Listed(m_text, L"");
        EXPECT_EQ(e->DecideUpdate(), !c.exists);
    }
    EXPECT_TRUE(FileExists(m_text));
}

TEST_F(LocalStateTest, ReadsTheVersionResourceAndTheLastWriteTime)
{
    CFileEntry local(m_dll);
    ASSERT_TRUE(local.ReadLocalState());
    EXPECT_EQ(local.FileVersion, L"1.0.0.10");
    EXPECT_EQ(local.VersionInfo.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(local.VersionInfo.dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(local.VersionInfo.dwFileVersionLS, 0x0000000Au);
    EXPECT_EQ(local.VersionInfo.dwProductVersionMS, 0x00030004u);
    EXPECT_EQ(local.VersionInfo.dwProductVersionLS, 0x00050006u);
    EXPECT_EQ(TimeValue(local.FileTime), BASE_TIME);
    // The local state fills only its own fields.
    EXPECT_TRUE(local.ProductVersion.empty());
    EXPECT_EQ(local.FullPath, m_dll);
}

TEST_F(LocalStateTest, AFileWithoutVersionResourceHasOnlyItsTime)
{
    CFileEntry local(m_text);
    ASSERT_TRUE(local.ReadLocalState());
    EXPECT_TRUE(local.FileVersion.empty());
    EXPECT_TRUE(IsZero(local.VersionInfo));
    EXPECT_EQ(TimeValue(local.FileTime), BASE_TIME);
}

TEST_F(LocalStateTest, NothingIsReadFromAFileThatCannotBeOpened)
{
    const std::wstring folder = m_folder / L"sub";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    CKernelHandle locked(::CreateFileW(m_dll.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked);
    for (const std::wstring& path : {std::wstring(), m_folder / L"missing.dll", folder, m_dll}) {
        SCOPED_TRACE(testing::PrintToString(path));
        CFileEntry local(path);
        EXPECT_FALSE(local.ReadLocalState());
        EXPECT_TRUE(local.FileVersion.empty());
        EXPECT_TRUE(IsZero(local.VersionInfo));
        EXPECT_EQ(TimeValue(local.FileTime), 0u);
    }
}

TEST_F(LocalStateTest, AListedVersionIsHeldAgainstTheLocalVersionOnly)
{
    struct Case {
        const wchar_t* listed;
        bool selected;
    };
    // The local library is 1.0.0.10; listed times are far in the future and play no part.
    const Case cases[] = {
        {L"1.0.0.9", false},  // older than the local file: never a downgrade
        {L"1.0.0.10", false},
        {L"1.0.0.11", true},
        {L"1.2", true},
        {L"1.0", false},
        {L"1.0.0.10.1", true},
        {L"2.0.0.0", true},
        {L"0.9.9.9", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.listed)));
        auto e = Listed(m_dll, c.listed, BASE_TIME + 1000 * ONE_SECOND);
        EXPECT_EQ(e->DecideUpdate(), c.selected);
        EXPECT_EQ(e->NeedsUpdate, c.selected);
    }
}

TEST_F(LocalStateTest, AFileWithoutVersionIsSelectedWheneverAVersionIsListed)
{
    auto e = Listed(m_text, L"1.0.0.0", BASE_TIME - 1000 * ONE_SECOND);
    EXPECT_TRUE(e->DecideUpdate());
}

TEST_F(LocalStateTest, WithoutAListedVersionTheLastWriteTimeDecides)
{
    struct Case {
        long long listedOffset; // listed time minus the local time, in 100 ns steps
        bool selected;
    };
    const Case cases[] = {
        {0, false},
        {-static_cast<long long>(ONE_SECOND), false}, // the local file is later
        {static_cast<long long>(ONE_SECOND), true},   // the local file is one second earlier
        {1, true},
    };
    for (const std::wstring& path : {m_text, m_dll}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::PrintToString(path) + " offset " + std::to_string(c.listedOffset));
            auto e = Listed(path, L"", BASE_TIME + c.listedOffset);
            EXPECT_EQ(e->DecideUpdate(), c.selected);
        }
    }
    // A time set on the disk one second earlier than listed is selected too.
    ASSERT_TRUE(SetLastWriteTime(m_text, BASE_TIME - ONE_SECOND));
    EXPECT_TRUE(Listed(m_text, L"", BASE_TIME)->DecideUpdate());
}

TEST_F(LocalStateTest, MissingFilesAndFoldersAreSelected)
{
    const std::wstring folder = m_folder / L"sub";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    for (const std::wstring& path : {m_folder / L"missing.dll", folder, std::wstring()}) {
        SCOPED_TRACE(testing::PrintToString(path));
        EXPECT_TRUE(Listed(path, L"")->DecideUpdate());
        EXPECT_TRUE(Listed(path, L"1.0.0.0")->DecideUpdate());
    }
}

TEST_F(LocalStateTest, TheDecisionIsTheOneTheWholeLocalStateGives)
{
    // The decision reads only what it needs; its answer is the one given by the
    // whole local state: a missing file is selected, a file of which neither the
    // version nor the time can be read is not, otherwise the listed version or,
    // without one, the listed time decides.
    auto reference = [](const CFileEntry& listed) {
        if (!FileExists(listed.FullPath))
            return true;
        CFileEntry local(listed.FullPath);
        if (!local.ReadLocalState())
            return false;
        return IsOutdated(listed.FileVersion, {listed.FileTime.dwLowDateTime, listed.FileTime.dwHighDateTime},
                          local.FileVersion, {local.FileTime.dwLowDateTime, local.FileTime.dwHighDateTime});
    };
    const std::wstring folder = m_folder / L"sub";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring written = m_folder / L"written.txt";
    ASSERT_TRUE(WriteWholeFile(written, "being written"));
    // Held by a writer that shares reading and writing: readable, but not with read sharing only.
    CKernelHandle writer(::CreateFileW(written.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    const std::wstring paths[] = {m_dll, m_text, written, m_folder / L"missing.dll", folder, m_folder / L"NUL",
                                  std::wstring()};
    const wchar_t* versions[] = {L"", L"1.0.0.9", L"1.0.0.10", L"1.0.0.11", L"beta"};
    const long long offsets[] = {-static_cast<long long>(BASE_TIME), -1, 0, 1};
    int selected = 0;
    for (const std::wstring& path : paths) {
        for (const wchar_t* version : versions) {
            for (long long offset : offsets) {
                SCOPED_TRACE(testing::PrintToString(path) + " listed " + testing::PrintToString(std::wstring(version)) +
                             " offset " + std::to_string(offset));
                auto e = Listed(path, version, BASE_TIME + offset);
                const bool expected = reference(*e);
                EXPECT_EQ(e->DecideUpdate(), expected);
                selected += expected ? 1 : 0;
            }
        }
    }
    EXPECT_GT(selected, 0);
    EXPECT_LT(selected, 7 * 5 * 4);
}

TEST_F(LocalStateTest, FileTimeComparisonAgreesWithThePlatform)
{
    const unsigned long long values[] = {0, 1, 0xFFFFFFFFULL, 0x100000000ULL, 0x7FFFFFFF00000000ULL,
                                         0x8000000000000000ULL, 0xFFFFFFFFFFFFFFFFULL, BASE_TIME};
    for (unsigned long long a : values) {
        for (unsigned long long b : values) {
            const FILETIME ta = MakeTime(a);
            const FILETIME tb = MakeTime(b);
            FileTimeValue va{ta.dwLowDateTime, ta.dwHighDateTime};
            FileTimeValue vb{tb.dwLowDateTime, tb.dwHighDateTime};
            EXPECT_EQ(CompareFileTimes(va, vb), ::CompareFileTime(&ta, &tb)) << a << " vs " << b;
        }
    }
}

namespace {

// A list whose entries name files in a folder below the test program's own
// folder, so that they resolve through the default base folder.
class SelectionTest : public ::testing::Test {
protected:
    SelectionTest()
        : m_subfolder(L"selection-" + std::to_wstring(::GetCurrentProcessId())),
          m_path(OwnFolder() + L"\\" + m_subfolder)
    {
    }
    void SetUp() override
    {
        RemoveTree(m_path);
        ASSERT_TRUE(::CreateDirectoryW(m_path.c_str(), nullptr));
    }
    void TearDown() override { RemoveTree(m_path); }

    std::string Narrow(const std::wstring& s) const { return std::string(s.begin(), s.end()); }

    // A file of the folder, with the given last-write time.
    void Put(const std::wstring& name, unsigned long long time = BASE_TIME)
    {
        ASSERT_TRUE(WriteWholeFile(m_path + L"\\" + name, "x"));
        ASSERT_TRUE(SetLastWriteTime(m_path + L"\\" + name, time));
    }

    // A File element for name in the folder, listed with the local file's time.
    std::string Element(const std::wstring& name, const std::string& length, const std::string& extra = "") const
    {
        const FILETIME t = MakeTime(BASE_TIME);
        return "<File><FileName>" + Narrow(name) + "</FileName><LocalPath>" + Narrow(m_subfolder) +
               "</LocalPath><Length>" + length + "</Length><FileDateLow>" + std::to_string(t.dwLowDateTime) +
               "</FileDateLow><FileDateHigh>" + std::to_string(t.dwHighDateTime) + "</FileDateHigh>" + extra +
               "</File>";
    }

    bool Load(const std::string& body)
    {
        const std::wstring doc = m_path + L"\\list.xml";
        EXPECT_TRUE(WriteWholeFile(doc, "<List>" + body + "</List>"));
        return m_list.Load(doc);
    }

    std::vector<std::wstring> Drain()
    {
        std::vector<std::wstring> names;
        while (CFileEntry* e = m_list.PopFront()) {
            names.push_back(e->FileName);
            EXPECT_TRUE(e->NeedsUpdate);
            delete e;
        }
        return names;
    }

    CComInit m_com;
    const std::wstring m_subfolder;
    const std::wstring m_path;
    CUpdateList m_list;
};

} // namespace

TEST_F(SelectionTest, KeepsTheOutdatedEntriesInOrderAndSumsTheirLengths)
{
    Put(L"current.dll");
    Put(L"old.dll", BASE_TIME - ONE_SECOND);
    ASSERT_TRUE(Load(Element(L"a.dll", "1000") + Element(L"current.dll", "50000") + Element(L"old.dll", "2000") +
                     Element(L"current.dll", "70000", "<FileVersion>1.0</FileVersion>") + Element(L"b.dll", "3000")));
    ASSERT_EQ(m_list.Count(), 5u);
    EXPECT_EQ(m_list.SelectForUpdate(), 4u);
    EXPECT_EQ(m_list.Count(), 4u);
    // The text file has no version resource, so a listed version selects it.
    EXPECT_EQ(m_list.TotalLength(), 1000u + 2000u + 70000u + 3000u);
    EXPECT_EQ(Drain(), (std::vector<std::wstring>{L"a.dll", L"old.dll", L"current.dll", L"b.dll"}));
    EXPECT_EQ(m_list.TotalLength(), 0u);
}

TEST_F(SelectionTest, ThreeSelectedFilesOfOneTwoAndThreeThousandBytes)
{
    Put(L"current.dll");
    ASSERT_TRUE(Load(Element(L"a.dll", "1000") + Element(L"current.dll", "9999") + Element(L"b.dll", "2000") +
                     Element(L"c.dll", "3000")));
    EXPECT_EQ(m_list.SelectForUpdate(), 3u);
    EXPECT_EQ(m_list.TotalLength(), 6000u);
}

TEST_F(SelectionTest, TheTotalWrapsModuloTwoToTheThirtyTwo)
{
    ASSERT_TRUE(Load(Element(L"a.dll", "3000000000") + Element(L"b.dll", "3000000000") +
                     Element(L"c.dll", "-1") + Element(L"d.dll", "4294967295")));
    EXPECT_EQ(m_list.SelectForUpdate(), 4u);
    // 3e9 twice, then 0xFFFFFFFF twice, in 32-bit arithmetic.
    const std::uint32_t expected = 3000000000u + 3000000000u + 0xFFFFFFFFu + 0xFFFFFFFFu;
    EXPECT_EQ(m_list.TotalLength(), expected);
    EXPECT_EQ(expected, 1705032702u);
}

TEST_F(SelectionTest, AListWithNothingOutdatedEndsEmpty)
{
    Put(L"a.dll");
    Put(L"b.dll", BASE_TIME + ONE_SECOND);
    ASSERT_TRUE(Load(Element(L"a.dll", "10") + Element(L"b.dll", "20")));
    EXPECT_EQ(m_list.SelectForUpdate(), 0u);
    EXPECT_EQ(m_list.Count(), 0u);
    EXPECT_EQ(m_list.TotalLength(), 0u);
    EXPECT_EQ(m_list.PopFront(), nullptr);
}

TEST_F(SelectionTest, AnEmptyListSelectsNothing)
{
    ASSERT_TRUE(Load(""));
    EXPECT_EQ(m_list.SelectForUpdate(), 0u);
    EXPECT_EQ(m_list.TotalLength(), 0u);
}

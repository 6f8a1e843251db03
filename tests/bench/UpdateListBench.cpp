// Times the update list on a generated document of N entries: Load, then
// SelectForUpdate, TotalLength and draining it with PopFront, each phase alone.
//   zorvane_updatelist_bench.exe N [missing|current|version|mixed] [before]
// missing: every entry names a missing file (all kept); current: every entry
// names a file beside the program, listed at its own last-write time (all
// dropped); version: every entry names versioned.dll beside the program, listed
// with its own version 1.0.0.10 (all dropped); mixed: missing and current
// alternately. The selection is timed beside the same platform calls alone (the
// floor), best of three each. With "before", the list is loaded again and
// selected the way the program did before it opened each file once
// (SelectAsBefore below), and both times and their ratio are printed.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ComHolders.h"
#include "UpdateList.h"
#include "VersionRules.h"

namespace {

double PeakMiB()
{
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory);
    return double(memory.PeakWorkingSetSize) / 1048576.0;
}

double WorkingSetMiB()
{
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory);
    return double(memory.WorkingSetSize) / 1048576.0;
}

double Seconds(const LARGE_INTEGER& a, const LARGE_INTEGER& b, const LARGE_INTEGER& freq)
{
    return double(b.QuadPart - a.QuadPart) / double(freq.QuadPart);
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return t;
}

FileTimeValue ToValue(const FILETIME& t)
{
    return FileTimeValue{t.dwLowDateTime, t.dwHighDateTime};
}

// The decision as the program made it before: the existence check, then the
// whole local state of the file whatever the entry lists: an open, the version
// through the version service (which maps the file twice), another open for the
// time. Kept here only to be measured beside the program's own selection.
bool ReadVersionAsBefore(const std::wstring& path, std::wstring& version)
{
    {
        HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        ::CloseHandle(h);
    }
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return false;
    std::vector<unsigned char> block(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
        return false;
    void* fixed = nullptr;
    UINT fixedSize = 0;
    wchar_t root[] = L"\\";
    if (!::VerQueryValueW(block.data(), root, &fixed, &fixedSize) || !fixed || fixedSize < sizeof(VS_FIXEDFILEINFO))
        return false;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    version = FormatVersion(info->dwFileVersionMS, info->dwFileVersionLS);
    return true;
}

bool ReadTimeAsBefore(const std::wstring& path, FILETIME& time)
{
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool read = ::GetFileTime(h, nullptr, nullptr, &time) != FALSE;
    ::CloseHandle(h);
    if (!read)
        time = FILETIME{};
    return read;
}

bool DecideAsBefore(CFileEntry& entry)
{
    if (!FileExists(entry.FullPath)) {
        entry.NeedsUpdate = true;
        return true;
    }
    std::wstring version;
    FILETIME time{};
    const bool versionRead = ReadVersionAsBefore(entry.FullPath, version);
    const bool timeRead = ReadTimeAsBefore(entry.FullPath, time);
    if (versionRead || timeRead)
        entry.NeedsUpdate = IsOutdated(entry.FileVersion, ToValue(entry.FileTime), version, ToValue(time));
    return entry.NeedsUpdate;
}

unsigned SelectAsBefore(CUpdateList& list)
{
    return static_cast<unsigned>(list.KeepIf([](CFileEntry& e) { return DecideAsBefore(e); }));
}

// The floor of a selection: the platform calls that the program's own makes for
// each entry, alone, with no logic of ours: the open and close, the time by name,
// and for an entry that lists a version the image mapped for its version resource.
struct Probe {
    std::wstring path;
    bool version;
};

double Floor(const std::vector<Probe>& probes, const LARGE_INTEGER& freq)
{
    LARGE_INTEGER t0;
    ::QueryPerformanceCounter(&t0);
    for (const Probe& p : probes) {
        HANDLE h = ::CreateFileW(p.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        ::CloseHandle(h);
        WIN32_FILE_ATTRIBUTE_DATA attributes;
        ::GetFileAttributesExW(p.path.c_str(), GetFileExInfoStandard, &attributes);
        if (!p.version)
            continue;
        HMODULE image = ::LoadLibraryExW(p.path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (!image)
            continue;
        if (HRSRC resource = ::FindResourceW(image, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION)) {
            const DWORD size = ::SizeofResource(image, resource);
            HGLOBAL loaded = ::LoadResource(image, resource);
            if (const void* data = loaded ? ::LockResource(loaded) : nullptr)
                std::vector<unsigned char>(static_cast<const unsigned char*>(data),
                                           static_cast<const unsigned char*>(data) + size);
        }
        ::FreeLibrary(image);
    }
    LARGE_INTEGER t1;
    ::QueryPerformanceCounter(&t1);
    return double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: zorvane_updatelist_bench N [missing|current|version|mixed] [before]\n");
        return 2;
    }
    const long count = std::wcstol(argv[1], nullptr, 10);
    const std::wstring kind = argc > 2 ? argv[2] : L"mixed";
    const bool before = argc > 3 && std::wstring(argv[3]) == L"before";
    CComInit com;
    const double peakAtStart = PeakMiB();

    CUpdateList list;
    wchar_t tempFolder[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, tempFolder);
    const std::wstring doc = std::wstring(tempFolder) + L"zorvane-bench-" + std::to_wstring(::GetCurrentProcessId()) + L".xml";
    const std::wstring present = list.ModuleFolder() + L"\\zorvane-bench-present.txt";
    {
        std::ofstream(present.c_str()) << "x";
    }
    FILETIME written{};
    {
        HANDLE h = ::CreateFileW(present.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ::GetFileTime(h, nullptr, nullptr, &written);
        ::CloseHandle(h);
    }
    const std::string current = "<FileName>zorvane-bench-present.txt</FileName><FileDateLow>" +
                                std::to_string(written.dwLowDateTime) + "</FileDateLow><FileDateHigh>" +
                                std::to_string(written.dwHighDateTime) + "</FileDateHigh>";
    // The library built beside the program, whose version resource says 1.0.0.10.
    const std::string versioned = "<FileName>versioned.dll</FileName><FileVersion>1.0.0.10</FileVersion>";
    {
        std::ofstream out(doc.c_str(), std::ios::binary);
        out << "<List>";
        for (long i = 0; i < count; ++i) {
            const bool keep = kind == L"missing" || (kind == L"mixed" && i % 2 == 1);
            out << "<File>"
                << (keep ? "<FileName>missing-" + std::to_string(i) + ".dll</FileName>"
                         : kind == L"version" ? versioned : current)
                << "<Length>" << i << "</Length><URL>http://127.0.0.1/f" << i << "</URL></File>";
        }
        out << "</List>";
    }

    LARGE_INTEGER freq;
    ::QueryPerformanceFrequency(&freq);
    const LARGE_INTEGER t0 = Now();
    const bool loaded = list.Load(doc);
    const LARGE_INTEGER t1 = Now();
    const double peakAfterLoad = PeakMiB();
    const double afterLoad = WorkingSetMiB();
    const std::size_t entries = list.Count();
    std::vector<Probe> probes;
    list.ForEach([&probes](const CFileEntry& e) { probes.push_back({e.FullPath, !e.FileVersion.empty()}); });
    // The floor and the selection in turn, three times (the list loaded again for
    // each further selection), the best of each: the machine's load moves single
    // runs by a third.
    const LARGE_INTEGER s0 = Now();
    unsigned selected = list.SelectForUpdate();
    const LARGE_INTEGER t2 = Now();
    double now = Seconds(s0, t2, freq);
    double floor = Floor(probes, freq);
    for (int round = 1; round < 3; ++round) {
        floor = std::min(floor, Floor(probes, freq));
        if (!list.Load(doc))
            return 1;
        const LARGE_INTEGER r0 = Now();
        selected = list.SelectForUpdate();
        now = std::min(now, Seconds(r0, Now(), freq));
    }
    const LARGE_INTEGER t2c = Now();
    const std::uint32_t total = list.TotalLength();
    const LARGE_INTEGER t3 = Now();
    std::size_t drained = 0;
    while (CFileEntry* e = list.PopFront()) {
        delete e;
        ++drained;
    }
    const LARGE_INTEGER t4 = Now();

    // The same list selected as before, after the program's own selection, so
    // that the earlier path runs with every cache as warm as the later one.
    double beforeSeconds = 0;
    unsigned beforeSelected = 0;
    if (before) {
        const bool again = list.Load(doc);
        const LARGE_INTEGER b0 = Now();
        beforeSelected = SelectAsBefore(list);
        beforeSeconds = Seconds(b0, Now(), freq);
        list.Clear();
        if (!again || beforeSelected != selected) {
            std::fprintf(stderr, "the selection as before kept %u entries, the program %u\n", beforeSelected, selected);
            return 1;
        }
    }
    ::DeleteFileW(doc.c_str());
    ::DeleteFileW(present.c_str());

    std::printf("entries %ld loaded %d count %u selected %u total %u drained %u load %.4f select %.4f total %.6f "
                "drain %.6f peak at start %.1f MiB, after load %.1f MiB (working set %.1f MiB), at the end %.1f MiB\n",
                count, loaded ? 1 : 0, static_cast<unsigned>(entries), selected, total,
                static_cast<unsigned>(drained), Seconds(t0, t1, freq), now, Seconds(t2c, t3, freq),
                Seconds(t3, t4, freq), peakAtStart, peakAfterLoad, afterLoad, PeakMiB());
    std::printf("selection %.4f s, the platform calls alone %.4f s (best of three each): %.2fx the floor\n", now,
                floor, floor > 0 ? now / floor : 0.0);
    if (before)
        std::printf("selection as before %.4f s, now %.4f s: %.1fx faster\n", beforeSeconds, now,
                    now > 0 ? beforeSeconds / now : 0.0);
    return loaded && drained == selected ? 0 : 1;
}

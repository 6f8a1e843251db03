// One Quillet run over a large client where nothing changed: read the file list,
// build the local list (every file checked and summed), compare. Each phase is
// timed alone; the local list also as it was built before (an existence check,
// then the file opened through the C runtime's streams), in alternating rounds,
// best of each; both must give the same list. The peak memory of the process is
// printed at the end.
//   quillet_scale_bench make FOLDER N [MAX_SIZE]   lay out N files and their list
//   quillet_scale_bench run FOLDER                  time the run over them
// FOLDER ends in the path separator. Files are laid out exactly where the run
// will look for them (the list's paths use "\"; natively that character is
// part of the file names, under Windows it separates folders).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "Crc32.h"
#include "FileList.h"
#include "GbkText.h"

namespace {

// Files per folder of the laid-out client, like a game's data folders.
constexpr long FILES_PER_FOLDER = 500;

void MakeFolder(const std::string& path)
{
#ifdef _WIN32
    _mkdir(path.c_str());
#else
    mkdir(path.c_str(), 0755);
#endif
}

double PeakMiB()
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return double(counters.PeakWorkingSetSize) / 1048576.0;
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
#endif
}

// The checksum of a file and the local list as they were before the local list
// opened each file once: an existence check, then a stream opened, read and closed.
std::int32_t FileCrcAsBefore(const char* path)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return -1;
    constexpr std::size_t BLOCK = 64 * 1024;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[BLOCK]);
    std::uint32_t crc = CRC32_START;
    std::size_t n;
    while ((n = std::fread(buffer.get(), 1, BLOCK, f)) > 0)
        crc = Crc32(crc, buffer.get(), n);
    std::fclose(f);
    return static_cast<std::int32_t>(crc);
}

std::vector<FileEntry> BuildLocalListAsBefore(const std::vector<FileEntry>& remote, std::string_view programFolder)
{
    std::vector<FileEntry> local;
    for (const FileEntry& r : remote) {
        std::string path = LocalEntryPath(programFolder, r);
        if (path.size() > LOCAL_PATH_MAX || !PathExists(path.c_str()))
            continue;
        FileEntry copy = r;
        copy.checksum = HasDot(r.name) ? FileCrcAsBefore(path.c_str()) : 0;
        local.push_back(std::move(copy));
    }
    return local;
}

// The floor: the platform calls that the local list makes, without the list, the
// paths' text or the checksum: per file one open, the reads to the end, one close;
// per folder the existence check. Answers the bytes read.
std::size_t PlatformCallsOnly(const std::vector<std::string>& paths, const std::vector<bool>& isFile)
{
    std::vector<unsigned char> buffer(64 * 1024);
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!isFile[i]) {
            bytes += PathExists(paths[i].c_str()) ? 1 : 0;
            continue;
        }
#ifdef _WIN32
        const int fd = ::_open(paths[i].c_str(), _O_RDONLY | _O_BINARY | _O_SEQUENTIAL);
        if (fd < 0)
            continue;
        int n;
        while ((n = ::_read(fd, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0)
            bytes += static_cast<std::size_t>(n);
        ::_close(fd);
#else
        const int fd = ::open(paths[i].c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ssize_t n;
        while ((n = ::read(fd, buffer.data(), buffer.size())) > 0)
            bytes += static_cast<std::size_t>(n);
        ::close(fd);
#endif
    }
    return bytes;
}

int Make(const std::string& folder, long count, unsigned maxSize)
{
    MakeFolder(folder.substr(0, folder.size() - 1));
    std::string list;
    std::vector<unsigned char> content(maxSize + 1);
    std::uint32_t state = 2463534242u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    long written = 0;
    for (long i = 0; written < count; ++i) {
        // A folder record, then its files.
        FileEntry dir{"\\", "data" + std::to_string(i), 0, 0};
        MakeFolder(LocalEntryPath(folder, dir));
        list += dir.directory + ":" + dir.name + ":0\r\n";
        ++written;
        for (long k = 0; k < FILES_PER_FOLDER - 1 && written < count; ++k, ++written) {
            FileEntry file{dir.name, "part" + std::to_string(k) + ".dat", 0, 0};
            const std::size_t size = next() % (maxSize + 1);
            for (std::size_t b = 0; b < size; ++b)
                content[b] = static_cast<unsigned char>(next());
            const std::string path = LocalEntryPath(folder, file);
            std::FILE* f = std::fopen(path.c_str(), "wb");
            if (!f || std::fwrite(content.data(), 1, size, f) != size) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 1;
            }
            std::fclose(f);
            const std::int32_t crc = static_cast<std::int32_t>(Crc32(CRC32_START, content.data(), size));
            list += file.directory + ":" + file.name + ":" + std::to_string(crc) + "\r\n";
        }
    }
    // A record is taken only when text follows it, so the list ends with a line that is none.
    list += "-\r\n";
    const std::string listPath = folder + "filelist.list";
    std::FILE* f = std::fopen(listPath.c_str(), "wb");
    if (!f || std::fwrite(list.data(), 1, list.size(), f) != list.size())
        return 1;
    std::fclose(f);
    std::printf("laid out %ld entries, list %zu bytes\n", count, list.size());
    return 0;
}

int Run(const std::string& folder)
{
    using Clock = std::chrono::steady_clock;
    const auto seconds = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double>(b - a).count();
    };
    const std::string listPath = folder + "filelist.list";
    const auto t0 = Clock::now();
    const std::vector<FileEntry> remote = ReadFileList(listPath.c_str());
    const auto t1 = Clock::now();
    // Alternating rounds, so that all meet the same state of the caches.
    constexpr int ROUNDS = 3;
    double bestNew = 1e9;
    double bestBefore = 1e9;
    double bestFloor = 1e9;
    std::vector<FileEntry> local;
    std::vector<FileEntry> localBefore;
    std::vector<std::string> paths;
    std::vector<bool> isFile;
    for (const FileEntry& r : remote) {
        paths.push_back(LocalEntryPath(folder, r));
        isFile.push_back(HasDot(r.name));
    }
    // Each round in another order, so that none of the three always follows the same one.
    for (int round = 0; round < ROUNDS; ++round) {
        for (int k = 0; k < 3; ++k) {
            const auto a = Clock::now();
            switch ((round + k) % 3) {
            case 0:
                localBefore = BuildLocalListAsBefore(remote, folder);
                bestBefore = std::min(bestBefore, seconds(a, Clock::now()));
                break;
            case 1:
                local = BuildLocalList(remote, folder);
                bestNew = std::min(bestNew, seconds(a, Clock::now()));
                break;
            default:
                PlatformCallsOnly(paths, isFile);
                bestFloor = std::min(bestFloor, seconds(a, Clock::now()));
                break;
            }
        }
    }
    const auto t2 = Clock::now();
    const std::vector<FileEntry> download = CompareLists(remote, local, GbkLeadBytes());
    const auto t3 = Clock::now();
    const bool same = local == localBefore && download == CompareLists(remote, localBefore, GbkLeadBytes());
    std::printf("entries %zu local %zu download %zu read %.3f s local %.3f s (before: %.3f s, %.2fx; platform calls "
                "alone: %.3f s, %.2fx) compare %.3f s total %.3f s (before: %.3f s, %.2fx) same lists %s peak %.1f MiB\n",
                remote.size(), local.size(), download.size(), seconds(t0, t1), bestNew, bestBefore,
                bestBefore / bestNew, bestFloor, bestNew / bestFloor, seconds(t2, t3), seconds(t0, t1) + bestNew + seconds(t2, t3),
                seconds(t0, t1) + bestBefore + seconds(t2, t3),
                (seconds(t0, t1) + bestBefore + seconds(t2, t3)) / (seconds(t0, t1) + bestNew + seconds(t2, t3)),
                same ? "yes" : "NO", PeakMiB());
    // Nothing changed: every entry is found and nothing is to be fetched.
    return same && !remote.empty() && local.size() == remote.size() && download.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "make") == 0)
        return Make(argv[2], std::atol(argv[3]), argc > 4 ? static_cast<unsigned>(std::atol(argv[4])) : 4096);
    if (argc >= 3 && std::strcmp(argv[1], "run") == 0)
        return Run(argv[2]);
    std::fprintf(stderr, "usage: quillet_scale_bench make FOLDER N [MAX_SIZE] | run FOLDER\n");
    return 2;
}
